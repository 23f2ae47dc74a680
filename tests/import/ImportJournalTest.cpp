#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/ImportJournal.h"
#include "import/ImportOperationTestSupport.h"
#include "import/ImportTestSupport.h"
#include "import/ImportUndo.h"
#include "import/TabularDataImportOperation.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"

namespace pelkora {
namespace {

namespace fs = std::filesystem;
using namespace contacts;
using test::GivenRowsReader;
using test::TemporaryDirectory;

class ImportJournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainQueue::shared().adoptCurrentThreadAsMain();
        MainQueue::shared().drain();
        auto opened = SqliteContactStore::open(directory_ / "contacts.sqlite");
        ASSERT_TRUE(opened);
        store_ = std::make_shared<test::ObservedStore>(std::move(*opened));
        options_.selectedContainerID = store_->defaultContainerIdentifier();
        options_.addTextToNotes = true;
    }

    // Rows "Person n" from `from`, the first one in the group named `group`.
    std::vector<std::vector<std::string>> people(int count, int from = 0,
                                                 const std::string& group = "") {
        std::vector<std::vector<std::string>> rows{{"First", "Last", "Group"}};
        for (int i = from; i < from + count; ++i)
            rows.push_back({"Person", std::to_string(i), i == from ? group : ""});
        return rows;
    }

    // Imports the rows from /data/contacts.csv, recording in the journal when one is given.
    ImportSummary run(const std::vector<std::vector<std::string>>& rows,
                      std::shared_ptr<const ImportJournal> journal) {
        operation_ = std::make_shared<Operation>([](Operation&) {});
        ImportSource source;
        source.reader = std::make_shared<GivenRowsReader>("/data/contacts.csv", rows);
        source.mappedProperties = {
            test::mappedColumn(0, ContactKey::givenName),
            test::mappedColumn(1, ContactKey::familyName),
            test::mappedColumn(2, CustomPropertyKeys::Group),
        };
        TabularDataImportOperation import(store_, std::move(source), options_, {"TRANSNUM"},
                                          delegate_, std::move(journal));
        import.main(*operation_);
        MainQueue::shared().drain();
        return import.summary();
    }

    std::string local() { return store_->defaultContainerIdentifier(); }
    std::vector<Contact> saved() { return test::savedContacts(*store_, local()); }
    std::vector<std::string> savedIdentifiers() {
        std::vector<std::string> identifiers;
        for (const Contact& contact : saved()) identifiers.push_back(contact.identifier);
        return identifiers;
    }
    std::string groupNamed(const std::string& name) {
        const std::vector<Group> groups = store_->groups(local()).value();
        for (const Group& group : groups)
            if (group.name == name) return group.identifier;
        return {};
    }
    std::vector<std::string> groupNames() {
        std::vector<std::string> names;
        const std::vector<Group> groups = store_->groups(local()).value();
        for (const Group& group : groups) names.push_back(group.name);
        return names;
    }

    TemporaryDirectory directory_;
    std::shared_ptr<const ImportJournal> journal_ =
        std::make_shared<ImportJournal>(directory_ / "imports");
    std::shared_ptr<test::ObservedStore> store_;
    ImportOptions options_;
    std::shared_ptr<test::RecordingDelegate> delegate_ =
        std::make_shared<test::RecordingDelegate>();
    std::shared_ptr<Operation> operation_;
};

TEST_F(ImportJournalTest, RecordsTheContactsOfEveryChunkAndTheGroupsTheImportMade) {
    run(people(1, 9000, "Friends"), nullptr);  // "Friends" and the duplicate groups exist now
    const std::vector<std::string> before = savedIdentifiers();

    const ImportSummary summary = run(people(1200, 0, "Friends; Work"), journal_);
    ASSERT_EQ(summary.contactsSaved, 1200u);
    EXPECT_TRUE(summary.journalProblem.empty());

    const std::vector<ImportRecord> entries = journal_->entries();
    ASSERT_EQ(entries.size(), 1u);
    const ImportRecord& record = entries[0];
    // The number is the one the notes text gives.
    EXPECT_EQ(saved().back().note, record.number);
    EXPECT_EQ(record.entryName, record.number);
    EXPECT_EQ(record.files, std::vector<fs::path>{"/data/contacts.csv"});
    EXPECT_EQ(record.store, (directory_ / "contacts.sqlite").string());
    EXPECT_EQ(record.container, local());
    EXPECT_EQ(record.containerName, "Local Address Book");
    EXPECT_EQ(record.createdGroups, std::vector<std::string>{groupNamed("Work")});
    std::vector<std::string> imported = savedIdentifiers();
    imported.erase(imported.begin(), imported.begin() + static_cast<long>(before.size()));
    EXPECT_EQ(record.contacts, imported);
    EXPECT_FALSE(record.undone);
    for (const char* chunk : {"contacts-0001.plist", "contacts-0002.plist", "contacts-0003.plist"})
        EXPECT_TRUE(fs::exists(journal_->folder() / record.entryName / chunk)) << chunk;
    EXPECT_FALSE(fs::exists(journal_->folder() / record.entryName / "contacts-0004.plist"));
}

// What is on disk while the import runs, and what a cancelled or failed import leaves: every
// chunk saved, and never the chunk whose save failed.
TEST_F(ImportJournalTest, RecordsAsTheImportGoesSoThatAnInterruptedImportCanBeUndone) {
    struct Case {
        const char* name;
        int cancelDuringSave;  // cancels while this chunk is saved: the next one never starts
        int failSave;          // this chunk's save fails
        std::vector<std::size_t> onDiskAtEachSave;
    };
    const Case cases[] = {
        {"cancelled", 2, 0, {500, 1000}},
        {"failed", 0, 3, {500, 1000, 1400}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(journal_->folder());
        std::vector<std::size_t> onDisk;
        int chunk = 0;
        store_->beforeExecute = [&](const SaveRequest& request) {
            if (request.addedContacts().empty()) return;
            const auto entries = ImportJournal(journal_->folder()).entries();
            onDisk.push_back(entries.empty() ? 0 : entries[0].contacts.size());
            ++chunk;
            if (chunk == c.cancelDuringSave) operation_->cancel();
            if (chunk == c.failSave) store_->real().failAfterWrites(10);
        };
        const ImportSummary summary = run(people(1400), journal_);
        store_->beforeExecute = nullptr;
        EXPECT_EQ(summary.chunksSaved, 2u);
        EXPECT_EQ(onDisk, c.onDiskAtEachSave);
        const auto entries = journal_->entries();
        ASSERT_EQ(entries.size(), 1u);
        std::vector<std::string> lastSaved = savedIdentifiers();
        lastSaved.erase(lastSaved.begin(), lastSaved.end() - 1000);
        EXPECT_EQ(entries[0].contacts, lastSaved);
    }
}

TEST_F(ImportJournalTest, WithoutAJournalOrWithNothingSavedNothingIsRecorded) {
    run(people(600), nullptr);
    EXPECT_FALSE(fs::exists(journal_->folder()));
    options_.selectedContainerID = "no such container";
    run(people(10), journal_);
    EXPECT_FALSE(fs::exists(journal_->folder()));
    EXPECT_TRUE(journal_->entries().empty());
}

TEST_F(ImportJournalTest, ImportsInOneSecondGetEntriesOfTheirOwnNewestFirst) {
    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
    for (int index = 0; index < 3; ++index) {
        ImportRecord record;
        record.number = ContactImport::transactionNumber(when + std::chrono::seconds(index / 2));
        record.time = when + std::chrono::seconds(index / 2);
        ImportJournal::Entry entry(*journal_, record);
        ASSERT_TRUE(entry.recordChunk({"contact " + std::to_string(index)}));
    }
    test::writeFile(journal_->folder() / "damaged" / "import.plist", "<plist><dict>");
    const auto entries = journal_->entries();
    std::vector<std::string> names;
    for (const ImportRecord& record : entries) names.push_back(record.entryName);
    const std::string first = ContactImport::transactionNumber(when);
    const std::string second = ContactImport::transactionNumber(when + std::chrono::seconds(1));
    EXPECT_EQ(names, (std::vector<std::string>{second, first + "-2", first}));
    EXPECT_EQ(entries[1].contacts, std::vector<std::string>{"contact 1"});

    ASSERT_TRUE(journal_->markUndone(entries[1], when + std::chrono::hours(1)));
    const auto after = journal_->entries();
    EXPECT_EQ(after[1].undone, when + std::chrono::hours(1));
    EXPECT_EQ(after[1].contacts, entries[1].contacts);
    EXPECT_FALSE(after[0].undone);
}

// The user deleted two of the imported contacts and put an older contact into a group the
// import made: the rest goes, that group stays, and so do the groups that were there before.
TEST_F(ImportJournalTest, UndoRemovesWhatIsStillThereAndTheGroupsLeftEmpty) {
    run(people(2, 9000, "Friends"), nullptr);
    const std::vector<Contact> older = saved();
    run(people(1200, 0, "Friends; Work; Chess"), journal_);
    const ImportRecord record = journal_->entries().at(0);
    ASSERT_EQ(record.createdGroups.size(), 2u);  // Work and Chess
    SaveRequest changes;
    changes.deleteContact(record.contacts[0]);
    changes.deleteContact(record.contacts[700]);
    changes.addMember(older[1].identifier, groupNamed("Chess"));
    ASSERT_TRUE(store_->execute(changes));

    const auto plan = planUndo(*store_, record);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->contactsToRemove.size(), 1198u);
    EXPECT_EQ(plan->contactsGone, 2u);
    ASSERT_EQ(plan->groupsToRemove.size(), 1u);
    EXPECT_EQ(plan->groupsToRemove[0].name, "Work");
    ASSERT_EQ(plan->groupsKept.size(), 1u);
    EXPECT_EQ(plan->groupsKept[0].name, "Chess");
    EXPECT_EQ(saved().size(), 1200u);  // planning changes nothing

    ASSERT_TRUE(applyUndo(*store_, *plan));
    EXPECT_EQ(saved(), older);
    EXPECT_EQ(groupNames(),
              (std::vector<std::string>{"Chess", "Friends", "NEW DUPLICATES", "OLD DUPLICATES"}));
    EXPECT_EQ(test::memberNames(*store_, local(), "Friends"),
              std::vector<std::string>{"Person 9000"});

    // Planned again, nothing is left to remove.
    const auto again = planUndo(*store_, record);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->isEmpty());
    EXPECT_EQ(again->contactsGone, 1200u);
    EXPECT_EQ(again->groupsGone, 1u);
}

}  // namespace
}  // namespace pelkora
