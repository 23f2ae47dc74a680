#include "addressbook/sqlite/SqliteContactStore.h"

#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "addressbook/ContactFormatter.h"
#include "addressbook/StoreMessages.h"
#include "addressbook/sqlite/ContactRecord_p.h"
#include "platform/Paths.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora::contacts {
namespace {

// ---------------------------------------------------------------------------------------
// SQLite plumbing.

struct ConnectionCloser {
    void operator()(sqlite3* connection) const { sqlite3_close_v2(connection); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

// A statement prepared once and run for many rows. Each run goes through a Run, which
// binds parameters in order and, when it goes away, resets the statement and drops the
// bindings: texts are bound without copying, so they must not outlive the run.
class Statement {
  public:
    class Run {
      public:
        explicit Run(sqlite3_stmt* statement) : statement_(statement) {}
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;
        ~Run() {
            sqlite3_reset(statement_);
            sqlite3_clear_bindings(statement_);
        }

        Run& bind(std::string_view text) {
            sqlite3_bind_text(statement_, ++parameter_, text.data(), static_cast<int>(text.size()),
                              SQLITE_STATIC);
            return *this;
        }
        Run& bind(std::int64_t value) {
            sqlite3_bind_int64(statement_, ++parameter_, value);
            return *this;
        }
        // SQLITE_ROW, SQLITE_DONE or an error code.
        int step() { return sqlite3_step(statement_); }

        bool isNull(int column) const {
            return sqlite3_column_type(statement_, column) == SQLITE_NULL;
        }
        std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
        std::string_view text(int column) const {
            const auto* text =
                reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
            return {text ? text : "",
                    static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
        }
        std::string_view blob(int column) const {
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
            return {bytes ? bytes : "",
                    static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
        }

      private:
        sqlite3_stmt* statement_;
        int parameter_ = 0;
    };

    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(statement_); }

    int prepare(sqlite3* connection, std::string_view sql) {
        return sqlite3_prepare_v3(connection, sql.data(), static_cast<int>(sql.size()),
                                  SQLITE_PREPARE_PERSISTENT, &statement_, nullptr);
    }
    Run run() { return Run(statement_); }

  private:
    sqlite3_stmt* statement_ = nullptr;
};

// Unknown values (a file written by a later version) read as unassigned.
ContainerType containerType(std::int64_t value) {
    if (value < 0 || value > static_cast<std::int64_t>(ContainerType::cardDAV))
        return ContainerType::unassigned;
    return static_cast<ContainerType>(value);
}

// What the application_id header field holds in every Pelkora address book ("PlKr"), so
// that another program's SQLite file is refused rather than altered.
constexpr int kApplicationId = 0x506C4B72;

constexpr int kBusyTimeoutMilliseconds = 5000;

// Contacts read from disk per step of enumerateContacts.
constexpr int kEnumerationPageSize = 256;

// The schema, one step per version: step n turns a version n file into version n + 1.
// A file is migrated in one transaction, so a failed migration leaves the old version.
// Contacts are enumerated in `created` order, a per-container counter, because rowids may
// be reused. full_name is what stringFromContact gave when the contact was saved: should the
// formatter's name order change, a migration has to recompute it.
// Version 2 keeps each record as JSON text instead of the first format's binary one; its
// step has no statements: convertRecordsToJson rewrites the rows.
constexpr std::array<std::string_view, 2> kMigrations = {
    R"sql(
CREATE TABLE containers (
    identifier TEXT PRIMARY KEY NOT NULL,
    name TEXT NOT NULL,
    type INTEGER NOT NULL,
    is_default INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE contacts (
    identifier TEXT PRIMARY KEY NOT NULL,
    container TEXT NOT NULL REFERENCES containers (identifier),
    created INTEGER NOT NULL,
    full_name TEXT NOT NULL,
    record BLOB NOT NULL
);
CREATE INDEX contacts_by_created ON contacts (container, created);
CREATE INDEX contacts_by_full_name ON contacts (container, full_name);
CREATE TABLE contact_groups (
    identifier TEXT PRIMARY KEY NOT NULL,
    container TEXT NOT NULL REFERENCES containers (identifier),
    name TEXT NOT NULL
);
CREATE INDEX contact_groups_by_name ON contact_groups (container, name COLLATE NOCASE);
CREATE TABLE memberships (
    group_identifier TEXT NOT NULL REFERENCES contact_groups (identifier) ON DELETE CASCADE,
    contact TEXT NOT NULL REFERENCES contacts (identifier) ON DELETE CASCADE,
    PRIMARY KEY (group_identifier, contact)
) WITHOUT ROWID;
CREATE INDEX memberships_by_contact ON memberships (contact);
INSERT INTO containers (identifier, name, type, is_default) VALUES (?1, ?2, 1, 1);
)sql",
    "",
};
constexpr int kJsonRecordsStep = 1;

constexpr int kSchemaVersion = static_cast<int>(kMigrations.size());

}  // namespace

// ---------------------------------------------------------------------------------------
// The connection, its statements and every operation on them. The store object locks its
// mutex and calls in here; nothing in Database locks.

struct SqliteContactStore::Database {
    explicit Database(std::filesystem::path path) : file(std::move(path)) {}

    std::filesystem::path file;
    Connection connection;  // declared before the statements, so it is closed after them
    std::optional<std::size_t> writesBeforeFailure;

    Statement selectContainers;
    Statement selectContainer;
    Statement selectGroups;
    Statement selectContactsPage;
    Statement selectContact;
    Statement selectMemberships;
    Statement selectFullName;
    Statement selectIdentifiersByFullName;
    Statement selectContactContainer;
    Statement selectIdentifierInUse;
    Statement selectLastCreated;
    Statement selectMemberContainers;
    Statement deleteGroup;
    Statement deleteEmptyGroup;
    Statement selectGroupExists;
    Statement selectGroupNamed;
    Statement deleteContact;
    Statement insertGroup;
    Statement insertContact;
    Statement insertMember;
    Statement insertContainer;

    // --- errors ---

    std::string errorMessage() const { return sqlite3_errmsg(connection.get()); }

    Unexpected<ContactStoreError> failure(ContactStoreErrorKind code, std::string text) const {
        return Unexpected(ContactStoreError{code, std::move(text)});
    }
    Unexpected<ContactStoreError> damaged(const std::string& problem) const {
        return failure(ContactStoreErrorKind::storeUnavailable,
                       formatMessage(localizedString("The address book %1$@ is damaged (%2$@). "
                                                     "Move it aside to start a new address book, "
                                                     "or restore it from a backup."),
                                     inQuotes(file.string()), problem));
    }
    // A failed SQLite call while opening (verb "open"), reading ("read") or saving ("save to").
    Unexpected<ContactStoreError> sqliteFailure(int result, std::string_view verb) const {
        const int primary = result & 0xFF;
        if (primary == SQLITE_NOTADB) {
            return failure(ContactStoreErrorKind::storeUnavailable,
                           formatMessage(localizedString("The file %1$@ is not an address book "
                                                         "(%2$@). Choose another file, or move it "
                                                         "aside to start a new address book."),
                                         inQuotes(file.string()), errorMessage()));
        }
        if (primary == SQLITE_CORRUPT) return damaged(errorMessage());
        const std::string sentence =
            verb == "save to" ? localizedString("Could not save to the address book %1$@: %2$@.")
            : verb == "read"  ? localizedString("Could not read the address book %1$@: %2$@.")
                              : localizedString("Could not open the address book %1$@: %2$@.");
        return failure(verb == "save to" ? ContactStoreErrorKind::writeFailed
                                         : ContactStoreErrorKind::storeUnavailable,
                       formatMessage(sentence, inQuotes(file.string()), errorMessage()));
    }
    Unexpected<ContactStoreError> saveFailure(ContactStoreErrorKind code,
                                              const std::string& problem) const {
        return failure(code, formatMessage(localizedString("Could not save to the address book "
                                                           "%1$@: %2$@."),
                                           inQuotes(file.string()), problem));
    }

    // --- opening ---

    int execute(const char* sql) {
        return sqlite3_exec(connection.get(), sql, nullptr, nullptr, nullptr);
    }

    Result<std::int64_t> integerPragma(const char* sql) {
        Statement statement;
        if (int result = statement.prepare(connection.get(), sql); result != SQLITE_OK)
            return sqliteFailure(result, "open");
        auto run = statement.run();
        const int result = run.step();
        if (result != SQLITE_ROW) return sqliteFailure(result, "open");
        return run.integer(0);
    }

    Result<void> open(bool create) {
        sqlite3* raw = nullptr;
        const int opened = sqlite3_open_v2(
            file.c_str(), &raw, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0), nullptr);
        connection.reset(raw);
        if (opened == SQLITE_CANTOPEN && !create) {
            std::error_code error;
            if (!std::filesystem::exists(file, error) && !error)
                return failure(
                    ContactStoreErrorKind::storeUnavailable,
                    formatMessage(localizedString("no address book at %@"), file.string()));
        }
        if (opened != SQLITE_OK) return sqliteFailure(opened, "open");
        sqlite3_extended_result_codes(raw, 1);
        // Writers of other store objects and processes wait for each other this long.
        sqlite3_busy_timeout(raw, kBusyTimeoutMilliseconds);
        // Write-ahead logging: readers (another window, another process) keep reading while
        // an import writes, and a commit appends to the log instead of copying pages aside.
        // synchronous=FULL syncs the log at every commit: once execute() returns, the chunk
        // survives a power cut, which is what the import tells the user; NORMAL could lose the
        // last chunks of a finished import. It costs one fsync per save request of 500
        // contacts, a small part of saving them.
        // 16 MiB of page cache rather than 2: the three contact indexes of a book of 100,000
        // contacts (about 18 MB) are written at random places, identifiers being random.
        // A checkpoint every 32768 log pages (128 MiB) rather than 1000: each chunk of an
        // import rewrites many of the same index pages, and a checkpoint copies only the last
        // version of a page into the file. 8192 pages saved about a third of an import's time,
        // 32768 a few per cent more; the log is removed when the last connection closes.
        // Switching a new file to write-ahead logging needs the file to itself; when another
        // process is opening the same new file at that moment, SQLite answers "busy" at once
        // rather than waiting, so the switch is retried for as long as a writer would wait.
        int result = SQLITE_BUSY;
        for (int waited = 0; waited <= kBusyTimeoutMilliseconds; waited += 10) {
            result = execute(
                "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;"
                "PRAGMA foreign_keys = ON; PRAGMA cache_size = -16384;"
                "PRAGMA wal_autocheckpoint = 32768;");
            if ((result & 0xFF) != SQLITE_BUSY && (result & 0xFF) != SQLITE_LOCKED) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (result != SQLITE_OK) return sqliteFailure(result, "open");
        if (auto migrated = migrate(); !migrated) return migrated;
        return prepareStatements();
    }

    // Brings the file to kSchemaVersion. The check and the migration share one IMMEDIATE
    // transaction, so two processes opening a new file do not both create the tables. A file
    // already current is only read: an open must not wait for the write lock that an import in
    // another process holds from one chunk to the next.
    Result<void> migrate() {
        if (isCurrent()) return {};
        if (int result = execute("BEGIN IMMEDIATE"); result != SQLITE_OK)
            return sqliteFailure(result, "open");
        auto migrated = migrateInTransaction();
        if (migrated) {
            if (int result = execute("COMMIT"); result != SQLITE_OK)
                migrated = sqliteFailure(result, "open");
        }
        if (!sqlite3_get_autocommit(connection.get())) execute("ROLLBACK");
        return migrated;
    }

    bool isCurrent() {
        const auto applicationId = integerPragma("PRAGMA application_id");
        const auto version = integerPragma("PRAGMA user_version");
        return applicationId && version && *applicationId == kApplicationId &&
               *version == kSchemaVersion;
    }

    Result<void> migrateInTransaction() {
        const auto applicationId = integerPragma("PRAGMA application_id");
        if (!applicationId) return Unexpected(applicationId.error());
        const auto version = integerPragma("PRAGMA user_version");
        if (!version) return Unexpected(version.error());
        const auto tables = integerPragma("SELECT count(*) FROM sqlite_schema");
        if (!tables) return Unexpected(tables.error());
        const bool empty = *applicationId == 0 && *version == 0 && *tables == 0;
        if (!empty && *applicationId != kApplicationId) {
            return failure(ContactStoreErrorKind::storeUnavailable,
                           formatMessage(localizedString("The file %@ is not a Pelkora address "
                                                         "book. Choose another file."),
                                         inQuotes(file.string())));
        }
        if (*version > kSchemaVersion) {
            return failure(ContactStoreErrorKind::storeUnavailable,
                           formatMessage(localizedString("The address book %1$@ was written by a "
                                                         "newer version of Pelkora (format %2$@). "
                                                         "Update Pelkora to open it."),
                                         inQuotes(file.string()), std::to_string(*version)));
        }
        for (auto step = *version; step < kSchemaVersion; ++step) {
            if (auto applied = applyMigration(static_cast<int>(step)); !applied) return applied;
        }
        if (*version == kSchemaVersion) return {};
        const std::string stamp = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                  "; PRAGMA user_version = " + std::to_string(kSchemaVersion);
        if (int result = execute(stamp.c_str()); result != SQLITE_OK)
            return sqliteFailure(result, "open");
        return {};
    }

    // Rewrites every binary record as JSON, a thousand rows at a time so that a large book is
    // never held in memory. A record that cannot be read is left as it was, so that nothing is
    // lost: reading that contact fails as it did before.
    Result<void> convertRecordsToJson() {
        Statement select;
        Statement update;
        if (int result = select.prepare(connection.get(),
                                        "SELECT rowid, identifier, record FROM contacts "
                                        "WHERE rowid > ?1 ORDER BY rowid LIMIT 1000");
            result != SQLITE_OK)
            return sqliteFailure(result, "open");
        if (int result = update.prepare(connection.get(),
                                        "UPDATE contacts SET record = ?2 WHERE rowid = ?1");
            result != SQLITE_OK)
            return sqliteFailure(result, "open");
        std::int64_t lastRow = 0;
        std::vector<std::pair<std::int64_t, std::string>> converted;
        std::string text;
        bool rowsLeft = true;
        while (rowsLeft) {
            converted.clear();
            rowsLeft = false;
            auto rows = select.run();
            rows.bind(lastRow);
            int result;
            while ((result = rows.step()) == SQLITE_ROW) {
                rowsLeft = true;
                lastRow = rows.integer(0);
                auto contact = decodeBinaryContactRecord(rows.text(1), rows.blob(2));
                if (!contact) {
                    writeLog(LogType::error,
                             "The contact '%{public}@' of '%{public}@' cannot be read; its record "
                             "is kept as it was",
                             std::string(rows.text(1)), file.string());
                    continue;
                }
                encodeContactRecord(*contact, text);
                converted.emplace_back(lastRow, text);
            }
            if (result != SQLITE_DONE) return sqliteFailure(result, "open");
            for (const auto& [row, record] : converted) {
                auto run = update.run();
                run.bind(row).bind(record);
                if (int done = run.step(); done != SQLITE_DONE) return sqliteFailure(done, "open");
            }
        }
        return {};
    }

    // Runs every statement of the step; the first migration's container insert gets a
    // fresh identifier as its parameter.
    Result<void> applyMigration(int step) {
        if (step == kJsonRecordsStep) return convertRecordsToJson();
        std::string_view sql = kMigrations[static_cast<std::size_t>(step)];
        const std::string containerIdentifier = makeUUID();
        // The first container is named in the language of the user who makes the book.
        const std::string containerName = localizedString("Local Address Book");
        while (!sql.empty()) {
            sqlite3_stmt* raw = nullptr;
            const char* tail = nullptr;
            int result = sqlite3_prepare_v2(connection.get(), sql.data(),
                                            static_cast<int>(sql.size()), &raw, &tail);
            if (result != SQLITE_OK) return sqliteFailure(result, "open");
            sql.remove_prefix(static_cast<std::size_t>(tail - sql.data()));
            if (raw == nullptr) continue;  // white space after the last statement
            if (sqlite3_bind_parameter_count(raw) > 0) {
                sqlite3_bind_text(raw, 1, containerIdentifier.c_str(), -1, SQLITE_TRANSIENT);
                if (sqlite3_bind_parameter_count(raw) > 1)
                    sqlite3_bind_text(raw, 2, containerName.c_str(), -1, SQLITE_TRANSIENT);
            }
            result = sqlite3_step(raw);
            sqlite3_finalize(raw);
            if (result != SQLITE_DONE && result != SQLITE_ROW) return sqliteFailure(result, "open");
        }
        return {};
    }

    Result<void> prepareStatements() {
        const std::pair<Statement*, std::string_view> statements[] = {
            {&selectContainers,
             "SELECT identifier, name, type, is_default FROM containers ORDER BY rowid"},
            {&selectContainer,
             "SELECT identifier, name, type FROM containers WHERE identifier = ?1"},
            {&selectGroups,
             "SELECT identifier, name FROM contact_groups WHERE container = ?1 "
             "ORDER BY name COLLATE NOCASE, name, identifier"},
            {&selectContactsPage,
             "SELECT created, identifier, record FROM contacts WHERE container = ?1 AND created > "
             "?2 "
             "ORDER BY created LIMIT ?3"},
            {&selectContact, "SELECT identifier, record FROM contacts WHERE identifier = ?1"},
            // Driven from the container's groups: memberships are usually far fewer than the
            // contacts, so CROSS JOIN keeps SQLite from scanning every contact instead.
            {&selectMemberships,
             "SELECT m.contact, m.group_identifier FROM contact_groups AS g "
             "CROSS JOIN memberships AS m ON m.group_identifier = g.identifier "
             "CROSS JOIN contacts AS c ON c.identifier = m.contact "
             "WHERE g.container = ?1 ORDER BY c.created, g.name COLLATE NOCASE, g.identifier"},
            {&selectFullName,
             "SELECT 1 FROM contacts WHERE container = ?1 AND full_name = ?2 LIMIT 1"},
            {&selectIdentifiersByFullName,
             "SELECT identifier FROM contacts WHERE container = ?1 AND full_name = ?2"},
            {&selectContactContainer, "SELECT container FROM contacts WHERE identifier = ?1"},
            {&selectIdentifierInUse,
             "SELECT EXISTS (SELECT 1 FROM contacts WHERE identifier = ?1) "
             "OR EXISTS (SELECT 1 FROM contact_groups WHERE identifier = ?1)"},
            {&selectLastCreated, "SELECT max(created) FROM contacts WHERE container = ?1"},
            {&selectMemberContainers,
             "SELECT (SELECT container FROM contacts WHERE identifier = ?1), "
             "(SELECT container FROM contact_groups WHERE identifier = ?2)"},
            {&deleteGroup, "DELETE FROM contact_groups WHERE identifier = ?1"},
            // Memberships are keyed by group first, so the check is one index lookup.
            {&deleteEmptyGroup,
             "DELETE FROM contact_groups WHERE identifier = ?1 AND NOT EXISTS "
             "(SELECT 1 FROM memberships WHERE group_identifier = ?1)"},
            {&selectGroupExists, "SELECT 1 FROM contact_groups WHERE identifier = ?1"},
            // The NOCASE term lets the name index narrow the search; the plain one decides.
            {&selectGroupNamed,
             "SELECT identifier FROM contact_groups WHERE container = ?1 "
             "AND name = ?2 COLLATE NOCASE AND name = ?2 ORDER BY rowid LIMIT 1"},
            {&deleteContact, "DELETE FROM contacts WHERE identifier = ?1"},
            {&insertGroup,
             "INSERT INTO contact_groups (identifier, container, name) VALUES (?1, ?2, ?3)"},
            {&insertContact,
             "INSERT INTO contacts (identifier, container, created, full_name, record) "
             "VALUES (?1, ?2, ?3, ?4, ?5)"},
            {&insertMember,
             "INSERT OR IGNORE INTO memberships (group_identifier, contact) VALUES (?1, ?2)"},
            {&insertContainer,
             "INSERT INTO containers (identifier, name, type) VALUES (?1, ?2, ?3)"},
        };
        for (const auto& [statement, sql] : statements) {
            if (int result = statement->prepare(connection.get(), sql); result != SQLITE_OK)
                return sqliteFailure(result, "open");
        }
        return {};
    }

    // --- reading ---

    // Runs `read` in one read transaction, so that a multi-statement answer comes from one
    // snapshot and the log's read lock is taken once rather than per statement.
    template <typename T, typename Read>
    Result<T> inReadTransaction(Read read) {
        if (int result = execute("BEGIN"); result != SQLITE_OK)
            return sqliteFailure(result, "read");
        Result<T> answer = read();
        execute("COMMIT");
        return answer;
    }

    Result<std::vector<Container>> containers(std::string* defaultContainer = nullptr) {
        std::vector<Container> found;
        auto run = selectContainers.run();
        int result;
        while ((result = run.step()) == SQLITE_ROW) {
            found.push_back({std::string(run.text(0)), std::string(run.text(1)),
                             containerType(run.integer(2))});
            if (defaultContainer && run.integer(3) != 0) *defaultContainer = run.text(0);
        }
        if (result != SQLITE_DONE) return sqliteFailure(result, "read");
        return found;
    }

    Result<std::optional<Container>> container(const std::string& identifier) {
        auto run = selectContainer.run();
        run.bind(identifier);
        const int result = run.step();
        if (result == SQLITE_DONE) return std::optional<Container>();
        if (result != SQLITE_ROW) return sqliteFailure(result, "read");
        return std::optional<Container>(Container{
            std::string(run.text(0)), std::string(run.text(1)), containerType(run.integer(2))});
    }

    Result<std::vector<Group>> groups(const std::string& containerIdentifier) {
        std::vector<Group> found;
        auto run = selectGroups.run();
        run.bind(containerIdentifier);
        int result;
        while ((result = run.step()) == SQLITE_ROW)
            found.push_back({std::string(run.text(0)), std::string(run.text(1))});
        if (result != SQLITE_DONE) return sqliteFailure(result, "read");
        return found;
    }

    Result<Contact> decoded(const Statement::Run& run, int identifierColumn, int recordColumn) {
        auto contact = decodeContactRecord(run.text(identifierColumn), run.blob(recordColumn));
        if (!contact)
            return damaged(formatMessage(localizedString("the contact %@ cannot be read"),
                                         inQuotes(run.text(identifierColumn))));
        return std::move(*contact);
    }

    // The next contacts of the container after `created`, at most kEnumerationPageSize;
    // `created` moves to the last one read.
    Result<std::vector<Contact>> contactsPage(const std::string& containerIdentifier,
                                              std::int64_t& created) {
        std::vector<Contact> page;
        auto run = selectContactsPage.run();
        run.bind(containerIdentifier).bind(created).bind(std::int64_t{kEnumerationPageSize});
        int result;
        while ((result = run.step()) == SQLITE_ROW) {
            auto contact = decoded(run, 1, 2);
            if (!contact) return Unexpected(contact.error());
            created = run.integer(0);
            page.push_back(std::move(*contact));
        }
        if (result != SQLITE_DONE) return sqliteFailure(result, "read");
        return page;
    }

    Result<std::vector<Contact>> contacts(const std::vector<std::string>& identifiers) {
        std::vector<Contact> found;
        std::unordered_set<std::string_view> asked;
        for (const std::string& identifier : identifiers) {
            if (!asked.insert(identifier).second) continue;
            auto run = selectContact.run();
            run.bind(identifier);
            const int result = run.step();
            if (result == SQLITE_DONE) continue;
            if (result != SQLITE_ROW) return sqliteFailure(result, "read");
            auto contact = decoded(run, 0, 1);
            if (!contact) return Unexpected(contact.error());
            found.push_back(std::move(*contact));
        }
        return found;
    }

    Result<std::vector<std::pair<std::string, std::vector<std::string>>>> groupMemberships(
        const std::string& containerIdentifier) {
        std::vector<std::pair<std::string, std::vector<std::string>>> found;
        auto run = selectMemberships.run();
        run.bind(containerIdentifier);
        int result;
        while ((result = run.step()) == SQLITE_ROW) {
            if (found.empty() || found.back().first != run.text(0))
                found.emplace_back(std::string(run.text(0)), std::vector<std::string>());
            found.back().second.emplace_back(run.text(1));
        }
        if (result != SQLITE_DONE) return sqliteFailure(result, "read");
        return found;
    }

    // One lookup in the (container, full_name) index per distinct name: a chunk costs the
    // same whether the container holds ten thousand contacts or a million.
    Result<std::unordered_set<std::string>> existingFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& names) {
        std::unordered_set<std::string> found;
        std::unordered_set<std::string_view> asked;
        for (const std::string& name : names) {
            if (!asked.insert(name).second) continue;
            auto run = selectFullName.run();
            run.bind(containerIdentifier).bind(name);
            const int result = run.step();
            if (result == SQLITE_ROW)
                found.insert(name);
            else if (result != SQLITE_DONE)
                return sqliteFailure(result, "read");
        }
        return found;
    }

    Result<std::vector<std::string>> contactIdentifiersWithFullNames(
        const std::string& containerIdentifier, const std::vector<std::string>& names) {
        std::vector<std::string> found;
        std::unordered_set<std::string_view> asked;
        for (const std::string& name : names) {
            if (!asked.insert(name).second) continue;
            auto run = selectIdentifiersByFullName.run();
            run.bind(containerIdentifier).bind(name);
            int result = SQLITE_ROW;
            while ((result = run.step()) == SQLITE_ROW) found.emplace_back(run.text(0));
            if (result != SQLITE_DONE) return sqliteFailure(result, "read");
        }
        return found;
    }

    // One primary-key lookup per identifier.
    Result<std::unordered_set<std::string>> existingIdentifiers(
        const std::string& containerIdentifier, const std::vector<std::string>& identifiers) {
        std::unordered_set<std::string> found;
        for (const std::string& identifier : identifiers) {
            auto run = selectContactContainer.run();
            run.bind(identifier);
            const int result = run.step();
            if (result == SQLITE_ROW && run.text(0) == containerIdentifier)
                found.insert(identifier);
            else if (result != SQLITE_ROW && result != SQLITE_DONE)
                return sqliteFailure(result, "read");
        }
        return found;
    }

    // Two primary-key lookups per distinct identifier, whatever the size of the book.
    Result<std::unordered_set<std::string>> identifiersInUse(
        const std::vector<std::string>& identifiers) {
        std::unordered_set<std::string> found;
        std::unordered_set<std::string_view> asked;
        for (const std::string& identifier : identifiers) {
            if (!asked.insert(identifier).second) continue;
            auto run = selectIdentifierInUse.run();
            run.bind(identifier);
            const int result = run.step();
            if (result != SQLITE_ROW) return sqliteFailure(result, "read");
            if (run.integer(0) != 0) found.insert(identifier);
        }
        return found;
    }

    Result<void> checkIntegrity() {
        Statement statement;
        if (int result = statement.prepare(connection.get(), "PRAGMA integrity_check(1)");
            result != SQLITE_OK) {
            return sqliteFailure(result, "read");
        }
        auto run = statement.run();
        const int result = run.step();
        if (result != SQLITE_ROW) return sqliteFailure(result, "read");
        std::string_view problem = run.text(0);
        if (problem == "ok") return {};
        // The report starts with a "*** in database main ***" line; the problem follows it.
        if (problem.starts_with("***") && problem.find('\n') != std::string_view::npos)
            problem.remove_prefix(problem.find('\n') + 1);
        return damaged(std::string(problem.substr(0, problem.find('\n'))));
    }

    // --- saving ---

    // Applies the request in one transaction. BEGIN IMMEDIATE takes the write lock up front:
    // a deferred transaction that later upgrades from reading to writing can fail with
    // SQLITE_BUSY at once, without waiting out the busy timeout.
    Result<void> apply(const SaveRequest& request) {
        if (int result = execute("BEGIN IMMEDIATE"); result != SQLITE_OK)
            return sqliteFailure(result, "save to");
        auto applied = applyInTransaction(request);
        if (applied) {
            if (int result = execute("COMMIT"); result != SQLITE_OK)
                applied = sqliteFailure(result, "save to");
        }
        // SQLite rolls some failures back by itself (a full disk, an I/O error), others not.
        if (!sqlite3_get_autocommit(connection.get())) execute("ROLLBACK");
        return applied;
    }

    // In the request's order: contacts deleted, groups deleted, groups deleted when empty,
    // groups added, contacts added, members added.
    Result<void> applyInTransaction(const SaveRequest& request) {
        for (const std::string& identifier : request.deletedContacts()) {
            if (auto removed = removeContact(identifier); !removed) return removed;
        }
        for (const std::string& identifier : request.deletedGroups()) {
            if (auto removed = removeGroup(identifier); !removed) return removed;
        }
        for (const std::string& identifier : request.groupsDeletedIfEmpty()) {
            if (auto removed = removeGroupIfEmpty(identifier); !removed) return removed;
        }
        std::unordered_set<std::string> containerIdentifiers;
        if (!request.addedGroups().empty() || !request.addedContacts().empty() ||
            !request.addedMembers().empty()) {
            auto all = containers();
            if (!all) return Unexpected(all.error());
            for (Container& container : *all)
                containerIdentifiers.insert(std::move(container.identifier));
        }
        // A group's identifier -> the identifier of the group of that name it became.
        std::unordered_map<std::string, std::string> reusedGroups;
        for (const SaveRequest::AddedGroup& added : request.addedGroups()) {
            if (auto inserted = addGroup(added, containerIdentifiers, reusedGroups); !inserted)
                return inserted;
        }
        std::unordered_map<std::string, std::int64_t> lastCreated;
        std::string record;
        for (const SaveRequest::AddedContact& added : request.addedContacts()) {
            if (auto inserted = addContact(added, containerIdentifiers, lastCreated, record);
                !inserted)
                return inserted;
        }
        // Contacts and groups must be in a container, so with one container a contact and a
        // group always share it.
        const bool oneContainer = containerIdentifiers.size() == 1;
        for (const SaveRequest::Membership& membership : request.addedMembers()) {
            auto reused = reusedGroups.find(membership.groupIdentifier);
            if (reused == reusedGroups.end()) {
                if (auto inserted = addMember(membership, oneContainer); !inserted) return inserted;
            } else if (auto inserted =
                           addMember({membership.contactIdentifier, reused->second}, oneContainer);
                       !inserted) {
                return inserted;
            }
        }
        return {};
    }

    // Counts down the writes a test allowed; fails the one after them.
    Result<void> countWrite() {
        if (!writesBeforeFailure) return {};
        if (*writesBeforeFailure == 0) {
            writesBeforeFailure.reset();
            return saveFailure(ContactStoreErrorKind::writeFailed,
                               "a failure was injected for testing");
        }
        --*writesBeforeFailure;
        return {};
    }

    // The group's memberships go with it (ON DELETE CASCADE).
    Result<void> removeGroup(const std::string& identifier) {
        if (auto counted = countWrite(); !counted) return counted;
        auto run = deleteGroup.run();
        run.bind(identifier);
        if (int result = run.step(); result != SQLITE_DONE) return sqliteFailure(result, "save to");
        if (sqlite3_changes(connection.get()) == 0)
            return saveFailure(
                ContactStoreErrorKind::groupNotFound,
                formatMessage(localizedString("there is no group with the identifier %@"),
                              inQuotes(identifier)));
        return {};
    }

    // The contact's memberships go with it (ON DELETE CASCADE).
    Result<void> removeContact(const std::string& identifier) {
        if (auto counted = countWrite(); !counted) return counted;
        auto run = deleteContact.run();
        run.bind(identifier);
        if (int result = run.step(); result != SQLITE_DONE) return sqliteFailure(result, "save to");
        if (sqlite3_changes(connection.get()) == 0)
            return saveFailure(
                ContactStoreErrorKind::contactNotFound,
                formatMessage(localizedString("there is no contact with the identifier %@"),
                              inQuotes(identifier)));
        return {};
    }

    // Nothing deleted: either the group has members, which is no failure, or it is missing.
    Result<void> removeGroupIfEmpty(const std::string& identifier) {
        if (auto counted = countWrite(); !counted) return counted;
        {
            auto run = deleteEmptyGroup.run();
            run.bind(identifier);
            if (int result = run.step(); result != SQLITE_DONE)
                return sqliteFailure(result, "save to");
            if (sqlite3_changes(connection.get()) > 0) return {};
        }
        auto run = selectGroupExists.run();
        run.bind(identifier);
        const int result = run.step();
        if (result == SQLITE_ROW) return {};
        if (result != SQLITE_DONE) return sqliteFailure(result, "save to");
        return saveFailure(
            ContactStoreErrorKind::groupNotFound,
            formatMessage(localizedString("there is no group with the identifier %@"),
                          inQuotes(identifier)));
    }

    // The sentence is marked with N_, its placeholder the identifier.
    Result<void> insertionFailure(int result, const char* sentence, const std::string& identifier) {
        if (result == SQLITE_CONSTRAINT_PRIMARYKEY)
            return saveFailure(ContactStoreErrorKind::duplicateIdentifier,
                               formatMessage(localizedString(sentence), inQuotes(identifier)));
        return sqliteFailure(result, "save to");
    }

    Result<void> checkContainer(const std::unordered_set<std::string>& containerIdentifiers,
                                const std::string& identifier) {
        if (containerIdentifiers.contains(identifier)) return {};
        return saveFailure(
            ContactStoreErrorKind::containerNotFound,
            formatMessage(localizedString("there is no container with the identifier %@"),
                          inQuotes(identifier)));
    }

    // A group whose name the container has already, letter for letter, is not added: the
    // request's members of it join the group that is there. The look-up runs under the write
    // lock, so two imports starting together into a new book make each name once.
    Result<void> addGroup(const SaveRequest::AddedGroup& added,
                          const std::unordered_set<std::string>& containerIdentifiers,
                          std::unordered_map<std::string, std::string>& reusedGroups) {
        if (auto found = checkContainer(containerIdentifiers, added.containerIdentifier); !found)
            return found;
        if (auto counted = countWrite(); !counted) return counted;
        {
            auto named = selectGroupNamed.run();
            named.bind(added.containerIdentifier).bind(added.group.name);
            const int result = named.step();
            if (result == SQLITE_ROW && named.text(0) != added.group.identifier) {
                reusedGroups.insert_or_assign(added.group.identifier, std::string(named.text(0)));
                return {};
            }
            if (result != SQLITE_ROW && result != SQLITE_DONE)
                return sqliteFailure(result, "save to");
        }
        auto run = insertGroup.run();
        run.bind(added.group.identifier).bind(added.containerIdentifier).bind(added.group.name);
        if (int result = run.step(); result != SQLITE_DONE)
            return insertionFailure(result, N_("a group with the identifier %@ exists already"),
                                    added.group.identifier);
        return {};
    }

    Result<void> addContact(const SaveRequest::AddedContact& added,
                            const std::unordered_set<std::string>& containerIdentifiers,
                            std::unordered_map<std::string, std::int64_t>& lastCreated,
                            std::string& record) {
        if (auto found = checkContainer(containerIdentifiers, added.containerIdentifier); !found)
            return found;
        if (auto counted = countWrite(); !counted) return counted;
        auto created = lastCreated.find(added.containerIdentifier);
        if (created == lastCreated.end()) {
            auto last = lastCreatedIn(added.containerIdentifier);
            if (!last) return Unexpected(last.error());
            created = lastCreated.emplace(added.containerIdentifier, *last).first;
        }
        encodeContactRecord(added.contact, record);
        const std::string fullName = stringFromContact(added.contact);
        auto run = insertContact.run();
        run.bind(added.contact.identifier)
            .bind(added.containerIdentifier)
            .bind(++created->second)
            .bind(fullName)
            .bind(record);
        if (int result = run.step(); result != SQLITE_DONE)
            return insertionFailure(result, N_("a contact with the identifier %@ exists already"),
                                    added.contact.identifier);
        return {};
    }

    // The highest `created` of the container, 0 when it is empty. The write lock is held,
    // so no other connection can take the next number meanwhile.
    Result<std::int64_t> lastCreatedIn(const std::string& containerIdentifier) {
        auto run = selectLastCreated.run();
        run.bind(containerIdentifier);
        const int result = run.step();
        if (result != SQLITE_ROW) return sqliteFailure(result, "save to");
        return run.isNull(0) ? 0 : run.integer(0);
    }

    Result<void> addContainer(const Container& container) {
        auto run = insertContainer.run();
        run.bind(container.identifier)
            .bind(container.name)
            .bind(static_cast<std::int64_t>(container.type));
        if (int result = run.step(); result != SQLITE_DONE)
            return insertionFailure(result, N_("a container with the identifier %@ exists already"),
                                    container.identifier);
        return {};
    }

    // The contact and the group exist and are in one container.
    Result<void> checkMember(const SaveRequest::Membership& membership) {
        auto run = selectMemberContainers.run();
        run.bind(membership.contactIdentifier).bind(membership.groupIdentifier);
        if (int result = run.step(); result != SQLITE_ROW) return sqliteFailure(result, "save to");
        if (run.isNull(0))
            return saveFailure(
                ContactStoreErrorKind::contactNotFound,
                formatMessage(localizedString("there is no contact with the identifier %@"),
                              inQuotes(membership.contactIdentifier)));
        if (run.isNull(1))
            return saveFailure(
                ContactStoreErrorKind::groupNotFound,
                formatMessage(localizedString("there is no group with the identifier %@"),
                              inQuotes(membership.groupIdentifier)));
        if (run.text(0) != run.text(1))
            return saveFailure(
                ContactStoreErrorKind::groupNotFound,
                differentContainersText(membership.contactIdentifier, membership.groupIdentifier));
        return {};
    }

    // With one container, the foreign keys alone refuse an unknown contact or group, and the
    // check runs only to name the problem: an import that marks every contact a duplicate
    // writes hundreds of thousands of memberships, and the check reads each contact's row.
    Result<void> addMember(const SaveRequest::Membership& membership, bool oneContainer) {
        if (auto counted = countWrite(); !counted) return counted;
        if (!oneContainer) {
            if (auto checked = checkMember(membership); !checked) return checked;
        }
        auto run = insertMember.run();
        run.bind(membership.groupIdentifier).bind(membership.contactIdentifier);
        const int result = run.step();
        if (result == SQLITE_DONE) return {};
        if (result == SQLITE_CONSTRAINT_FOREIGNKEY && oneContainer) {
            if (auto checked = checkMember(membership); !checked) return checked;
        }
        return sqliteFailure(result, "save to");
    }
};

// ---------------------------------------------------------------------------------------

Expected<std::unique_ptr<SqliteContactStore>, ContactStoreError> SqliteContactStore::open(
    const std::filesystem::path& file) {
    return open(file, true);
}

Expected<std::unique_ptr<SqliteContactStore>, ContactStoreError> SqliteContactStore::openExisting(
    const std::filesystem::path& file) {
    return open(file, false);
}

Expected<std::unique_ptr<SqliteContactStore>, ContactStoreError> SqliteContactStore::open(
    const std::filesystem::path& file, bool create) {
    if (create && file.has_parent_path()) {
        std::error_code error;
        std::filesystem::create_directories(file.parent_path(), error);
        if (error) {
            return Unexpected(ContactStoreError{
                ContactStoreErrorKind::storeUnavailable,
                formatMessage(localizedString("Could not open the address book "
                                              "%1$@: the folder %2$@ could not "
                                              "be created (%3$@)."),
                              inQuotes(file.string()), inQuotes(file.parent_path().string()),
                              error.message())});
        }
    }
    auto database = std::make_unique<Database>(file);
    if (auto opened = database->open(create); !opened) return Unexpected(opened.error());
    std::string defaultContainer;
    if (auto found = database->containers(&defaultContainer); !found)
        return Unexpected(found.error());
    return std::unique_ptr<SqliteContactStore>(
        new SqliteContactStore(file, std::move(database), std::move(defaultContainer)));
}

std::filesystem::path SqliteContactStore::defaultLocation() {
    return paths::applicationDataFolder() / "contacts.sqlite";
}

ContactStore::Result<void> SqliteContactStore::copyTo(const std::filesystem::path& destination) {
    std::lock_guard lock(mutex_);
    sqlite3* raw = nullptr;
    const auto copyFailure = [&](const std::string& problem) {
        return Unexpected(ContactStoreError{
            ContactStoreErrorKind::writeFailed,
            formatMessage(localizedString("Could not copy the address book "
                                          "%1$@ to %2$@: %3$@."),
                          inQuotes(file_.string()), inQuotes(destination.string()), problem)});
    };
    const int opened = sqlite3_open_v2(destination.c_str(), &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Connection copy(raw);
    if (opened != SQLITE_OK)
        return copyFailure(raw ? sqlite3_errmsg(raw) : localizedString("out of memory"));
    sqlite3_backup* backup =
        sqlite3_backup_init(copy.get(), "main", database_->connection.get(), "main");
    if (!backup) return copyFailure(sqlite3_errmsg(copy.get()));
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE || finished != SQLITE_OK)
        return copyFailure(sqlite3_errstr(stepped != SQLITE_DONE ? stepped : finished));
    return {};
}

SqliteContactStore::SqliteContactStore(std::filesystem::path file,
                                       std::unique_ptr<Database> database,
                                       std::string defaultContainer)
    : file_(std::move(file)),
      defaultContainer_(std::move(defaultContainer)),
      database_(std::move(database)) {}

SqliteContactStore::~SqliteContactStore() = default;

std::string SqliteContactStore::location() const {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(file_, error);
    return (error ? file_ : absolute).lexically_normal().string();
}

AuthorizationStatus SqliteContactStore::authorizationStatus() const {
    return AuthorizationStatus::authorized;
}

void SqliteContactStore::requestAccess(std::function<void(bool granted)> completion) {
    completion(true);
}

ContactStore::Result<std::vector<Container>> SqliteContactStore::containers() {
    std::lock_guard lock(mutex_);
    return database_->containers();
}

ContactStore::Result<std::optional<Container>> SqliteContactStore::container(
    const std::string& identifier) {
    std::lock_guard lock(mutex_);
    return database_->container(identifier);
}

std::string SqliteContactStore::defaultContainerIdentifier() {
    return defaultContainer_;
}

ContactStore::Result<std::vector<Group>> SqliteContactStore::groups(
    const std::string& containerIdentifier) {
    std::lock_guard lock(mutex_);
    return database_->groups(containerIdentifier);
}

ContactStore::Result<void> SqliteContactStore::enumerateContacts(
    const std::string& containerIdentifier, const std::function<bool(const Contact&)>& visit) {
    std::int64_t created = 0;
    while (true) {
        Result<std::vector<Contact>> page = [&] {
            std::lock_guard lock(mutex_);
            return database_->contactsPage(containerIdentifier, created);
        }();
        if (!page) return Unexpected(page.error());
        for (const Contact& contact : *page) {
            if (!visit(contact)) return {};
        }
        if (page->size() < static_cast<std::size_t>(kEnumerationPageSize)) return {};
    }
}

ContactStore::Result<std::vector<Contact>> SqliteContactStore::contacts(
    const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    return database_->inReadTransaction<std::vector<Contact>>(
        [&] { return database_->contacts(identifiers); });
}

ContactStore::Result<std::vector<std::pair<std::string, std::vector<std::string>>>>
SqliteContactStore::groupMemberships(const std::string& containerIdentifier) {
    std::lock_guard lock(mutex_);
    return database_->groupMemberships(containerIdentifier);
}

ContactStore::Result<std::unordered_set<std::string>> SqliteContactStore::existingFullNames(
    const std::string& containerIdentifier, const std::vector<std::string>& fullNames) {
    std::lock_guard lock(mutex_);
    return database_->inReadTransaction<std::unordered_set<std::string>>(
        [&] { return database_->existingFullNames(containerIdentifier, fullNames); });
}

ContactStore::Result<std::vector<std::string>> SqliteContactStore::contactIdentifiersWithFullNames(
    const std::string& containerIdentifier, const std::vector<std::string>& fullNames) {
    std::lock_guard lock(mutex_);
    return database_->inReadTransaction<std::vector<std::string>>(
        [&] { return database_->contactIdentifiersWithFullNames(containerIdentifier, fullNames); });
}

ContactStore::Result<std::unordered_set<std::string>> SqliteContactStore::existingIdentifiers(
    const std::string& containerIdentifier, const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    return database_->inReadTransaction<std::unordered_set<std::string>>(
        [&] { return database_->existingIdentifiers(containerIdentifier, identifiers); });
}

ContactStore::Result<std::unordered_set<std::string>> SqliteContactStore::identifiersInUse(
    const std::vector<std::string>& identifiers) {
    std::lock_guard lock(mutex_);
    return database_->inReadTransaction<std::unordered_set<std::string>>(
        [&] { return database_->identifiersInUse(identifiers); });
}

ContactStore::Result<void> SqliteContactStore::execute(const SaveRequest& request) {
    if (request.isEmpty()) return {};
    std::lock_guard lock(mutex_);
    return database_->apply(request);
}

ContactStore::Result<void> SqliteContactStore::addContainer(const Container& container) {
    std::lock_guard lock(mutex_);
    return database_->addContainer(container);
}

ContactStore::Result<void> SqliteContactStore::checkIntegrity() {
    std::lock_guard lock(mutex_);
    return database_->checkIntegrity();
}

void SqliteContactStore::failAfterWrites(std::optional<std::size_t> count) {
    std::lock_guard lock(mutex_);
    database_->writesBeforeFailure = count;
}

}  // namespace pelkora::contacts
