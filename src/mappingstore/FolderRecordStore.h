#pragma once

// The record store in a folder that a sync tool (Nextcloud, Syncthing, Dropbox) keeps in step
// between the user's computers.
//
// Layout: the zone "Mappings" is the folder "Pelkora Mappings" inside the sync folder; each
// record is the file "<record name>.plist" in its zone's folder, holding encodeRecordFile().
// The change tag is the MD5 of the file's bytes, so every computer computes the same tag for
// the same version. Names starting with "." (temporary files, the ".lock" file) and names not
// ending ".plist" are not records.
//
// Writes are atomic (a temporary file renamed over the record) and a conditional save checks
// the change tag under an flock on the zone's ".lock" file. The lock only orders the programs
// of this computer; between computers the sync tool decides, and when two computers changed a
// record at once it keeps both as conflict copies: "NAME (conflicted copy 2026-12-07
// 101010).plist" (Nextcloud, Dropbox with the user's name before "conflicted copy"),
// "NAME.sync-conflict-20261207-101010-ABCDEFG.plist" (Syncthing) or
// "NAME_conflict-20261207-101010.plist" (ownCloud). Reading a record settles its copies: the
// version with the newest "updatedOn" date becomes "NAME.plist", and every other version is
// moved out of the synced folder into the superseded folder, where the user can still find
// it. A file that is not a readable record is logged and left where it is.
//
// Changes made elsewhere are seen through inotify on the watched zones' folders.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mappingstore/RecordStore.h"

namespace pelkora {

class FolderRecordStore : public RecordStore {
  public:
    // $XDG_DATA_HOME/pelkora/Superseded Mappings.
    static std::filesystem::path defaultSupersededFolder();

    explicit FolderRecordStore(std::filesystem::path folder,
                               std::filesystem::path supersededFolder = defaultSupersededFolder());
    // Stops watching.
    ~FolderRecordStore() override;
    FolderRecordStore(const FolderRecordStore&) = delete;
    FolderRecordStore& operator=(const FolderRecordStore&) = delete;

    // "the sync folder", and the folder's path.
    std::string placeName() const override;
    std::string location() const override;

    // Available when the folder exists, is a folder and this user may create files in it;
    // otherwise noAccount.
    Expected<AccountStatus, RecordStoreError> accountStatus() override;

    Expected<bool, RecordStoreError> zoneExists(std::string_view zoneName) override;
    // Creates the zone's folder (mode 0700); the sync folder must exist.
    Expected<void, RecordStoreError> createZone(std::string_view zoneName) override;

    Expected<bool, RecordStoreError> subscriptionExists(std::string_view subscriptionId) override;
    Expected<void, RecordStoreError> createSubscription(std::string_view subscriptionId,
                                                        std::string_view zoneName,
                                                        std::string_view recordType) override;

    // Record names must be file names that start with no "." and look like no conflict copy.
    // Reading settles conflict copies on the way (see above); damaged files are logged and
    // skipped, so fetching a record whose every version is damaged is unknownItem.
    Expected<std::vector<Record>, RecordStoreError> query(std::string_view zoneName,
                                                          std::string_view recordType) override;
    Expected<Record, RecordStoreError> fetch(const RecordID& id) override;
    Expected<Record, RecordStoreError> save(const Record& record) override;
    // A deleted record's conflict copies go to the superseded folder, so that no copy brings
    // the record back.
    Expected<std::vector<Record>, RecordStoreError> modify(
        const std::vector<Record>& saves, const std::vector<RecordID>& deletes) override;

    // Watches the folders of the zones subscribed to so far (a subscription created while
    // watching restarts the watcher). Events are gathered for 150 ms after the first one;
    // then the handler is called once per subscription whose zone changed in a way this
    // object did not cause. A zone folder created or recreated later is watched once it
    // appears. The handler must not call stopWatching() or startWatching() itself.
    void startWatching(ChangeHandler handler) override;
    void stopWatching() override;

    const std::filesystem::path& folder() const { return folder_; }
    const std::filesystem::path& supersededFolder() const { return supersededFolder_; }
    // folder()/"Pelkora <zone name>".
    std::filesystem::path zoneFolder(std::string_view zoneName) const;

  private:
    struct Subscription {
        std::string id;
        std::string zoneName;
        std::string recordType;
    };
    class Watcher;
    struct RecordFiles;

    Expected<std::map<std::string, RecordFiles>, RecordStoreError> listZone(
        std::string_view zoneName) const;
    Expected<std::optional<Record>, RecordStoreError> settle(std::string_view zoneName,
                                                             const std::string& recordName,
                                                             const RecordFiles& files);
    Expected<Record, RecordStoreError> write(const Record& record, bool conditional);
    Expected<void, RecordStoreError> remove(const RecordID& id);
    Expected<void, RecordStoreError> supersede(const std::filesystem::path& file,
                                               const std::string& recordName);

    // What the watcher makes of a changed file: left as this object last left it, changed by
    // someone else, or in the middle of a change by this object (to be looked at again).
    enum class FileOrigin { own, foreign, beingChanged };
    // The bookkeeping of a file this object changes: between begin and end the watcher waits;
    // end records the file's tag as left, none for a removed file, or (failed) forgets it.
    void beginOwnChange(const std::filesystem::path& file);
    void endOwnChange(const std::filesystem::path& file, bool succeeded,
                      std::optional<std::string> tag);
    class OwnChange;
    // Forgets a file found changed by someone else. Called by the watcher's thread.
    FileOrigin originOf(const std::filesystem::path& file);

    std::filesystem::path folder_;
    std::filesystem::path supersededFolder_;
    std::vector<Subscription> subscriptions_;
    ChangeHandler handler_;
    std::unique_ptr<Watcher> watcher_;

    // The files as this object last left them, shared with the watcher's thread.
    struct OwnState {
        std::optional<std::string> tag;  // none: removed
        bool known = false;              // false until a change succeeded
        int changesRunning = 0;
    };
    std::mutex ownStatesMutex_;
    std::map<std::filesystem::path, OwnState> ownStates_;
};

}  // namespace pelkora
