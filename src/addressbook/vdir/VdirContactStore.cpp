#include "addressbook/vdir/VdirContactStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "addressbook/ContactFormatter.h"
#include "addressbook/StoreMessages.h"
#include "platform/AtomicFile.h"
#include "support/Escaping.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "vcard/VCard.h"

namespace pelkora::contacts {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kCardExtension = ".vcf";
constexpr std::string_view kDisplayNameFile = "displayname";
constexpr std::string_view kGroupsFile = ".pelkora-groups";
constexpr std::string_view kJournalFile = ".pelkora-journal";
constexpr std::string_view kUndoFolder = ".pelkora-undo";
constexpr std::string_view kLockFile = ".pelkora-lock";
constexpr std::string_view kNewFileSuffix = ".pelkora-new";

// File names longer than this are shortened and given a hash, well below the 255 bytes of
// a name, leaving room for the temporary file's dot and suffix.
constexpr std::size_t kLongestStem = 200;

bool isHidden(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

bool isCardFile(std::string_view name) {
    return !isHidden(name) && name.size() > kCardExtension.size() && name.ends_with(kCardExtension);
}

// The file name of a contact: its identifier, safe as a name; a very long one is cut and
// given a hash of the whole.
std::string fileStem(std::string_view identifier) {
    std::string stem = percentEncoded(identifier, "/", true);
    if (stem.empty()) stem = "%00";
    if (stem.size() > kLongestStem) {
        std::size_t cut = kLongestStem - 20;
        while (cut > 0 && (stem[cut - 1] == '%' || (cut > 1 && stem[cut - 2] == '%'))) --cut;
        stem = stem.substr(0, cut) + "-" + hexDigits(fnv1a(identifier));
    }
    return stem;
}

// SQLite's NOCASE order: ASCII letters folded, everything else as it is.
int compareNoCase(std::string_view left, std::string_view right) {
    const std::size_t size = std::min(left.size(), right.size());
    for (std::size_t index = 0; index < size; ++index) {
        auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        const auto a = static_cast<unsigned char>(fold(left[index]));
        const auto b = static_cast<unsigned char>(fold(right[index]));
        if (a != b) return a < b ? -1 : 1;
    }
    return left.size() == right.size() ? 0 : (left.size() < right.size() ? -1 : 1);
}

bool groupOrder(const Group& left, const Group& right) {
    if (int order = compareNoCase(left.name, right.name); order != 0) return order < 0;
    if (left.name != right.name) return left.name < right.name;
    return left.identifier < right.identifier;
}

// Whether the card has a UID line (or the reader made its identifier up).
bool hasUid(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos) end = text.size();
        std::string_view name = text.substr(position, end - position);
        name = name.substr(0, name.find_first_of(":;"));
        if (const auto dot = name.find('.'); dot != std::string_view::npos)
            name.remove_prefix(dot + 1);
        if (compareNoCase(name, "UID") == 0) return true;
        position = end + 1;
    }
    return false;
}

// The groups file: one group a line, "identifier<TAB>name", both percent-encoded.
std::string groupsFileText(const std::vector<Group>& groups) {
    std::string text;
    for (const Group& group : groups) {
        text += percentEncoded(group.identifier, "\t", false) + '\t' +
                percentEncoded(group.name, "\t", false) + '\n';
    }
    return text;
}

std::vector<Group> parseGroupsFile(std::string_view text) {
    std::vector<Group> groups;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) continue;
        groups.push_back(
            {percentDecoded(line.substr(0, tab)), percentDecoded(line.substr(tab + 1))});
    }
    return groups;
}

std::optional<fs::file_time_type> modificationTime(const fs::path& path) {
    std::error_code error;
    const auto time = fs::last_write_time(path, error);
    if (error) return std::nullopt;
    return time;
}

int syncFolder(const fs::path& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return errno;
    // Some filesystems cannot sync a folder; that is no failure of the write.
    ::fsync(descriptor);
    ::close(descriptor);
    return 0;
}

int writeWholeFile(const fs::path& path, std::string_view bytes) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) return errno;
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(descriptor);
            return error;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return ::close(descriptor) == 0 ? 0 : errno;
}

// An exclusive flock on the lock file, held while it lives.
class FolderLock {
  public:
    explicit FolderLock(const fs::path& file)
        : descriptor_(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        if (descriptor_ < 0) {
            error_ = errno;
            return;
        }
        while (::flock(descriptor_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return;
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    int error() const { return error_; }

  private:
    int descriptor_;
    int error_ = 0;
};

struct CardInfo {
    std::string file;  // the file's name in the collection
    std::string fullName;
    std::vector<std::string> categories;
    std::uint64_t sequence = 0;
};

// A collection's groups: those a request added (with their identifiers) and how many cards
// name each category.
struct GroupState {
    std::vector<Group> recorded;
    std::map<std::string, std::size_t> counts;

    const Group* recordedNamed(std::string_view name) const {
        for (const Group& group : recorded) {
            if (group.name == name) return &group;
        }
        return nullptr;
    }
};

struct Collection {
    std::string identifier;
    std::string name;
    fs::path folder;
    std::optional<fs::file_time_type> scanned;        // the folder's time when it was read
    std::unordered_map<std::string, CardInfo> cards;  // by contact identifier
    std::unordered_map<std::string, std::vector<std::string>> byFullName;
    std::unordered_set<std::string> files;
    GroupState groups;
};

std::string derivedGroupIdentifier(const std::string& container, const std::string& name) {
    return container + "/" + name;
}

// Every group of the state: the recorded ones, and a derived one per category no recorded
// group has the name of.
std::vector<Group> groupsOf(const std::string& container, const GroupState& state) {
    std::vector<Group> groups = state.recorded;
    for (const auto& [name, count] : state.counts) {
        if (count > 0 && !state.recordedNamed(name))
            groups.push_back({derivedGroupIdentifier(container, name), name});
    }
    std::sort(groups.begin(), groups.end(), groupOrder);
    return groups;
}

// One change of a request: the file's new content, or none for a deleted file.
struct FileChange {
    fs::path target;
    std::optional<std::string> content;
    bool fresh = false;  // no file of the name was there when the collection was read
};

fs::path newFileFor(const fs::path& target) {
    return target.parent_path() / ("." + target.filename().string() + std::string(kNewFileSuffix));
}

}  // namespace

// ---------------------------------------------------------------------------------------

struct VdirContactStore::State {
    fs::path root;
    bool manyCollections = false;
    std::optional<fs::file_time_type> rootScanned;
    std::vector<Collection> collections;                       // by name
    std::unordered_map<std::string, std::string> contactHome;  // contact -> collection
    std::uint64_t nextSequence = 1;
    std::optional<std::size_t> writesBeforeFailure;
    bool crashOnFailure = false;

    // --- errors ---

    std::string location() const { return "vdir:" + root.string(); }

    Unexpected<ContactStoreError> failure(ContactStoreErrorKind kind, std::string text) const {
        return Unexpected(ContactStoreError{kind, std::move(text)});
    }
    Unexpected<ContactStoreError> unavailable(const std::string& problem) const {
        return failure(ContactStoreErrorKind::storeUnavailable,
                       formatMessage(localizedString("Could not open the address book %1$@: %2$@."),
                                     inQuotes(root.string()), problem));
    }
    Unexpected<ContactStoreError> saveFailure(ContactStoreErrorKind kind,
                                              const std::string& problem) const {
        return failure(
            kind, formatMessage(localizedString("Could not save to the address book %1$@: %2$@."),
                                inQuotes(root.string()), problem));
    }
    Unexpected<ContactStoreError> fileFailure(const fs::path& path, int error) const {
        return saveFailure(ContactStoreErrorKind::writeFailed,
                           inQuotes(path.string()) + ": " + std::strerror(error));
    }

    // --- reading the folders ---

    Collection* find(const std::string& identifier) {
        for (Collection& collection : collections) {
            if (collection.identifier == identifier) return &collection;
        }
        return nullptr;
    }

    Container containerOf(const Collection& collection) const {
        return {collection.identifier, collection.name, ContainerType::local};
    }

    static std::string displayName(const fs::path& folder) {
        auto text = readWholeFile(folder / kDisplayNameFile);
        if (!text) return folder.filename().string();
        std::string_view line = *text;
        line = line.substr(0, line.find('\n'));
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos) return folder.filename().string();
        line = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
        return std::string(line);
    }

    // Whether the root is a folder of collections: it has subfolders, and neither cards nor
    // a display name of its own.
    Result<bool> holdsCollections() {
        std::error_code error;
        bool subfolders = false;
        for (fs::directory_iterator entry(root, error), end; !error && entry != end;
             entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (isHidden(name)) continue;
            if (isCardFile(name) || name == kDisplayNameFile) return false;
            std::error_code typeError;
            if (entry->is_directory(typeError)) subfolders = true;
        }
        if (error) return unavailable(error.message());
        return subfolders;
    }

    void forget(Collection& collection) {
        for (const auto& [identifier, card] : collection.cards) contactHome.erase(identifier);
        collection.cards.clear();
        collection.byFullName.clear();
        collection.files.clear();
        collection.groups = {};
    }

    void indexCard(Collection& collection, const std::string& identifier, CardInfo card) {
        contactHome[identifier] = collection.identifier;
        for (const std::string& category : card.categories) ++collection.groups.counts[category];
        collection.byFullName[card.fullName].push_back(identifier);
        collection.files.insert(card.file);
        collection.cards.insert_or_assign(identifier, std::move(card));
    }

    void unindexCard(Collection& collection, const std::string& identifier) {
        auto found = collection.cards.find(identifier);
        if (found == collection.cards.end()) return;
        for (const std::string& category : found->second.categories) {
            auto count = collection.groups.counts.find(category);
            if (count != collection.groups.counts.end() && --count->second == 0)
                collection.groups.counts.erase(count);
        }
        auto& sameName = collection.byFullName[found->second.fullName];
        sameName.erase(std::remove(sameName.begin(), sameName.end(), identifier), sameName.end());
        if (sameName.empty()) collection.byFullName.erase(found->second.fullName);
        collection.files.erase(found->second.file);
        contactHome.erase(identifier);
        collection.cards.erase(found);
    }

    // Reads every card of the collection, in the order of their files' times and names.
    // A file that is no vCard is passed over, as other programs' readers do.
    Result<void> scan(Collection& collection) {
        forget(collection);
        collection.scanned = modificationTime(collection.folder);
        collection.name = displayName(collection.folder);
        std::vector<std::pair<fs::file_time_type, std::string>> files;
        std::error_code error;
        for (fs::directory_iterator entry(collection.folder, error), end; !error && entry != end;
             entry.increment(error)) {
            std::string name = entry->path().filename().string();
            std::error_code typeError;
            if (!isCardFile(name) || !entry->is_regular_file(typeError)) continue;
            files.emplace_back(entry->last_write_time(typeError), std::move(name));
        }
        if (error) return unavailable(error.message());
        std::sort(files.begin(), files.end());
        for (const auto& [time, name] : files) {
            // Every name is taken, also that of a file that is no card we can read.
            collection.files.insert(name);
            auto text = readWholeFile(collection.folder / name);
            if (!text) continue;
            auto cards = readVCards(*text);
            if (!cards || cards->empty()) continue;
            VCardEntry& entry = cards->front();
            // Without a UID the reader made up an identifier: the file's name stands in.
            std::string identifier = entry.contact.identifier;
            const std::string stem = percentDecoded(
                std::string_view(name).substr(0, name.size() - kCardExtension.size()));
            if (identifier.empty() || !hasUid(entry.rawText) || contactHome.contains(identifier))
                identifier = stem;
            if (contactHome.contains(identifier)) continue;
            CardInfo card;
            card.file = name;
            card.fullName = stringFromContact(entry.contact);
            card.categories = std::move(entry.categories);
            card.sequence = nextSequence++;
            indexCard(collection, identifier, std::move(card));
        }
        if (auto text = readWholeFile(collection.folder / kGroupsFile)) {
            collection.groups.recorded = parseGroupsFile(*text);
        }
        return {};
    }

    // The collections of the root: itself, or its subfolders, by name.
    Result<void> listCollections() {
        rootScanned = modificationTime(root);
        std::vector<Collection> found;
        if (!manyCollections) {
            Collection collection;
            collection.identifier = root.filename().string();
            collection.folder = root;
            found.push_back(std::move(collection));
        } else {
            std::error_code error;
            for (fs::directory_iterator entry(root, error), end; !error && entry != end;
                 entry.increment(error)) {
                const std::string name = entry->path().filename().string();
                std::error_code typeError;
                if (isHidden(name) || !entry->is_directory(typeError)) continue;
                Collection collection;
                collection.identifier = name;
                collection.folder = entry->path();
                if (Collection* known = find(name)) collection = std::move(*known);
                found.push_back(std::move(collection));
            }
            if (error) return unavailable(error.message());
        }
        for (Collection& collection : collections) {
            const bool kept = std::any_of(found.begin(), found.end(), [&](const Collection& c) {
                return c.identifier == collection.identifier;
            });
            if (!kept) forget(collection);
        }
        collections = std::move(found);
        for (Collection& collection : collections) collection.name = displayName(collection.folder);
        sortCollections();
        return {};
    }

    void sortCollections() {
        std::sort(collections.begin(), collections.end(),
                  [](const Collection& left, const Collection& right) {
                      if (left.name != right.name) return left.name < right.name;
                      return left.identifier < right.identifier;
                  });
    }

    // Reads again what another program changed: the list of collections when the root's
    // time moved, a collection when its folder's did.
    Result<void> refresh() {
        if (manyCollections && modificationTime(root) != rootScanned) {
            if (auto listed = listCollections(); !listed) return listed;
        }
        bool renamed = false;
        for (Collection& collection : collections) {
            if (collection.scanned && modificationTime(collection.folder) == collection.scanned)
                continue;
            const std::string name = collection.name;
            if (auto scanned = scan(collection); !scanned) return scanned;
            renamed = renamed || name != collection.name;
        }
        if (renamed) sortCollections();
        return {};
    }

    // --- the journal ---

    fs::path journalPath() const { return root / kJournalFile; }
    fs::path undoFolder() const { return root / kUndoFolder; }

    void clearUndoFolder() {
        std::error_code error;
        fs::remove_all(undoFolder(), error);
    }

    // Puts back every file a journal lists: a file that was there returns from the undo
    // folder, a file that was not is removed. Safe to run again after it was interrupted.
    Result<void> rollBack() {
        auto text = readWholeFile(journalPath());
        if (!text) {
            if (text.error().code == std::errc::no_such_file_or_directory) {
                clearUndoFolder();
                return {};
            }
            return unavailable(text.error().reason);
        }
        std::vector<fs::path> folders;
        std::string_view rest = *text;
        while (!rest.empty()) {
            const std::size_t end = std::min(rest.find('\n'), rest.size());
            const std::string_view line = rest.substr(0, end);
            rest.remove_prefix(std::min(end + 1, rest.size()));
            // "<number> <1 when there was a file, else 0> <path from the root>"
            const std::size_t first = line.find('\t');
            const std::size_t second = line.find('\t', first + 1);
            if (first == std::string_view::npos || second == std::string_view::npos) continue;
            const fs::path saved = undoFolder() / std::string(line.substr(0, first));
            const bool existed = line.substr(first + 1, second - first - 1) == "1";
            const fs::path target = root / percentDecoded(line.substr(second + 1));
            ::unlink(newFileFor(target).c_str());
            if (existed) {
                if (::rename(saved.c_str(), target.c_str()) != 0 && errno != ENOENT)
                    return unavailable(
                        formatMessage(localizedString("could not restore %1$@ (%2$@)"),
                                      inQuotes(target.string()), std::strerror(errno)));
            } else if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
                return unavailable(formatMessage(localizedString("could not remove %1$@ (%2$@)"),
                                                 inQuotes(target.string()), std::strerror(errno)));
            }
            if (std::find(folders.begin(), folders.end(), target.parent_path()) == folders.end())
                folders.push_back(target.parent_path());
        }
        for (const fs::path& folder : folders) syncFolder(folder);
        if (::unlink(journalPath().c_str()) != 0 && errno != ENOENT)
            return unavailable(formatMessage(localizedString("could not remove the journal (%@)"),
                                             std::strerror(errno)));
        syncFolder(root);
        clearUndoFolder();
        return {};
    }

    // Counts down the writes a test allowed; true for the one that is to fail.
    bool injectedFailure() {
        if (!writesBeforeFailure) return false;
        if (*writesBeforeFailure == 0) {
            writesBeforeFailure.reset();
            return true;
        }
        --*writesBeforeFailure;
        return false;
    }

    // Applies the changes all or nothing. The previous files are linked aside and the journal
    // lists every change; the new files are written beside their targets under hidden names.
    // One flush of the whole filesystem then puts all of it on disk (a request writes hundreds
    // of files, and one fsync each would cost more than everything else) before the first
    // file is renamed into place. The folders are synced after the renames, and the root,
    // whose journal goes last, after them: a filesystem that journals its metadata in order
    // (ext4, XFS, Btrfs) never keeps the journal's removal without the renames before it.
    Result<void> write(const std::vector<FileChange>& changes) {
        std::error_code error;
        fs::create_directories(undoFolder(), error);
        if (error) return fileFailure(undoFolder(), error.value());
        std::string journal;
        std::vector<fs::path> folders;
        for (std::size_t index = 0; index < changes.size(); ++index) {
            const fs::path& target = changes[index].target;
            const fs::path saved = undoFolder() / std::to_string(index);
            bool existed = !changes[index].fresh && ::link(target.c_str(), saved.c_str()) == 0;
            if (!existed && !changes[index].fresh && errno != ENOENT) {
                // A filesystem without hard links: a copy will do.
                std::error_code copyError;
                existed =
                    fs::copy_file(target, saved, fs::copy_options::overwrite_existing, copyError);
                if (copyError) {
                    clearUndoFolder();
                    return fileFailure(target, copyError.value());
                }
            }
            const std::string_view relative =
                std::string_view(target.native()).substr(root.native().size() + 1);
            journal += std::to_string(index) + (existed ? "\t1\t" : "\t0\t") +
                       percentEncoded(relative, "\t", false) + '\n';
            if (target.parent_path() != root &&
                std::find(folders.begin(), folders.end(), target.parent_path()) == folders.end())
                folders.push_back(target.parent_path());
        }
        // Renamed into place, so that a crash leaves the whole journal or none.
        const fs::path newJournal = newFileFor(journalPath());
        int failed = writeWholeFile(newJournal, journal);
        if (failed == 0 && ::rename(newJournal.c_str(), journalPath().c_str()) != 0) failed = errno;
        if (failed != 0) {
            ::unlink(newJournal.c_str());
            clearUndoFolder();
            return fileFailure(journalPath(), failed);
        }
        auto applied = applyChanges(changes, folders);
        if (!applied) {
            if (crashOnFailure) return applied;
            if (auto rolledBack = rollBack(); !rolledBack)
                return saveFailure(ContactStoreErrorKind::writeFailed,
                                   applied.error().message + " " + rolledBack.error().message);
            return applied;
        }
        if (::unlink(journalPath().c_str()) != 0) return fileFailure(journalPath(), errno);
        syncFolder(root);
        clearUndoFolder();
        return {};
    }

    Result<void> applyChanges(const std::vector<FileChange>& changes,
                              const std::vector<fs::path>& folders) {
        for (const FileChange& change : changes) {
            if (!change.content) continue;
            if (int error = writeWholeFile(newFileFor(change.target), *change.content); error != 0)
                return fileFailure(change.target, error);
        }
        const int descriptor = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptor < 0) return fileFailure(root, errno);
        const int synced = ::syncfs(descriptor) == 0 ? 0 : errno;
        ::close(descriptor);
        if (synced != 0) return fileFailure(root, synced);
        for (const FileChange& change : changes) {
            if (injectedFailure())
                return saveFailure(ContactStoreErrorKind::writeFailed,
                                   "a failure was injected for testing");
            if (change.content) {
                if (::rename(newFileFor(change.target).c_str(), change.target.c_str()) != 0)
                    return fileFailure(change.target, errno);
            } else if (::unlink(change.target.c_str()) != 0 && errno != ENOENT) {
                return fileFailure(change.target, errno);
            }
        }
        for (const fs::path& folder : folders) syncFolder(folder);
        return {};
    }

    // --- reading cards ---

    // The card's contact, or none when its file has gone or is no vCard any more.
    static std::optional<Contact> readContact(const fs::path& file, const std::string& identifier) {
        auto text = readWholeFile(file);
        if (!text) return std::nullopt;
        auto contacts = contactsWithData(*text);
        if (!contacts || contacts->empty()) return std::nullopt;
        Contact contact = std::move(contacts->front());
        contact.identifier = identifier;
        return contact;
    }

    std::vector<std::pair<std::string, const CardInfo*>> cardsInOrder(
        const Collection& collection) const {
        std::vector<std::pair<std::string, const CardInfo*>> cards;
        cards.reserve(collection.cards.size());
        for (const auto& [identifier, card] : collection.cards)
            cards.emplace_back(identifier, &card);
        std::sort(cards.begin(), cards.end(), [](const auto& left, const auto& right) {
            return left.second->sequence < right.second->sequence;
        });
        return cards;
    }

    // --- saving ---

    Result<void> apply(const SaveRequest& request);
};

namespace {

// A card as a request leaves it: its groups, and for a new card its contact.
struct PendingCard {
    std::string collection;
    std::string file;
    std::vector<std::string> categories;
    const Contact* contact = nullptr;  // a new card's, in the request
    bool categoriesChanged = false;
    std::uint64_t sequence = 0;  // a new card's place in the order of the contacts
};

}  // namespace

// In the request's order: contacts deleted, groups deleted, groups deleted when empty, groups
// added, contacts added, members added. Everything is checked and worked out in memory
// first; the files are written only when the whole request holds.
ContactStore::Result<void> VdirContactStore::State::apply(const SaveRequest& request) {
    std::unordered_map<std::string, GroupState> groupStates;  // of the collections touched
    auto groupState = [&](const Collection& collection) -> GroupState& {
        auto found = groupStates.find(collection.identifier);
        if (found == groupStates.end())
            found = groupStates.emplace(collection.identifier, collection.groups).first;
        return found->second;
    };
    auto currentGroups = [&](const Collection& collection) -> const GroupState& {
        auto found = groupStates.find(collection.identifier);
        return found == groupStates.end() ? collection.groups : found->second;
    };
    std::unordered_map<std::string, PendingCard> pending;
    std::unordered_map<std::string, std::string> deleted;  // contact -> its file's collection
    std::unordered_map<std::string, fs::path> deletedFiles;
    auto pendingCard = [&](Collection& collection, const std::string& identifier) -> PendingCard& {
        auto found = pending.find(identifier);
        if (found != pending.end()) return found->second;
        const CardInfo& card = collection.cards.at(identifier);
        return pending
            .emplace(identifier,
                     PendingCard{collection.identifier, card.file, card.categories, nullptr, false})
            .first->second;
    };
    auto decrement = [](GroupState& state, const std::string& name) {
        auto count = state.counts.find(name);
        if (count != state.counts.end() && count->second > 0) --count->second;
    };
    // The group with the identifier, in the request's state: its collection and name.
    auto findGroup = [&](const std::string& identifier) -> std::pair<Collection*, std::string> {
        for (Collection& collection : collections) {
            const GroupState& state = currentGroups(collection);
            for (const Group& group : state.recorded) {
                if (group.identifier == identifier) return {&collection, group.name};
            }
            const std::string prefix = collection.identifier + "/";
            if (identifier.starts_with(prefix)) {
                const std::string name = identifier.substr(prefix.size());
                auto count = state.counts.find(name);
                if (count != state.counts.end() && count->second > 0 && !state.recordedNamed(name))
                    return {&collection, name};
            }
        }
        return {nullptr, {}};
    };
    auto groupNotFound = [&](const std::string& identifier) {
        return saveFailure(
            ContactStoreErrorKind::groupNotFound,
            formatMessage(localizedString("there is no group with the identifier %@"),
                          inQuotes(identifier)));
    };
    auto containerNotFound = [&](const std::string& identifier) {
        return saveFailure(
            ContactStoreErrorKind::containerNotFound,
            formatMessage(localizedString("there is no container with the identifier %@"),
                          inQuotes(identifier)));
    };

    for (const std::string& identifier : request.deletedContacts()) {
        auto home = contactHome.find(identifier);
        if (home == contactHome.end() || deleted.contains(identifier))
            return saveFailure(
                ContactStoreErrorKind::contactNotFound,
                formatMessage(localizedString("there is no contact with the identifier %@"),
                              inQuotes(identifier)));
        Collection& collection = *find(home->second);
        GroupState& state = groupState(collection);
        auto changed = pending.find(identifier);
        const auto& categories = changed != pending.end()
                                     ? changed->second.categories
                                     : collection.cards.at(identifier).categories;
        for (const std::string& name : categories) decrement(state, name);
        if (changed != pending.end()) pending.erase(changed);
        deleted.emplace(identifier, collection.identifier);
        deletedFiles.emplace(identifier, collection.folder / collection.cards.at(identifier).file);
    }
    for (const std::string& identifier : request.deletedGroups()) {
        const auto found = findGroup(identifier);
        Collection* collection = found.first;
        const std::string& name = found.second;
        if (!collection) return groupNotFound(identifier);
        GroupState& state = groupState(*collection);
        std::erase_if(state.recorded, [&](const Group& group) { return group.name == name; });
        state.counts.erase(name);
        for (const auto& [contact, card] : collection->cards) {
            if (deleted.contains(contact)) continue;
            if (std::find(card.categories.begin(), card.categories.end(), name) ==
                card.categories.end())
                continue;
            PendingCard& changed = pendingCard(*collection, contact);
            std::erase(changed.categories, name);
            changed.categoriesChanged = true;
        }
    }
    for (const std::string& identifier : request.groupsDeletedIfEmpty()) {
        auto [collection, name] = findGroup(identifier);
        if (!collection) {
            // A category whose last card the request deletes was a group until then.
            const std::size_t slash = identifier.find('/');
            Collection* home =
                slash == std::string::npos ? nullptr : find(identifier.substr(0, slash));
            if (home && home->groups.counts.contains(identifier.substr(slash + 1)) &&
                !home->groups.recordedNamed(identifier.substr(slash + 1)))
                continue;
            return groupNotFound(identifier);
        }
        GroupState& state = groupState(*collection);
        auto count = state.counts.find(name);
        if (count != state.counts.end() && count->second > 0) continue;
        std::erase_if(state.recorded,
                      [&](const Group& group) { return group.identifier == identifier; });
    }

    std::unordered_map<std::string, std::string> reusedGroups;
    for (const SaveRequest::AddedGroup& added : request.addedGroups()) {
        Collection* collection = find(added.containerIdentifier);
        if (!collection) return containerNotFound(added.containerIdentifier);
        GroupState& state = groupState(*collection);
        bool reused = false;
        for (const Group& group : groupsOf(collection->identifier, state)) {
            if (group.name == added.group.name && group.identifier != added.group.identifier) {
                reusedGroups.insert_or_assign(added.group.identifier, group.identifier);
                reused = true;
                break;
            }
        }
        if (reused) continue;
        if (findGroup(added.group.identifier).first)
            return saveFailure(
                ContactStoreErrorKind::duplicateIdentifier,
                formatMessage(localizedString("a group with the identifier %@ exists already"),
                              inQuotes(added.group.identifier)));
        state.recorded.push_back(added.group);
    }

    std::unordered_map<std::string, std::unordered_set<std::string>> newFiles;  // per collection
    for (const SaveRequest::AddedContact& added : request.addedContacts()) {
        Collection* collection = find(added.containerIdentifier);
        if (!collection) return containerNotFound(added.containerIdentifier);
        const std::string& identifier = added.contact.identifier;
        if ((contactHome.contains(identifier) && !deleted.contains(identifier)) ||
            pending.contains(identifier))
            return saveFailure(
                ContactStoreErrorKind::duplicateIdentifier,
                formatMessage(localizedString("a contact with the identifier %@ exists already"),
                              inQuotes(identifier)));
        // A contact saved again in the same collection keeps its file.
        std::string file;
        if (auto was = deleted.find(identifier);
            was != deleted.end() && was->second == collection->identifier) {
            file = deletedFiles.at(identifier).filename().string();
            deletedFiles.erase(identifier);
        } else {
            const std::string stem = fileStem(identifier);
            auto& taken = newFiles[collection->identifier];
            file = stem + std::string(kCardExtension);
            for (int suffix = 2; collection->files.contains(file) || taken.contains(file); ++suffix)
                file = stem + "-" + std::to_string(suffix) + std::string(kCardExtension);
            taken.insert(file);
        }
        pending.emplace(identifier, PendingCard{collection->identifier,
                                                std::move(file),
                                                {},
                                                &added.contact,
                                                false,
                                                nextSequence++});
    }

    for (const SaveRequest::Membership& membership : request.addedMembers()) {
        auto reused = reusedGroups.find(membership.groupIdentifier);
        const std::string& groupIdentifier =
            reused == reusedGroups.end() ? membership.groupIdentifier : reused->second;
        Collection* contactCollection = nullptr;
        if (auto changed = pending.find(membership.contactIdentifier); changed != pending.end()) {
            contactCollection = find(changed->second.collection);
        } else if (auto home = contactHome.find(membership.contactIdentifier);
                   home != contactHome.end() && !deleted.contains(membership.contactIdentifier)) {
            contactCollection = find(home->second);
        }
        if (!contactCollection)
            return saveFailure(
                ContactStoreErrorKind::contactNotFound,
                formatMessage(localizedString("there is no contact with the identifier %@"),
                              inQuotes(membership.contactIdentifier)));
        auto [groupCollection, name] = findGroup(groupIdentifier);
        if (!groupCollection) return groupNotFound(groupIdentifier);
        if (groupCollection != contactCollection)
            return saveFailure(
                ContactStoreErrorKind::groupNotFound,
                differentContainersText(membership.contactIdentifier, groupIdentifier));
        PendingCard& card = pendingCard(*contactCollection, membership.contactIdentifier);
        if (std::find(card.categories.begin(), card.categories.end(), name) !=
            card.categories.end())
            continue;
        card.categories.push_back(name);
        card.categoriesChanged = true;
        ++groupState(*contactCollection).counts[name];
    }

    // The files: deleted cards, new and changed cards, and the groups files.
    std::vector<FileChange> changes;
    std::vector<std::pair<std::string, CardInfo>> written;
    for (const auto& [identifier, file] : deletedFiles) changes.push_back({file, std::nullopt});
    // New cards in the request's order, so that their files' times keep it for the next open.
    std::vector<std::pair<const std::string*, PendingCard*>> ordered;
    ordered.reserve(pending.size());
    for (auto& [identifier, card] : pending) ordered.emplace_back(&identifier, &card);
    std::sort(ordered.begin(), ordered.end(), [](const auto& left, const auto& right) {
        return left.second->sequence < right.second->sequence;
    });
    for (const auto& [identifierInRequest, cardInRequest] : ordered) {
        const std::string& identifier = *identifierInRequest;
        PendingCard& card = *cardInRequest;
        Collection& collection = *find(card.collection);
        CardInfo info;
        info.file = card.file;
        info.categories = card.categories;
        if (card.contact) {
            std::string text;
            VCardWriteOptions options;
            const std::vector<std::string>& categories = card.categories;
            options.categories = [&](const Contact&) { return categories; };
            appendVCard(text, *card.contact, options);
            changes.push_back({collection.folder / card.file, std::move(text),
                               !collection.files.contains(card.file)});
            info.fullName = stringFromContact(*card.contact);
            info.sequence = card.sequence;
        } else {
            if (!card.categoriesChanged) continue;
            const CardInfo& before = collection.cards.at(identifier);
            info.fullName = before.fullName;
            info.sequence = before.sequence;
            auto text = readWholeFile(collection.folder / card.file);
            if (!text) return fileFailure(collection.folder / card.file, text.error().code.value());
            changes.push_back(
                {collection.folder / card.file, vCardWithCategories(*text, card.categories)});
        }
        written.emplace_back(identifier, std::move(info));
    }
    for (const auto& [identifier, state] : groupStates) {
        Collection& collection = *find(identifier);
        if (state.recorded == collection.groups.recorded) continue;
        const fs::path file = collection.folder / kGroupsFile;
        if (state.recorded.empty())
            changes.push_back({file, std::nullopt});
        else
            changes.push_back({file, groupsFileText(state.recorded)});
    }
    if (changes.empty()) return {};
    if (auto done = write(changes); !done) return done;

    // The indexes follow the files.
    for (const auto& [identifier, collection] : deleted) unindexCard(*find(collection), identifier);
    for (auto& [identifier, card] : written) {
        Collection& collection = *find(pending.at(identifier).collection);
        unindexCard(collection, identifier);
        indexCard(collection, identifier, std::move(card));
    }
    for (auto& [identifier, state] : groupStates)
        find(identifier)->groups.recorded = state.recorded;
    for (Collection& collection : collections) {
        if (groupStates.contains(collection.identifier) || newFiles.contains(collection.identifier))
            collection.scanned = modificationTime(collection.folder);
    }
    // Deleting or replacing cards changes their folders' times as well.
    for (const auto& [identifier, collection] : deleted)
        find(collection)->scanned = modificationTime(find(collection)->folder);
    for (const auto& [identifier, card] : pending)
        find(card.collection)->scanned = modificationTime(find(card.collection)->folder);
    if (manyCollections) rootScanned = modificationTime(root);
    return {};
}

// ---------------------------------------------------------------------------------------

Expected<std::unique_ptr<VdirContactStore>, ContactStoreError> VdirContactStore::open(
    const fs::path& folder) {
    auto state = std::make_unique<State>();
    std::error_code error;
    fs::path root = fs::absolute(folder, error).lexically_normal();
    if (error) root = folder.lexically_normal();
    if (!root.has_filename() && root.has_parent_path() && root != root.root_path())
        root = root.parent_path();
    state->root = root;
    fs::create_directories(root, error);
    if (error)
        return state->unavailable(formatMessage(
            localizedString("the folder could not be created (%@)"), error.message()));
    if (!fs::is_directory(root, error))
        return state->unavailable(localizedString("it is not a folder"));

    FolderLock lock(root / kLockFile);
    if (lock.error() != 0) return state->unavailable(std::strerror(lock.error()));
    if (auto rolledBack = state->rollBack(); !rolledBack) return Unexpected(rolledBack.error());
    auto many = state->holdsCollections();
    if (!many) return Unexpected(many.error());
    state->manyCollections = *many;
    if (auto listed = state->listCollections(); !listed) return Unexpected(listed.error());
    for (Collection& collection : state->collections) {
        if (auto scanned = state->scan(collection); !scanned) return Unexpected(scanned.error());
    }
    return std::unique_ptr<VdirContactStore>(new VdirContactStore(std::move(state)));
}

VdirContactStore::VdirContactStore(std::unique_ptr<State> state) : state_(std::move(state)) {}

VdirContactStore::~VdirContactStore() = default;

const fs::path& VdirContactStore::folder() const {
    return state_->root;
}

std::string VdirContactStore::location() const {
    return state_->location();
}

AuthorizationStatus VdirContactStore::authorizationStatus() const {
    return AuthorizationStatus::authorized;
}

void VdirContactStore::requestAccess(std::function<void(bool granted)> completion) {
    completion(true);
}

ContactStore::Result<std::vector<Container>> VdirContactStore::containers() {
    std::lock_guard lock(mutex_);
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    std::vector<Container> found;
    for (const Collection& collection : state_->collections)
        found.push_back(state_->containerOf(collection));
    return found;
}

ContactStore::Result<std::optional<Container>> VdirContactStore::container(
    const std::string& identifier) {
    std::lock_guard lock(mutex_);
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    if (const Collection* collection = state_->find(identifier))
        return std::optional<Container>(state_->containerOf(*collection));
    return std::optional<Container>();
}

std::string VdirContactStore::defaultContainerIdentifier() {
    std::lock_guard lock(mutex_);
    if (state_->collections.empty()) return {};
    return state_->collections.front().identifier;
}

ContactStore::Result<std::vector<Group>> VdirContactStore::groups(
    const std::string& containerIdentifier) {
    std::lock_guard lock(mutex_);
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    const Collection* collection = state_->find(containerIdentifier);
    if (!collection) return std::vector<Group>();
    return groupsOf(collection->identifier, collection->groups);
}

ContactStore::Result<void> VdirContactStore::enumerateContacts(
    const std::string& containerIdentifier, const std::function<bool(const Contact&)>& visit) {
    std::vector<std::pair<std::string, fs::path>> files;
    {
        std::lock_guard lock(mutex_);
        if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
        const Collection* collection = state_->find(containerIdentifier);
        if (!collection) return {};
        for (const auto& [identifier, card] : state_->cardsInOrder(*collection))
            files.emplace_back(identifier, collection->folder / card->file);
    }
    for (const auto& [identifier, file] : files) {
        auto contact = State::readContact(file, identifier);
        if (contact && !visit(*contact)) return {};
    }
    return {};
}

ContactStore::Result<std::vector<Contact>> VdirContactStore::contacts(
    const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    std::vector<Contact> found;
    std::unordered_set<std::string_view> asked;
    for (const std::string& identifier : identifiers) {
        if (!asked.insert(identifier).second) continue;
        auto home = state_->contactHome.find(identifier);
        if (home == state_->contactHome.end()) continue;
        const Collection& collection = *state_->find(home->second);
        auto contact = State::readContact(collection.folder / collection.cards.at(identifier).file,
                                          identifier);
        if (contact) found.push_back(std::move(*contact));
    }
    return found;
}

ContactStore::Result<std::vector<std::pair<std::string, std::vector<std::string>>>>
VdirContactStore::groupMemberships(const std::string& containerIdentifier) {
    std::lock_guard lock(mutex_);
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    std::vector<std::pair<std::string, std::vector<std::string>>> found;
    const Collection* collection = state_->find(containerIdentifier);
    if (!collection) return found;
    std::unordered_map<std::string, const Group*> byName;
    const std::vector<Group> groups = groupsOf(collection->identifier, collection->groups);
    for (const Group& group : groups) byName.emplace(group.name, &group);
    for (const auto& [identifier, card] : state_->cardsInOrder(*collection)) {
        if (card->categories.empty()) continue;
        std::vector<const Group*> of;
        for (const std::string& name : card->categories) {
            if (auto group = byName.find(name); group != byName.end()) of.push_back(group->second);
        }
        std::sort(of.begin(), of.end(),
                  [](const Group* left, const Group* right) { return groupOrder(*left, *right); });
        std::vector<std::string> identifiers;
        for (const Group* group : of) identifiers.push_back(group->identifier);
        found.emplace_back(identifier, std::move(identifiers));
    }
    return found;
}

ContactStore::Result<std::unordered_set<std::string>> VdirContactStore::existingFullNames(
    const std::string& containerIdentifier, const std::vector<std::string>& fullNames) {
    std::lock_guard lock(mutex_);
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    std::unordered_set<std::string> found;
    const Collection* collection = state_->find(containerIdentifier);
    if (!collection) return found;
    for (const std::string& name : fullNames) {
        if (collection->byFullName.contains(name)) found.insert(name);
    }
    return found;
}

ContactStore::Result<std::vector<std::string>> VdirContactStore::contactIdentifiersWithFullNames(
    const std::string& containerIdentifier, const std::vector<std::string>& fullNames) {
    std::lock_guard lock(mutex_);
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    std::vector<std::string> found;
    const Collection* collection = state_->find(containerIdentifier);
    if (!collection) return found;
    std::unordered_set<std::string_view> asked;
    for (const std::string& name : fullNames) {
        if (!asked.insert(name).second) continue;
        auto same = collection->byFullName.find(name);
        if (same != collection->byFullName.end())
            found.insert(found.end(), same->second.begin(), same->second.end());
    }
    return found;
}

ContactStore::Result<std::unordered_set<std::string>> VdirContactStore::existingIdentifiers(
    const std::string& containerIdentifier, const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    std::unordered_set<std::string> found;
    const Collection* collection = state_->find(containerIdentifier);
    if (!collection) return found;
    for (const std::string& identifier : identifiers) {
        if (collection->cards.contains(identifier)) found.insert(identifier);
    }
    return found;
}

ContactStore::Result<std::unordered_set<std::string>> VdirContactStore::identifiersInUse(
    const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    std::unordered_set<std::string> groupIdentifiers;
    for (const Collection& collection : state_->collections) {
        for (Group& group : groupsOf(collection.identifier, collection.groups))
            groupIdentifiers.insert(std::move(group.identifier));
    }
    std::unordered_set<std::string> found;
    for (const std::string& identifier : identifiers) {
        if (state_->contactHome.contains(identifier) || groupIdentifiers.contains(identifier))
            found.insert(identifier);
    }
    return found;
}

ContactStore::Result<void> VdirContactStore::execute(const SaveRequest& request) {
    if (request.isEmpty()) return {};
    std::lock_guard lock(mutex_);
    FolderLock folderLock(state_->root / kLockFile);
    if (folderLock.error() != 0)
        return state_->fileFailure(state_->root / kLockFile, folderLock.error());
    // Another process may have written while this one waited for the lock.
    if (auto refreshed = state_->refresh(); !refreshed) return Unexpected(refreshed.error());
    return state_->apply(request);
}

void VdirContactStore::failAfterWrites(std::optional<std::size_t> count, bool crash) {
    std::lock_guard lock(mutex_);
    state_->writesBeforeFailure = count;
    state_->crashOnFailure = crash;
}

}  // namespace pelkora::contacts
