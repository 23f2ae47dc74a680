// The import page as a user drives it: where the rows go, the options, the import and its
// outcome.

#include <gtest/gtest.h>

#include <functional>

#include "SessionTestSupport.h"
#include "addressbook/ContactFormatter.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "session/FieldMappingPage.h"
#include "session/ImportPage.h"
#include "session/ImportsWindowModel.h"
#include "session/SettingsKeys.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;
using test::SessionFixture;

class ImportPageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto opened = SqliteContactStore::open(fixture.folder.path() / "book.sqlite");
        ASSERT_TRUE(opened);
        store = std::move(*opened);
        fixture.session.setContactStore(store);
    }

    ImportPage& openImportPage(std::string_view content,
                               const std::function<void(FieldMappingPage&)>& onMapping = {}) {
        fixture.launch();
        (void)fixture.session.openFiles(
            {fixture.file("people.csv", std::string("\xEF\xBB\xBF") + std::string(content))});
        EXPECT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
        auto* mapping = dynamic_cast<FieldMappingPage*>(fixture.session.currentPage());
        if (!mapping) throw std::runtime_error("the mapping page is not shown");
        MainQueue::shared().runUntil([&] { return !mapping->isMapping(); },
                                     std::chrono::seconds(30));
        if (onMapping) onMapping(*mapping);
        mapping->continueAction(fixture.session);
        EXPECT_TRUE(fixture.runUntilPage("ImportViewController"));
        auto* page = dynamic_cast<ImportPage*>(fixture.session.currentPage());
        if (!page) throw std::runtime_error("the import page is not shown");
        return *page;
    }

    test::ScopedXdgHome xdg;
    SessionFixture fixture;
    std::shared_ptr<SqliteContactStore> store;
};

TEST_F(ImportPageTest, ContainersAreSortedByTypeThenNameWithTheDefaultPreselected) {
    ASSERT_TRUE(store->addContainer({"CARD-B", "b work", ContainerType::cardDAV}));
    ASSERT_TRUE(store->addContainer({"CARD-A", "A Private", ContainerType::cardDAV}));
    ASSERT_TRUE(store->addContainer({"LOCAL-2", "Archive", ContainerType::local}));
    auto& page = openImportPage("Name,Phone\nAda,1\n");

    const std::string local = store->defaultContainerIdentifier();
    EXPECT_EQ(page.containerMenu(),
              (std::vector<ContainerMenuItem>{{false, "Archive", "LOCAL-2"},
                                              {false, "Local Address Book", local},
                                              {true, "", ""},
                                              {false, "A Private", "CARD-A"},
                                              {false, "b work", "CARD-B"}}));
    // Without a stored choice the default container is stored and selected.
    EXPECT_EQ(page.selectedContainerIdentifier(), local);
    EXPECT_EQ(fixture.settings.stringForKey("SelectedContainerID"), local);
    page.selectContainer(fixture.session, "CARD-A");
    EXPECT_EQ(fixture.settings.stringForKey("SelectedContainerID"), "CARD-A");
    EXPECT_EQ(ImportPage::noAccountsText(), "No accounts found");
}

std::size_t countIn(ContactStore& book, const std::string& container) {
    std::size_t count = 0;
    EXPECT_TRUE(book.enumerateContacts(container, [&](const Contact&) {
        ++count;
        return true;
    }));
    return count;
}

// Books offered besides the session's: "" is the session's own, "work" another SQLite book,
// "gone" one that cannot be opened.
class TwoBooks final : public StoreDirectory {
  public:
    TwoBooks(std::shared_ptr<ContactStore> own, std::shared_ptr<ContactStore> work)
        : own_(std::move(own)), work_(std::move(work)) {}
    std::vector<StoreChoice> choices() const override {
        return {{"", "Own book"}, {"work", "Work"}, {"gone", "Gone"}};
    }
    Expected<std::shared_ptr<ContactStore>, std::string> open(const std::string& key) override {
        ++opened;
        if (key.empty()) return own_;
        if (key == "work") return work_;
        return Unexpected(std::string("the server could not be reached"));
    }
    int opened = 0;

  private:
    std::shared_ptr<ContactStore> own_, work_;
};

TEST_F(ImportPageTest, ContainersOfEveryBookAndChoosingOneSwitchesTheBookImportsGoTo) {
    auto work = SqliteContactStore::open(fixture.folder.path() / "work.sqlite");
    ASSERT_TRUE(work);
    std::shared_ptr<SqliteContactStore> workBook = std::move(*work);
    ASSERT_TRUE(workBook->addContainer({"TEAM", "Team", ContainerType::local}));
    auto directory = std::make_shared<TwoBooks>(store, workBook);
    fixture.session.setStoreDirectory(directory);
    auto& page = openImportPage("Name,Phone\nAda,1\nGrace,2\n");

    const std::string own = store->defaultContainerIdentifier();
    const std::string workDefault = workBook->defaultContainerIdentifier();
    std::vector<std::string> shown;
    for (const auto& item : page.containerMenu()) {
        if (!item.isSeparator)
            shown.push_back((item.isHeading ? "# " : "") + item.title + " [" + item.storeKey + "]");
    }
    EXPECT_EQ(shown,
              (std::vector<std::string>{"# Own book []", "Local Address Book []", "# Work [work]",
                                        "Local Address Book [work]", "Team [work]",
                                        "# Gone (cannot be used now) [gone]"}));
    EXPECT_EQ(page.selectedContainerIdentifier(), own);

    // A book that cannot be opened: the alert, and imports still go where they went.
    page.selectContainer(fixture.session, "X", std::string("gone"));
    ASSERT_FALSE(fixture.frontEnd.alerts.empty());
    EXPECT_EQ(fixture.frontEnd.alerts.back().heading, "The address book cannot be used.");
    EXPECT_EQ(fixture.frontEnd.alerts.back().text, "the server could not be reached");
    EXPECT_EQ(fixture.session.contactStore(), store);
    EXPECT_EQ(fixture.settings.stringForKey("SelectedContainerID"), own);

    // The other book's container: the session imports there, now and at the next start.
    page.selectContainer(fixture.session, "TEAM", std::string("work"));
    EXPECT_EQ(fixture.session.contactStore(), workBook);
    EXPECT_EQ(fixture.settings.stringForKey("ContactStore"), "work");
    EXPECT_EQ(fixture.settings.stringForKey("SelectedContainerID"), "TEAM");
    EXPECT_EQ(page.selectedContainerIdentifier(), "TEAM");
    EXPECT_EQ(page.selectedStoreKey(fixture.session), "work");

    ASSERT_TRUE(page.startImport(fixture.session));
    MainQueue::shared().runUntil([&] { return page.summary().has_value(); },
                                 std::chrono::seconds(30));
    EXPECT_EQ(page.summary()->contactsSaved, 2u);
    EXPECT_EQ(countIn(*workBook, "TEAM"), 2u);
    EXPECT_EQ(countIn(*workBook, workDefault), 0u);
    EXPECT_EQ(countIn(*store, own), 0u);

    // Back to the own book, whose setting is no setting.
    page.selectContainer(fixture.session, own, std::string());
    EXPECT_EQ(fixture.session.contactStore(), store);
    EXPECT_FALSE(fixture.settings.stringForKey("ContactStore"));
}

TEST_F(ImportPageTest, ARecordedImportIsUndoneFromTheImportsWindowAfterSayingWhatGoes) {
    const auto journalFolder = fixture.folder.path() / "imports";
    fixture.session.setImportJournal(std::make_shared<ImportJournal>(journalFolder));
    auto& page =
        openImportPage("First Name,Last Name,Groups\nAda,Lovelace,Math\nAlan,Turing,Math\n");
    ASSERT_TRUE(page.startImport(fixture.session));
    MainQueue::shared().runUntil([&] { return page.summary().has_value(); },
                                 std::chrono::seconds(30));
    const std::string container = store->defaultContainerIdentifier();
    ASSERT_EQ(countIn(*store, container), 2u);

    ImportsWindowModel imports(fixture.session);
    ASSERT_EQ(imports.rows().size(), 1u);
    const RecordedImportRow& row = imports.rows().front();
    EXPECT_EQ(row.files, "people.csv");
    EXPECT_EQ(row.contacts, 2u);
    EXPECT_TRUE(row.undoable);
    EXPECT_EQ(row.state, "Can be undone");
    EXPECT_NE(row.destination.find(store->location()), std::string::npos);

    // Asked first: what goes, and the group the import made.
    auto question = imports.prepareUndo(0);
    ASSERT_TRUE(question) << question.error();
    EXPECT_EQ(question->heading.rfind("Remove 2 contacts imported from people.csv on ", 0), 0u);
    EXPECT_NE(question->text.find("The groups it made go too: “Math”"), std::string::npos)
        << question->text;
    EXPECT_EQ(countIn(*store, container), 2u);  // nothing changed by asking

    auto outcome = imports.undoPrepared();
    ASSERT_TRUE(outcome) << outcome.error();
    EXPECT_EQ(*outcome, "2 contacts removed.");
    EXPECT_EQ(countIn(*store, container), 0u);
    auto groups = store->groups(container);
    ASSERT_TRUE(groups);
    EXPECT_TRUE(groups->empty());
    EXPECT_FALSE(imports.rows().front().undoable);
    EXPECT_EQ(imports.rows().front().state.rfind("Undone on ", 0), 0u);

    // Once only; and without a prepared plan nothing happens.
    auto again = imports.prepareUndo(0);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().rfind("This import was undone on ", 0), 0u);
    EXPECT_FALSE(imports.undoPrepared());
    EXPECT_EQ(ImportsWindowModel(fixture.session).rows().front().undoable, false);
}

TEST_F(ImportPageTest, ModeTokensAndVCardDestinationsFollowTheSettings) {
    fixture.settings.set("ImportMode", std::string("vCard"));
    auto& page = openImportPage("Name,Phone\nAda,1\n");
    EXPECT_EQ(page.headerText(),
              "Records can be imported into the address book or saved as vCard.");
    EXPECT_EQ(page.mode(), ImportModeTag::vCards);
    page.setMode(fixture.session, ImportModeTag::contacts);
    EXPECT_EQ(fixture.settings.stringForKey("ImportMode"), "Contacts");
    EXPECT_EQ(page.buttonTitle(), "Import");

    // The token field starts from the registered default and is stored when edited.
    EXPECT_EQ(page.textTokens().front(), "Import# ");
    page.setTextTokens(fixture.session, {"FILE", "DATE"});
    EXPECT_EQ(fixture.settings.stringArrayForKey("TextToNotesTokens"),
              (std::vector<std::string>{"FILE", "DATE"}));

    const auto group = std::get<VCardSavePanel>(page.vCardDestinationRequest(fixture.session));
    EXPECT_EQ(group.directory, fixture.folder.path());
    EXPECT_EQ(group.proposedFileName, "people.vcf");
    fixture.settings.set("VCardFormat", std::string("Individual"));
    const auto folder = std::get<VCardFolderChooser>(page.vCardDestinationRequest(fixture.session));
    EXPECT_EQ(folder.message, "Select the folder where the vCards should be saved.");
    fixture.settings.set("VCardFormat", std::string("Stack"));
    test::LogCapture log;
    EXPECT_TRUE(
        std::holds_alternative<std::monostate>(page.vCardDestinationRequest(fixture.session)));
    EXPECT_TRUE(log.contains("Can't create vCards: vCard format not provided!"));
}

TEST_F(ImportPageTest, ImportRunsWithTheSheetAndEndsWithTheDoneAlert) {
    auto& page =
        openImportPage("First Name,Last Name,Groups\nAda,Lovelace,Math\nAlan,Turing,Math\n");
    page.setTextTokens(fixture.session, {"FILE"});
    const int sheetsBefore = fixture.frontEnd.sheetsShown;
    ASSERT_TRUE(page.startImport(fixture.session));
    EXPECT_EQ(fixture.session.currentProgress()->localizedDescription(),
              "Importing records into the address book…");
    MainQueue::shared().runUntil([&] { return page.summary().has_value(); },
                                 std::chrono::seconds(30));

    EXPECT_EQ(fixture.frontEnd.sheetsShown, sheetsBefore + 1);
    EXPECT_FALSE(fixture.session.isProgressSheetShown());
    ASSERT_FALSE(fixture.frontEnd.alerts.empty());
    EXPECT_EQ(fixture.frontEnd.alerts.back().heading, "Import done.");
    EXPECT_EQ(fixture.frontEnd.alerts.back().text,
              "The records have been imported into the address book.");
    EXPECT_EQ(page.summary()->contactsSaved, 2u);
    std::vector<std::string> notes;
    ASSERT_TRUE(
        store->enumerateContacts(store->defaultContainerIdentifier(), [&](const Contact& c) {
            notes.push_back(stringFromContact(c) + ": " + c.note);
            return true;
        }));
    EXPECT_EQ(notes,
              (std::vector<std::string>{"Ada Lovelace: people.csv", "Alan Turing: people.csv"}));
}

TEST_F(ImportPageTest, TheDoneAlertSaysWhatDidNotGoInAsItStood) {
    auto& page = openImportPage(
        "First Name,Last Name,Birthday\nAda,Lovelace,someday\nAlan,Turing,never\nGrace,Hopper,"
        "1906-12-09\n");
    ASSERT_TRUE(page.startImport(fixture.session));
    MainQueue::shared().runUntil([&] { return page.summary().has_value(); },
                                 std::chrono::seconds(30));
    ASSERT_FALSE(fixture.frontEnd.alerts.empty());
    EXPECT_EQ(
        fixture.frontEnd.alerts.back().text,
        "The records have been imported into the address book.\n2 values were not dates and went "
        "into the note.");
    ASSERT_EQ(page.summary()->warnings.size(), 2u);
    EXPECT_EQ(page.summary()->warnings[1],
              (ImportWarning{3, "Birthday", "never", "not a date", ""}));
}

TEST_F(ImportPageTest, AFirstRowWithoutTitlesIsImportedAndExported) {
    auto& page = openImportPage("Ada,Lovelace\nAlan,Turing\n", [&](FieldMappingPage& mapping) {
        mapping.setFirstRowContainsColumnHeaders(fixture.session, false);
    });
    ASSERT_TRUE(page.startImport(fixture.session));
    MainQueue::shared().runUntil([&] { return page.summary().has_value(); },
                                 std::chrono::seconds(30));
    EXPECT_EQ(page.summary()->rowsToImport, 2u);
    EXPECT_EQ(page.summary()->contactsSaved, 2u);

    const auto out = fixture.folder.path() / "out.vcf";
    ASSERT_TRUE(page.startExport(fixture.session, ImportPage::VCardFormat::group, out));
    MainQueue::shared().runUntil([&] { return page.hasEnded(); }, std::chrono::seconds(30));
    ASSERT_TRUE(page.outcome()) << "no outcome";
    EXPECT_EQ(page.outcome()->heading, "vCards saved.") << page.outcome()->text;
    const std::string written = test::readFile(out);
    std::size_t cards = 0;
    for (auto at = written.find("BEGIN:VCARD"); at != std::string::npos;
         at = written.find("BEGIN:VCARD", at + 1))
        ++cards;
    EXPECT_EQ(cards, 2u);
    EXPECT_NE(written.find("Ada"), std::string::npos);
}

TEST_F(ImportPageTest, AnExportOntoTheFileBeingReadIsRefusedWhateverItsName) {
    auto& page = openImportPage("Name,Phone\nAda,1\n");
    const auto source = fixture.folder.path() / "people.csv";
    const std::string before = test::readFile(source);
    const auto link = fixture.folder.path() / "link.vcf";
    std::filesystem::create_symlink(source, link);
    for (const auto& destination : {source, link}) {
        EXPECT_FALSE(
            page.startExport(fixture.session, ImportPage::VCardFormat::group, destination));
        ASSERT_FALSE(fixture.frontEnd.alerts.empty());
        EXPECT_EQ(fixture.frontEnd.alerts.back().heading, "The vCards were not saved.");
    }
    EXPECT_EQ(test::readFile(source), before);
    EXPECT_FALSE(page.isImporting());
}

TEST_F(ImportPageTest, MissingContainerEndsWithTheFailureAlert) {
    auto& page = openImportPage("Name,Phone\nAda,1\n");
    page.selectContainer(fixture.session, "GONE");
    ASSERT_TRUE(page.startImport(fixture.session));
    MainQueue::shared().runUntil([&] { return page.summary().has_value(); },
                                 std::chrono::seconds(30));
    ASSERT_FALSE(fixture.frontEnd.alerts.empty());
    EXPECT_EQ(fixture.frontEnd.alerts.back().heading, "The import operation did fail.");
    EXPECT_EQ(fixture.frontEnd.alerts.back().text,
              "Please try another account to import the records into. Technical reason: The "
              "container with the specified identifier could not be found.");
    EXPECT_EQ(ImportPage::failureOutcome({ImportOperationError::Kind::store, "disk full"}).text,
              "An error occurred during the import operation. The address book reported: disk "
              "full");
    // A broken-off operation's own sentence is shown as it is, not as the system's message.
    EXPECT_EQ(ImportPage::failureOutcome({ImportOperationError::Kind::internalFailure,
                                          "The import of “/x.csv” stopped on an unexpected error."})
                  .text,
              "The import of “/x.csv” stopped on an unexpected error.");
    EXPECT_EQ(ImportPage::progressAdditionalDescription(3, 10), "Processed record 3 of 10…");
}

TEST_F(ImportPageTest, ASavedMappingByNameMapsAFileOfOtherColumnOrderAndCase) {
    fixture.session.setSavedMappingStore(
        std::make_unique<SavedMappingStore>(fixture.folder.path() / "SavedMappings"));
    auto& mappings = fixture.session.savedMappingStore();
    SavedMapping saved;
    saved.title = "Shop";
    for (auto [title, key] : {std::pair{"Kundennr", ContactKey::nickname},
                              std::pair{"Nachname", ContactKey::familyName},
                              std::pair{"Vorname", ContactKey::givenName}}) {
        MappedContactProperty entry;
        entry.sourceFieldName = title;
        entry.contactProperty = SuggestedContactProperty::target(key);
        saved.mappedContactProperties.push_back(entry);
    }
    ASSERT_TRUE(mappings.save(saved));

    std::size_t taken = 0;
    auto& page =
        openImportPage("VORNAME,E-mail,kundennr,nachname\nAda,ada@example.org,K-17,Lovelace\n",
                       [&](FieldMappingPage& mapping) {
                           taken = mapping.applySavedMapping(fixture.session, saved.uuid);
                       });
    EXPECT_EQ(taken, 3u);
    const auto& list = fixture.session.mappedContactProperties();
    EXPECT_EQ(list[0].contactProperty.propertyKey, std::string(ContactKey::givenName));
    EXPECT_EQ(list[1].contactProperty.propertyKey, std::string(ContactKey::emailAddresses));
    EXPECT_FALSE(list[1].isCustomMapping);  // no saved partner: the automatic target stays
    EXPECT_EQ(list[2].contactProperty.propertyKey, std::string(ContactKey::nickname));
    EXPECT_TRUE(list[2].isCustomMapping);
    EXPECT_EQ(list[3].contactProperty.propertyKey, std::string(ContactKey::familyName));
    EXPECT_EQ(SavedMappingStore(mappings.file()).findByUuid(saved.uuid)->usageCount, 1);

    ASSERT_TRUE(page.startImport(fixture.session));
    MainQueue::shared().runUntil([&] { return page.summary().has_value(); },
                                 std::chrono::seconds(30));
    std::vector<Contact> contacts;
    ASSERT_TRUE(
        store->enumerateContacts(store->defaultContainerIdentifier(), [&](const Contact& c) {
            contacts.push_back(c);
            return true;
        }));
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(stringFromContact(contacts[0]), "Ada Lovelace");
    EXPECT_EQ(contacts[0].nickname, "K-17");
    ASSERT_EQ(contacts[0].emailAddresses.size(), 1u);
    EXPECT_EQ(contacts[0].emailAddresses[0].value, "ada@example.org");
}

}  // namespace
}  // namespace pelkora
