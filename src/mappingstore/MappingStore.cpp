#include "mappingstore/MappingStore.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "addressbook/Contact.h"
#include "platform/MainQueue.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "text/Collation.h"
#include "text/UnicodeText.h"

namespace pelkora {
namespace {

// Now, to the microsecond that records and archives keep.
std::chrono::system_clock::time_point now() {
    return std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
}

std::string zoneName() {
    return std::string(kMappingZoneName);
}

Record newRecord(const SavedMapping& mapping) {
    return Record{std::string(kMappingRecordType),
                  {contacts::makeRandomUUID(), zoneName()},
                  savedMappingRecordFields(mapping),
                  {}};
}

template <typename List>
auto findUuid(List& list, std::string_view uuid) {
    return std::find_if(list.begin(), list.end(),
                        [uuid](const SavedMapping& mapping) { return mapping.uuid == uuid; });
}

}  // namespace

MappingStore::MappingStore(SavedMappingStore& local)
    : local_(local), self_(std::make_shared<MappingStore*>(this)) {}

MappingStore::~MappingStore() {
    if (recordStore_) recordStore_->stopWatching();
}

void MappingStore::setRecordStore(std::unique_ptr<RecordStore> store) {
    if (recordStore_) recordStore_->stopWatching();
    recordStore_ = std::move(store);
    accountStatus_ = AccountStatus::couldNotDetermine;
    recordZoneExists_ = false;
    subscriptionExists_ = false;
    sharedMappings_.clear();
    records_.clear();
    sharedListLoaded_ = false;
}

bool MappingStore::isSharedMode() const {
    return shareMappings_ && recordStore_ && accountStatus_ == AccountStatus::available &&
           recordZoneExists_ && subscriptionExists_;
}

std::string MappingStore::placeName() const {
    return recordStore_ ? recordStore_->placeName() : localizedString("the local store");
}

const std::vector<SavedMapping>& MappingStore::mappings() const {
    return isSharedMode() ? sharedMappings_ : local_.mappings();
}

const SavedMapping* MappingStore::findByTitle(std::string_view title) const {
    if (!isSharedMode()) return local_.findByTitle(title);
    const auto found = std::find_if(sharedMappings_.begin(), sharedMappings_.end(),
                                    [wanted = lowercased(title)](const SavedMapping& mapping) {
                                        return lowercased(mapping.title) == wanted;
                                    });
    return found == sharedMappings_.end() ? nullptr : &*found;
}

const SavedMapping* MappingStore::findByUuid(std::string_view uuid) const {
    if (!isSharedMode()) return local_.findByUuid(uuid);
    const auto found = findUuid(sharedMappings_, uuid);
    return found == sharedMappings_.end() ? nullptr : &*found;
}

std::string MappingStore::availableTitle(std::string_view proposed) const {
    std::string title(proposed);
    for (int number = 2; findByTitle(title); ++number)
        title = std::string(proposed) + " " + std::to_string(number);
    return title;
}

Expected<AccountStatus, RecordStoreError> MappingStore::updateStatus() {
    if (!recordStore_) {
        accountStatus_ = AccountStatus::couldNotDetermine;
        return accountStatus_;
    }
    auto status = recordStore_->accountStatus();
    if (!status) {
        writeLog(LogType::error, "Failed to update MappingStore status: %{public}@",
                 status.error().message);
        return Unexpected(status.error());
    }
    accountStatus_ = *status;
    if (accountStatus_ != AccountStatus::available) return accountStatus_;

    const std::string zone = zoneName();
    auto zoneFound = recordStore_->zoneExists(zone);
    if (zoneFound && *zoneFound) {
        writeLog(LogType::info, "Record zone %{public}@ already exists. Proceeding...", zone);
        recordZoneExists_ = true;
    } else {
        auto created = zoneFound ? recordStore_->createZone(zone)
                                 : Expected<void, RecordStoreError>(Unexpected(zoneFound.error()));
        if (created) {
            writeLog(LogType::info, "Record zone %{public}@ created.", zone);
            recordZoneExists_ = true;
        } else {
            const std::string reason = created.error().message.empty()
                                           ? std::string("Unknown error")
                                           : created.error().message;
            writeLog(LogType::error, "Failed to create the %{public}@ record zone: %{public}@",
                     zone, reason);
        }
    }

    const std::string subscription(kMappingSubscriptionId);
    auto subscriptionFound = recordStore_->subscriptionExists(subscription);
    if (subscriptionFound && *subscriptionFound) {
        writeLog(LogType::info, "Subscription %{public}@ already exists. Proceeding...",
                 subscription);
        subscriptionExists_ = true;
    } else {
        auto created =
            subscriptionFound
                ? recordStore_->createSubscription(subscription, zone, kMappingRecordType)
                : Expected<void, RecordStoreError>(Unexpected(subscriptionFound.error()));
        if (created) {
            writeLog(LogType::info, "Subscription %{public}@ created.", subscription);
            subscriptionExists_ = true;
        } else {
            const std::string reason = created.error().message.empty()
                                           ? std::string("Unknown error")
                                           : created.error().message;
            writeLog(LogType::error,
                     "Failed to create the %{public}@ zone subscription: %{public}@", subscription,
                     reason);
        }
    }
    if (subscriptionExists_) {
        std::weak_ptr<MappingStore*> weak = self_;
        recordStore_->startWatching([weak](const std::string& subscriptionId) {
            if (auto self = weak.lock()) (*self)->handlePush(subscriptionId);
        });
    }
    return accountStatus_;
}

Expected<void, RecordStoreError> MappingStore::refresh() {
    writeLog(LogType::info, "%{public}@ invoked", std::string_view("refresh()"));
    if (!isSharedMode()) {
        local_.reload();
        changed();
        return {};
    }
    auto records = recordStore_->query(zoneName(), kMappingRecordType);
    if (!records) {
        writeLog(LogType::error, "Failed to refresh the MappingStore: %{public}@",
                 records.error().message);
        reportError(records.error());
        return Unexpected(records.error());
    }
    adoptRecords(std::move(records).value());
    changed();
    return {};
}

void MappingStore::adoptRecords(std::vector<Record> records) {
    std::vector<SavedMapping> list;
    std::map<std::string, Record> byUuid;
    for (auto& record : records) {
        auto mapping = savedMappingFromRecordFields(record.fields);
        if (!mapping) {
            writeLog(LogType::error, "Cannot read the mapping record %{public}@: %{public}@",
                     record.id.recordName, mapping.error().message);
            continue;
        }
        // Two records of one mapping (two computers uploaded it at once): the newer counts.
        const auto twin = findUuid(list, mapping->uuid);
        if (twin != list.end()) {
            if (twin->updatedOn >= mapping->updatedOn) continue;
            list.erase(twin);
        }
        byUuid.insert_or_assign(mapping->uuid, std::move(record));
        list.push_back(std::move(mapping).value());
    }
    sharedMappings_ = std::move(list);
    records_ = std::move(byUuid);
    sharedListLoaded_ = true;
    sortList();
}

Expected<void, std::string> MappingStore::save(const SavedMapping& mapping) {
    if (!isSharedMode()) {
        if (auto saved = local_.save(mapping); !saved) return saved;
        writeLog(LogType::info, "Mapping '%{public}@' successfully saved to the local store",
                 mapping.title);
        changed();
        return {};
    }
    sharedMappings_.push_back(mapping);
    sortList();
    auto saved = recordStore_->save(newRecord(mapping));
    if (!saved) {
        writeLog(LogType::error, "Failed to save mapping to " + placeName() + ": %{public}@",
                 saved.error().message);
        reportError(saved.error());
        changed();
        return Unexpected(saved.error().message);
    }
    records_.insert_or_assign(mapping.uuid, std::move(saved).value());
    writeLog(LogType::info, "Mapping '%{public}@' successfully saved to " + placeName(),
             mapping.title);
    changed();
    return {};
}

Expected<void, std::string> MappingStore::update(const SavedMapping& mapping) {
    if (!isSharedMode()) {
        if (auto saved = local_.save(mapping); !saved) return saved;
        changed();
        return {};
    }
    const auto listed = findUuid(sharedMappings_, mapping.uuid);
    if (listed == sharedMappings_.end()) return save(mapping);
    *listed = mapping;
    sortList();
    auto written = writeShared(mapping);
    changed();
    return written;
}

Expected<void, std::string> MappingStore::writeShared(const SavedMapping& mapping) {
    const auto failed = [this](const RecordStoreError& error) -> Expected<void, std::string> {
        writeLog(LogType::error, "Failed to update mapping in " + placeName() + ": %{public}@",
                 error.message);
        reportError(error);
        return Unexpected(error.message);
    };
    const auto known = records_.find(mapping.uuid);
    Record record = known != records_.end() ? known->second : newRecord(mapping);
    record.fields = savedMappingRecordFields(mapping);
    // A record changed elsewhere since it was read is read again: the newer version wins, and
    // an older change of ours is reported rather than written over the newer one.
    for (int attempt = 0;; ++attempt) {
        auto saved = recordStore_->save(record);
        if (saved) {
            records_.insert_or_assign(mapping.uuid, std::move(saved).value());
            return {};
        }
        if (saved.error().kind != RecordStoreErrorKind::serverRecordChanged || attempt == 3)
            return failed(saved.error());
        auto current = recordStore_->fetch(record.id);
        if (!current) {
            if (current.error().kind != RecordStoreErrorKind::unknownItem)
                return failed(current.error());
            // Deleted on another computer meanwhile: the deletion stands.
            std::erase_if(sharedMappings_,
                          [&](const SavedMapping& other) { return other.uuid == mapping.uuid; });
            records_.erase(mapping.uuid);
            return failed(
                RecordStoreError{RecordStoreErrorKind::unknownItem,
                                 formatMessage(localizedString("The mapping “%@” was deleted on "
                                                               "another computer; the change was "
                                                               "not saved."),
                                               mapping.title)});
        }
        auto theirs = savedMappingFromRecordFields(current->fields);
        if (theirs && theirs->updatedOn > mapping.updatedOn) {
            const auto listed = findUuid(sharedMappings_, mapping.uuid);
            if (listed != sharedMappings_.end()) *listed = *theirs;
            sortList();
            records_.insert_or_assign(mapping.uuid, std::move(current).value());
            return failed(RecordStoreError{
                RecordStoreErrorKind::serverRecordChanged,
                formatMessage(localizedString("The mapping “%1$@” was changed on another "
                                              "computer meanwhile; its newer version “%2$@” was "
                                              "kept."),
                              mapping.title, theirs->title)});
        }
        record.changeTag = current->changeTag;
    }
}

Expected<void, std::string> MappingStore::rename(std::string_view uuid, std::string title) {
    if (!isSharedMode()) {
        if (auto renamed = local_.rename(uuid, std::move(title)); !renamed) return renamed;
        changed();
        return {};
    }
    const auto* found = findByUuid(uuid);
    if (!found)
        return Unexpected(
            formatMessage(localizedString("No saved mapping has the identifier %@"), uuid));
    SavedMapping mapping = *found;
    mapping.title = std::move(title);
    mapping.updatedOn = now();
    return update(mapping);
}

Expected<void, std::string> MappingStore::remove(const std::vector<std::string>& uuids) {
    if (!isSharedMode()) {
        if (auto removed = local_.remove(uuids); !removed) return removed;
        writeLog(LogType::info, "%{public}d mappings deleted from the local store",
                 static_cast<std::int64_t>(uuids.size()));
        changed();
        return {};
    }
    std::vector<RecordID> ids;
    for (const auto& uuid : uuids) {
        const auto listed = findUuid(sharedMappings_, uuid);
        if (listed == sharedMappings_.end()) continue;
        sharedMappings_.erase(listed);
        const auto known = records_.find(uuid);
        // A mapping that never reached the store is asked for by its uuid.
        ids.push_back(known != records_.end() ? known->second.id : RecordID{uuid, zoneName()});
        records_.erase(uuid);
    }
    auto removed = recordStore_->modify({}, ids);
    changed();
    if (!removed) {
        writeLog(LogType::error,
                 "Failed to bulk delete mappings from " + placeName() + ": %{public}@",
                 removed.error().message);
        reportError(removed.error());
        return Unexpected(removed.error().message);
    }
    writeLog(LogType::info, "%{public}d mappings deleted from " + placeName(),
             static_cast<std::int64_t>(ids.size()));
    return {};
}

Expected<void, std::string> MappingStore::merge(const std::vector<SavedMapping>& imported) {
    if (!isSharedMode()) {
        if (auto merged = local_.merge(imported); !merged) return merged;
        changed();
        return {};
    }
    std::string failures;
    for (const auto& mapping : imported) {
        const auto* known = findByUuid(mapping.uuid);
        Expected<void, std::string> written;
        if (known) {
            SavedMapping changedMapping = *known;
            changedMapping.title = mapping.title;
            changedMapping.mappingMode = mapping.mappingMode;
            changedMapping.columnTitlesHash = mapping.columnTitlesHash;
            changedMapping.mappedContactProperties = mapping.mappedContactProperties;
            written = update(changedMapping);
        } else {
            written = save(mapping);
        }
        if (!written) failures += (failures.empty() ? "" : "; ") + written.error();
    }
    if (!failures.empty()) return Unexpected(failures);
    return {};
}

Expected<std::size_t, RecordStoreError> MappingStore::syncLocalToShared() {
    if (!isSharedMode()) {
        return Unexpected(
            RecordStoreError{RecordStoreErrorKind::internalError,
                             formatMessage(localizedString("The mappings cannot be shared: %@ is "
                                                           "not ready."),
                                           placeName())});
    }
    auto records = recordStore_->query(zoneName(), kMappingRecordType);
    if (!records) {
        writeLog(LogType::error, "Failed to refresh the MappingStore: %{public}@",
                 records.error().message);
        reportError(records.error());
        return Unexpected(records.error());
    }
    adoptRecords(std::move(records).value());
    local_.reload();

    // The local content wins over the shared copy of the same mapping, and the shared copy is
    // written too: otherwise the next refresh would bring the old content back.
    std::vector<Record> batch;
    for (const auto& local : local_.mappings()) {
        const auto shared = findUuid(sharedMappings_, local.uuid);
        if (shared != sharedMappings_.end()) {
            shared->title = local.title;
            shared->mappingMode = local.mappingMode;
            shared->columnTitlesHash = local.columnTitlesHash;
            shared->mappedContactProperties = local.mappedContactProperties;
            Record record = records_.at(local.uuid);
            record.fields = savedMappingRecordFields(*shared);
            batch.push_back(std::move(record));
        } else {
            sharedMappings_.push_back(local);
            batch.push_back(newRecord(local));
        }
    }
    sortList();
    auto saved = recordStore_->modify(batch, {});
    if (!saved) {
        writeLog(LogType::error, "Failed to bulk save mappings to " + placeName() + ": %{public}@",
                 saved.error().message);
        reportError(saved.error());
        changed();
        return Unexpected(saved.error());
    }
    for (auto& record : *saved) {
        if (auto mapping = savedMappingFromRecordFields(record.fields))
            records_.insert_or_assign(mapping->uuid, std::move(record));
    }
    writeLog(LogType::info, "%{public}d locally stored mappings synced to " + placeName(),
             static_cast<std::int64_t>(batch.size()));
    changed();
    return batch.size();
}

void MappingStore::handlePush(const std::string& subscriptionId) {
    writeLog(LogType::info, "%{public}@ invoked", std::string_view("MappingStore::handlePush"));
    if (subscriptionId != kMappingSubscriptionId) return;
    std::weak_ptr<MappingStore*> weak = self_;
    // The store's thread waits the tenth of a second, so that the main queue never does.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    MainQueue::shared().post([weak] {
        auto self = weak.lock();
        if (!self || !(*self)->isSharedMode()) return;
        (void)(*self)->refresh();
    });
}

SharingOutcome MappingStore::switchSharing(bool enable,
                                           const std::function<void(bool)>& persistShareMappings) {
    writeLog(LogType::info, "%{public}@ invoked", std::string_view("switchSharing(_:)"));
    const auto setSharing = [&](bool on) {
        shareMappings_ = on;
        if (persistShareMappings) persistShareMappings(on);
    };
    setSharing(enable);
    const std::string service = serviceName();
    const std::string heading =
        formatMessage(localizedString("Sharing through %@ could not be enabled"), placeName());

    if (!recordStore_) {
        setSharing(false);
        if (!enable) return {};
        return {false, SharingAlert{heading, localizedString("No sync folder or WebDAV server "
                                                             "is set up.")}};
    }
    auto status = updateStatus();
    if (!status) {
        writeLog(LogType::error,
                 "A " + service + " related error occured while managing the sync: %{public}@",
                 status.error().message);
        if (!enable) return {};
        setSharing(false);
        return {false, alertFor(status.error())};
    }
    switch (*status) {
        case AccountStatus::available: {
            if (!enable) {
                writeLog(LogType::info, service + " sharing disabled: Store mappings locally...");
                const bool hadSharedList = sharedListLoaded_;
                std::vector<SavedMapping> list = sharedMappings_;
                (void)refresh();
                if (hadSharedList) {
                    if (auto written = local_.replaceAll(std::move(list)); !written) {
                        return {false, SharingAlert{localizedString("Could not archive saved "
                                                                    "mappings"),
                                                    written.error()}};
                    }
                    changed();
                }
                return {false, {}};
            }
            writeLog(LogType::info, service + " sharing enabled: Merge mappings...");
            if (!isSharedMode()) {
                setSharing(false);
                return {false,
                        SharingAlert{heading, formatMessage(
                                                  localizedString("The “Mappings” folder could not "
                                                                  "be made in %@."),
                                                  recordStore_->location())}};
            }
            auto synced = syncLocalToShared();
            if (!synced) return {true, alertFor(synced.error())};
            return {true, {}};
        }
        case AccountStatus::couldNotDetermine:
        case AccountStatus::restricted:
        case AccountStatus::noAccount:
        case AccountStatus::temporarilyUnavailable:
            setSharing(false);
            if (!enable) return {};
            return {false, alertFor(*status)};
    }
    writeLog(LogType::error, "%{public}@: Unhandled account status encountered: '%{public}d'",
             std::string_view("switchSharing(_:)"), static_cast<std::int64_t>(*status));
    setSharing(false);
    return {};
}

std::string MappingStore::serviceName() const {
    std::string name = placeName();
    if (name.starts_with("the ")) name.erase(0, 4);
    if (!name.empty() && name[0] >= 'a' && name[0] <= 'z')
        name[0] = static_cast<char>(name[0] - 32);
    return name;
}

SharingAlert MappingStore::alertFor(const RecordStoreError& error) const {
    const std::string heading =
        formatMessage(localizedString("Sharing through %@ could not be enabled"), placeName());
    switch (error.kind) {
        case RecordStoreErrorKind::networkUnavailable:
            return {heading, localizedString("The network is unavailable. The internet "
                                             "connection appears to be offline.") +
                                 "\n" + error.message};
        case RecordStoreErrorKind::networkFailure:
            return {heading, localizedString("The network is available but cannot be accessed.") +
                                 "\n" + error.message};
        case RecordStoreErrorKind::notAuthenticated:
            return alertFor(AccountStatus::noAccount);
        case RecordStoreErrorKind::permissionFailure:
            return alertFor(AccountStatus::restricted);
        default:
            return {heading, error.message};
    }
}

SharingAlert MappingStore::alertFor(AccountStatus status) const {
    const std::string heading =
        formatMessage(localizedString("Sharing through %@ could not be enabled"), placeName());
    const std::string where = recordStore_ ? recordStore_->location() : std::string();
    switch (status) {
        case AccountStatus::restricted:
            return {heading,
                    formatMessage(localizedString("Access to %1$@ %2$@ is denied. Please ask an "
                                                  "administrator for help.",
                                                  "%1$@ is the sync folder or the WebDAV server, "
                                                  "%2$@ its location"),
                                  placeName(), where)};
        case AccountStatus::noAccount:
            if (placeName() == localizedString("the sync folder")) {
                return {localizedString("Choose a sync folder"),
                        formatMessage(
                            localizedString("The folder %@ does not exist or cannot be written. "
                                            "Choose a folder that your sync tool keeps in step "
                                            "across your computers."),
                            where)};
            }
            return {localizedString("Sign in to the WebDAV server"),
                    formatMessage(
                        localizedString("The WebDAV server %@ refused the user name and password. "
                                        "Enable sharing again with the right ones to sync "
                                        "mappings across your computers."),
                        where)};
        case AccountStatus::temporarilyUnavailable:
            return {heading,
                    formatMessage(localizedString("%1$@ %2$@ is temporarily unavailable. Try "
                                                  "again later.",
                                                  "%1$@ is the sync folder or the WebDAV server, "
                                                  "%2$@ its location"),
                                  placeName(), where)};
        case AccountStatus::couldNotDetermine:
        case AccountStatus::available:
            break;
    }
    return {heading,
            formatMessage(localizedString("Whether %1$@ %2$@ can be used could not be determined.",
                                          "%1$@ is the sync folder or the WebDAV server, %2$@ its "
                                          "location"),
                          placeName(), where)};
}

void MappingStore::sortList() {
    const LocalizedCollator before;
    std::stable_sort(sharedMappings_.begin(), sharedMappings_.end(),
                     [&before](const SavedMapping& left, const SavedMapping& right) {
                         return before(left.title, right.title);
                     });
}

void MappingStore::changed() {
    if (onChange) onChange();
}

void MappingStore::reportError(const RecordStoreError& error) {
    if (onError) onError(error);
}

}  // namespace pelkora
