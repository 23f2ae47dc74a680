#pragma once

// The local address book: one SQLite file holding containers, contacts, groups and the
// groups' members.
//
// Thread-safe: the store keeps one connection and serialises every call on a mutex, so a
// store object may be shared between threads. Other store objects and other processes may
// open the same file at the same time: the file is in write-ahead-log mode, so their
// readers never wait for a writer, and writers wait for each other (up to a few seconds).

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "addressbook/ContactStore.h"

namespace pelkora::contacts {

class SqliteContactStore final : public ContactStore {
  public:
    // Opens the address book in the file, creating the file, its folders and the tables when
    // needed; a new book holds one local container, "Local Address Book" (in the
    // language of the user who makes it), its default.
    // Fails with storeUnavailable when the file cannot be opened, is not an address book,
    // is damaged or was written by a newer version.
    static Expected<std::unique_ptr<SqliteContactStore>, ContactStoreError> open(
        const std::filesystem::path& file);
    // Opens the address book in the file for a reader, which never makes one: fails with
    // storeUnavailable ("no address book at PATH") when there is no file, creating nothing.
    static Expected<std::unique_ptr<SqliteContactStore>, ContactStoreError> openExisting(
        const std::filesystem::path& file);
    // paths::applicationDataFolder()/contacts.sqlite: the user's address book.
    static std::filesystem::path defaultLocation();

    SqliteContactStore(const SqliteContactStore&) = delete;
    SqliteContactStore& operator=(const SqliteContactStore&) = delete;
    ~SqliteContactStore() override;

    const std::filesystem::path& file() const { return file_; }

    // Writes a consistent copy of the whole book, with every committed change, to a new file
    // (replacing one that is there); the book itself is not changed.
    Result<void> copyTo(const std::filesystem::path& destination);

    // The file's absolute path.
    std::string location() const override;

    // A local file needs no permission: always authorized.
    AuthorizationStatus authorizationStatus() const override;
    void requestAccess(std::function<void(bool granted)> completion) override;

    // Every container, in the order they were made.
    Result<std::vector<Container>> containers() override;
    Result<std::optional<Container>> container(const std::string& identifier) override;
    std::string defaultContainerIdentifier() override;
    // Sorted by name ignoring letter case; empty for an unknown container.
    Result<std::vector<Group>> groups(const std::string& containerIdentifier) override;

    // Reads the contacts a page at a time and calls visit without holding the store's lock,
    // so visit may call the store; contacts saved while the enumeration runs may be visited.
    Result<void> enumerateContacts(const std::string& containerIdentifier,
                                   const std::function<bool(const Contact&)>& visit) override;
    Result<std::vector<Contact>> contacts(const std::vector<std::string>& identifiers) override;
    // Ordered by the contacts' insertion order, each contact's groups by name.
    Result<std::vector<std::pair<std::string, std::vector<std::string>>>> groupMemberships(
        const std::string& containerIdentifier) override;

    // Compares with the full name stringFromContact gave when the contact was saved.
    Result<std::vector<std::string>> contactIdentifiersWithFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) override;
    Result<std::unordered_set<std::string>> existingFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& fullNames) override;
    Result<std::unordered_set<std::string>> existingIdentifiers(
        const std::string& containerIdentifier,
        const std::vector<std::string>& identifiers) override;
    // Contacts and groups share no table, but each table's identifiers are unique across
    // every container, so both are asked.
    Result<std::unordered_set<std::string>> identifiersInUse(
        const std::vector<std::string>& identifiers) override;

    // One transaction per request. Adding a member that is in the group already does nothing;
    // a deleted contact leaves its groups (ON DELETE CASCADE).
    // Fails with containerNotFound, groupNotFound (also for a contact and a group in different
    // containers), contactNotFound, duplicateIdentifier or writeFailed, and then leaves the
    // book as it was.
    Result<void> execute(const SaveRequest& request) override;

    // Adds a container, e.g. one more local book or an account kept in this file; fails
    // with duplicateIdentifier when the identifier is taken.
    Result<void> addContainer(const Container& container);

    // Runs SQLite's integrity check over the whole file; storeUnavailable naming the first
    // problem when the file is damaged.
    Result<void> checkIntegrity();

    // For tests: the next execute calls write `count` rows (contacts deleted, groups deleted,
    // groups, contacts, members) and then fail with writeFailed, once; none disarms.
    void failAfterWrites(std::optional<std::size_t> count);

  private:
    struct Database;

    static Expected<std::unique_ptr<SqliteContactStore>, ContactStoreError> open(
        const std::filesystem::path& file, bool create);

    SqliteContactStore(std::filesystem::path file, std::unique_ptr<Database> database,
                       std::string defaultContainer);

    std::filesystem::path file_;
    std::string defaultContainer_;
    std::mutex mutex_;  // guards database_ and the connection behind it
    std::unique_ptr<Database> database_;
};

}  // namespace pelkora::contacts
