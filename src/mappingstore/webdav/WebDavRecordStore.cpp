#include "mappingstore/webdav/WebDavRecordStore.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "mappingstore/webdav/WebDavConnection_p.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {
namespace {

constexpr std::string_view kZonePrefix = "Pelkora ";
constexpr std::string_view kRecordExtension = ".plist";
// Stands for a zone's listing while its collection does not exist, so that its creation elsewhere
// counts as a change.
constexpr std::string_view kAbsentZoneFingerprint = "absent";
// Keeps a mistaken configuration from flooding the server.
constexpr std::chrono::milliseconds kShortestPollInterval{100};

std::vector<std::string> propfindHeaders(std::string_view depth) {
    return {"Depth: " + std::string(depth), "Content-Type: application/xml; charset=utf-8"};
}

RecordStoreError zoneNotFound(std::string_view zoneName, const std::string& url) {
    return {RecordStoreErrorKind::zoneNotFound,
            formatMessage(
                localizedString("The WebDAV server has no folder for the zone “%1$@” (%2$@)."),
                zoneName, url)};
}

// The zone's collection as a listing of its members and their ETags.
Expected<CollectionListing, RecordStoreError> listZone(WebDavConnection& connection,
                                                       const std::string& url,
                                                       std::string_view zoneName) {
    auto response = connection.perform("PROPFIND", url, propfindHeaders("1"), listingRequestBody());
    if (!response) return Unexpected(response.error());
    if (response->status == 404) return Unexpected(zoneNotFound(zoneName, url));
    if (!response->succeeded()) return Unexpected(httpError(*response, url));
    auto listing = parseListing(response->body, urlPath(url));
    if (!listing) {
        return Unexpected(RecordStoreError{
            RecordStoreErrorKind::networkFailure,
            formatMessage(localizedString("The WebDAV server at %@ answered with something that "
                                          "is not a folder listing. Check the address."),
                          url)});
    }
    return std::move(*listing);
}

}  // namespace

WebDavRecordStore::WebDavRecordStore(WebDavConfiguration configuration)
    : configuration_(std::move(configuration)) {
    if (!configuration_.url.empty() && configuration_.url.back() != '/') configuration_.url += '/';
    connection_ = std::make_unique<WebDavConnection>(configuration_);
}

WebDavRecordStore::~WebDavRecordStore() {
    stopWatching();
}

std::string WebDavRecordStore::placeName() const {
    return localizedString("the WebDAV server", "Where shared mappings are kept, in sentences");
}

std::string WebDavRecordStore::location() const {
    return configuration_.url;
}

std::string WebDavRecordStore::zoneUrl(std::string_view zoneName) const {
    return configuration_.url + percentEncode(std::string(kZonePrefix) + std::string(zoneName)) +
           "/";
}

std::string WebDavRecordStore::recordUrl(const RecordID& id) const {
    return zoneUrl(id.zoneName) + percentEncode(id.recordName + std::string(kRecordExtension));
}

Expected<AccountStatus, RecordStoreError> WebDavRecordStore::accountStatus() {
    const auto& url = configuration_.url;
    auto response =
        connection_->perform("PROPFIND", url, propfindHeaders("0"), listingRequestBody());
    if (!response) return Unexpected(response.error());
    if (response->succeeded()) return AccountStatus::available;
    if (response->status == 401) return AccountStatus::noAccount;
    if (response->status == 403) return AccountStatus::restricted;
    return Unexpected(httpError(*response, url));
}

Expected<bool, RecordStoreError> WebDavRecordStore::zoneExists(std::string_view zoneName) {
    const auto url = zoneUrl(zoneName);
    auto response =
        connection_->perform("PROPFIND", url, propfindHeaders("0"), listingRequestBody());
    if (!response) return Unexpected(response.error());
    if (response->succeeded()) return true;
    if (response->status == 404) return false;
    return Unexpected(httpError(*response, url));
}

Expected<void, RecordStoreError> WebDavRecordStore::createZone(std::string_view zoneName) {
    const auto url = zoneUrl(zoneName);
    auto response = connection_->perform("MKCOL", url);
    if (!response) return Unexpected(response.error());
    // 405: the collection is there already.
    if (response->succeeded() || response->status == 405) return {};
    if (response->status == 409) {
        return Unexpected(RecordStoreError{
            RecordStoreErrorKind::networkFailure,
            formatMessage(localizedString("The WebDAV server has no folder %1$@ to keep the zone "
                                          "“%2$@” in (%3$@). Check the address, or create the "
                                          "folder on the server."),
                          configuration_.url, zoneName, response->statusLine)});
    }
    return Unexpected(httpError(*response, url));
}

Expected<bool, RecordStoreError> WebDavRecordStore::subscriptionExists(
    std::string_view subscriptionId) {
    const std::lock_guard lock(mutex_);
    return subscriptions_.find(subscriptionId) != subscriptions_.end();
}

Expected<void, RecordStoreError> WebDavRecordStore::createSubscription(
    std::string_view subscriptionId, std::string_view zoneName, std::string_view recordType) {
    const std::lock_guard lock(mutex_);
    subscriptions_.insert_or_assign(
        std::string(subscriptionId),
        Subscription{std::string(zoneName), std::string(recordType), std::string()});
    return {};
}

Expected<std::vector<Record>, RecordStoreError> WebDavRecordStore::query(
    std::string_view zoneName, std::string_view recordType) {
    // 1. List the collection with each member's ETag.
    auto listing = listZone(*connection_, zoneUrl(zoneName), zoneName);
    if (!listing) return Unexpected(listing.error());
    // 2. Take the records whose ETag is the one last read from the cache, read the others.
    auto& cached = cache_[std::string(zoneName)];
    std::map<std::string, CachedRecord, std::less<>> current;
    for (const auto& member : listing->members) {
        if (member.isCollection || !member.name.ends_with(kRecordExtension)) continue;
        std::string name = member.name.substr(0, member.name.size() - kRecordExtension.size());
        const auto known = cached.find(name);
        if (known != cached.end() && sameETagVersion(known->second.listedETag, member.etag)) {
            current.insert_or_assign(name, std::move(known->second));
            continue;
        }
        auto record = get(RecordID{name, std::string(zoneName)});
        if (!record) {
            // Deleted since the listing.
            if (record.error().kind == RecordStoreErrorKind::unknownItem) continue;
            // One damaged record must not keep the others from being shared.
            if (record.error().kind == RecordStoreErrorKind::internalError) {
                writeLog(LogType::error, "%{public}@", record.error().message);
                continue;
            }
            return Unexpected(record.error());
        }
        current.insert_or_assign(std::move(name), CachedRecord{member.etag, std::move(*record)});
    }
    // 3. Forget the records that are gone, and answer with those of the type.
    cached = std::move(current);
    std::vector<Record> records;
    for (const auto& entry : cached) {
        if (entry.second.record.recordType == recordType) records.push_back(entry.second.record);
    }
    return records;
}

Expected<Record, RecordStoreError> WebDavRecordStore::get(const RecordID& id) {
    const auto url = recordUrl(id);
    auto response = connection_->perform("GET", url);
    if (!response) return Unexpected(response.error());
    if (response->status == 404) {
        return Unexpected(RecordStoreError{
            RecordStoreErrorKind::unknownItem,
            formatMessage(localizedString("The WebDAV server has no record “%1$@” (%2$@)."),
                          id.recordName, url)});
    }
    if (!response->succeeded()) return Unexpected(httpError(*response, url));
    auto record = decodeRecordFile(response->body, id);
    if (!record) return Unexpected(record.error());
    record->changeTag = response->header("ETag");
    if (record->changeTag.empty()) {
        auto tag = currentETag(url);
        if (!tag) return Unexpected(tag.error());
        record->changeTag = std::move(*tag);
    }
    return record;
}

Expected<Record, RecordStoreError> WebDavRecordStore::fetch(const RecordID& id) {
    return get(id);
}

Expected<std::string, RecordStoreError> WebDavRecordStore::currentETag(const std::string& url) {
    auto response = connection_->perform("HEAD", url);
    if (!response) return Unexpected(response.error());
    if (!response->succeeded()) return Unexpected(httpError(*response, url));
    return response->header("ETag");
}

Expected<Record, RecordStoreError> WebDavRecordStore::put(const Record& record, bool conditional) {
    const auto url = recordUrl(record.id);
    const auto changedMeanwhile = [&] {
        return Unexpected(RecordStoreError{
            RecordStoreErrorKind::serverRecordChanged,
            formatMessage(localizedString("The record “%1$@” was changed on the WebDAV server "
                                          "meanwhile, so this change was not saved (%2$@). Load "
                                          "it again and repeat the change."),
                          record.id.recordName, url)});
    };
    std::vector<std::string> headers = {"Content-Type: application/octet-stream"};
    if (conditional && record.changeTag.empty()) {
        headers.push_back("If-None-Match: *");
    } else if (conditional && !isWeakETag(record.changeTag)) {
        headers.push_back("If-Match: " + record.changeTag);
    } else if (conditional) {
        // If-Match compares strongly, so a weak tag never matches (Apache weakens the ETag of a
        // file written less than a second ago). The versions are compared here instead, and the
        // write made conditional on the current tag when that one is strong.
        auto current = connection_->perform("HEAD", url);
        if (!current) return Unexpected(current.error());
        if (current->status == 404) return changedMeanwhile();
        if (!current->succeeded()) return Unexpected(httpError(*current, url));
        const auto currentTag = current->header("ETag");
        if (!sameETagVersion(currentTag, record.changeTag)) return changedMeanwhile();
        if (!isWeakETag(currentTag)) headers.push_back("If-Match: " + currentTag);
    }
    auto response = connection_->perform("PUT", url, headers, encodeRecordFile(record));
    if (!response) return Unexpected(response.error());
    if (response->status == 412) return changedMeanwhile();
    // 409: the collection the resource would go in is missing.
    if (response->status == 409 || response->status == 404) {
        return Unexpected(zoneNotFound(record.id.zoneName, zoneUrl(record.id.zoneName)));
    }
    if (!response->succeeded()) return Unexpected(httpError(*response, url));
    Record saved = record;
    saved.changeTag = response->header("ETag");
    if (saved.changeTag.empty()) {
        auto tag = currentETag(url);
        if (!tag) return Unexpected(tag.error());
        saved.changeTag = std::move(*tag);
    }
    cache_[record.id.zoneName].insert_or_assign(record.id.recordName,
                                                CachedRecord{saved.changeTag, saved});
    return saved;
}

Expected<void, RecordStoreError> WebDavRecordStore::remove(const RecordID& id) {
    const auto url = recordUrl(id);
    auto response = connection_->perform("DELETE", url);
    if (!response) return Unexpected(response.error());
    if (!response->succeeded() && response->status != 404) {
        return Unexpected(httpError(*response, url));
    }
    if (const auto zone = cache_.find(id.zoneName); zone != cache_.end()) {
        zone->second.erase(id.recordName);
    }
    return {};
}

Expected<Record, RecordStoreError> WebDavRecordStore::save(const Record& record) {
    beginOwnWrite();
    auto saved = put(record, true);
    endOwnWrite({record.id.zoneName});
    return saved;
}

Expected<std::vector<Record>, RecordStoreError> WebDavRecordStore::modify(
    const std::vector<Record>& saves, const std::vector<RecordID>& deletes) {
    std::vector<std::string> zones;
    for (const auto& record : saves) zones.push_back(record.id.zoneName);
    for (const auto& id : deletes) zones.push_back(id.zoneName);
    std::sort(zones.begin(), zones.end());
    zones.erase(std::unique(zones.begin(), zones.end()), zones.end());

    beginOwnWrite();
    std::vector<Record> saved;
    std::optional<RecordStoreError> failure;
    for (const auto& record : saves) {
        auto written = put(record, false);
        if (!written) {
            failure = written.error();
            break;
        }
        saved.push_back(std::move(*written));
    }
    for (std::size_t i = 0; !failure && i < deletes.size(); ++i) {
        if (auto removed = remove(deletes[i]); !removed) failure = removed.error();
    }
    endOwnWrite(zones);
    if (failure) return Unexpected(std::move(*failure));
    return saved;
}

void WebDavRecordStore::beginOwnWrite() {
    const std::lock_guard lock(mutex_);
    ++writesInProgress_;
    ++writesBegun_;
}

void WebDavRecordStore::endOwnWrite(const std::vector<std::string>& zoneNames) {
    std::vector<std::string> subscribed;
    {
        const std::lock_guard lock(mutex_);
        for (const auto& entry : subscriptions_) {
            if (std::find(zoneNames.begin(), zoneNames.end(), entry.second.zoneName) !=
                zoneNames.end()) {
                subscribed.push_back(entry.first);
            }
        }
    }
    for (const auto& subscriptionId : subscribed) {
        std::string zoneName;
        {
            const std::lock_guard lock(mutex_);
            const auto found = subscriptions_.find(subscriptionId);
            if (found == subscriptions_.end()) continue;
            zoneName = found->second.zoneName;
        }
        auto listing = listZone(*connection_, zoneUrl(zoneName), zoneName);
        // Without a listing the old one stays: at worst the poller reports this object's write.
        if (!listing) continue;
        const std::lock_guard lock(mutex_);
        if (const auto found = subscriptions_.find(subscriptionId); found != subscriptions_.end()) {
            found->second.lastFingerprint = listingFingerprint(*listing);
        }
    }
    const std::lock_guard lock(mutex_);
    --writesInProgress_;
}

void WebDavRecordStore::startWatching(ChangeHandler handler) {
    stopWatching();
    {
        const std::lock_guard lock(mutex_);
        stopRequested_ = false;
    }
    poller_ = std::thread([this, handler = std::move(handler)] { pollUntilStopped(handler); });
}

void WebDavRecordStore::stopWatching() {
    {
        const std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wakeUp_.notify_all();
    if (poller_.joinable()) poller_.join();
}

void WebDavRecordStore::pollUntilStopped(const ChangeHandler& handler) {
    // The thread's own connection: a curl handle serves one thread at a time.
    WebDavConnection connection(configuration_);
    std::unique_lock lock(mutex_);
    while (!stopRequested_) {
        // A listing taken while this object writes may or may not show the write: such rounds
        // are skipped, and the writer takes its own listing afterwards.
        if (writesInProgress_ == 0) {
            const auto writesBefore = writesBegun_;
            std::vector<std::pair<std::string, std::string>> zones;  // subscription, zone
            for (const auto& entry : subscriptions_) {
                zones.emplace_back(entry.first, entry.second.zoneName);
            }
            lock.unlock();
            std::vector<std::pair<std::string, std::string>> fingerprints;
            for (const auto& zone : zones) {
                auto listing = listZone(connection, zoneUrl(zone.second), zone.second);
                if (listing) {
                    fingerprints.emplace_back(zone.first, listingFingerprint(*listing));
                } else if (listing.error().kind == RecordStoreErrorKind::zoneNotFound) {
                    fingerprints.emplace_back(zone.first, kAbsentZoneFingerprint);
                }
                // Other failures (the network is down) leave the last listing standing.
            }
            lock.lock();
            std::vector<std::string> changed;
            if (!stopRequested_ && writesInProgress_ == 0 && writesBegun_ == writesBefore) {
                for (const auto& fingerprint : fingerprints) {
                    const auto found = subscriptions_.find(fingerprint.first);
                    if (found == subscriptions_.end()) continue;
                    auto& last = found->second.lastFingerprint;
                    if (!last.empty() && last != fingerprint.second)
                        changed.push_back(found->first);
                    last = fingerprint.second;
                }
            }
            if (!changed.empty()) {
                lock.unlock();
                for (const auto& subscriptionId : changed) handler(subscriptionId);
                lock.lock();
            }
        }
        wakeUp_.wait_for(lock, std::max(configuration_.pollInterval, kShortestPollInterval),
                         [this] { return stopRequested_; });
    }
}

}  // namespace pelkora
