#pragma once

// The record store on a WebDAV server (Nextcloud, ownCloud, Apache mod_dav): each zone is a
// collection "Pelkora <zone>" under the configured folder, each record one resource
// "<record name>.plist" in it holding the record file (encodeRecordFile), and a record's change
// tag is the server's ETag for that resource. Conditional requests (If-Match, If-None-Match)
// make save() refuse to overwrite a copy that changed meanwhile.
//
// Changes made elsewhere are found by polling: while watching, a thread of the store's own
// lists each subscribed zone's collection every poll interval and calls the handler when the
// list of resources and their ETags differs from the last one it saw. After its own writes the
// store takes the new list as seen, so that they are not delivered back to it.
//
// Every request verifies the server's certificate and host name, sends the credentials only to
// the configured host (a redirect to another host goes without them), and gives up after 10
// seconds without a connection or 60 seconds in all.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mappingstore/RecordStore.h"

namespace pelkora {

class WebDavConnection;

struct WebDavConfiguration {
    // The folder the zones live in, e.g. "https://cloud.example.org/remote.php/dav/files/ada/";
    // a missing final slash is added.
    std::string url;
    std::string user;
    std::string password;
    // The certificate authorities to trust, a PEM file; empty: the system's.
    std::filesystem::path caFile;
    std::chrono::milliseconds pollInterval{60000};
};

class WebDavRecordStore : public RecordStore {
  public:
    explicit WebDavRecordStore(WebDavConfiguration configuration);
    ~WebDavRecordStore() override;
    WebDavRecordStore(const WebDavRecordStore&) = delete;
    WebDavRecordStore& operator=(const WebDavRecordStore&) = delete;

    std::string placeName() const override;
    std::string location() const override;

    Expected<AccountStatus, RecordStoreError> accountStatus() override;

    Expected<bool, RecordStoreError> zoneExists(std::string_view zoneName) override;
    Expected<void, RecordStoreError> createZone(std::string_view zoneName) override;

    Expected<bool, RecordStoreError> subscriptionExists(std::string_view subscriptionId) override;
    Expected<void, RecordStoreError> createSubscription(std::string_view subscriptionId,
                                                        std::string_view zoneName,
                                                        std::string_view recordType) override;

    Expected<std::vector<Record>, RecordStoreError> query(std::string_view zoneName,
                                                          std::string_view recordType) override;
    Expected<Record, RecordStoreError> fetch(const RecordID& id) override;
    Expected<Record, RecordStoreError> save(const Record& record) override;
    Expected<std::vector<Record>, RecordStoreError> modify(
        const std::vector<Record>& saves, const std::vector<RecordID>& deletes) override;

    void startWatching(ChangeHandler handler) override;
    void stopWatching() override;

  private:
    struct CachedRecord {
        std::string listedETag;  // the ETag the collection's listing gave
        Record record;
    };

    std::string zoneUrl(std::string_view zoneName) const;
    std::string recordUrl(const RecordID& id) const;
    // The record as the server has it now.
    Expected<Record, RecordStoreError> get(const RecordID& id);
    // Writes the record, only over the copy its change tag names when conditional.
    Expected<Record, RecordStoreError> put(const Record& record, bool conditional);
    Expected<void, RecordStoreError> remove(const RecordID& id);
    // The resource's ETag, asked for when an answer did not carry it.
    Expected<std::string, RecordStoreError> currentETag(const std::string& url);
    // Brackets this object's writes: afterwards the subscribed zones among those written are
    // listed again and the listings taken as seen, so that the poller does not report them.
    void beginOwnWrite();
    void endOwnWrite(const std::vector<std::string>& zoneNames);
    void pollUntilStopped(const ChangeHandler& handler);

    WebDavConfiguration configuration_;
    // The connection of the thread using the store; the polling thread opens its own.
    std::unique_ptr<WebDavConnection> connection_;
    // Records as last read, by zone and record name, reused while their ETag stays the same.
    std::map<std::string, std::map<std::string, CachedRecord, std::less<>>, std::less<>> cache_;

    // Shared with the polling thread, under mutex_.
    struct Subscription {
        std::string zoneName;
        std::string recordType;
        std::string lastFingerprint;  // empty until the first listing
    };
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    std::map<std::string, Subscription, std::less<>> subscriptions_;
    // Own writes under way, and a count of own writes begun: a listing taken while either
    // moved may or may not show them and is thrown away.
    int writesInProgress_ = 0;
    std::uint64_t writesBegun_ = 0;
    bool stopRequested_ = false;
    std::thread poller_;
};

}  // namespace pelkora
