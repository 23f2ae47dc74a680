#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "TestSupport.h"
#include "addressbook/ContactFormatter.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/ImportOperationTestSupport.h"
#include "import/ImportTestSupport.h"
#include "import/TabularDataImportOperation.h"
#include "input/TextReader.h"
#include "mapping/AutoMapping.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"

namespace pelkora {
namespace {

using namespace contacts;
using test::GivenRowsReader;
using test::LogCapture;
using test::TemporaryDirectory;

using test::ObservedStore;
using test::RecordingDelegate;

MappedContactProperty column(std::int64_t index, std::string_view key,
                             std::optional<std::string_view> label = std::nullopt) {
    return test::mappedColumn(index, key, std::nullopt, label);
}

class TabularDataImportOperationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainQueue::shared().adoptCurrentThreadAsMain();
        MainQueue::shared().drain();
        auto opened = SqliteContactStore::open(directory_.path() / "contacts.sqlite");
        ASSERT_TRUE(opened);
        store_ = std::make_shared<ObservedStore>(std::move(*opened));
        options_.selectedContainerID = store_->defaultContainerIdentifier();
        options_.addTextToNotes = false;
    }

    // Rows of given name, family name, group.
    ImportSource source(const std::vector<std::vector<std::string>>& rows, bool header = true,
                        std::vector<MappedContactProperty> properties = {}) {
        ImportSource source;
        source.reader = std::make_shared<GivenRowsReader>("/data/contacts.csv", rows, header);
        source.mappedProperties =
            properties.empty()
                ? std::vector{column(0, ContactKey::givenName), column(1, ContactKey::familyName),
                              column(2, CustomPropertyKeys::Group)}
                : std::move(properties);
        return source;
    }

    // Runs the import on this thread, then delivers its events.
    ImportSummary run(ImportSource source, std::vector<std::string> tokens = {}) {
        operation_ = std::make_shared<Operation>([](Operation&) {});
        TabularDataImportOperation import(store_, std::move(source), options_, std::move(tokens),
                                          delegate_);
        import.main(*operation_);
        MainQueue::shared().drain();
        return import.summary();
    }

    std::vector<Contact> saved() { return test::savedContacts(*store_, local()); }
    std::string local() { return store_->defaultContainerIdentifier(); }
    // The full names of the members of the group with the name, sorted.
    std::vector<std::string> members(const std::string& groupName) {
        return test::memberNames(*store_, local(), groupName);
    }
    std::vector<std::vector<std::string>> people(int count, int from = 0) {
        std::vector<std::vector<std::string>> rows{{"First", "Last", "Group"}};
        for (int i = from; i < from + count; ++i) rows.push_back({"Person", std::to_string(i), ""});
        return rows;
    }

    TemporaryDirectory directory_;
    std::shared_ptr<ObservedStore> store_;
    ImportOptions options_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<Operation> operation_;
};

TEST(ChunkSeqTest, CutsIntoChunksOfNWithAShorterLast) {
    const std::vector<int> values(1001, 7);
    std::vector<std::size_t> sizes;
    for (auto chunk : ChunkSeq<const int>(values, 500)) sizes.push_back(chunk.size());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{500, 500, 1}));
    EXPECT_EQ(ChunkSeq<const int>(std::span(values).first(1000), 500).size(), 2u);
    EXPECT_EQ(ChunkSeq<const int>(std::span(values).first(0), 500).size(), 0u);
    EXPECT_EQ(ChunkSeq<const int>(std::span(values).first(0), 500).begin(),
              ChunkSeq<const int>(std::span(values).first(0), 500).end());
}

TEST(NotesTextTest, ReplacesTokensOnceForTheWholeImport) {
    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
    EXPECT_EQ(TabularDataImportOperation::transactionNumber(when), "24920dec");
    EXPECT_EQ(
        TabularDataImportOperation::notesText({"FILE", "DATE"}, "/home/ada/contacts.csv", when),
        "contacts.csv " + dates::shortDateText(when));
    EXPECT_EQ(TabularDataImportOperation::notesText({"Imported", "TRANSNUM", "FILE"}, {}, when),
              "Imported 24920dec UNKNOWN FILE");
    EXPECT_EQ(TabularDataImportOperation::notesText({}, "/x.csv", when), "");
    // Keywords inside what replaced another keyword stay as they are.
    EXPECT_EQ(TabularDataImportOperation::notesText({"From", "FILE"}, "/in/UPDATES TIME.csv", when),
              "From UPDATES TIME.csv");
}

TEST_F(TabularDataImportOperationTest, ImportsEveryRowAfterTheHeaderInChunksWithGroupsAndNotes) {
    auto rows = people(1001);
    rows[1] = {"Anna", "Berg", "Friends; Family"};
    rows[2] = {"", "", ""};  // empty: skipped
    rows[3] = {"Carl", "Dahl", "family|Work"};
    options_.addTextToNotes = true;
    LogCapture log;
    const ImportSummary summary = run(source(rows), {"FILE"});

    EXPECT_EQ(log.count("Importing chunk #1 of 3..."), 1u);
    EXPECT_EQ(log.count("Importing chunk #3 of 3..."), 1u);
    EXPECT_EQ(summary.contactsSaved, 1000u);
    EXPECT_EQ(summary.emptyRowsSkipped, 1u);
    EXPECT_EQ(summary.groupsCreated, 4u);  // "family" is a new name letter for letter
    EXPECT_EQ(delegate_->started, 1);
    EXPECT_EQ(delegate_->finished, 1);
    EXPECT_EQ(delegate_->chunksSubmitted, 3);
    EXPECT_EQ(delegate_->processed, 1000u);

    const auto contacts = saved();
    ASSERT_EQ(contacts.size(), 1000u);
    EXPECT_EQ(stringFromContact(contacts.front()), "Anna Berg");  // the header row is not a contact
    EXPECT_EQ(contacts.front().note, "contacts.csv");
    EXPECT_EQ(members("Friends"), std::vector<std::string>{"Anna Berg"});
    // Membership ignores case: "family" finds the first group whose name matches.
    EXPECT_EQ(members("Family").size() + members("family").size(), 2u);
    EXPECT_EQ(members("Work"), std::vector<std::string>{"Carl Dahl"});
}

// A German address-book export holding Belgian, Swiss and Austrian addresses, whose
// countries are written out in their own languages, imported by a user in the United
// States: each postal code keeps the digit count of its address's country, the Dresden code
// that a spreadsheet had cut to four digits gets its zero back, and each address is saved
// with its country's ISO code. Only the address without a country is padded for the user's.
TEST_F(TabularDataImportOperationTest, PostalCodesFollowTheCountryEachAddressNames) {
    auto reader = std::make_shared<TextReader>(std::filesystem::path(PELKORA_TEST_DATA_DIR) /
                                               "exports" / "german-addresses.csv");
    ASSERT_TRUE(reader->examineFile());
    reader->parse(true);
    ASSERT_EQ(reader->headerRowIndex(), 0);
    const TitleMatcher matcher(vendorStringMap());
    ImportSource imported;
    imported.mappedProperties =
        autoMap(reader->dataRows().at(0), true, kColumnIndexStyleOneBased, matcher, {}, {})
            .mappedContactProperties;
    imported.reader = reader;
    imported.assemblyOptions.defaultCountryCode = "us";
    ASSERT_EQ(run(std::move(imported)).contactsSaved, 7u);

    struct Expected {
        std::string_view familyName, postalCode, city, isoCountryCode;
    };
    const Expected expected[] = {
        {"Schmidt", "10115", "Berlin", "de"}, {"Weiß", "40212", "Düsseldorf", "de"},
        {"Vogel", "01067", "Dresden", "de"},  {"Dubois", "1000", "Bruxelles", "be"},
        {"Meier", "8001", "Zürich", "ch"},    {"Huber", "1010", "Wien", "at"},
        {"Brandt", "04109", "Leipzig", ""},
    };
    const auto contacts = saved();
    for (const Expected& row : expected) {
        const auto contact = std::find_if(contacts.begin(), contacts.end(), [&](const Contact& c) {
            return c.familyName == row.familyName;
        });
        ASSERT_NE(contact, contacts.end()) << row.familyName;
        ASSERT_EQ(contact->postalAddresses.size(), 1u) << row.familyName;
        const PostalAddress& address = contact->postalAddresses[0].value;
        EXPECT_EQ(address.postalCode, row.postalCode) << row.familyName;
        EXPECT_EQ(address.city, row.city) << row.familyName;
        EXPECT_EQ(address.isoCountryCode, row.isoCountryCode) << row.familyName;
    }
}

TEST_F(TabularDataImportOperationTest, WithoutHeaderTheFirstRowIsImported) {
    options_.detectDuplicates = options_.detectNewDuplicates = false;
    run(source({{"Anna", "Berg", ""}, {"Carl", "Dahl", ""}}, /*header=*/false));
    EXPECT_EQ(saved().size(), 2u);
    EXPECT_TRUE(store_->groups(local()).value().empty());
}

TEST_F(TabularDataImportOperationTest, DuplicatesByNameAcrossChunksButNotWithinOne) {
    run(source({{"First", "Last", "Group"}, {"Anna", "Berg", ""}}));
    LogCapture log;
    // Anna Berg exists; Carl Dahl repeats within chunk 1 (not a duplicate) and again in chunk 2.
    auto rows = people(600);
    rows[1] = {"Anna", "Berg", ""};
    rows[2] = {"Carl", "Dahl", ""};
    rows[3] = {"Carl", "Dahl", ""};
    rows[550] = {"Carl", "Dahl", ""};
    const ImportSummary summary = run(source(rows));

    EXPECT_TRUE(log.contains("A group named 'OLD DUPLICATES' already exists -> proceeding..."));
    EXPECT_EQ(members("OLD DUPLICATES"),
              (std::vector<std::string>{"Anna Berg", "Carl Dahl", "Carl Dahl"}));
    EXPECT_EQ(members("NEW DUPLICATES"), (std::vector<std::string>{"Anna Berg", "Carl Dahl"}));
    EXPECT_EQ(summary.oldDuplicates, 3u);
    EXPECT_EQ(summary.newDuplicates, 2u);
    // Both groups exist once.
    EXPECT_EQ(store_->groups(local()).value().size(), 2u);
}

// Another import into the same book makes "Friends" and the duplicates group between this
// import's reading of the groups and its saving them: each name stays one group, which this
// import's contacts join, and only the group it made itself counts as created.
TEST_F(TabularDataImportOperationTest, GroupsAnotherImportMadeMeanwhileAreJoinedNotRepeated) {
    auto other = SqliteContactStore::open(directory_.path() / "contacts.sqlite");
    ASSERT_TRUE(other);
    store_->beforeExecute = [&](const SaveRequest& request) {
        if (request.addedGroups().empty() || !(*other)->groups(local()).value().empty()) return;
        SaveRequest theirs;
        for (const char* name : {"Friends", "OLD DUPLICATES"})
            theirs.addGroup(Group{makeUUID(), name}, local());
        ASSERT_TRUE((*other)->execute(theirs));
    };
    const ImportSummary summary = run(source(
        {{"First", "Last", "Group"}, {"Anna", "Berg", "Friends"}, {"Carl", "Dahl", "Work"}}));

    EXPECT_EQ(summary.groupsCreated, 1u);
    const auto groups = store_->groups(local());
    ASSERT_TRUE(groups);
    std::vector<std::string> names;
    for (const Group& group : *groups) names.push_back(group.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Friends", "NEW DUPLICATES", "OLD DUPLICATES", "Work"}));
    EXPECT_EQ(members("Friends"), std::vector<std::string>{"Anna Berg"});
    EXPECT_EQ(members("Work"), std::vector<std::string>{"Carl Dahl"});
}

// Rows that all have one name make every saved contact a duplicate, and every chunk adds
// as many members to the duplicates groups as it has rows. What the book writes for them
// (its write-ahead log holds each page a save changed, and the import is short of the log's
// checkpoint) grows in proportion to the rows, as it does for rows of distinct names.
TEST_F(TabularDataImportOperationTest, RowsOfOneNameWriteInProportionToTheirNumber) {
    const auto logBytes = [&](int count, bool oneName) {
        TemporaryDirectory folder;
        auto opened = SqliteContactStore::open(folder.path() / "contacts.sqlite");
        EXPECT_TRUE(opened);
        store_ = std::make_shared<ObservedStore>(std::move(*opened));
        options_.selectedContainerID = local();
        std::vector<std::vector<std::string>> rows{{"First", "Last", "Group"}};
        for (int i = 0; i < count; ++i)
            rows.push_back({"Anna", oneName ? "Berg" : std::to_string(i), ""});
        const ImportSummary summary = run(source(rows));
        EXPECT_EQ(summary.newDuplicates, oneName ? static_cast<std::uint64_t>(count - 500) : 0u);
        const auto bytes = std::filesystem::file_size(folder.path() / "contacts.sqlite-wal");
        store_.reset();
        return static_cast<double>(bytes);
    };
    const double single = logBytes(3000, true), twice = logBytes(6000, true);
    const double distinct = logBytes(3000, false);
    EXPECT_LT(twice / single, 2.3) << single << " bytes, then " << twice;
    EXPECT_LT(single / distinct, 2.5) << single << " bytes, distinct names " << distinct;
}

// Each chunk finds as existing every contact of its names that the store held before the
// import or that an earlier chunk saved, however many chunks ago the name was last seen.
TEST_F(TabularDataImportOperationTest, DuplicatesByNameOverThreeChunksFindEveryEarlierContact) {
    run(source({{"First", "Last", "Group"}, {"Anna", "Berg", ""}}));
    auto rows = people(1400);
    rows[1] = {"Anna", "Berg", ""};     // chunk 1
    rows[2] = {"Carl", "Dahl", ""};     // chunk 1
    rows[600] = {"Anna", "Berg", ""};   // chunk 2
    rows[601] = {"Carl", "Dahl", ""};   // chunk 2
    rows[700] = {"Eva", "Falk", ""};    // chunk 2
    rows[1100] = {"Carl", "Dahl", ""};  // chunk 3
    rows[1101] = {"Anna", "Berg", ""};  // chunk 3
    rows[1102] = {"Eva", "Falk", ""};   // chunk 3
    const ImportSummary summary = run(source(rows));

    const std::vector<std::string> expected = {"Anna Berg", "Anna Berg", "Anna Berg",
                                               "Carl Dahl", "Carl Dahl", "Eva Falk"};
    EXPECT_EQ(members("OLD DUPLICATES"), expected);
    EXPECT_EQ(members("NEW DUPLICATES"), expected);
    EXPECT_EQ(summary.oldDuplicates, 6u);
    EXPECT_EQ(summary.newDuplicates, 6u);
}

TEST_F(TabularDataImportOperationTest, DuplicatesByIdentifierWhenAColumnIsTheUID) {
    run(source({{"First", "Last", "Group"}, {"Anna", "Berg", ""}}));
    const std::string anna = saved().at(0).identifier;
    const std::vector properties{column(0, ContactKey::givenName),
                                 column(1, ContactKey::familyName),
                                 column(2, CustomPropertyKeys::UID)};
    run(source({{"First", "Last", "UID"}, {"Anna", "B.", anna}, {"Anna", "Berg", "other"}}, true,
               properties));
    EXPECT_EQ(members("OLD DUPLICATES"), std::vector<std::string>{"Anna Berg"});
    EXPECT_EQ(members("NEW DUPLICATES"), std::vector<std::string>{"Anna B."});
}

TEST_F(TabularDataImportOperationTest, RemoveGroupsEmptiesTheContainerOfGroupsButKeepsContacts) {
    run(source({{"First", "Last", "Group"}, {"Anna", "Berg", "Old Club"}}));
    options_.removeGroups = true;
    options_.detectDuplicates = options_.detectNewDuplicates = false;
    const ImportSummary summary =
        run(source({{"First", "Last", "Group"}, {"Carl", "Dahl", "Chess"}}));
    EXPECT_EQ(summary.groupsRemoved, 3u);  // Old Club and both duplicate groups
    std::vector<std::string> names;
    const auto groups = store_->groups(local()).value();
    for (const Group& group : groups) names.push_back(group.name);
    EXPECT_EQ(names, std::vector<std::string>{"Chess"});
    EXPECT_EQ(saved().size(), 2u);
}

TEST_F(TabularDataImportOperationTest, CancelDuringChunkThreeKeepsTheFirstTwoChunks) {
    int lookups = 0;
    store_->beforeDuplicateLookup = [&] {
        // Two lookups per chunk (old and new duplicates); cancel while chunk 3 is checked.
        if (++lookups == 5) operation_->cancel();
    };
    const ImportSummary summary = run(source(people(1400)));
    EXPECT_EQ(saved().size(), 1000u);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(summary.chunksSaved, 2u);
    EXPECT_EQ(delegate_->finished, 0);
    EXPECT_TRUE(delegate_->failures.empty());
}

TEST_F(TabularDataImportOperationTest,
       StoreFailureInChunkThreeLeavesExactlyTwoChunksAndAnIntactBook) {
    int contactRequests = 0;
    store_->beforeExecute = [&](const SaveRequest& request) {
        // Fail halfway through writing chunk 3's request.
        if (!request.addedContacts().empty() && ++contactRequests == 3)
            store_->real().failAfterWrites(250);
    };
    LogCapture log;
    const ImportSummary summary = run(source(people(1600)));
    EXPECT_TRUE(summary.failed);
    EXPECT_EQ(saved().size(), 1000u);
    EXPECT_TRUE(store_->real().checkIntegrity());
    ASSERT_EQ(delegate_->failures.size(), 1u);
    EXPECT_EQ(delegate_->failures[0].kind, ImportOperationError::Kind::store);
    EXPECT_EQ(delegate_->finished, 0);
    EXPECT_TRUE(log.contains("An error occurred while executing a contacts save request: "));
    EXPECT_TRUE(log.contains("CNError: "));
}

// The store writes one chunk while the next is made: with the first save held back, the
// second chunk is still made and submitted. Each chunk's duplicates are looked up only once the
// chunk before it is in the store, so the results are those of one chunk after another.
TEST_F(TabularDataImportOperationTest, TheNextChunkIsMadeWhileTheStoreSavesOne) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    int contactRequests = 0;
    store_->beforeExecute = [&](const SaveRequest& request) {
        if (!request.addedContacts().empty() && ++contactRequests == 1)
            released.wait_for(std::chrono::seconds(20));
    };
    auto rows = people(1200);
    rows.push_back({"Person", "3", ""});  // a repeat of a first-chunk row, in the last chunk
    operation_ = std::make_shared<Operation>([](Operation&) {});
    TabularDataImportOperation import(store_, source(rows), options_, {}, delegate_);
    std::thread importing([&] { import.main(*operation_); });
    const bool overlapped = MainQueue::shared().runUntil(
        [&] { return delegate_->chunksSubmitted >= 2; }, std::chrono::seconds(10));
    release.set_value();
    importing.join();
    MainQueue::shared().drain();
    EXPECT_TRUE(overlapped);
    const ImportSummary summary = import.summary();
    EXPECT_EQ(summary.chunksSaved, 3u);
    EXPECT_EQ(saved().size(), 1201u);
    EXPECT_EQ(members("OLD DUPLICATES"), std::vector<std::string>{"Person 3"});
    EXPECT_EQ(members("NEW DUPLICATES"), std::vector<std::string>{"Person 3"});
    EXPECT_EQ(delegate_->processed, 1201u);
}

TEST_F(TabularDataImportOperationTest, ExceptionFromTheStoreBecomesTheFailedEvent) {
    int contactRequests = 0;
    store_->beforeExecute = [&](const SaveRequest& request) {
        if (!request.addedContacts().empty() && ++contactRequests == 2)
            throw std::runtime_error("the address book went away");
    };
    LogCapture log;
    const ImportSummary summary = run(source(people(1200)));
    EXPECT_TRUE(summary.failed);
    EXPECT_EQ(saved().size(), 500u);
    EXPECT_EQ(delegate_->started, 1);
    EXPECT_EQ(delegate_->finished, 0);
    ASSERT_EQ(delegate_->failures.size(), 1u);
    const ImportOperationError& failure = delegate_->failures[0];
    EXPECT_EQ(failure.kind, ImportOperationError::Kind::internalFailure);
    EXPECT_EQ(failure.file, "/data/contacts.csv");
    EXPECT_EQ(failure.message,
              "The import of “/data/contacts.csv” stopped on an unexpected error: the address "
              "book went away. The records saved before it stay in the address book; please "
              "report this problem.");
    EXPECT_TRUE(
        log.contains("The import of /data/contacts.csv stopped on an exception: the "
                     "address book went away"));
}

TEST_F(TabularDataImportOperationTest, MissingContainerFailsAndNoContainerSettingDoesNothing) {
    options_.selectedContainerID = "NO-SUCH-CONTAINER";
    run(source(people(3)));
    ASSERT_EQ(delegate_->failures.size(), 1u);
    EXPECT_EQ(delegate_->failures[0].kind, ImportOperationError::Kind::containerNotFound);
    EXPECT_TRUE(saved().empty());

    options_.selectedContainerID.reset();
    auto quiet = std::make_shared<RecordingDelegate>();
    delegate_ = quiet;
    run(source(people(3)));
    EXPECT_EQ(quiet->started, 0);
    EXPECT_TRUE(quiet->failures.empty());
    EXPECT_TRUE(saved().empty());
}

}  // namespace
}  // namespace pelkora
