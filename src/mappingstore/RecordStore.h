#pragma once

// A record store: where saved mappings live when the user shares them between computers. A
// store keeps records in named zones (collections); each record has a type, a name unique in
// its zone, a set of fields and a change tag, the version of it the store last handed out.
// Stores tell of changes made elsewhere through subscriptions: a handler set with
// startWatching() is called, from any thread, with the identifier of the subscription whose
// zone changed. Two stores exist: a folder that a sync tool keeps in step between the user's
// computers (FolderRecordStore) and a WebDAV server (WebDavRecordStore).
//
// Every operation is synchronous and may block on the disk or the network: callers that must
// stay responsive run them on an operation queue. A store object is used by one thread at a
// time; only the change handler runs on a thread of the store's own.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "propertylist/PropertyList.h"
#include "support/Error.h"
#include "support/Expected.h"

namespace pelkora {

// The names under which saved mappings are shared.
inline constexpr std::string_view kMappingRecordType = "SavedMapping";
inline constexpr std::string_view kMappingZoneName = "Mappings";
inline constexpr std::string_view kMappingSubscriptionId = "Mappings";

// What the store can say about the user's account with it.
enum class AccountStatus : std::int64_t {
    couldNotDetermine = 0,
    available = 1,
    restricted = 2,  // the account exists but may not use the store (HTTP 403)
    noAccount = 3,   // no usable account: no folder, or the server refused the credentials (401)
    temporarilyUnavailable = 4,
};

// Why an operation failed. The numbers are those the rest of the program reports.
enum class RecordStoreErrorKind : std::int64_t {
    internalError = 1,         // the store's own fault: an unreadable answer, a local file error
    networkUnavailable = 3,    // the server cannot be reached at all
    networkFailure = 4,        // the server was reached but the exchange failed (TLS, 5xx)
    notAuthenticated = 9,      // the credentials were refused
    permissionFailure = 10,    // the account may not do this
    unknownItem = 11,          // no such record
    serverRecordChanged = 14,  // the record changed since its change tag was handed out
    zoneNotFound = 26,
};
using RecordStoreError = Error<RecordStoreErrorKind>;

struct RecordID {
    std::string recordName;
    std::string zoneName;
    bool operator==(const RecordID&) const = default;
};

struct Record {
    std::string recordType;
    RecordID id;
    PropertyValue::Dictionary fields;
    // The version of the record the store last handed out (an ETag, a content hash); empty for
    // a record the store has not seen yet.
    std::string changeTag;
    bool operator==(const Record&) const = default;
};

// A record as one file: a binary property list, a dictionary of its fields with the record's
// type under "recordType". The name and zone come from where the file is.
std::string encodeRecordFile(const Record& record);
// The record in such bytes; not a property list, or not a dictionary, or of no type, is an
// internalError naming what is wrong.
Expected<Record, RecordStoreError> decodeRecordFile(std::string_view bytes, RecordID id);

class RecordStore {
  public:
    // Called with a subscription's identifier when a zone it watches changed elsewhere.
    using ChangeHandler = std::function<void(const std::string& subscriptionId)>;

    virtual ~RecordStore() = default;

    // "the sync folder" or "the WebDAV server": what the program's texts call the store.
    virtual std::string placeName() const = 0;
    // Where it is, for the user: the folder's path or the server's URL.
    virtual std::string location() const = 0;

    // Whether the user can use the store now. A failure to find out is an error.
    virtual Expected<AccountStatus, RecordStoreError> accountStatus() = 0;

    virtual Expected<bool, RecordStoreError> zoneExists(std::string_view zoneName) = 0;
    virtual Expected<void, RecordStoreError> createZone(std::string_view zoneName) = 0;

    // Subscriptions are this computer's: a subscription exists once created by this object.
    virtual Expected<bool, RecordStoreError> subscriptionExists(
        std::string_view subscriptionId) = 0;
    virtual Expected<void, RecordStoreError> createSubscription(std::string_view subscriptionId,
                                                                std::string_view zoneName,
                                                                std::string_view recordType) = 0;

    // Every record of the type in the zone, each with its change tag.
    virtual Expected<std::vector<Record>, RecordStoreError> query(std::string_view zoneName,
                                                                  std::string_view recordType) = 0;
    // One record as the store has it now; unknownItem when there is none.
    virtual Expected<Record, RecordStoreError> fetch(const RecordID& id) = 0;
    // Saves one record only if the store's copy is still the one its change tag names (a
    // record without change tag only if the name is free); otherwise serverRecordChanged and
    // nothing is written. Returns the record with its new change tag.
    virtual Expected<Record, RecordStoreError> save(const Record& record) = 0;
    // Saves the records whatever their change tags (all their fields replace the store's) and
    // deletes the identified ones (a record already gone counts as deleted). Returns the saved
    // records with their new change tags. Stops at the first failure.
    virtual Expected<std::vector<Record>, RecordStoreError> modify(
        const std::vector<Record>& saves, const std::vector<RecordID>& deletes) = 0;

    // Starts delivering changes of the subscribed zones to the handler (replacing an earlier
    // one); changes this object made itself are not delivered. stopWatching() returns once no
    // call of the handler is running or will start.
    virtual void startWatching(ChangeHandler handler) = 0;
    virtual void stopWatching() = 0;
};

}  // namespace pelkora
