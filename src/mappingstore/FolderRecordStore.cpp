#include "mappingstore/FolderRecordStore.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/AtomicFile.h"
#include "platform/Crypto.h"
#include "platform/Paths.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {
namespace {

constexpr std::string_view kPlaceName = N_("the sync folder");
constexpr std::string_view kZonePrefix = "Pelkora ";
constexpr std::string_view kRecordExtension = ".plist";
constexpr std::string_view kLockFileName = ".lock";
constexpr std::string_view kUpdatedOnField = "updatedOn";
constexpr std::size_t kMaximumFileNameLength = 255;

Unexpected<RecordStoreError> failure(RecordStoreErrorKind kind, std::string message) {
    return Unexpected(RecordStoreError{kind, std::move(message)});
}

Unexpected<RecordStoreError> failure(const FileError& error) {
    return failure(RecordStoreErrorKind::internalError, error.message);
}

// The sentence is marked with N_ and has two placeholders: the file, then the reason.
Unexpected<RecordStoreError> failure(const std::filesystem::path& file, int error,
                                     const char* sentence) {
    return failure(RecordStoreErrorKind::internalError,
                   formatMessage(localizedString(sentence), file.string(),
                                 std::generic_category().message(error)));
}

// Where the records are kept, as sentences name it ("There is no record … in the sync folder").
std::string placeName() {
    return localizedString(kPlaceName.data(), "Where shared mappings are kept, in sentences");
}

std::string inQuotes(std::string_view text) {
    return "“" + std::string(text) + "”";
}

bool isDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The record name a sync tool's conflict copy belongs to, from the file name without
// ".plist"; none for a name that is not a conflict copy.
std::optional<std::string_view> conflictCopyBase(std::string_view stem) {
    // Syncthing: "NAME.sync-conflict-20261207-101010-ABCDEFG".
    if (const auto at = stem.rfind(".sync-conflict-"); at != std::string_view::npos && at > 0)
        return stem.substr(0, at);
    // Nextcloud "NAME (conflicted copy 2026-12-07 101010)", Dropbox "NAME (Jane's conflicted
    // copy 2026-12-07)".
    if (stem.ends_with(')')) {
        const auto open = stem.rfind(" (");
        if (open != std::string_view::npos && open > 0 &&
            stem.substr(open).find("conflicted copy") != std::string_view::npos)
            return stem.substr(0, open);
    }
    // ownCloud: "NAME_conflict-20261207-101010".
    constexpr std::string_view ownCloudMarker = "_conflict-";
    if (const auto at = stem.rfind(ownCloudMarker); at != std::string_view::npos && at > 0) {
        const auto stamp = stem.substr(at + ownCloudMarker.size());
        if (stamp.size() == 15 && isDigits(stamp.substr(0, 8)) && stamp[8] == '-' &&
            isDigits(stamp.substr(9)))
            return stem.substr(0, at);
    }
    return std::nullopt;
}

// Whether a file in a zone's folder may be a record or a copy of one.
bool isRecordFileName(std::string_view name) {
    return !name.empty() && name.front() != '.' && name.size() > kRecordExtension.size() &&
           name.ends_with(kRecordExtension);
}

Expected<void, RecordStoreError> checkZoneName(std::string_view zoneName) {
    if (zoneName.empty() || zoneName.find_first_of(std::string_view("/\0", 2)) != zoneName.npos ||
        kZonePrefix.size() + zoneName.size() > kMaximumFileNameLength)
        return failure(RecordStoreErrorKind::internalError,
                       formatMessage(localizedString("The zone name %@ cannot be a folder name."),
                                     inQuotes(zoneName)));
    return {};
}

// A record name must be a file name of its own that no sync tool's conflict copy could have.
Expected<void, RecordStoreError> checkRecordID(const RecordID& id) {
    if (auto zone = checkZoneName(id.zoneName); !zone) return zone;
    const std::string_view name = id.recordName;
    if (name.empty() || name.front() == '.' ||
        name.find_first_of(std::string_view("/\0", 2)) != name.npos ||
        name.size() + kRecordExtension.size() > kMaximumFileNameLength || conflictCopyBase(name))
        return failure(RecordStoreErrorKind::internalError,
                       formatMessage(localizedString("The record name %1$@ cannot be a file name "
                                                     "in %2$@."),
                                     inQuotes(name), placeName()));
    return {};
}

std::filesystem::path recordFile(const std::filesystem::path& zoneFolder,
                                 std::string_view recordName) {
    return zoneFolder / (std::string(recordName) + std::string(kRecordExtension));
}

std::string changeTag(std::string_view bytes) {
    return md5HexDigest(bytes);
}

// The file's bytes, or none when there is no file.
Expected<std::optional<std::string>, RecordStoreError> readIfPresent(
    const std::filesystem::path& file) {
    auto bytes = readWholeFile(file);
    if (bytes) return std::optional<std::string>(std::move(*bytes));
    if (bytes.error().code == std::errc::no_such_file_or_directory) return std::nullopt;
    return failure(bytes.error());
}

// Holds the zone's ".lock" file locked, which orders the writers of this computer.
class ZoneLock {
  public:
    static Expected<ZoneLock, RecordStoreError> acquire(const std::filesystem::path& zoneFolder) {
        const auto path = zoneFolder / kLockFileName;
        const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (descriptor < 0)
            return failure(path, errno, N_("Could not open the lock file “%1$@”: %2$@"));
        while (::flock(descriptor, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(descriptor);
            return failure(path, error, N_("Could not lock “%1$@”: %2$@"));
        }
        return ZoneLock(descriptor);
    }
    ZoneLock(ZoneLock&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    ZoneLock& operator=(ZoneLock&&) = delete;
    ~ZoneLock() {
        if (descriptor_ >= 0) ::close(descriptor_);  // closing releases the lock
    }

  private:
    explicit ZoneLock(int descriptor) : descriptor_(descriptor) {}
    int descriptor_;
};

// One version of a record among its conflict copies.
struct Version {
    std::filesystem::path file;
    std::string bytes;
    Record record;
    PropertyValue::Date updatedOn;
};

PropertyValue::Date updatedOn(const Record& record) {
    const auto field = record.fields.find(kUpdatedOnField);
    if (field == record.fields.end() || !field->second.dateValue())
        return PropertyValue::Date::min();
    return *field->second.dateValue();
}

}  // namespace

// The files of one record in its zone's folder: the record's own and its conflict copies.
struct FolderRecordStore::RecordFiles {
    std::optional<std::filesystem::path> base;
    std::vector<std::filesystem::path> copies;  // by name
};

// The inotify thread. Watches are added before the thread starts, so a change made after
// startWatching() returns is never missed.
class FolderRecordStore::Watcher {
  public:
    struct Zone {
        std::filesystem::path folder;
        std::vector<std::string> subscriptionIds;
        int descriptor = -1;  // the inotify watch; -1 while the folder is missing
    };

    Watcher(FolderRecordStore& store, std::vector<Zone> zones, ChangeHandler handler)
        : store_(store), zones_(std::move(zones)), handler_(std::move(handler)) {
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (inotify_ < 0 || wake_ < 0) {
            writeLog(LogType::error, "Could not watch %{public}@ for changes: %{public}@",
                     store_.folder(), std::generic_category().message(errno));
            return;
        }
        std::set<std::size_t> ignored;
        addMissingWatches(ignored, false);
        thread_ = std::thread([this] { run(); });
    }

    ~Watcher() {
        if (thread_.joinable()) {
            const std::uint64_t one = 1;
            while (::write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
            }
            thread_.join();
        }
        if (inotify_ >= 0) ::close(inotify_);
        if (wake_ >= 0) ::close(wake_);
    }

    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

  private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kGatherTime = std::chrono::milliseconds(150);
    static constexpr auto kRetryTime = std::chrono::milliseconds(500);
    static constexpr std::uint32_t kMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                                           IN_DELETE | IN_CREATE | IN_MOVE_SELF | IN_ONLYDIR;

    // Waits for events; once the first arrives, gathers more for kGatherTime, then tells the
    // handler of the zones that changed. While a zone's folder is missing, looks for it again
    // every kRetryTime.
    void run() {
        std::map<std::size_t, std::set<std::string>> changedFiles;
        std::set<std::size_t> changedZones;  // changed as a whole
        std::optional<Clock::time_point> deadline;
        auto nextRetry = Clock::now() + kRetryTime;
        for (;;) {
            const auto now = Clock::now();
            std::optional<Clock::time_point> wakeAt = deadline;
            if (anyWatchMissing() && (!wakeAt || nextRetry < *wakeAt)) wakeAt = nextRetry;
            int timeout = -1;
            if (wakeAt)
                timeout = static_cast<int>(std::max<std::int64_t>(
                    0, std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - now).count()));
            pollfd descriptors[2] = {{wake_, POLLIN, 0}, {inotify_, POLLIN, 0}};
            if (::poll(descriptors, 2, timeout) < 0) {
                if (errno == EINTR) continue;
                writeLog(LogType::error, "Stopped watching %{public}@ for changes: %{public}@",
                         store_.folder(), std::generic_category().message(errno));
                return;
            }
            if (descriptors[0].revents != 0) return;
            if (descriptors[1].revents != 0) readEvents(changedFiles, changedZones);
            if (anyWatchMissing() && Clock::now() >= nextRetry) {
                addMissingWatches(changedZones, true);
                nextRetry = Clock::now() + kRetryTime;
            }
            if (!deadline && (!changedFiles.empty() || !changedZones.empty()))
                deadline = Clock::now() + kGatherTime;
            if (deadline && Clock::now() >= *deadline) {
                changedFiles = deliver(changedFiles, changedZones);
                changedZones.clear();
                deadline.reset();
                if (!changedFiles.empty()) deadline = Clock::now() + kGatherTime;
            }
        }
    }

    bool anyWatchMissing() const {
        return std::any_of(zones_.begin(), zones_.end(),
                           [](const Zone& zone) { return zone.descriptor < 0; });
    }

    // Watches the zone folders that exist now. A folder that appeared while watching and
    // already holds records has changed.
    void addMissingWatches(std::set<std::size_t>& changedZones, bool appeared) {
        for (std::size_t index = 0; index < zones_.size(); ++index) {
            auto& zone = zones_[index];
            if (zone.descriptor >= 0) continue;
            zone.descriptor = ::inotify_add_watch(inotify_, zone.folder.c_str(), kMask);
            if (zone.descriptor >= 0 && appeared && holdsRecordFiles(zone.folder))
                changedZones.insert(index);
        }
    }

    static bool holdsRecordFiles(const std::filesystem::path& folder) {
        std::error_code error;
        for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error))
            if (isRecordFileName(entry->path().filename().string())) return true;
        return false;
    }

    void readEvents(std::map<std::size_t, std::set<std::string>>& changedFiles,
                    std::set<std::size_t>& changedZones) {
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            const ssize_t length = ::read(inotify_, buffer, sizeof buffer);
            if (length <= 0) return;  // EAGAIN: all read
            for (ssize_t offset = 0; offset < length;) {
                inotify_event event;
                std::memcpy(&event, buffer + offset, sizeof event);
                const char* name = buffer + offset + sizeof event;
                offset += static_cast<ssize_t>(sizeof event + event.len);
                if (event.mask & IN_Q_OVERFLOW) {
                    for (std::size_t index = 0; index < zones_.size(); ++index)
                        changedZones.insert(index);
                    continue;
                }
                const int watch = event.wd;
                const auto zone = std::find_if(
                    zones_.begin(), zones_.end(),
                    [watch](const Zone& candidate) { return candidate.descriptor == watch; });
                if (zone == zones_.end()) continue;
                const auto index = static_cast<std::size_t>(zone - zones_.begin());
                if (event.mask & IN_MOVE_SELF) {
                    // The folder moved away: what is at the zone's path now is another folder.
                    ::inotify_rm_watch(inotify_, zone->descriptor);
                    zone->descriptor = -1;
                    changedZones.insert(index);
                } else if (event.mask & IN_IGNORED) {  // the folder was deleted
                    zone->descriptor = -1;
                    changedZones.insert(index);
                } else if (event.len > 0 && isRecordFileName(name)) {
                    changedFiles[index].insert(name);
                }
            }
        }
    }

    // Calls the handler for every zone changed by someone else. Returns the files this
    // object is changing right now, to be looked at again in the next round.
    std::map<std::size_t, std::set<std::string>> deliver(
        const std::map<std::size_t, std::set<std::string>>& changedFiles,
        const std::set<std::size_t>& changedZones) {
        std::map<std::size_t, std::set<std::string>> undecided;
        for (std::size_t index = 0; index < zones_.size(); ++index) {
            bool changed = changedZones.count(index) > 0;
            if (const auto files = changedFiles.find(index); files != changedFiles.end())
                // Every file is looked at, so that the store forgets each one it no longer
                // left as it is.
                for (const auto& name : files->second)
                    switch (store_.originOf(zones_[index].folder / name)) {
                        case FileOrigin::own:
                            break;
                        case FileOrigin::foreign:
                            changed = true;
                            break;
                        case FileOrigin::beingChanged:
                            undecided[index].insert(name);
                            break;
                    }
            if (!changed) continue;
            for (const auto& subscriptionId : zones_[index].subscriptionIds) {
                try {
                    handler_(subscriptionId);
                } catch (...) {
                    writeLog(LogType::error, "The change handler of %{public}@ failed: %{public}@",
                             store_.folder(), currentExceptionText());
                }
            }
        }
        return undecided;
    }

    FolderRecordStore& store_;
    std::vector<Zone> zones_;
    ChangeHandler handler_;
    int inotify_ = -1;
    int wake_ = -1;
    std::thread thread_;
};

// Marks a file as being changed by this object for as long as it lives.
class FolderRecordStore::OwnChange {
  public:
    OwnChange(FolderRecordStore& store, std::filesystem::path file)
        : store_(store), file_(std::move(file)) {
        store_.beginOwnChange(file_);
    }
    ~OwnChange() {
        if (!finished_) store_.endOwnChange(file_, false, std::nullopt);
    }
    OwnChange(const OwnChange&) = delete;
    OwnChange& operator=(const OwnChange&) = delete;

    // The change succeeded and left the file with this tag, or removed it (none).
    void finish(std::optional<std::string> tag) {
        store_.endOwnChange(file_, true, std::move(tag));
        finished_ = true;
    }

  private:
    FolderRecordStore& store_;
    std::filesystem::path file_;
    bool finished_ = false;
};

std::filesystem::path FolderRecordStore::defaultSupersededFolder() {
    return paths::applicationDataFolder() / "Superseded Mappings";
}

FolderRecordStore::FolderRecordStore(std::filesystem::path folder,
                                     std::filesystem::path supersededFolder)
    : folder_(std::move(folder)), supersededFolder_(std::move(supersededFolder)) {}

FolderRecordStore::~FolderRecordStore() {
    stopWatching();
}

std::string FolderRecordStore::placeName() const {
    return pelkora::placeName();
}

std::string FolderRecordStore::location() const {
    return folder_.string();
}

std::filesystem::path FolderRecordStore::zoneFolder(std::string_view zoneName) const {
    return folder_ / (std::string(kZonePrefix) + std::string(zoneName));
}

Expected<AccountStatus, RecordStoreError> FolderRecordStore::accountStatus() {
    std::error_code error;
    if (std::filesystem::is_directory(folder_, error) &&
        ::access(folder_.c_str(), W_OK | X_OK) == 0)
        return AccountStatus::available;
    return AccountStatus::noAccount;
}

Expected<bool, RecordStoreError> FolderRecordStore::zoneExists(std::string_view zoneName) {
    if (auto valid = checkZoneName(zoneName); !valid) return Unexpected(valid.error());
    std::error_code error;
    return std::filesystem::is_directory(zoneFolder(zoneName), error);
}

Expected<void, RecordStoreError> FolderRecordStore::createZone(std::string_view zoneName) {
    if (auto valid = checkZoneName(zoneName); !valid) return valid;
    const auto path = zoneFolder(zoneName);
    if (::mkdir(path.c_str(), 0700) == 0) return {};
    const int error = errno;
    std::error_code ignored;
    if (error == EEXIST && std::filesystem::is_directory(path, ignored)) return {};
    return failure(path, error, N_("Could not create the folder “%1$@”: %2$@"));
}

Expected<bool, RecordStoreError> FolderRecordStore::subscriptionExists(
    std::string_view subscriptionId) {
    return std::any_of(
        subscriptions_.begin(), subscriptions_.end(),
        [subscriptionId](const Subscription& each) { return each.id == subscriptionId; });
}

Expected<void, RecordStoreError> FolderRecordStore::createSubscription(
    std::string_view subscriptionId, std::string_view zoneName, std::string_view recordType) {
    if (auto valid = checkZoneName(zoneName); !valid) return valid;
    std::erase_if(subscriptions_,
                  [subscriptionId](const Subscription& each) { return each.id == subscriptionId; });
    subscriptions_.push_back(
        {std::string(subscriptionId), std::string(zoneName), std::string(recordType)});
    if (watcher_) startWatching(handler_);
    return {};
}

Expected<std::map<std::string, FolderRecordStore::RecordFiles>, RecordStoreError>
FolderRecordStore::listZone(std::string_view zoneName) const {
    const auto folder = zoneFolder(zoneName);
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory)
        return failure(RecordStoreErrorKind::zoneNotFound,
                       formatMessage(localizedString("There is no zone %1$@ in %2$@ “%3$@”."),
                                     inQuotes(zoneName), placeName(), folder_.string()));
    std::map<std::string, RecordFiles> records;
    for (const std::filesystem::directory_iterator end; !error && entry != end;
         entry.increment(error)) {
        const auto name = entry->path().filename().string();
        std::error_code typeError;
        if (!isRecordFileName(name) || !entry->is_regular_file(typeError)) continue;
        const std::string_view stem =
            std::string_view(name).substr(0, name.size() - kRecordExtension.size());
        // A copy of a copy belongs to the record too.
        std::string_view recordName = stem;
        while (const auto base = conflictCopyBase(recordName)) recordName = *base;
        if (recordName.size() != stem.size())
            records[std::string(recordName)].copies.push_back(entry->path());
        else
            records[std::string(stem)].base = entry->path();
    }
    if (error) return failure(folder, error.value(), N_("Could not read the folder “%1$@”: %2$@"));
    for (auto& [name, files] : records) std::sort(files.copies.begin(), files.copies.end());
    return records;
}

// With conflict copies: decodes every version, moves all but the newest to the superseded
// folder (the damaged record file too when a copy takes its place), and renames the newest to
// the record's own name. Damaged files are logged and skipped. None when no version is
// readable.
Expected<std::optional<Record>, RecordStoreError> FolderRecordStore::settle(
    std::string_view zoneName, const std::string& recordName, const RecordFiles& files) {
    const auto folder = zoneFolder(zoneName);
    std::optional<ZoneLock> lock;
    if (!files.copies.empty()) {
        auto acquired = ZoneLock::acquire(folder);
        if (!acquired) return Unexpected(acquired.error());
        lock.emplace(std::move(*acquired));
    }
    std::vector<std::filesystem::path> candidates;
    if (files.base) candidates.push_back(*files.base);
    candidates.insert(candidates.end(), files.copies.begin(), files.copies.end());

    std::vector<Version> versions;
    bool damagedBase = false;
    for (const auto& file : candidates) {
        auto bytes = readIfPresent(file);
        if (!bytes) return Unexpected(bytes.error());
        if (!*bytes) continue;  // removed since the folder was listed
        auto record = decodeRecordFile(**bytes, {recordName, std::string(zoneName)});
        if (!record) {
            writeLog(LogType::error, "Skipping the damaged record file %{public}@: %{public}@",
                     file, record.error().message);
            if (files.base && file == *files.base) damagedBase = true;
            continue;
        }
        const auto date = updatedOn(*record);
        versions.push_back({file, std::move(**bytes), std::move(*record), date});
    }
    if (versions.empty()) return std::nullopt;

    // The newest wins; of equally new versions the record's own file, then the first copy.
    std::size_t winner = 0;
    for (std::size_t index = 1; index < versions.size(); ++index)
        if (versions[index].updatedOn > versions[winner].updatedOn) winner = index;
    auto& newest = versions[winner];
    newest.record.changeTag = changeTag(newest.bytes);

    const auto ownFile = recordFile(folder, recordName);
    for (std::size_t index = 0; index < versions.size(); ++index)
        if (index != winner) {
            if (auto moved = supersede(versions[index].file, recordName); !moved)
                return Unexpected(moved.error());
        }
    if (newest.file != ownFile) {
        if (damagedBase) {
            if (auto moved = supersede(ownFile, recordName); !moved)
                return Unexpected(moved.error());
        }
        OwnChange fromCopy(*this, newest.file);
        OwnChange toRecord(*this, ownFile);
        if (::rename(newest.file.c_str(), ownFile.c_str()) != 0)
            return failure(newest.file, errno, N_("Could not rename “%1$@”: %2$@"));
        fromCopy.finish(std::nullopt);
        toRecord.finish(newest.record.changeTag);
        writeLog(LogType::info,
                 "Conflicting copy of record %{public}@ became the record: %{public}@", recordName,
                 newest.file.filename());
    }
    return std::optional<Record>(std::move(newest.record));
}

// Moves the file to the superseded folder under its own name, or with " 2", " 3"… added
// before the extension when that name is taken.
Expected<void, RecordStoreError> FolderRecordStore::supersede(const std::filesystem::path& file,
                                                              const std::string& recordName) {
    std::error_code error;
    std::filesystem::create_directories(supersededFolder_, error);
    if (error)
        return failure(supersededFolder_, error.value(),
                       N_("Could not create the folder “%1$@”: %2$@"));
    const auto stem = file.stem().string();
    const auto extension = file.extension().string();
    OwnChange change(*this, file);
    for (int number = 1;; ++number) {
        const auto target =
            supersededFolder_ / (number == 1 ? file.filename().string()
                                             : stem + " " + std::to_string(number) + extension);
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            change.finish(std::nullopt);
            writeLog(LogType::info, "Conflicting copy of record %{public}@ kept as %{public}@",
                     recordName, target);
            return {};
        }
        if (errno == EEXIST) continue;
        if (errno != EXDEV && errno != EINVAL)
            return failure(file, errno, N_("Could not move aside “%1$@”: %2$@"));
        // Another file system, or one without RENAME_NOREPLACE: copy, then remove.
        if (std::filesystem::exists(target, error)) continue;
        std::filesystem::copy_file(file, target, error);
        if (error == std::errc::file_exists) continue;
        if (error) return failure(target, error.value(), N_("Could not copy to “%1$@”: %2$@"));
        if (::unlink(file.c_str()) != 0 && errno != ENOENT)
            return failure(file, errno, N_("Could not remove “%1$@”: %2$@"));
        change.finish(std::nullopt);
        writeLog(LogType::info, "Conflicting copy of record %{public}@ kept as %{public}@",
                 recordName, target);
        return {};
    }
}

Expected<std::vector<Record>, RecordStoreError> FolderRecordStore::query(
    std::string_view zoneName, std::string_view recordType) {
    if (auto valid = checkZoneName(zoneName); !valid) return Unexpected(valid.error());
    auto listed = listZone(zoneName);
    if (!listed) return Unexpected(listed.error());
    std::vector<Record> records;
    for (const auto& [name, files] : *listed) {
        auto record = settle(zoneName, name, files);
        if (!record) return Unexpected(record.error());
        if (*record && (*record)->recordType == recordType) records.push_back(std::move(**record));
    }
    return records;
}

Expected<Record, RecordStoreError> FolderRecordStore::fetch(const RecordID& id) {
    if (auto valid = checkRecordID(id); !valid) return Unexpected(valid.error());
    auto listed = listZone(id.zoneName);
    if (!listed) return Unexpected(listed.error());
    if (const auto files = listed->find(id.recordName); files != listed->end()) {
        auto record = settle(id.zoneName, id.recordName, files->second);
        if (!record) return Unexpected(record.error());
        if (*record) return std::move(**record);
    }
    return failure(RecordStoreErrorKind::unknownItem,
                   formatMessage(localizedString("There is no record %1$@ in %2$@."),
                                 inQuotes(id.recordName), placeName()));
}

Expected<Record, RecordStoreError> FolderRecordStore::write(const Record& record,
                                                            bool conditional) {
    if (auto valid = checkRecordID(record.id); !valid) return Unexpected(valid.error());
    const auto folder = zoneFolder(record.id.zoneName);
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return failure(RecordStoreErrorKind::zoneNotFound,
                       formatMessage(localizedString("There is no zone %1$@ in %2$@."),
                                     inQuotes(record.id.zoneName), placeName()));
    auto lock = ZoneLock::acquire(folder);
    if (!lock) return Unexpected(lock.error());
    const auto file = recordFile(folder, record.id.recordName);
    if (conditional) {
        auto present = readIfPresent(file);
        if (!present) return Unexpected(present.error());
        const std::string presentTag = *present ? changeTag(**present) : std::string();
        if (presentTag != record.changeTag) {
            const auto name = inQuotes(record.id.recordName);
            const std::string sentence =
                record.changeTag.empty()
                    ? localizedString("A record named %1$@ already exists in %2$@.")
                : presentTag.empty()
                    ? localizedString("The record %1$@ was deleted from %2$@ since it was read.")
                    : localizedString("The record %1$@ was changed in %2$@ since it was read.");
            return failure(RecordStoreErrorKind::serverRecordChanged,
                           formatMessage(sentence, name, placeName()));
        }
    }
    const auto bytes = encodeRecordFile(record);
    Record saved = record;
    saved.changeTag = changeTag(bytes);
    OwnChange change(*this, file);
    auto writer = AtomicFileWriter::open(file, AtomicFileWriter::SymbolicLinks::replace);
    if (!writer) return failure(writer.error());
    if (auto appended = writer->append(bytes); !appended) return failure(appended.error());
    if (auto committed = writer->commit(); !committed) return failure(committed.error());
    change.finish(saved.changeTag);
    return saved;
}

Expected<Record, RecordStoreError> FolderRecordStore::save(const Record& record) {
    return write(record, true);
}

Expected<void, RecordStoreError> FolderRecordStore::remove(const RecordID& id) {
    if (auto valid = checkRecordID(id); !valid) return valid;
    auto listed = listZone(id.zoneName);
    if (!listed) return Unexpected(listed.error());
    const auto folder = zoneFolder(id.zoneName);
    auto lock = ZoneLock::acquire(folder);
    if (!lock) return Unexpected(lock.error());
    const auto file = recordFile(folder, id.recordName);
    OwnChange change(*this, file);
    if (::unlink(file.c_str()) != 0 && errno != ENOENT)
        return failure(file, errno, N_("Could not delete “%1$@”: %2$@"));
    change.finish(std::nullopt);
    if (const auto files = listed->find(id.recordName); files != listed->end())
        for (const auto& copy : files->second.copies)
            if (auto moved = supersede(copy, id.recordName); !moved) return moved;
    return {};
}

Expected<std::vector<Record>, RecordStoreError> FolderRecordStore::modify(
    const std::vector<Record>& saves, const std::vector<RecordID>& deletes) {
    std::vector<Record> saved;
    for (const auto& record : saves) {
        auto written = write(record, false);
        if (!written) return Unexpected(written.error());
        saved.push_back(std::move(*written));
    }
    for (const auto& id : deletes)
        if (auto removed = remove(id); !removed) return Unexpected(removed.error());
    return saved;
}

void FolderRecordStore::startWatching(ChangeHandler handler) {
    stopWatching();
    handler_ = std::move(handler);
    {
        const std::lock_guard lock(ownStatesMutex_);
        // Events from before the new watches are never seen.
        std::erase_if(ownStates_, [](const auto& each) { return each.second.changesRunning == 0; });
    }
    std::vector<Watcher::Zone> zones;
    for (const auto& subscription : subscriptions_) {
        const auto folder = zoneFolder(subscription.zoneName);
        auto zone = std::find_if(zones.begin(), zones.end(), [&folder](const Watcher::Zone& each) {
            return each.folder == folder;
        });
        if (zone == zones.end()) zone = zones.insert(zones.end(), Watcher::Zone{folder, {}});
        zone->subscriptionIds.push_back(subscription.id);
    }
    watcher_ = std::make_unique<Watcher>(*this, std::move(zones), handler_);
}

void FolderRecordStore::stopWatching() {
    watcher_.reset();
}

void FolderRecordStore::beginOwnChange(const std::filesystem::path& file) {
    const std::lock_guard lock(ownStatesMutex_);
    ++ownStates_[file].changesRunning;
}

void FolderRecordStore::endOwnChange(const std::filesystem::path& file, bool succeeded,
                                     std::optional<std::string> tag) {
    const std::lock_guard lock(ownStatesMutex_);
    auto& state = ownStates_[file];
    --state.changesRunning;
    if (succeeded) {
        state.tag = std::move(tag);
        state.known = true;
    } else if (state.changesRunning == 0) {
        ownStates_.erase(file);  // the file is as it was, or half changed: not known
    }
}

FolderRecordStore::FileOrigin FolderRecordStore::originOf(const std::filesystem::path& file) {
    // The file is read under the lock: a change of this object cannot begin in between, so
    // what is read is either the state it left or someone else's.
    const std::lock_guard lock(ownStatesMutex_);
    const auto own = ownStates_.find(file);
    if (own == ownStates_.end()) return FileOrigin::foreign;
    if (own->second.changesRunning > 0) return FileOrigin::beingChanged;
    std::optional<std::string> tag;
    auto bytes = readWholeFile(file);
    if (bytes)
        tag = changeTag(*bytes);
    else if (bytes.error().code != std::errc::no_such_file_or_directory)
        tag = "";  // unreadable: not a state this object left
    if (own->second.known && own->second.tag == tag) return FileOrigin::own;
    ownStates_.erase(own);
    return FileOrigin::foreign;
}

}  // namespace pelkora
