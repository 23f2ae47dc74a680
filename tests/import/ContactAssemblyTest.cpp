#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "import/ContactAssembly.h"
#include "import/ImportTestSupport.h"
#include "platform/ImageData.h"

namespace pelkora {
namespace {

using namespace contacts;

using test::mappedColumn;

MappedContactProperty extractingColumn(std::int64_t index, std::string_view key) {
    MappedContactProperty property = mappedColumn(index, key);
    property.contactProperty.customLabel = std::string(kExtractLabelMarker);
    return property;
}

DataRow textRow(const std::vector<std::string>& texts) {
    DataRow row(1);
    for (std::size_t i = 0; i < texts.size(); ++i)
        row.addText(static_cast<std::int64_t>(i), texts[i]);
    return row;
}

AssembledContact assembleWithGroups(const DataRow& row,
                                    const std::vector<MappedContactProperty>& properties,
                                    const AssemblyOptions& options = {}) {
    const std::vector<DateFormat> formats = {DateFormat("dd.MM.yyyy", "de", true)};
    return assembleContact(row, properties, formats, options);
}

Contact assemble(const DataRow& row, const std::vector<MappedContactProperty>& properties,
                 const AssemblyOptions& options = {}) {
    return assembleWithGroups(row, properties, options).contact;
}

TEST(ContactAssemblyTest, SelfLabelledPhoneCellGivesOneNumberPerLabel) {
    const Contact contact = assemble(textRow({"work: 030 1234, home: 040 5678"}),
                                     {extractingColumn(0, ContactKey::phoneNumbers)});
    ASSERT_EQ(contact.phoneNumbers.size(), 2u);
    EXPECT_EQ(contact.phoneNumbers[0].label, Label::work);
    EXPECT_EQ(contact.phoneNumbers[0].value, "030 1234");
    EXPECT_EQ(contact.phoneNumbers[1].label, Label::home);
    EXPECT_EQ(contact.phoneNumbers[1].value, "040 5678");
}

TEST(ContactAssemblyTest, SelfLabelledWebAddressKeepsItsSchemeSeparator) {
    const Contact contact = assemble(textRow({"blog: https://example.org/a\nhttp://example.com"}),
                                     {extractingColumn(0, ContactKey::urlAddresses)});
    ASSERT_EQ(contact.urlAddresses.size(), 2u);
    EXPECT_EQ(contact.urlAddresses[0].label, "blog");
    EXPECT_EQ(contact.urlAddresses[0].value, "https://example.org/a");
    EXPECT_EQ(contact.urlAddresses[1].label, Label::homePage);
    EXPECT_EQ(contact.urlAddresses[1].value, "http://example.com");
}

TEST(ContactAssemblyTest, PhoneWithoutLabelAndMessengerWithoutServiceContributeNothing) {
    const Contact contact =
        assemble(textRow({"555", "jdoe"}),
                 {mappedColumn(0, ContactKey::phoneNumbers),
                  mappedColumn(1, ContactKey::instantMessageAddresses, std::nullopt, Label::home)});
    EXPECT_TRUE(contact.phoneNumbers.empty());
    EXPECT_TRUE(contact.instantMessageAddresses.empty());
}

// Of two columns on a target that holds one value, the first non-empty value is kept and
// the other goes into the note under its title, reported; nothing is lost.
TEST(ContactAssemblyTest, SingleValuedTargetKeepsTheFirstValueAndNotesTheOther) {
    struct Case {
        std::string_view key;
        std::vector<std::string> cells;
        std::string kept;
        std::string noted;  // empty: nothing goes into the note
    };
    const Case cases[] = {
        {ContactKey::givenName, {"Anna Berg", "Anna"}, "Anna Berg", "Anna"},
        {ContactKey::givenName, {"", " Anna "}, "Anna", ""},
        {ContactKey::givenName, {"Anna", "Anna"}, "Anna", ""},
        {ContactKey::familyName, {"Meier", " Müller "}, "Müller", ""},
        {ContactKey::organizationName, {"ACME", "ACME Ltd."}, "ACME", "ACME Ltd."},
        {ContactKey::jobTitle, {"Baker", "Master Baker"}, "Baker", "Master Baker"},
        {ContactKey::nickname, {"Annie", "Ann"}, "Annie", "Ann"},
        {ContactKey::departmentName, {"", ""}, "", ""},
    };
    AssemblyOptions options;
    options.prependFieldTitle = true;
    for (const auto& c : cases) {
        // The Meier case: an ignored first column leaves the target to the second.
        std::vector<MappedContactProperty> properties = {
            mappedColumn(0, c.key, std::nullopt, std::nullopt, "First"),
            mappedColumn(1, c.key, std::nullopt, std::nullopt, "Second")};
        if (c.cells[0] == "Meier") properties[0].contactProperty.clearAll();
        const AssembledContact assembled =
            assembleWithGroups(textRow(c.cells), properties, options);
        const Contact& contact = assembled.contact;
        const std::string fields[] = {contact.givenName,        contact.familyName,
                                      contact.organizationName, contact.jobTitle,
                                      contact.nickname,         contact.departmentName};
        EXPECT_NE(std::find(std::begin(fields), std::end(fields), c.kept), std::end(fields))
            << c.key << " " << c.cells[0];
        if (c.noted.empty()) {
            EXPECT_EQ(contact.note, "\n") << c.key << " " << c.cells[0];
            EXPECT_TRUE(assembled.problems.empty()) << c.key << " " << c.cells[0];
        } else {
            EXPECT_EQ(contact.note, "Second: " + c.noted + "\n") << c.key;
            EXPECT_EQ(assembled.problems,
                      (std::vector<AssemblyProblem>{
                          {"Second", c.noted, std::string(kProblemSharedTarget)}}))
                << c.key;
        }
    }
}

TEST(ContactAssemblyTest, SecondBirthdayGoesIntoTheNoteUnlessItIsTheSameDay) {
    const std::vector<MappedContactProperty> properties = {
        mappedColumn(0, ContactKey::birthday, std::nullopt, std::nullopt, "Born"),
        mappedColumn(1, ContactKey::birthday, std::nullopt, std::nullopt, "Birthday"),
        mappedColumn(2, ContactKey::birthday, std::nullopt, std::nullopt, "DOB")};
    const AssembledContact assembled =
        assembleWithGroups(textRow({"not known", "12.03.1980", "01.01.1981"}), properties);
    EXPECT_EQ(assembled.contact.birthday, (DateComponents{1980, 3, 12, ""}));
    EXPECT_EQ(assembled.contact.note, "not known\n01.01.1981\n");
    EXPECT_EQ(assembled.problems, (std::vector<AssemblyProblem>{
                                      {"Born", "not known", std::string(kProblemNotADate)},
                                      {"DOB", "01.01.1981", std::string(kProblemSharedTarget)}}));
    const AssembledContact same =
        assembleWithGroups(textRow({"12.03.1980", "12.03.1980"}), properties);
    EXPECT_TRUE(same.problems.empty());
    EXPECT_EQ(same.contact.note, "\n");
}

TEST(ContactAssemblyTest, SeveralNoteColumnsMakeOneNoteWithoutWarnings) {
    AssemblyOptions options;
    options.prependFieldTitle = true;
    const AssembledContact assembled = assembleWithGroups(
        textRow({"", "Met at the fair", "Hobby: chess", "Call after 10"}),
        {mappedColumn(0, ContactKey::note, std::nullopt, std::nullopt, "Notes"),
         mappedColumn(1, ContactKey::note, std::nullopt, std::nullopt, "Notes 2"),
         mappedColumn(2, ContactKey::note, std::nullopt, std::nullopt, "Remarks"),
         mappedColumn(3, CustomPropertyKeys::AdditionalNote, std::nullopt, std::nullopt, "Memo")},
        options);
    EXPECT_EQ(assembled.contact.note,
              "Met at the fair\nRemarks: Hobby: chess\nMemo: Call after 10\n");
    EXPECT_TRUE(assembled.problems.empty());
}

// A full-name column fills the name parts its row leaves empty and is checked against
// the parts other columns give.
TEST(ContactAssemblyTest, FullNameFillsTheNamePartsTheRowLeavesEmpty) {
    struct Case {
        std::vector<std::string> cells;  // full name, title (prefix), given, family
        std::string prefix, given, middle, family;
        bool noted;
    };
    const Case cases[] = {
        {{"Dr. Anna Maria Berg", "", "", ""}, "Dr.", "Anna", "Maria", "Berg", false},
        {{"Berg, Anna", "", "", ""}, "", "Anna", "", "Berg", false},
        {{"Anna Berg", "Dr.", "", ""}, "Dr.", "Anna", "", "Berg", false},
        {{"Anna Berg", "", "Anna", "Berg"}, "", "Anna", "", "Berg", false},
        {{"anna berg", "", "", "Berg"}, "", "anna", "", "Berg", false},
        {{"Anna Berg", "", "", ""}, "", "Anna", "", "Berg", false},
        {{"Anna Lind", "", "Anna", "Berg"}, "", "Anna", "", "Berg", true},
        {{"", "", "Anna", "Berg"}, "", "Anna", "", "Berg", false},
    };
    const std::vector<MappedContactProperty> properties = {
        mappedColumn(0, CustomPropertyKeys::FullName, std::nullopt, std::nullopt, "Name"),
        mappedColumn(1, ContactKey::namePrefix, std::nullopt, std::nullopt, "Title"),
        mappedColumn(2, ContactKey::givenName, std::nullopt, std::nullopt, "Given Name"),
        mappedColumn(3, ContactKey::familyName, std::nullopt, std::nullopt, "Family Name")};
    for (const auto& c : cases) {
        const AssembledContact assembled = assembleWithGroups(textRow(c.cells), properties);
        const Contact& contact = assembled.contact;
        EXPECT_EQ(contact.namePrefix, c.prefix) << c.cells[0];
        EXPECT_EQ(contact.givenName, c.given) << c.cells[0];
        EXPECT_EQ(contact.middleName, c.middle) << c.cells[0];
        EXPECT_EQ(contact.familyName, c.family) << c.cells[0];
        if (c.noted) {
            EXPECT_EQ(contact.note, c.cells[0] + "\n");
            EXPECT_EQ(assembled.problems,
                      (std::vector<AssemblyProblem>{
                          {"Name", c.cells[0], std::string(kProblemSharedTarget)}}));
        } else {
            EXPECT_EQ(contact.note, "\n") << c.cells[0];
            EXPECT_TRUE(assembled.problems.empty()) << c.cells[0];
        }
    }

    // Of two full-name columns the first gives the name; a company row stays a person
    // with its contact's name.
    const AssembledContact two = assembleWithGroups(
        textRow({"ACME", "Anna Berg", "A. Berg"}),
        {mappedColumn(0, ContactKey::organizationName),
         mappedColumn(1, CustomPropertyKeys::FullName, std::nullopt, std::nullopt,
                      "Contact Person"),
         mappedColumn(2, CustomPropertyKeys::FullName, std::nullopt, std::nullopt, "Full Name")});
    EXPECT_EQ(two.contact.givenName, "Anna");
    EXPECT_EQ(two.contact.familyName, "Berg");
    EXPECT_EQ(two.contact.contactType, ContactType::person);
    EXPECT_EQ(two.problems, (std::vector<AssemblyProblem>{
                                {"Full Name", "A. Berg", std::string(kProblemSharedTarget)}}));
}

TEST(ContactAssemblyTest, WholeNumbersLoseTheirFractionAndFractionsStay) {
    DataRow row(1);
    row.add(DataCell(0, 1234.0));
    row.add(DataCell(1, 12.5));
    const Contact contact = assemble(
        row, {mappedColumn(0, ContactKey::jobTitle), mappedColumn(1, ContactKey::departmentName)});
    EXPECT_EQ(contact.jobTitle, "1234");
    EXPECT_EQ(contact.departmentName, "12.5");

    // Fractions follow the user's notation; whole numbers stay bare digits in any locale.
    DataRow german(1);
    german.add(DataCell(0, 1234567.0));
    german.add(DataCell(1, 1234.5));
    const Contact inGerman = [&] {
        test::ScopedDefaultLocale locale("de_DE");
        return assemble(german, {mappedColumn(0, ContactKey::jobTitle),
                                 mappedColumn(1, ContactKey::departmentName)});
    }();
    EXPECT_EQ(inGerman.jobTitle, "1234567");
    EXPECT_EQ(inGerman.departmentName, "1.234,5");
}

TEST(ContactAssemblyTest,
     SecondValueForFilledPostalComponentStartsAnAddressThatLaterComponentsFill) {
    const Contact contact = assemble(
        textRow({"Berlin", "Potsdam", "Hauptstr. 1", "Hinterhaus"}),
        {mappedColumn(0, ContactKey::postalAddresses, PostalAddressKey::city, Label::work),
         mappedColumn(1, ContactKey::postalAddresses, PostalAddressKey::city, Label::work),
         mappedColumn(2, ContactKey::postalAddresses, PostalAddressKey::street, Label::work),
         mappedColumn(3, ContactKey::postalAddresses, CustomPropertyKeys::Addition, Label::work)});
    ASSERT_EQ(contact.postalAddresses.size(), 2u);
    EXPECT_EQ(contact.postalAddresses[0].value.city, "Potsdam");
    EXPECT_EQ(contact.postalAddresses[0].value.street, "Hauptstr. 1\nHinterhaus");
    EXPECT_EQ(contact.postalAddresses[1].value.city, "Berlin");
    EXPECT_EQ(contact.postalAddresses[1].value.street, "");
}

TEST(ContactAssemblyTest, IllegalPostalSubKeyIsLoggedAndSkipped) {
    test::LogCapture log;
    MappedContactProperty property =
        mappedColumn(0, ContactKey::postalAddresses, PostalAddressKey::city, Label::home);
    property.contactProperty.propertySubKey = "floor";
    const Contact contact = assemble(textRow({"3"}), {property});
    EXPECT_TRUE(log.contains("Postal Adress: skipping illegal subkey 'floor'"));
    ASSERT_EQ(contact.postalAddresses.size(), 1u);
    EXPECT_TRUE(contact.postalAddresses[0].value.isEmpty());
}

TEST(ContactAssemblyTest, NumericPostalCodeIsPaddedForTheAddressCountry) {
    auto rowFor = [](std::string country) {
        DataRow row(1);
        row.add(DataCell(0, 1234.0));
        row.addText(1, country);
        return row;
    };
    const std::vector<MappedContactProperty> properties = {
        mappedColumn(0, ContactKey::postalAddresses, PostalAddressKey::postalCode, Label::home),
        mappedColumn(1, ContactKey::postalAddresses, PostalAddressKey::isoCountryCode,
                     Label::home)};
    EXPECT_EQ(assemble(rowFor("de"), properties).postalAddresses[0].value.postalCode, "01234");
    EXPECT_EQ(assemble(rowFor("at"), properties).postalAddresses[0].value.postalCode, "1234");
}

TEST(ContactAssemblyTest, NumericPostalCodeWithoutCountryUsesTheDefaultCountry) {
    DataRow row(1);
    row.add(DataCell(0, 1067.0));
    AssemblyOptions options;
    options.defaultCountryCode = "de";
    const Contact contact = assemble(
        row,
        {mappedColumn(0, ContactKey::postalAddresses, PostalAddressKey::postalCode, Label::home)},
        options);
    EXPECT_EQ(contact.postalAddresses[0].value.postalCode, "01067");
}

// The address's own country, by ISO code or by name in any language, decides the width; the
// user's country (here the United States) only when the address names none it recognises.
TEST(ContactAssemblyTest, NumericPostalCodeFollowsTheCountryTheAddressNames) {
    struct Case {
        double postalCode;
        std::string country, isoCountryCode;
        std::string_view expectedPostalCode, expectedISOCountryCode;
    };
    const Case cases[] = {
        {1000, "Belgique", "", "1000", "be"},
        {8001, "Schweiz", "", "8001", "ch"},
        {8001, "Suisse", "", "8001", "ch"},
        {6900, "Svizzera", "", "6900", "ch"},
        {1067, "Deutschland", "", "01067", "de"},
        {1067, "GERMANY", "", "01067", "de"},
        {1010, "Österreich", "", "1010", "at"},
        {1010, "", "AT", "1010", "at"},
        {1010, "", "AUT", "1010", "at"},
        {1010, "Deutschland", "at", "1010", "at"},
        {501, "USA", "", "00501", "us"},
        {1234, "Atlantis", "", "01234", ""},
        {1234, "", "", "01234", ""},
        {1234, "", "qq", "1234", "qq"},
    };
    AssemblyOptions options;
    options.defaultCountryCode = "us";
    const std::vector<MappedContactProperty> properties = {
        mappedColumn(0, ContactKey::postalAddresses, PostalAddressKey::postalCode, Label::home),
        mappedColumn(1, ContactKey::postalAddresses, PostalAddressKey::country, Label::home),
        mappedColumn(2, ContactKey::postalAddresses, PostalAddressKey::isoCountryCode,
                     Label::home)};
    for (const Case& c : cases) {
        DataRow row(1);
        row.add(DataCell(0, c.postalCode));
        row.addText(1, c.country);
        row.addText(2, c.isoCountryCode);
        const Contact contact = assemble(row, properties, options);
        ASSERT_EQ(contact.postalAddresses.size(), 1u);
        const PostalAddress& address = contact.postalAddresses[0].value;
        EXPECT_EQ(address.postalCode, c.expectedPostalCode) << c.country << c.isoCountryCode;
        EXPECT_EQ(address.isoCountryCode, c.expectedISOCountryCode)
            << c.country << c.isoCountryCode;
        EXPECT_EQ(address.country, c.country);
    }
}

TEST(ContactAssemblyTest, CountryNameGivesItsCodeEvenWithoutNumericPostalCode) {
    const Contact contact = assemble(
        textRow({"B-1000", "Belgique"}),
        {mappedColumn(0, ContactKey::postalAddresses, PostalAddressKey::postalCode, Label::work),
         mappedColumn(1, ContactKey::postalAddresses, PostalAddressKey::country, Label::work)});
    ASSERT_EQ(contact.postalAddresses.size(), 1u);
    EXPECT_EQ(contact.postalAddresses[0].value.postalCode, "B-1000");
    EXPECT_EQ(contact.postalAddresses[0].value.isoCountryCode, "be");
}

TEST(ContactAssemblyTest, DigitOnlyTextPostalCodeIsPaddedOtherTextIsNot) {
    AssemblyOptions options;
    options.defaultCountryCode = "de";
    const auto postalCode = [&](std::string text) {
        return assemble(textRow({std::move(text)}),
                        {mappedColumn(0, ContactKey::postalAddresses, PostalAddressKey::postalCode,
                                      Label::home)},
                        options)
            .postalAddresses[0]
            .value.postalCode;
    };
    // Digits only: a number whose leading zeros a spreadsheet dropped.
    EXPECT_EQ(postalCode("1067"), "01067");
    EXPECT_EQ(postalCode("123456"), "123456");  // padding never cuts digits
    EXPECT_EQ(postalCode("D-1067"), "D-1067");
    EXPECT_EQ(postalCode("1067 "), "01067");
    options.defaultCountryCode = "gb";
    EXPECT_EQ(postalCode("SW1A 1AA"), "SW1A 1AA");
}

TEST(ContactAssemblyTest, OrganizationWithoutPersonalNameIsACompany) {
    EXPECT_EQ(
        assemble(textRow({"ACME"}), {mappedColumn(0, ContactKey::organizationName)}).contactType,
        ContactType::organization);
    EXPECT_EQ(assemble(textRow({"ACME", "Ann"}), {mappedColumn(0, ContactKey::organizationName),
                                                  mappedColumn(1, ContactKey::givenName)})
                  .contactType,
              ContactType::person);
}

TEST(ContactAssemblyTest, ContactTypeCellWithCompanyTermInAnyCaseMakesACompany) {
    const std::vector<MappedContactProperty> properties = {mappedColumn(0, ContactKey::contactType),
                                                           mappedColumn(1, ContactKey::givenName)};
    EXPECT_EQ(assemble(textRow({"Eine FIRMA", "Ann"}), properties).contactType,
              ContactType::organization);
    EXPECT_EQ(assemble(textRow({"private", "Ann"}), properties).contactType, ContactType::person);
    AssemblyOptions options;
    options.companyTerms = companyTermsFromText(" Verein ,\nGmbH");
    EXPECT_EQ(options.companyTerms, (std::vector<std::string>{"verein", "gmbh"}));
    EXPECT_EQ(assemble(textRow({"Muster GmbH", "Ann"}), properties, options).contactType,
              ContactType::organization);
}

TEST(ContactAssemblyTest, GroupsAreSplitTrimmedAndListedOnce) {
    const AssembledContact assembled = assembleWithGroups(
        textRow({"Friends; Family|Work\nFriends", " Club \x1D"}),
        {mappedColumn(0, CustomPropertyKeys::Group), mappedColumn(1, CustomPropertyKeys::Group)});
    EXPECT_EQ(assembled.groupNames,
              (std::vector<std::string>{"Friends", "Family", "Work", "Club"}));
}

TEST(ContactAssemblyTest, NoteWithoutAnyTextIsASingleLineFeed) {
    EXPECT_EQ(assemble(textRow({"Ann"}), {mappedColumn(0, ContactKey::givenName)}).note, "\n");
}

TEST(ContactAssemblyTest, NoteItemTitleInCapitalsBeforeTheText) {
    AssemblyOptions options;
    options.prependFieldTitle = true;
    options.fieldTitleAllCaps = true;
    const Contact contact = assemble(
        textRow({"Chess", "Knows Ann"}),
        {mappedColumn(0, CustomPropertyKeys::AdditionalNote, std::nullopt, std::nullopt, "Hobby"),
         mappedColumn(1, ContactKey::note)},
        options);
    EXPECT_EQ(contact.note, "Knows Ann\nHOBBY: Chess\n");
}

TEST(ContactAssemblyTest, NoteLayoutSortsBreaksAfterTitleAndSpacesItems) {
    AssemblyOptions options;
    options.prependFieldTitle = true;
    options.sortNoteItemsByFieldTitle = true;
    options.linefeedAfterFieldTitle = true;
    options.extraLinefeed = true;
    const Contact contact = assemble(
        textRow({"Chess", "Äpfel", "Old note"}),
        {mappedColumn(0, CustomPropertyKeys::AdditionalNote, std::nullopt, std::nullopt, "Hobby"),
         mappedColumn(1, CustomPropertyKeys::AdditionalNote, std::nullopt, std::nullopt, "Food"),
         mappedColumn(2, ContactKey::note)},
        options);
    EXPECT_EQ(contact.note, "Old note\n\nFood:\nÄpfel\n\nHobby:\nChess\n");
}

TEST(ContactAssemblyTest, NoteItemsWithoutTitlePrependingAreTextOnly) {
    const Contact contact = assemble(
        textRow({"Chess"}),
        {mappedColumn(0, CustomPropertyKeys::AdditionalNote, std::nullopt, std::nullopt, "Hobby")});
    EXPECT_EQ(contact.note, "Chess\n");
}

TEST(ContactAssemblyTest, SocialProfileUrlGivesTheUserNameFromItsLastComponent) {
    const Contact contact =
        assemble(textRow({"https://twitter.com/J%C3%BCrgen"}),
                 {mappedColumn(0, ContactKey::socialProfiles, SocialProfileService::twitter)});
    ASSERT_EQ(contact.socialProfiles.size(), 1u);
    EXPECT_EQ(contact.socialProfiles[0].label, Label::other);
    EXPECT_EQ(contact.socialProfiles[0].value.username, "Jürgen");
    EXPECT_EQ(contact.socialProfiles[0].value.urlString, "https://twitter.com/J%C3%BCrgen");
}

TEST(ContactAssemblyTest, NonGregorianBirthdayIsLoggedAsNotImplemented) {
    test::LogCapture log;
    const Contact contact =
        assemble(textRow({"1.1.2000"}), {mappedColumn(0, ContactKey::nonGregorianBirthday)});
    EXPECT_FALSE(contact.nonGregorianBirthday.has_value());
    EXPECT_TRUE(log.contains("Setting value for key 'nonGregorianBirthday' not yet implemented"));
}

TEST(ContactAssemblyTest, LabelledValuesKeepColumnOrderAndUnreadableDatesAreSkipped) {
    const Contact contact = assemble(
        textRow({"01.02.2003", "not a date", "Eva", "eva", "a@example.org", "b@example.org"}),
        {mappedColumn(0, ContactKey::dates, std::nullopt, Label::anniversary),
         mappedColumn(1, ContactKey::dates, std::nullopt, Label::other),
         mappedColumn(2, ContactKey::contactRelations, std::nullopt, RelationLabel::sister),
         mappedColumn(3, ContactKey::instantMessageAddresses, InstantMessageService::skype,
                      Label::home),
         mappedColumn(4, ContactKey::emailAddresses, std::nullopt, Label::work),
         mappedColumn(5, ContactKey::emailAddresses, std::nullopt, Label::home)});
    ASSERT_EQ(contact.dates.size(), 1u);
    EXPECT_EQ(contact.dates[0].label, Label::anniversary);
    EXPECT_EQ(contact.dates[0].value, (DateComponents{2003, 2, 1, ""}));
    ASSERT_EQ(contact.contactRelations.size(), 1u);
    EXPECT_EQ(contact.contactRelations[0].value.name, "Eva");
    ASSERT_EQ(contact.instantMessageAddresses.size(), 1u);
    EXPECT_EQ(contact.instantMessageAddresses[0].value,
              (InstantMessageAddress{"eva", std::string(InstantMessageService::skype)}));
    ASSERT_EQ(contact.emailAddresses.size(), 2u);
    EXPECT_EQ(contact.emailAddresses[0].value, "a@example.org");
    EXPECT_EQ(contact.emailAddresses[1].label, Label::home);
}

TEST(ContactAssemblyTest, PicturesBecomeSquarePngsOrKeepTheirBytes) {
    std::ifstream in(std::filesystem::path(PELKORA_TEST_DATA_DIR) / "images" / "tall-4x9.jpg",
                     std::ios::binary);
    const PictureBytes jpeg{std::istreambuf_iterator<char>(in), {}};
    const PictureBytes broken = {0x89, 'P', 'N', 'G', 1, 2, 3};
    DataRow row(1);
    row.add(DataCell(0, jpeg));
    row.add(DataCell(1, broken));
    row.addText(2, "not a picture");

    const auto square = assemble(row, {mappedColumn(0, ContactKey::imageData)}).imageData;
    const auto size = imageSize(square);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 9);
    EXPECT_EQ(size->height, 9);
    EXPECT_FALSE(isJpegData(square));  // re-encoded as PNG
    EXPECT_EQ(assemble(row, {mappedColumn(1, ContactKey::imageData)}).imageData, broken);
    EXPECT_TRUE(assemble(row, {mappedColumn(2, ContactKey::imageData)}).imageData.empty());
}

TEST(ContactAssemblyTest, GermanContactRowBecomesAFullContact) {
    DataRow row(1);
    row.addText(0, "Jürgen");
    row.addText(1, "Größer");
    row.addText(2, "work: +49 30 123456, home: +49 30 654321");
    row.addText(3, "Hauptstraße 5");
    row.add(DataCell(4, 1067.0));
    row.addText(5, "Dresden");
    row.addText(6, "de");
    row.addText(7, "12.05.1979");
    row.addText(8, "Friends, Book club");
    const auto [contact, groupNames, problems] = assembleWithGroups(
        row,
        {mappedColumn(0, ContactKey::givenName), mappedColumn(1, ContactKey::familyName),
         extractingColumn(2, ContactKey::phoneNumbers),
         mappedColumn(3, ContactKey::postalAddresses, PostalAddressKey::street, Label::home),
         mappedColumn(4, ContactKey::postalAddresses, PostalAddressKey::postalCode, Label::home),
         mappedColumn(5, ContactKey::postalAddresses, PostalAddressKey::city, Label::home),
         mappedColumn(6, ContactKey::postalAddresses, PostalAddressKey::isoCountryCode,
                      Label::home),
         mappedColumn(7, ContactKey::birthday), mappedColumn(8, CustomPropertyKeys::Group)});
    EXPECT_EQ(contact.givenName, "Jürgen");
    EXPECT_EQ(contact.familyName, "Größer");
    EXPECT_EQ(contact.contactType, ContactType::person);
    ASSERT_EQ(contact.phoneNumbers.size(), 2u);
    EXPECT_EQ(contact.phoneNumbers[0].label, Label::work);
    EXPECT_EQ(contact.phoneNumbers[1].value, "+49 30 654321");
    ASSERT_EQ(contact.postalAddresses.size(), 1u);
    EXPECT_EQ(contact.postalAddresses[0].value.street, "Hauptstraße 5");
    EXPECT_EQ(contact.postalAddresses[0].value.postalCode, "01067");
    EXPECT_EQ(contact.postalAddresses[0].value.city, "Dresden");
    ASSERT_TRUE(contact.birthday.has_value());
    EXPECT_EQ(*contact.birthday, (DateComponents{1979, 5, 12, ""}));
    EXPECT_EQ(groupNames, (std::vector<std::string>{"Friends", "Book club"}));
    EXPECT_EQ(contact.note, "\n");
    EXPECT_TRUE(problems.empty());
}

DateComponents day(std::optional<int> year, int month, int dayOfMonth) {
    DateComponents date;
    date.year = year;
    date.month = month;
    date.day = dayOfMonth;
    return date;
}

// The contact without the random parts: its identifier and those of its labelled values.
Contact withoutIdentifiers(Contact contact) {
    contact.identifier.clear();
    const auto clear = [](auto& values) {
        for (auto& value : values) value.identifier.clear();
    };
    clear(contact.phoneNumbers);
    clear(contact.emailAddresses);
    clear(contact.postalAddresses);
    clear(contact.urlAddresses);
    clear(contact.contactRelations);
    clear(contact.socialProfiles);
    clear(contact.instantMessageAddresses);
    clear(contact.dates);
    return contact;
}

// One assembler reused over rows of every kind: nothing of one row (a postal code read as a
// number, note items, the date formatter's pattern, split self-labelled cells) may reach the
// next, so each contact equals the one a fresh assembly gives.
TEST(ContactAssemblyTest, AssemblerReusedOverVariedRowsGivesTheContactsOfSingleAssemblies) {
    const std::vector<MappedContactProperty> properties = {
        mappedColumn(0, ContactKey::givenName),
        mappedColumn(1, ContactKey::postalAddresses, PostalAddressKey::postalCode, Label::home),
        mappedColumn(1, ContactKey::note),  // a second target for column 1 is never used
        mappedColumn(2, ContactKey::birthday),
        extractingColumn(3, ContactKey::phoneNumbers),
        mappedColumn(4, CustomPropertyKeys::AdditionalNote, std::nullopt, std::nullopt, "Tag"),
        mappedColumn(5, ContactKey::organizationName),
        mappedColumn(6, ContactKey::emailAddresses, std::nullopt, Label::work),
        mappedColumn(7, ContactKey::dates, std::nullopt, Label::anniversary),
        mappedColumn(8, ContactKey::postalAddresses, PostalAddressKey::city, Label::home),
        mappedColumn(9, ContactKey::emailAddresses),  // no label: not imported
        mappedColumn(10, CustomPropertyKeys::UID),
    };
    const std::vector<DateFormat> formats = {DateFormat("dd.MM.yyyy", "de", true),
                                             DateFormat("MM/dd", std::nullopt, true)};
    AssemblyOptions options;
    options.prependFieldTitle = true;

    std::vector<DataRow> rows;
    rows.push_back(textRow({"Ann", "1067", "12.03.1980", "work: 030 1, home: 040 2", "vip", "",
                            "ann@example.com", "1980-05-06", "Dresden", "x@example.com", "u1"}));
    rows.push_back(textRow({" Bob ", "D-1067", "03/12", "", "", "ACME", "", "", "", "", ""}));
    DataRow mixed(3);
    mixed.add(DataCell(1, 1067.0));
    mixed.add(DataCell(
        2, CellDate(std::chrono::sys_days(std::chrono::year(1990) / std::chrono::March / 15))));
    mixed.add(DataCell(3, std::string("+49 30 123")));
    mixed.add(DataCell(5, std::string("ACME")));
    mixed.add(DataCell(7, 3.5));
    rows.push_back(std::move(mixed));
    rows.push_back(
        textRow({"Cleo", "", "not a date", "mobile: 0171 3", "", "", "", "", "", "", ""}));
    rows.push_back(textRow({}));

    ContactAssembler assembler(properties, formats, options);
    std::vector<Contact> reused;
    for (const DataRow& row : rows) {
        reused.push_back(assembler.assemble(row).contact);
        EXPECT_EQ(withoutIdentifiers(reused.back()),
                  withoutIdentifiers(assembleContact(row, properties, formats, options).contact))
            << "row " << row.rowIndex();
    }

    const Contact& ann = reused[0];
    EXPECT_EQ(ann.givenName, "Ann");
    ASSERT_EQ(ann.postalAddresses.size(), 1u);
    EXPECT_EQ(ann.postalAddresses[0].value.postalCode, "01067");
    EXPECT_EQ(ann.postalAddresses[0].value.city, "Dresden");
    EXPECT_EQ(ann.birthday, day(1980, 3, 12));
    ASSERT_EQ(ann.phoneNumbers.size(), 2u);
    EXPECT_EQ(ann.phoneNumbers[1].label, Label::home);
    EXPECT_EQ(ann.phoneNumbers[1].value, "040 2");
    ASSERT_EQ(ann.emailAddresses.size(), 1u);
    EXPECT_EQ(ann.emailAddresses[0].label, Label::work);
    ASSERT_EQ(ann.dates.size(), 1u);
    EXPECT_EQ(ann.dates[0].value, day(1980, 5, 6));
    EXPECT_EQ(ann.note, "Tag: vip\n");
    EXPECT_NE(ann.identifier, "u1");

    const Contact& bob = reused[1];
    EXPECT_EQ(bob.givenName, "Bob");
    ASSERT_EQ(bob.postalAddresses.size(), 1u);
    EXPECT_EQ(bob.postalAddresses[0].value.postalCode, "D-1067");
    EXPECT_EQ(bob.birthday, day(std::nullopt, 3, 12));
    EXPECT_TRUE(bob.phoneNumbers.empty());
    EXPECT_EQ(bob.note, "\n");
    EXPECT_EQ(bob.contactType, ContactType::person);

    const Contact& numbers = reused[2];
    ASSERT_EQ(numbers.postalAddresses.size(), 1u);
    EXPECT_EQ(numbers.postalAddresses[0].value.postalCode, "01067");
    EXPECT_EQ(numbers.birthday, day(1990, 3, 15));
    ASSERT_EQ(numbers.phoneNumbers.size(), 1u);
    EXPECT_EQ(numbers.phoneNumbers[0].label, Label::other);
    EXPECT_EQ(numbers.contactType, ContactType::organization);

    EXPECT_FALSE(reused[3].birthday.has_value());
    ASSERT_EQ(reused[3].phoneNumbers.size(), 1u);
    EXPECT_EQ(reused[3].phoneNumbers[0].label, Label::mobile);
    Contact empty;
    empty.note = "\n";
    EXPECT_EQ(withoutIdentifiers(reused[4]), empty);

    std::set<std::string> identifiers;
    for (const Contact& contact : reused) identifiers.insert(contact.identifier);
    EXPECT_EQ(identifiers.size(), reused.size()) << "every contact gets its own identifier";
}

// A column labelled by another column of the row: each of its values takes the label cell's
// label at the same position, the only label for all of them, or the column's own label when
// the label cell has none for it.
MappedContactProperty labelledColumn(std::int64_t index, std::string_view key,
                                     std::int64_t labelColumn,
                                     std::optional<std::string_view> subKey = std::nullopt) {
    MappedContactProperty property = mappedColumn(index, key, subKey, Label::other);
    property.labelColumnIndex = labelColumn;
    return property;
}

struct LabelColumnCase {
    std::string label;
    std::string value;
    std::vector<std::pair<std::string, std::string>> phones;  // (label, number)
};

TEST(ContactAssemblyTest, LabelColumnLabelsEachValueOfTheRow) {
    const std::vector<LabelColumnCase> cases = {
        {"Mobile", "+1 415 555 0101", {{std::string(Label::mobile), "+1 415 555 0101"}}},
        {"* Work", "030 1", {{std::string(Label::work), "030 1"}}},
        {"home fax", "030 2", {{std::string(Label::homeFax), "030 2"}}},
        {"Work Fax", "030 3", {{std::string(Label::workFax), "030 3"}}},
        {"Geschäftlich", "030 4", {{std::string(Label::work), "030 4"}}},
        {"Google Voice", "030 5", {{"Google Voice", "030 5"}}},
        {"", "030 6", {{std::string(Label::other), "030 6"}}},
        // One label for every value; labels paired by position; values beyond the labels
        // keep the column's label; empty values are no numbers.
        {"Mobile",
         "030 7 ::: 030 8",
         {{std::string(Label::mobile), "030 7"}, {std::string(Label::mobile), "030 8"}}},
        {"Work ::: Google Voice",
         "030 9 ::: 030 10",
         {{std::string(Label::work), "030 9"}, {"Google Voice", "030 10"}}},
        {"Pager ::: Main",
         "030 11 ::: 030 12 ::: 030 13",
         {{std::string(Label::pager), "030 11"},
          {std::string(Label::main), "030 12"},
          {std::string(Label::other), "030 13"}}},
        {"Home ::: Work", " ::: 030 14", {{std::string(Label::work), "030 14"}}},
    };
    const std::vector<MappedContactProperty> properties = {
        mappedColumn(0, CustomPropertyKeys::AdditionalNote),
        labelledColumn(1, ContactKey::phoneNumbers, 0)};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.label + " / " + testCase.value);
        const Contact contact = assemble(textRow({testCase.label, testCase.value}), properties);
        std::vector<std::pair<std::string, std::string>> phones;
        for (const auto& phone : contact.phoneNumbers)
            phones.emplace_back(phone.label, phone.value);
        EXPECT_EQ(phones, testCase.phones);
    }
}

TEST(ContactAssemblyTest, LabelColumnSplitsAddressPartsIntoOneAddressPerLabel) {
    const std::vector<MappedContactProperty> properties = {
        labelledColumn(1, ContactKey::postalAddresses, 0, PostalAddressKey::street),
        labelledColumn(2, ContactKey::postalAddresses, 0, PostalAddressKey::city),
        labelledColumn(3, ContactKey::emailAddresses, 0),
        labelledColumn(4, ContactKey::postalAddresses, 5, PostalAddressKey::city)};
    const Contact contact =
        assemble(textRow({"Work ::: Home", "1 Navy Yard ::: 7 Harbor Road",
                          "Washington ::: Arlington", "grace@example.mil", "Boston", "Vacation"}),
                 properties);
    ASSERT_EQ(contact.postalAddresses.size(), 3u);
    EXPECT_EQ(contact.postalAddresses[0].label, Label::work);
    EXPECT_EQ(contact.postalAddresses[0].value.street, "1 Navy Yard");
    EXPECT_EQ(contact.postalAddresses[0].value.city, "Washington");
    EXPECT_EQ(contact.postalAddresses[1].label, Label::home);
    EXPECT_EQ(contact.postalAddresses[1].value.street, "7 Harbor Road");
    EXPECT_EQ(contact.postalAddresses[1].value.city, "Arlington");
    EXPECT_EQ(contact.postalAddresses[2].label, "Vacation");
    EXPECT_EQ(contact.postalAddresses[2].value.city, "Boston");
    // The label cell's first label goes with the only value.
    ASSERT_EQ(contact.emailAddresses.size(), 1u);
    EXPECT_EQ(contact.emailAddresses[0].label, Label::work);
    // The label cells themselves are nobody's values.
    EXPECT_EQ(contact.note, "\n");
}

TEST(ContactAssemblyTest, SystemGroupsAreDroppedAndMultipleValuesSplit) {
    const AssembledContact assembled = assembleWithGroups(
        textRow({"* myContacts ::: Friends", "* starred ::: Navy, Friends ::: *Stars"}),
        {mappedColumn(0, CustomPropertyKeys::Group), mappedColumn(1, CustomPropertyKeys::Group)});
    EXPECT_EQ(assembled.groupNames, (std::vector<std::string>{"Friends", "Navy", "*Stars"}));
    EXPECT_EQ(groupNamesInText("* My Contacts ::: * Starred"), std::vector<std::string>{});
}

// The names travel with the contact of their row: a reused assembler neither carries one
// row's groups into the next nor loses them to a row without any.
TEST(ContactAssemblyTest, EachRowsGroupNamesComeWithItsOwnContact) {
    const std::vector<MappedContactProperty> properties = {
        mappedColumn(0, ContactKey::givenName), mappedColumn(1, CustomPropertyKeys::Group)};
    ContactAssembler assembler(properties, {}, {});
    const AssembledContact ann = assembler.assemble(textRow({"Ann", "Friends, Work"}));
    const AssembledContact bob = assembler.assemble(textRow({"Bob", ""}));
    const AssembledContact cleo = assembler.assemble(textRow({"Cleo", "work; Friends"}));

    EXPECT_EQ(ann.contact.givenName, "Ann");
    EXPECT_EQ(ann.groupNames, (std::vector<std::string>{"Friends", "Work"}));
    EXPECT_TRUE(bob.groupNames.empty());
    // Letter case tells names apart here; the import matches groups ignoring it.
    EXPECT_EQ(cleo.groupNames, (std::vector<std::string>{"work", "Friends"}));
    EXPECT_EQ(assembleWithGroups(textRow({"Ann", "Friends, Work"}), properties).groupNames,
              ann.groupNames);
}

// Pictures beyond the limits are left out and reported, never kept as the file gave them;
// a large picture becomes a photo of contactPhotoSide pixels a side, made once however many
// rows show it.
TEST(ContactAssemblyTest, PicturesAreLimitedScaledAndMadeOncePerAssembler) {
    std::ifstream in(std::filesystem::path(PELKORA_TEST_DATA_DIR) / "images" / "wide-3x2.png",
                     std::ios::binary);
    PictureBytes hugeHeader{std::istreambuf_iterator<char>(in), {}};
    for (int i = 0; i < 4; ++i) {
        hugeHeader[16 + i] = static_cast<std::uint8_t>(20000u >> (24 - 8 * i));
        hugeHeader[20 + i] = static_cast<std::uint8_t>(20000u >> (24 - 8 * i));
    }
    PictureBytes heavy = hugeHeader;
    heavy[16 + 2] = heavy[20 + 2] = 0;  // 32 × 32 pixels declared, 40 MiB of bytes
    heavy.resize(std::size_t{40} << 20);
    const std::vector<MappedContactProperty> properties = {mappedColumn(0, ContactKey::givenName),
                                                           mappedColumn(1, ContactKey::imageData)};
    ContactAssembler assembler(properties, {}, {});
    for (const auto& picture : {hugeHeader, heavy}) {
        DataRow row(1);
        row.addText(0, "Ann");
        row.add(DataCell(1, picture));
        const auto assembled = assembler.assemble(row);
        EXPECT_TRUE(assembled.contact.imageData.empty());
        ASSERT_EQ(assembled.problems.size(), 1u);
        EXPECT_EQ(assembled.problems[0].problem, kProblemPictureTooLarge);
    }

    if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
    test::TemporaryDirectory folder;
    const auto file = folder / "large.png";
    const std::string command =
        "/usr/bin/python3 -c \"import struct, sys, zlib\n"
        "def chunk(k, d): return struct.pack('>I', len(d)) + k + d + struct.pack('>I', "
        "zlib.crc32(k + d))\n"
        "rows = zlib.compress((b'\\0' + b'\\x20\\x80\\xe0' * 3000) * 2000, 9)\n"
        "open(sys.argv[1], 'wb').write(b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', "
        "struct.pack('>IIBBBBB', 3000, 2000, 8, 2, 0, 0, 0)) + chunk(b'IDAT', rows) + "
        "chunk(b'IEND', b''))\" '" +
        file.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream largeIn(file, std::ios::binary);
    const PictureBytes large{std::istreambuf_iterator<char>(largeIn), {}};
    std::vector<std::uint8_t> first;
    for (int index = 0; index < 300; ++index) {
        DataRow row(index + 1);
        row.addText(0, "Person " + std::to_string(index));
        row.add(DataCell(1, large));
        const auto photo = assembler.assemble(row).contact.imageData;
        if (index == 0) {
            first = photo;
            const auto size = imageSize(photo);
            ASSERT_TRUE(size);
            EXPECT_EQ(size->width, contactPhotoSide);
            EXPECT_EQ(size->height, contactPhotoSide);
        }
        ASSERT_EQ(photo, first) << index;
    }
}

}  // namespace
}  // namespace pelkora
