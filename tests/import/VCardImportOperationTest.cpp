#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "TestSupport.h"
#include "addressbook/ContactFormatter.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/ImportOperationTestSupport.h"
#include "import/VCardImportOperation.h"
#include "platform/InputStream.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"
#include "vcard/VCard.h"

namespace pelkora {
namespace {

using namespace contacts;
using test::LogCapture;
using test::ObservedStore;
using test::RecordingDelegate;

// The lines of a person's vCard 3.0 between VERSION and END, as address books write them.
std::string person(const std::string& given, const std::string& family, const std::string& uid = {},
                   const std::string& more = {}) {
    std::string lines = "N:" + family + ";" + given + ";;;\r\nFN:" + given + " " + family + "\r\n";
    if (!uid.empty()) lines += "UID:" + uid + "\r\n";
    return lines + more;
}

// A card as the scan hands it over: Apple's cards carry Apple's PRODID.
ScannedVCard card(const std::string& lines, bool apple = true,
                  std::filesystem::path file = "/home/ada/friends.vcf", std::size_t index = 1,
                  std::set<std::string> groups = {}) {
    ScannedVCard scanned;
    scanned.content = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    if (apple) scanned.content += "PRODID:-//Apple Inc.//macOS 14.5//EN\r\n";
    scanned.content += lines + "END:VCARD\r\n";
    scanned.groupTitles = std::move(groups);
    scanned.setFileUrl(std::move(file));
    scanned.indexInFile = index;
    scanned.isAppleOriginal = apple;
    return scanned;
}

std::vector<ScannedVCard> people(int count, int from = 0) {
    std::vector<ScannedVCard> cards;
    for (int i = from; i < from + count; ++i)
        cards.push_back(card(person("Person", std::to_string(i)), true, "/cards/all.vcf",
                             static_cast<std::size_t>(i + 1)));
    return cards;
}

// The contact without the identifiers its labelled values got when they were read.
Contact withoutValueIdentifiers(Contact contact) {
    const auto clear = [](auto& values) {
        for (auto& value : values) value.identifier.clear();
    };
    clear(contact.dates);
    clear(contact.phoneNumbers);
    clear(contact.emailAddresses);
    clear(contact.urlAddresses);
    clear(contact.postalAddresses);
    clear(contact.contactRelations);
    clear(contact.socialProfiles);
    clear(contact.instantMessageAddresses);
    return contact;
}

class VCardImportOperationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainQueue::shared().adoptCurrentThreadAsMain();
        MainQueue::shared().drain();
        openStore("contacts.sqlite");
        options_.selectedContainerID = local();
        options_.addTextToNotes = false;
        options_.detectDuplicates = options_.detectNewDuplicates = false;
    }
    void openStore(const std::string& name) {
        auto opened = SqliteContactStore::open(directory_.path() / name);
        ASSERT_TRUE(opened);
        store_ = std::make_shared<ObservedStore>(std::move(*opened));
    }

    // Runs the import on this thread, then delivers its events.
    ImportSummary run(std::vector<ScannedVCard> cards, std::vector<std::string> groups = {},
                      std::vector<std::string> tokens = {}) {
        operation_ = std::make_shared<Operation>([](Operation&) {});
        VCardImportSource source{
            std::make_shared<const std::vector<ScannedVCard>>(std::move(cards)), std::move(groups)};
        VCardImportOperation import(store_, std::move(source), options_, std::move(tokens),
                                    delegate_, journal_);
        import.main(*operation_);
        MainQueue::shared().drain();
        return import.summary();
    }

    std::string local() { return store_->defaultContainerIdentifier(); }
    std::vector<Contact> saved() { return test::savedContacts(*store_, local()); }
    std::vector<std::string> members(const std::string& group) {
        return test::memberNames(*store_, local(), group);
    }
    void add(Contact contact, const std::string& container) {
        SaveRequest request;
        request.addContact(std::move(contact), container);
        ASSERT_TRUE(store_->execute(request));
    }

    test::TemporaryDirectory directory_;
    std::shared_ptr<ObservedStore> store_;
    ImportOptions options_;
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<Operation> operation_;
    std::shared_ptr<const ImportJournal> journal_;  // none: nothing recorded
};

TEST(VCardWarningLinesTest, CountTheCardsOfEachProblem) {
    const auto warning = [](std::string_view problem) {
        return ImportWarning{1, "", "", std::string(problem), "a.vcf"};
    };
    EXPECT_EQ(
        warningCountLines({warning(kProblemUnreadableCard), warning(kProblemIdentifierInUse),
                           warning(kProblemUnreadableCard), warning(kProblemIdentifierInUse),
                           warning(kProblemIdentifierInUse)}),
        (std::vector<std::string>{"2 vCards could not be read and were skipped",
                                  "3 vCards had an identifier already in use and got a new one"}));
    EXPECT_EQ(warningCountLines({warning(kProblemUnreadableCard)}),
              std::vector<std::string>{"1 vCard could not be read and was skipped"});
}

// Each chunk is logged with its number and the number of chunks, and asks the store once
// which of its identifiers are taken.
TEST_F(VCardImportOperationTest, CardsGoInChunksOf500) {
    struct Case {
        int cards;
        std::vector<std::string> logged;
    };
    const Case cases[] = {
        {500, {"Importing chunk #1 of 1..."}},
        {1200,
         {"Importing chunk #1 of 3...", "Importing chunk #2 of 3...",
          "Importing chunk #3 of 3..."}},
    };
    std::size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cards);
        delegate_ = std::make_shared<RecordingDelegate>();
        int identifierLookups = 0;
        store_->beforeIdentifierLookup = [&] { ++identifierLookups; };
        LogCapture log;
        const ImportSummary summary = run(people(c.cards, static_cast<int>(before)));
        for (const std::string& line : c.logged) EXPECT_EQ(log.count(line), 1u) << line;
        EXPECT_EQ(log.count("Importing chunk #"), c.logged.size());
        EXPECT_EQ(identifierLookups, static_cast<int>(c.logged.size()));
        EXPECT_EQ(summary.rowsToImport, static_cast<std::uint64_t>(c.cards));
        EXPECT_EQ(summary.contactsSaved, static_cast<std::uint64_t>(c.cards));
        EXPECT_EQ(delegate_->started, 1);
        EXPECT_EQ(delegate_->chunksSubmitted, static_cast<int>(c.logged.size()));
        EXPECT_EQ(delegate_->processed, static_cast<std::uint64_t>(c.cards));
        EXPECT_EQ(delegate_->finished, 1);
        EXPECT_TRUE(delegate_->warnings.empty());
        before += static_cast<std::size_t>(c.cards);
        EXPECT_EQ(saved().size(), before);
    }
}

// The contact is what the reader made of the card, but for the notes text after its note.
TEST_F(VCardImportOperationTest, PropertiesStayAsReadAndNotesNameEachCardsFile) {
    options_.addTextToNotes = true;
    const std::string rich = person("Ada", "Lovelace", "ada-1",
                                    "ORG:Analytical Engines Ltd.\r\n"
                                    "TEL;TYPE=CELL:+44 20 7946 0000\r\n"
                                    "item1.EMAIL;TYPE=INTERNET:ada@example.org\r\n"
                                    "item1.X-ABLabel:Lab\r\n"
                                    "NOTE:Met at the Royal Society\r\n");
    const std::vector<ScannedVCard> cards = {
        card(rich, true, "/home/ada/work.vcf"),
        card(person("Grace", "Hopper"), true, "/media/usb/home.vcf"),
        card(person("Alan", "Turing"), true, ""),
    };
    run(cards, {}, {"Imported", "from", "FILE", "TRANSNUM"});

    const auto contacts = saved();
    ASSERT_EQ(contacts.size(), 3u);
    const std::string transaction = contacts[1].note.substr(contacts[1].note.rfind(' ') + 1);
    EXPECT_EQ(transaction.size(), 8u);
    EXPECT_EQ(contacts[0].note, "Met at the Royal Society\nImported from work.vcf " + transaction);
    EXPECT_EQ(contacts[1].note, "Imported from home.vcf " + transaction);
    EXPECT_EQ(contacts[2].note, "Imported from UNKNOWN FILE " + transaction);

    Contact read = contacts::readVCards(cards[0].content).value().at(0).contact;
    EXPECT_EQ(read.identifier, "ada-1");
    EXPECT_EQ(read.emailAddresses.at(0).label, "Lab");
    read.note = contacts[0].note;
    EXPECT_EQ(withoutValueIdentifiers(contacts[0]), withoutValueIdentifiers(read));
}

// Groups are created letter for letter, but a card joins the first group of its title in
// any letter case.
TEST_F(VCardImportOperationTest, ScanTitlesMakeGroupsAndCardsJoinByCaseInsensitiveName) {
    SaveRequest existing;
    existing.addGroup(Group{makeUUID(), "friends"}, local());
    ASSERT_TRUE(store_->execute(existing));
    const ImportSummary summary =
        run({card(person("Ada", "Lovelace"), true, "/a.vcf", 1, {"FRIENDS", "Work", "Chess"}),
             card(person("Grace", "Hopper"), true, "/a.vcf", 2, {"work"})},
            {"Friends", "Work"});

    EXPECT_EQ(summary.groupsCreated, 2u);
    std::vector<std::string> names;
    const auto groups = store_->groups(local()).value();
    for (const Group& group : groups) names.push_back(group.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Friends", "friends", "Work"}));
    // "Friends" comes before "friends" in the container's list; "Chess" has no group.
    EXPECT_EQ(members("Friends"), std::vector<std::string>{"Ada Lovelace"});
    EXPECT_TRUE(members("friends").empty());
    EXPECT_EQ(members("Work"), (std::vector<std::string>{"Ada Lovelace", "Grace Hopper"}));
}

TEST_F(VCardImportOperationTest, CardsOfOtherProgramsAreCountedLoggedAndWarnedAboutOnce) {
    LogCapture log;
    const ImportSummary summary = run({
        card(person("Ada", "Lovelace", "ada-1"), false),
        card(person("Grace", "Hopper"), true),
        card(person("Alan", "Turing"), false),
        card("EMAIL:someone@example.org\r\n", false),
    });
    EXPECT_EQ(summary.cardsFromOtherPrograms, 3u);
    EXPECT_EQ(log.count(": Not an Apple-flavored vCard"), 3u);
    EXPECT_TRUE(log.contains("Ada Lovelace, addressbook://ada-1: Not an Apple-flavored vCard"));
    EXPECT_TRUE(log.contains("Unnamed contact, addressbook://"));
    EXPECT_EQ(log.count("Warning: 3 vCards were written by other programs and may use labels "
                        "this import reads differently; labels such as “work” or “home” may "
                        "need a look."),
              1u);
    EXPECT_EQ(saved().size(), 4u);
    EXPECT_EQ(delegate_->finished, 1);
}

TEST_F(VCardImportOperationTest, UnreadableCardIsSkippedAndTheRestOfItsChunkSaved) {
    LogCapture log;
    const ImportSummary summary = run({
        card(person("Ada", "Lovelace")),
        card(person("Grace", "Hopper") + "this line is no property\r\n", true,
             "/home/ada/friends.vcf", 2),
        card(person("Alan", "Turing"), true, "/home/ada/friends.vcf", 3),
    });
    EXPECT_EQ(saved().size(), 2u);
    EXPECT_EQ(summary.unreadableCards, 1u);
    EXPECT_EQ(summary.contactsSaved, 2u);
    EXPECT_EQ(log.count("Failed to init CNContact via CNContactVCardSerialization -> "
                        "proceeding..."),
              1u);
    ASSERT_EQ(summary.warnings.size(), 1u);
    const ImportWarning& warning = summary.warnings[0];
    EXPECT_EQ(warning.row, 2);
    EXPECT_EQ(warning.column, "");
    EXPECT_EQ(warning.problem, kProblemUnreadableCard);
    EXPECT_EQ(warning.file, "friends.vcf");
    EXPECT_NE(warning.value.find("this line is no property"), std::string::npos);
    EXPECT_TRUE(log.contains("vCard 2 of /home/ada/friends.vcf: " + warning.value));
    EXPECT_EQ(delegate_->warnings,
              std::vector<std::string>{"1 vCard could not be read and was skipped"});
    EXPECT_EQ(delegate_->finished, 1);
}

// Cards kept as their place in their file are read back one by one; a card whose file
// changed since the scan is reported as unreadable, and the cards of other files imported.
TEST_F(VCardImportOperationTest, CardOfAFileChangedSinceTheScanIsReportedUnreadable) {
    LogCapture log;
    const auto scanFile = [](const std::filesystem::path& file, const std::string& bytes) {
        test::writeFile(file, bytes);
        auto input = InputStream::openFile(file);
        EXPECT_TRUE(input);
        std::vector<ScannedVCard> cards;
        std::set<std::string> groups;
        EXPECT_TRUE(scanVCardStream(**input, file, groups, [&](ScannedVCard scanned) {
            cards.push_back(std::move(scanned));
            return true;
        }));
        return cards;
    };
    const auto vCard = [](const std::string& given, const std::string& family) {
        return "BEGIN:VCARD\r\nVERSION:3.0\r\n" + person(given, family) + "END:VCARD\r\n";
    };
    const auto friends = directory_ / "friends.vcf";
    const auto colleagues = directory_ / "colleagues.vcf";
    std::vector<ScannedVCard> cards =
        scanFile(friends, vCard("Ada", "Lovelace") + vCard("Grace", "Hopper"));
    for (auto& scanned : scanFile(colleagues, vCard("Alan", "Turing"))) {
        cards.push_back(std::move(scanned));
    }
    ASSERT_EQ(cards.size(), 3u);
    ASSERT_TRUE(cards[0].content.empty());
    test::writeFile(friends, vCard("Ada", "Byron") + vCard("Grace", "Hopper"));

    const ImportSummary summary = run(cards);
    EXPECT_EQ(summary.unreadableCards, 2u);
    EXPECT_EQ(summary.contactsSaved, 1u);
    ASSERT_EQ(saved().size(), 1u);
    EXPECT_EQ(saved()[0].familyName, "Turing");
    ASSERT_EQ(summary.warnings.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const ImportWarning& warning = summary.warnings[i];
        EXPECT_EQ(warning.row, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(warning.problem, kProblemUnreadableCard);
        EXPECT_EQ(warning.file, "friends.vcf");
        EXPECT_NE(warning.value.find(friends.string()), std::string::npos);
        EXPECT_NE(warning.value.find("changed since it was scanned"), std::string::npos);
    }
    EXPECT_TRUE(log.contains("vCard 1 of " + friends.string() + ": " + summary.warnings[0].value));
    EXPECT_EQ(delegate_->warnings,
              std::vector<std::string>{"2 vCards could not be read and were skipped"});
    EXPECT_EQ(delegate_->finished, 1);
}

// A contact without a name is logged as "Unnamed contact" but is compared with nobody, not
// even with a contact that is really called so.
TEST_F(VCardImportOperationTest, NamelessContactIsNeverADuplicate) {
    options_.detectDuplicates = options_.detectNewDuplicates = true;
    Contact named = Contact::makeNew();
    named.givenName = "Unnamed";
    named.familyName = "contact";
    add(named, local());
    Contact nameless = Contact::makeNew();
    nameless.emailAddresses.push_back(labeled(std::string(Label::home), std::string("x@y.org")));
    add(nameless, local());

    LogCapture log;
    const ImportSummary summary = run({card("EMAIL:x@y.org\r\n", false)});
    EXPECT_TRUE(log.contains("Unnamed contact, addressbook://"));
    EXPECT_EQ(saved().size(), 3u);
    EXPECT_TRUE(members("NEW DUPLICATES").empty());
    EXPECT_TRUE(members("OLD DUPLICATES").empty());
    EXPECT_EQ(summary.newDuplicates, 0u);
}

// A UID that another card of the import or any contact of the store has would make the
// store refuse the whole chunk: the later card gets a fresh identifier instead.
TEST_F(VCardImportOperationTest, TakenIdentifiersAreReplacedAndReported) {
    ASSERT_TRUE(store_->real().addContainer({"WORK", "Work", ContainerType::cardDAV}));
    Contact elsewhere = Contact::makeNew();
    elsewhere.identifier = "uid-elsewhere";
    elsewhere.givenName = "Someone";
    add(elsewhere, "WORK");

    LogCapture log;
    const ImportSummary summary = run({
        card(person("Ada", "Lovelace", "uid-twice"), true, "/a.vcf", 1),
        card(person("Ada", "King", "uid-twice"), true, "/a.vcf", 2),
        card(person("Grace", "Hopper", "uid-elsewhere"), true, "/b.vcf", 1),
    });

    const auto contacts = saved();
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(contacts[0].identifier, "uid-twice");
    EXPECT_NE(contacts[1].identifier, "uid-twice");
    EXPECT_NE(contacts[2].identifier, "uid-elsewhere");
    EXPECT_EQ(contacts[2].givenName, "Grace");
    EXPECT_EQ(test::savedContacts(*store_, "WORK"), std::vector<Contact>{elsewhere});
    EXPECT_EQ(summary.identifiersReplaced, 2u);
    EXPECT_EQ(summary.warnings,
              (std::vector<ImportWarning>{
                  {2, "UID", "uid-twice", std::string(kProblemIdentifierInUse), "a.vcf"},
                  {1, "UID", "uid-elsewhere", std::string(kProblemIdentifierInUse), "b.vcf"}}));
    EXPECT_TRUE(
        log.contains("vCard 1 of /b.vcf: the identifier uid-elsewhere is in use; the "
                     "contact gets the identifier " +
                     contacts[2].identifier));
    EXPECT_EQ(
        delegate_->warnings,
        std::vector<std::string>{"2 vCards had an identifier already in use and got a new one"});
}

// Importing the same cards again: the first import's contacts are the old duplicates, the
// second's the new ones, which had to take fresh identifiers.
TEST_F(VCardImportOperationTest, SecondImportOfTheSameCardsSetsBothKindsOfDuplicatesAside) {
    options_.detectDuplicates = options_.detectNewDuplicates = true;
    const std::vector<ScannedVCard> cards = {
        card(person("Ada", "Lovelace", "ada-1")),
        card(person("Grace", "Hopper", "grace-1"), true, "/home/ada/friends.vcf", 2),
        card("UID:nameless-1\r\nEMAIL:x@y.org\r\n", true, "/home/ada/friends.vcf", 3),
    };
    const ImportSummary first = run(cards);
    EXPECT_EQ(first.identifiersReplaced, 0u);
    EXPECT_EQ(first.oldDuplicates + first.newDuplicates, 0u);

    const ImportSummary second = run(cards);
    EXPECT_EQ(second.contactsSaved, 3u);
    EXPECT_EQ(second.identifiersReplaced, 3u);
    EXPECT_EQ(second.oldDuplicates, 2u);
    EXPECT_EQ(second.newDuplicates, 2u);
    const std::vector<std::string> both = {"Ada Lovelace", "Grace Hopper"};
    EXPECT_EQ(members("OLD DUPLICATES"), both);
    EXPECT_EQ(members("NEW DUPLICATES"), both);
    // The old duplicates are the contacts with the cards' own identifiers.
    std::string oldGroup;
    const auto groups = store_->groups(local()).value();
    for (const Group& group : groups)
        if (group.name == "OLD DUPLICATES") oldGroup = group.identifier;
    std::set<std::string> oldMembers;
    const auto memberships = store_->groupMemberships(local()).value();
    for (const auto& [contact, groupsOfContact] : memberships) {
        if (std::find(groupsOfContact.begin(), groupsOfContact.end(), oldGroup) !=
            groupsOfContact.end())
            oldMembers.insert(contact);
    }
    EXPECT_EQ(oldMembers, (std::set<std::string>{"ada-1", "grace-1"}));
    EXPECT_EQ(saved().size(), 6u);
}

// Cancelling keeps the chunks saved before; the chunk being built is not saved.
TEST_F(VCardImportOperationTest, CancelKeepsTheChunksSavedBefore) {
    struct Case {
        const char* when;
        bool whileDuplicatesAreChecked;  // else while identifiers are checked
        int lookup;
        std::size_t saved;
    };
    const Case cases[] = {
        {"before chunk 3 is saved", true, 5, 1000},  // two duplicate lookups per chunk
        {"between the cards of chunk 2", false, 2, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        openStore(std::string(c.when) + ".sqlite");
        options_.selectedContainerID = local();
        options_.detectDuplicates = options_.detectNewDuplicates = true;
        delegate_ = std::make_shared<RecordingDelegate>();
        int lookups = 0;
        const auto cancelAt = [&] {
            if (++lookups == c.lookup) operation_->cancel();
        };
        if (c.whileDuplicatesAreChecked)
            store_->beforeDuplicateLookup = cancelAt;
        else
            store_->beforeIdentifierLookup = cancelAt;
        const ImportSummary summary = run(people(1200));
        EXPECT_EQ(saved().size(), c.saved);
        EXPECT_TRUE(summary.cancelled);
        EXPECT_EQ(delegate_->finished, 0);
        EXPECT_TRUE(delegate_->failures.empty());
    }
}

TEST_F(VCardImportOperationTest, StoreFailureEndsTheImportAndKeepsSavedChunks) {
    int contactRequests = 0;
    store_->beforeExecute = [&](const SaveRequest& request) {
        if (!request.addedContacts().empty() && ++contactRequests == 2)
            store_->real().failAfterWrites(250);
    };
    LogCapture log;
    const ImportSummary summary = run(people(1200));
    EXPECT_TRUE(summary.failed);
    EXPECT_EQ(saved().size(), 500u);
    EXPECT_TRUE(store_->real().checkIntegrity());
    ASSERT_EQ(delegate_->failures.size(), 1u);
    EXPECT_EQ(delegate_->failures[0].kind, ImportOperationError::Kind::store);
    EXPECT_EQ(delegate_->finished, 0);
    EXPECT_TRUE(log.contains("An error occurred while executing a contacts save request: "));
}

TEST_F(VCardImportOperationTest, ExceptionNamesTheFileOfTheCardBeingImported) {
    store_->beforeExecute = [&](const SaveRequest& request) {
        if (!request.addedContacts().empty()) throw std::runtime_error("the disk went away");
    };
    const ImportSummary summary = run({card(person("Ada", "Lovelace"), true, "/cards/a.vcf")});
    EXPECT_TRUE(summary.failed);
    ASSERT_EQ(delegate_->failures.size(), 1u);
    EXPECT_EQ(delegate_->failures[0].kind, ImportOperationError::Kind::internalFailure);
    EXPECT_EQ(delegate_->failures[0].file, "/cards/a.vcf");
}

TEST_F(VCardImportOperationTest, MissingContainerFailsAndNoContainerSettingDoesNothing) {
    options_.selectedContainerID = "NO-SUCH-CONTAINER";
    run(people(2));
    ASSERT_EQ(delegate_->failures.size(), 1u);
    EXPECT_EQ(delegate_->failures[0].kind, ImportOperationError::Kind::containerNotFound);

    options_.selectedContainerID.reset();
    delegate_ = std::make_shared<RecordingDelegate>();
    run(people(2));
    EXPECT_EQ(delegate_->started, 0);
    EXPECT_TRUE(delegate_->failures.empty());
    EXPECT_TRUE(saved().empty());
}

// The journal names every file of the cards and records the identifiers the contacts were
// saved with, a replaced UID's new one included, and the group the cards' CATEGORIES made.
TEST_F(VCardImportOperationTest, TheJournalRecordsEveryFileAndTheIdentifiersSaved) {
    add(Contact::makeNew(), local());
    const std::string taken = saved().at(0).identifier;
    journal_ = std::make_shared<ImportJournal>(directory_.path() / "imports");
    options_.addTextToNotes = true;
    std::vector<ScannedVCard> cards = people(600);
    cards.push_back(card(person("Ada", "Lovelace", taken), true, "/cards/more.vcf", 1, {"Club"}));
    run(std::move(cards), {"Club"}, {"TRANSNUM"});

    const auto entries = journal_->entries();
    ASSERT_EQ(entries.size(), 1u);
    const ImportRecord& record = entries[0];
    EXPECT_EQ(record.files,
              (std::vector<std::filesystem::path>{"/cards/all.vcf", "/cards/more.vcf"}));
    std::vector<Contact> contacts = saved();
    contacts.erase(contacts.begin());
    ASSERT_EQ(contacts.size(), 601u);
    std::vector<std::string> identifiers;
    for (const Contact& contact : contacts) identifiers.push_back(contact.identifier);
    EXPECT_EQ(record.contacts, identifiers);
    EXPECT_NE(record.contacts.back(), taken);
    EXPECT_EQ(contacts.back().note, record.number);
    ASSERT_EQ(record.createdGroups.size(), 1u);
    EXPECT_EQ(store_->groups(local()).value().at(0).identifier, record.createdGroups[0]);
}

}  // namespace
}  // namespace pelkora
