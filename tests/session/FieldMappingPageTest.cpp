// The field-mapping page as a user drives it: automatic mapping, corrections, learning.

#include <gtest/gtest.h>

#include "SessionTestSupport.h"
#include "addressbook/ContactKeys.h"
#include "mapping/StringMap.h"
#include "session/FieldMappingPage.h"
#include "session/SettingsKeys.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;
using test::SessionFixture;

const std::filesystem::path kGermanExport =
    std::filesystem::path(PELKORA_TEST_DATA_DIR) / "exports" / "german-addresses.csv";

class FieldMappingPageTest : public ::testing::Test {
  protected:
    FieldMappingPage& openMappingPage(std::string_view content) {
        fixture.launch();
        (void)fixture.session.openFiles(
            {fixture.file("people.csv", std::string("\xEF\xBB\xBF") + std::string(content))});
        EXPECT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
        auto* page = dynamic_cast<FieldMappingPage*>(fixture.session.currentPage());
        if (!page) throw std::runtime_error("the mapping page is not shown");
        MainQueue::shared().runUntil([&] { return !page->isMapping(); }, std::chrono::seconds(30));
        return *page;
    }
    const std::vector<MappedContactProperty>& list() {
        return fixture.session.mappedContactProperties();
    }
    std::optional<TargetMenuItem> item(FieldMappingPage& page, std::size_t row,
                                       std::string_view key, std::size_t selected = 1) {
        for (const auto& entry : page.targetMenu(fixture.session, row, selected)) {
            if (entry.kind == TargetMenuItem::Kind::property &&
                entry.representedEntry.propertyKey == std::string(key) &&
                !entry.representedEntry.propertySubKey) {
                return entry;
            }
        }
        return std::nullopt;
    }

    // Saved mappings go to a file of the test's own.
    SavedMappingStore& useOwnMappingStore() {
        fixture.session.setSavedMappingStore(
            std::make_unique<SavedMappingStore>(fixture.folder.path() / "SavedMappings"));
        return fixture.session.savedMappingStore();
    }

    test::ScopedXdgHome xdg;  // learnt titles go to a private folder
    SessionFixture fixture;
};

TEST_F(FieldMappingPageTest, ColumnsAreMappedWhenThePageOpens) {
    auto& page = openMappingPage(
        "First Name,Last Name,Mobile,E-mail,Shoe size\nAda,Lovelace,+44 1,ada@example.org,38\n");
    ASSERT_EQ(list().size(), 5u);
    EXPECT_EQ(list()[0].contactProperty.propertyKey, std::string(ContactKey::givenName));
    EXPECT_EQ(list()[2].contactProperty.propertyKey, std::string(ContactKey::phoneNumbers));
    EXPECT_EQ(list()[2].contactProperty.label(), std::string(Label::mobile));
    EXPECT_EQ(list()[0].sourceFieldContent, "Ada");
    EXPECT_EQ(list()[0].formattedColumnIndex, "1");
    // A column without a target goes to the note.
    EXPECT_EQ(list()[4].contactProperty.propertyKey,
              std::string(CustomPropertyKeys::AdditionalNote));
    EXPECT_EQ(page.totalRecords(), 1);
    EXPECT_EQ(page.currentRecordIndex(), 1);
    EXPECT_EQ(fixture.session.detectedLanguage(), "en");

    // The note after the automatic run, until the user turns it off or maps again by hand.
    ASSERT_TRUE(page.mappingHint(fixture.session));
    EXPECT_EQ(page.mappingHint(fixture.session)->first.rfind("Auto-mapping did complete.", 0), 0u);
    page.mapFields(fixture.session);
    MainQueue::shared().runUntil([&] { return !page.isMapping(); }, std::chrono::seconds(30));
    EXPECT_FALSE(page.mappingHint(fixture.session));
    page.suppressMappingHint(fixture.session);
    EXPECT_FALSE(fixture.settings.boolForKey("ShowMappingHint"));
}

TEST_F(FieldMappingPageTest, HeaderCheckboxAndRecordNavigation) {
    auto& page = openMappingPage("Name,Phone\nAda,1\nBob,2\nCy,3\n");
    EXPECT_EQ(page.totalRecords(), 3);
    page.showNextRecord(fixture.session);
    page.showNextRecord(fixture.session);
    page.showNextRecord(fixture.session);  // stays on the last record
    EXPECT_EQ(page.currentRecordIndex(), 3);
    EXPECT_EQ(list()[0].sourceFieldContent, "Cy");
    for (int step = 0; step < 5; ++step) page.showPreviousRecord(fixture.session);
    EXPECT_EQ(page.currentRecordIndex(), 1);  // never onto the header
    EXPECT_EQ(list()[0].sourceFieldContent, "Ada");
    page.showLastRecord(fixture.session);
    EXPECT_EQ(page.currentRecordIndex(), 3);
    EXPECT_EQ(list()[0].sourceFieldContent, "Cy");
    page.showFirstRecord(fixture.session);
    EXPECT_EQ(page.currentRecordIndex(), 1);  // the record after the header
    EXPECT_EQ(list()[0].sourceFieldContent, "Ada");

    page.setFirstRowContainsColumnHeaders(fixture.session, false);
    EXPECT_FALSE(page.firstRowContainsColumnHeaders());
    EXPECT_EQ(page.totalRecords(), 4);
    EXPECT_EQ(list()[0].sourceFieldName, "");
    EXPECT_EQ(list()[0].sourceFieldContent, "Name");
    page.showLastRecord(fixture.session);
    EXPECT_EQ(page.currentRecordIndex(), 4);
    page.showFirstRecord(fixture.session);
    EXPECT_EQ(page.currentRecordIndex(), 1);  // the first row, without a header
    EXPECT_EQ(list()[0].sourceFieldContent, "Name");
}

TEST_F(FieldMappingPageTest, SingleValuedTargetsAreMarkedInUseAndLabelsKeptWhenTheyFit) {
    auto& page = openMappingPage("First Name,Nickname,Work Phone,Fax\nAda,Lady,1,2\n");
    // The first column's target shows "(in use)" in the menu of the second column.
    const auto givenName = item(page, 1, ContactKey::givenName);
    ASSERT_TRUE(givenName);
    EXPECT_FALSE(FieldMappingPage::isEnabled(*givenName));
    EXPECT_NE(givenName->title.find("(in use)"), std::string::npos);
    const auto phone = item(page, 1, ContactKey::phoneNumbers);
    ASSERT_TRUE(phone);
    EXPECT_TRUE(FieldMappingPage::isEnabled(*phone));  // phones allow several columns
    const auto severalSelected = item(page, 0, ContactKey::note, 2);
    EXPECT_NE(severalSelected->title.find("(not applicable)"), std::string::npos);

    // Choosing e-mail for the work-phone column keeps "work", which e-mail labels include.
    page.contactPropertyDidChange(fixture.session, 2, *item(page, 2, ContactKey::emailAddresses));
    EXPECT_EQ(list()[2].contactProperty.propertyKey, std::string(ContactKey::emailAddresses));
    EXPECT_EQ(list()[2].contactProperty.label(), std::string(Label::work));
    EXPECT_TRUE(list()[2].mappedManuallyByUser);
    // A label that the new key lacks becomes its preferred label.
    page.contactLabelDidChange(fixture.session, 3, std::string(Label::pager));
    page.contactPropertyDidChange(fixture.session, 3, *item(page, 3, ContactKey::urlAddresses));
    EXPECT_EQ(list()[3].contactProperty.label(), std::string(Label::homePage));

    // Ignore clears the target.
    for (const auto& entry : page.targetMenu(fixture.session, 1, 1)) {
        if (entry.kind == TargetMenuItem::Kind::ignore)
            page.contactPropertyDidChange(fixture.session, 1, entry);
    }
    EXPECT_FALSE(list()[1].contactProperty.propertyKey);
    EXPECT_EQ(page.filteredRows(fixture.session, "PHÔNE"), std::vector<std::size_t>{2});
}

TEST_F(FieldMappingPageTest, LabelMenuOffersSystemExtractAndSessionLabels) {
    auto& page = openMappingPage("Name,Phone (car),Mother\nAda,1,Ann\n");
    page.contactLabelDidChange(fixture.session, 1, "Boat");
    const auto menu = page.labelMenu(fixture.session, 1);
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu.front().label, Label::work);
    auto has = [&](const std::vector<LabelMenuItem>& items, LabelMenuItem::Kind kind) {
        return std::any_of(items.begin(), items.end(),
                           [&](const LabelMenuItem& entry) { return entry.kind == kind; });
    };
    EXPECT_TRUE(has(menu, LabelMenuItem::Kind::extractFromField));
    EXPECT_TRUE(has(menu, LabelMenuItem::Kind::newCustomLabel));
    EXPECT_EQ(list()[1].contactProperty.label(), "Boat");
    EXPECT_TRUE(has(menu, LabelMenuItem::Kind::customLabel));  // "Boat" is in use in this session

    page.contactPropertyDidChange(fixture.session, 2, *item(page, 2, ContactKey::contactRelations));
    const auto relations = page.labelMenu(fixture.session, 2);
    EXPECT_TRUE(has(relations, LabelMenuItem::Kind::toggleExtendedRelationships));
    const auto countOf = [&](const std::vector<LabelMenuItem>& items) {
        return std::count_if(items.begin(), items.end(), [](const LabelMenuItem& entry) {
            return entry.kind == LabelMenuItem::Kind::systemLabel;
        });
    };
    const auto hidden = countOf(relations);
    page.toggleShowExtendedRelevantRelationships(fixture.session);
    EXPECT_EQ(countOf(page.labelMenu(fixture.session, 2)), hidden + 179);
    page.contactLabelDidChange(fixture.session, 2, std::string(RelationLabel::grandmother));
    page.toggleShowExtendedRelevantRelationships(fixture.session);
    EXPECT_EQ(list()[2].contactProperty.label(), std::string(Label::other));
}

TEST_F(FieldMappingPageTest, LabelMenuLeavesOutDeviceLabelsButTheOneInUse) {
    auto& page = openMappingPage("Name,Phone,E-mail\nAda,1,ada@example.com\n");
    const auto labelsOf = [&](std::size_t row) {
        std::vector<std::string> labels;
        for (const auto& entry : page.labelMenu(fixture.session, row)) {
            if (entry.kind == LabelMenuItem::Kind::systemLabel) labels.push_back(entry.label);
        }
        return labels;
    };
    const auto offers = [&](std::size_t row, std::string_view label) {
        const auto labels = labelsOf(row);
        return std::find(labels.begin(), labels.end(), label) != labels.end();
    };
    ASSERT_TRUE(offers(1, Label::mobile));
    EXPECT_FALSE(offers(1, Label::iPhone));
    EXPECT_FALSE(offers(1, Label::appleWatch));
    ASSERT_TRUE(offers(2, Label::work));
    EXPECT_FALSE(offers(2, Label::iCloud));
    // A column that has such a label (from a saved mapping or a file) still shows it as chosen,
    // stored as it always was.
    page.contactLabelDidChange(fixture.session, 1, std::string(Label::iPhone));
    EXPECT_EQ(list()[1].contactProperty.label(), "iPhone");
    EXPECT_FALSE(list()[1].contactProperty.hasCustomLabel());
    EXPECT_TRUE(offers(1, Label::iPhone));
    EXPECT_FALSE(offers(1, Label::appleWatch));
}

TEST_F(FieldMappingPageTest, PreviewShowsTheRecordsContactAndFlagsDatesThatGiveNoDate) {
    auto& page = openMappingPage("First Name,Birthday\nAda,12.05.1979\nBob,sometime in May\n");
    ASSERT_TRUE(page.previewContact());
    EXPECT_EQ(page.previewContact()->givenName, "Ada");
    ASSERT_TRUE(page.previewContact()->birthday);
    EXPECT_EQ(page.previewContact()->birthday->year, 1979);
    EXPECT_TRUE(list()[1].mappingHints.empty());
    EXPECT_EQ(page.previewDocument().titleLines.front().text, "Ada");

    page.showNextRecord(fixture.session);
    EXPECT_EQ(page.previewContact()->givenName, "Bob");
    EXPECT_TRUE(list()[1].mappingHints.contains(MappingHint::inconvertibleDateString));
    EXPECT_EQ(list()[1].statusImageName(), "mapping-status-needs-attention");
}

TEST_F(FieldMappingPageTest, FullNameColumnFillsThePreviewAndIsNamedBesideTheNameParts) {
    auto& page = openMappingPage(
        "Name,Given Name,Family Name,E-mail\n"
        "Dr. Anna Maria Berg,,,anna@example.org\n"
        "Bob Lind,Robert,Lind,bob@example.org\n");
    ASSERT_EQ(list()[0].contactProperty.propertyKey, std::string(CustomPropertyKeys::FullName));
    ASSERT_TRUE(page.previewContact());
    EXPECT_EQ(page.previewContact()->namePrefix, "Dr.");
    EXPECT_EQ(page.previewContact()->givenName, "Anna");
    EXPECT_EQ(page.previewContact()->middleName, "Maria");
    EXPECT_EQ(page.previewContact()->familyName, "Berg");
    page.showNextRecord(fixture.session);
    EXPECT_EQ(page.previewContact()->givenName, "Robert");  // the name columns win
    EXPECT_NE(page.previewContact()->note.find("Bob Lind"), std::string::npos);

    const auto warnings = page.sharedTargetWarnings(fixture.session);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].kind, SharedTargetWarning::Kind::fullNameBesideNameParts);
    EXPECT_EQ(warnings[0].entries, (std::vector<std::size_t>{0, 1, 2}));
    // The warnings follow the user's corrections.
    for (const auto& entry : page.targetMenu(fixture.session, 0, 1)) {
        if (entry.kind == TargetMenuItem::Kind::ignore)
            page.contactPropertyDidChange(fixture.session, 0, entry);
    }
    EXPECT_TRUE(page.sharedTargetWarnings(fixture.session).empty());
}

TEST_F(FieldMappingPageTest, PreviewReadsDatesInTheColumnsOrderAndTakesNoDateAsEmpty) {
    // English titles would read month first; "25/12/1990" shows the column is day first.
    auto& page =
        openMappingPage("First Name,Birthday\nAda,03/04/1975\nBob,25/12/1990\nCleo,0/0/00\n");
    ASSERT_TRUE(page.previewContact());
    EXPECT_EQ(page.previewContact()->birthday, (DateComponents{1975, 4, 3, ""}));
    page.showNextRecord(fixture.session);
    page.showNextRecord(fixture.session);
    EXPECT_EQ(page.previewContact()->givenName, "Cleo");
    EXPECT_FALSE(page.previewContact()->birthday);
    EXPECT_TRUE(list()[1].mappingHints.empty());
}

TEST_F(FieldMappingPageTest, PreviewListsTheGroupsOfTheShownRecordOnly) {
    auto& page = openMappingPage("First Name,Categories\nAda,Friends; Chess\nBob,\n");
    ASSERT_EQ(list()[1].contactProperty.propertyKey, std::string(CustomPropertyKeys::Group));
    const auto groupsRow = [&]() -> std::optional<std::string> {
        for (const PreviewRow& row : page.previewDocument().rows)
            if (row.label == "Groups") return row.value;
        return std::nullopt;
    };
    EXPECT_EQ(groupsRow(), "Friends, Chess");

    page.showNextRecord(fixture.session);
    EXPECT_EQ(page.previewContact()->givenName, "Bob");
    EXPECT_EQ(groupsRow(), std::nullopt);
}

TEST_F(FieldMappingPageTest, ChosenLanguageMatchesTheTitlesAgainAndKeepsHandMadeAssignments) {
    // Vorname, Nachname, Straße, PLZ, Ort, Land
    auto& page = openMappingPage(test::readFile(kGermanExport));
    const auto languages = page.languages(fixture.session);
    const auto german = std::find_if(languages.begin(), languages.end(),
                                     [](const auto& language) { return language.code == "de"; });
    ASSERT_NE(german, languages.end());
    EXPECT_NE(german->name, "de");  // a name in the user's language, not the code
    const auto keys = [&] {
        std::vector<std::optional<std::string>> found;
        for (const auto& entry : list()) found.push_back(entry.contactProperty.propertyKey);
        return found;
    };

    page.setLanguage(fixture.session, "en");
    EXPECT_EQ(page.language(fixture.session), "en");
    auto english = keys();
    EXPECT_NE(english[0], std::string(ContactKey::givenName));
    page.contactPropertyDidChange(fixture.session, 5, *item(page, 5, ContactKey::note));

    page.setLanguage(fixture.session, "de");
    EXPECT_EQ(fixture.session.detectedLanguage(), "de");
    EXPECT_EQ(list()[0].contactProperty.propertyKey, std::string(ContactKey::givenName));
    EXPECT_EQ(list()[1].contactProperty.propertyKey, std::string(ContactKey::familyName));
    EXPECT_EQ(list()[4].contactProperty.propertySubKey, std::string(PostalAddressKey::city));
    EXPECT_EQ(list()[5].contactProperty.propertyKey, std::string(ContactKey::note));  // by hand
    ASSERT_TRUE(page.previewContact());
    EXPECT_EQ(page.previewContact()->familyName, "Schmidt");

    page.setLanguage(fixture.session, "en");
    english[5] = std::string(ContactKey::note);
    EXPECT_EQ(keys(), english);
}

TEST_F(FieldMappingPageTest, ClearingTheMappingEmptiesThePreview) {
    auto& page = openMappingPage("First Name,Phone\nAda,1\n");
    page.clearMapping(fixture.session);
    EXPECT_FALSE(list()[0].contactProperty.isValid());
    ASSERT_TRUE(page.previewContact());
    EXPECT_EQ(page.previewContact()->givenName, "");
}

TEST_F(FieldMappingPageTest, HandMadeAssignmentsAreLearntForTheNextFile) {
    auto& page = openMappingPage("Name,Kundennummer\nAda,4711\n");
    page.contactPropertyDidChange(fixture.session, 1, *item(page, 1, ContactKey::nickname));
    fixture.session.startOver();  // the page goes away
    fixture.drain();
    const auto learnt = loadCustomStringMap();
    ASSERT_EQ(learnt.size(), 1u);
    EXPECT_EQ(learnt[0].localizedString, "Kundennummer");
    EXPECT_TRUE(learnt[0].isUserCustomMapping);

    // The next file with that title gets the learnt target, marked as custom.
    (void)fixture.session.openFiles(
        {fixture.file("next.csv", "\xEF\xBB\xBFKundennummer,Name\n1,Bo\n")});
    ASSERT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
    auto* next = dynamic_cast<FieldMappingPage*>(fixture.session.currentPage());
    MainQueue::shared().runUntil([&] { return !next->isMapping(); }, std::chrono::seconds(30));
    EXPECT_EQ(list()[0].contactProperty.propertyKey, std::string(ContactKey::nickname));
    EXPECT_TRUE(list()[0].isCustomMapping);
    EXPECT_EQ(list()[0].statusImageName(), "mapping-status-assigned-custom");
}

TEST_F(FieldMappingPageTest, ASessionThatDoesNotLearnLeavesTheLearntTitlesAsTheyWere) {
    SuggestedContactProperty earlier;
    earlier.localizedString = "Mitgliedsnummer";
    earlier.propertyKey = std::string(ContactKey::note);
    earlier.isUserCustomMapping = true;
    test::writeFile(customStringMapLocation(), archiveStringMap({earlier}));
    const auto before = test::readFile(customStringMapLocation());
    fixture.session.setLearnsAssignments(false);
    auto& page = openMappingPage("Name,Kundennummer\nAda,4711\n");
    page.contactPropertyDidChange(fixture.session, 1, *item(page, 1, ContactKey::nickname));
    fixture.session.startOver();  // the page goes away
    fixture.drain();
    fixture.session.applicationWillTerminate();
    EXPECT_EQ(test::readFile(customStringMapLocation()), before);

    // The next file is mapped as if the correction had never been made.
    (void)fixture.session.openFiles(
        {fixture.file("next.csv", "\xEF\xBB\xBFKundennummer,Name\n1,Bo\n")});
    ASSERT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
    auto* next = dynamic_cast<FieldMappingPage*>(fixture.session.currentPage());
    MainQueue::shared().runUntil([&] { return !next->isMapping(); }, std::chrono::seconds(30));
    EXPECT_FALSE(list()[0].isCustomMapping);
}

TEST_F(FieldMappingPageTest, SavingProposesTheFileNameAndKeepsTheHeaderRowsMode) {
    auto& store = useOwnMappingStore();
    auto& page = openMappingPage("Name,Phone\nAda,1\n");
    EXPECT_EQ(page.proposedSaveTitle(fixture.session), "people");
    auto saved = page.saveMapping(fixture.session, page.proposedSaveTitle(fixture.session));
    ASSERT_TRUE(saved) << saved.error();
    EXPECT_EQ(saved->mappingMode, MappingMode::byName);
    EXPECT_EQ(saved->columnTitlesHash, columnTitlesHash(list()));
    ASSERT_EQ(saved->mappedContactProperties.size(), 2u);
    EXPECT_EQ(saved->mappedContactProperties[1].contactProperty, list()[1].contactProperty);
    EXPECT_EQ(saved->mappedContactProperties[0].sourceFieldContent, "");  // no previewed data
    EXPECT_EQ(page.proposedSaveTitle(fixture.session), "people 2");

    page.setFirstRowContainsColumnHeaders(fixture.session, false);
    saved = page.saveMapping(fixture.session, "people 2");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->mappingMode, MappingMode::byPosition);
    EXPECT_EQ(page.proposedSaveTitle(fixture.session), "people 3");

    // Both are in the file and in the menu, by title.
    EXPECT_EQ(SavedMappingStore(store.file()).mappings().size(), 2u);
    const auto menu = page.savedMappingsMenu(fixture.session);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0], (SavedMappingMenuItem{"people", 1027, store.mappings()[0].uuid}));
    EXPECT_EQ(menu[1].title, "people 2");
}

TEST_F(FieldMappingPageTest, AMappingThatTakesNoColumnShowsTheAlertByNameAndBeepsByPosition) {
    auto& store = useOwnMappingStore();
    SavedMapping byName;
    byName.title = "Shop";
    MappedContactProperty entry;
    entry.sourceFieldName = "Customer";
    entry.contactProperty = SuggestedContactProperty::target(ContactKey::nickname);
    byName.mappedContactProperties = {entry};
    SavedMapping byPosition;
    byPosition.title = "Empty";
    byPosition.mappingMode = MappingMode::byPosition;
    ASSERT_TRUE(store.save(byName));
    ASSERT_TRUE(store.save(byPosition));
    auto& page = openMappingPage("Name,Phone\nAda,1\n");
    int changes = 0;
    page.setChangeHandler([&] { ++changes; });
    const auto before = list();

    EXPECT_EQ(page.applySavedMapping(fixture.session, byName.uuid), 0u);
    ASSERT_EQ(fixture.frontEnd.alerts.size(), 1u);
    EXPECT_EQ(fixture.frontEnd.alerts[0].heading, "Could not apply mapping");
    EXPECT_EQ(fixture.frontEnd.alerts[0].text,
              "None of the saved mapping’s column headers matches any column header in the "
              "import file.");
    EXPECT_EQ(list()[1].contactProperty, before[1].contactProperty);
    EXPECT_EQ(changes, 1);
    // The use is counted all the same, in the file.
    EXPECT_EQ(SavedMappingStore(store.file()).findByUuid(byName.uuid)->usageCount, 1);

    EXPECT_EQ(page.applySavedMapping(fixture.session, byPosition.uuid), 0u);
    EXPECT_EQ(fixture.frontEnd.beeps, 1);
    EXPECT_EQ(fixture.frontEnd.alerts.size(), 1u);
}

}  // namespace
}  // namespace pelkora
