#pragma once

// The mapping store: the one list of saved mappings the program works with. It keeps them in
// the local file only, or, when the user shares them, as records of a record store (a sync
// folder, a WebDAV server) that every computer of the user reads. Shared mode needs all of:
// sharing wanted, a store set, the account available, the "Mappings" zone and subscription
// known to exist; otherwise the store works locally. Changes pushed by the store make it
// refresh on the main queue.
//
// Lives on the main thread; every operation runs there and may block on the record store.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mapping/SavedMapping.h"
#include "mappingstore/RecordStore.h"
#include "support/Expected.h"

namespace pelkora {

// The alert shown when sharing could not be switched on.
struct SharingAlert {
    std::string heading;
    std::string text;
    bool operator==(const SharingAlert&) const = default;
};

// What switching sharing ended in: whether sharing is on now, and the alert to show, if any.
struct SharingOutcome {
    bool enabled = false;
    std::optional<SharingAlert> alert;
};

class MappingStore {
  public:
    // The local file's store must outlive this one.
    explicit MappingStore(SavedMappingStore& local);
    ~MappingStore();
    MappingStore(const MappingStore&) = delete;
    MappingStore& operator=(const MappingStore&) = delete;

    // The store to share through (none: the local file only). Setting one stops watching the
    // previous store and forgets what is known about it: call updateStatus() next.
    void setRecordStore(std::unique_ptr<RecordStore> store);
    RecordStore* recordStore() const { return recordStore_.get(); }

    // Sharing wanted (the "ShareMappings" setting).
    void setShareMappings(bool share) { shareMappings_ = share; }
    bool shareMappings() const { return shareMappings_; }
    AccountStatus accountStatus() const { return accountStatus_; }
    bool recordZoneExists() const { return recordZoneExists_; }
    bool subscriptionExists() const { return subscriptionExists_; }
    bool isSharedMode() const;

    // Called on the main thread after the list changed, and with record-store failures.
    std::function<void()> onChange;
    std::function<void(const RecordStoreError&)> onError;

    // The list, ordered by title ignoring case.
    const std::vector<SavedMapping>& mappings() const;
    const SavedMapping* findByTitle(std::string_view title) const;
    const SavedMapping* findByUuid(std::string_view uuid) const;
    // The title itself when no mapping has it, else with " 2", " 3", … appended.
    std::string availableTitle(std::string_view proposed) const;

    // Asks the record store for the account status; when available, makes sure the zone and
    // the subscription exist (creating them) and starts watching for changes.
    Expected<AccountStatus, RecordStoreError> updateStatus();
    // Reloads the list: in shared mode from the store's records (a failed query leaves the
    // list as it was), else from the local file. Calls onChange.
    Expected<void, RecordStoreError> refresh();

    // Adds a new mapping. In shared mode it becomes a new record; if that fails it stays in
    // the list and the error is returned (and given to onError).
    Expected<void, std::string> save(const SavedMapping& mapping);
    // Writes a changed mapping (matched by uuid). In shared mode a record changed elsewhere
    // meanwhile is read again: the newer of the two by updatedOn wins, and an older local
    // change is reported as lost, never written over the newer one.
    Expected<void, std::string> update(const SavedMapping& mapping);
    Expected<void, std::string> rename(std::string_view uuid, std::string title);
    Expected<void, std::string> remove(const std::vector<std::string>& uuids);
    // Imported mappings, matched by uuid: a known one takes the imported title, mode,
    // fingerprint and list; the others are added.
    Expected<void, std::string> merge(const std::vector<SavedMapping>& imported);

    // After sharing was switched on: merges the local mappings into the store's (a local one
    // whose uuid the store has overwrites that record's title, mode, fingerprint and list) and
    // uploads the rest in one batch. Returns how many went up.
    Expected<std::size_t, RecordStoreError> syncLocalToShared();

    // A change pushed by the record store, from any thread: for the "Mappings" subscription,
    // refreshes on the main queue a tenth of a second later.
    void handlePush(const std::string& subscriptionId);

    // The user switched sharing: stores the choice through persistShareMappings, asks for the
    // account status and, when enabling works, merges the local mappings into the store;
    // when disabling, refreshes locally and writes the list to the local file.
    SharingOutcome switchSharing(bool enable,
                                 const std::function<void(bool)>& persistShareMappings);

    // The texts shown for the store in use ("the sync folder", "the WebDAV server").
    std::string placeName() const;

  private:
    Expected<void, std::string> writeShared(const SavedMapping& mapping);
    // The mappings of the records, replacing the shared list.
    void adoptRecords(std::vector<Record> records);
    // "Sync folder", "WebDAV server": the place's name at the start of a log line.
    std::string serviceName() const;
    SharingAlert alertFor(const RecordStoreError& error) const;
    SharingAlert alertFor(AccountStatus status) const;
    void sortList();
    void changed();
    void reportError(const RecordStoreError& error);

    SavedMappingStore& local_;
    std::unique_ptr<RecordStore> recordStore_;
    bool shareMappings_ = false;
    AccountStatus accountStatus_ = AccountStatus::couldNotDetermine;
    bool recordZoneExists_ = false;
    bool subscriptionExists_ = false;
    // The list in shared mode, and the record behind each mapping, by uuid.
    std::vector<SavedMapping> sharedMappings_;
    std::map<std::string, Record> records_;
    // The shared list was read from the store at least once.
    bool sharedListLoaded_ = false;
    // Kept alive while this store is: a push arriving late finds it gone.
    std::shared_ptr<MappingStore*> self_;
};

}  // namespace pelkora
