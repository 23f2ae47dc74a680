#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "addressbook/ContactKeys.h"
#include "addressbook/UserCountry.h"
#include "import/ContactPreview.h"
#include "import/ImportTestSupport.h"

namespace pelkora {
namespace {

using test::ScopedDefaultLocale;

using contacts::Contact;
using contacts::ContactType;
using contacts::DateComponents;
using contacts::labeled;

// Sets the user's country for one test; the preview reads it for addresses without a country.
class CountryOverride {
  public:
    explicit CountryOverride(std::string code) { contacts::setCountryCodeOverride(code); }
    ~CountryOverride() { contacts::setCountryCodeOverride(std::nullopt); }
    CountryOverride(const CountryOverride&) = delete;
    CountryOverride& operator=(const CountryOverride&) = delete;
};

Contact person(std::string given, std::string family) {
    Contact contact;
    contact.givenName = std::move(given);
    contact.familyName = std::move(family);
    return contact;
}

contacts::PostalAddress address(std::string street, std::string postalCode, std::string city,
                                std::string country, std::string isoCountryCode) {
    contacts::PostalAddress value;
    value.street = std::move(street);
    value.postalCode = std::move(postalCode);
    value.city = std::move(city);
    value.country = std::move(country);
    value.isoCountryCode = std::move(isoCountryCode);
    return value;
}

contacts::SocialProfile profile(std::string username, std::string service) {
    contacts::SocialProfile value;
    value.username = std::move(username);
    value.service = std::move(service);
    return value;
}

std::vector<std::string> titleTexts(const PreviewDocument& document) {
    std::vector<std::string> texts;
    for (const PreviewLine& line : document.titleLines) {
        texts.push_back(line.text);
    }
    return texts;
}

std::vector<std::string> rowLabels(const PreviewDocument& document) {
    std::vector<std::string> labels;
    for (const PreviewRow& row : document.rows) {
        labels.push_back(row.label);
    }
    return labels;
}

TEST(ContactPreview, PersonShowsNameThenCompanyAsOtherTypeRendering) {
    Contact contact = person("Anna", "Berg");
    contact.organizationName = "Acme";
    const PreviewDocument document = attributedPreview(contact, {});
    ASSERT_EQ(titleTexts(document), (std::vector<std::string>{"Anna Berg", "Acme"}));
    EXPECT_EQ(document.titleLines[0].style, PreviewTitleStyle::name);
    EXPECT_EQ(document.titleLines[1].style, PreviewTitleStyle::alternateName);
}

TEST(ContactPreview, OrganizationShowsItsNameThenContactPersonAndPhoneticNames) {
    Contact contact = person("Anna", "Berg");
    contact.contactType = ContactType::organization;
    contact.organizationName = "Acme";
    contact.phoneticGivenName = "Ana";
    contact.phoneticOrganizationName = "Akme";
    EXPECT_EQ(titleTexts(attributedPreview(contact, {})),
              (std::vector<std::string>{"Acme", "Akme", "Anna Berg", "Ana"}));
}

TEST(ContactPreview, OtherTypeRenderingEqualToTheNameIsNotRepeated) {
    Contact contact = person("Acme", "");
    contact.organizationName = "Acme";
    EXPECT_EQ(titleTexts(attributedPreview(contact, {})), (std::vector<std::string>{"Acme"}));
}

TEST(ContactPreview, ContactWithoutNameOrOrganizationIsTitledNoName) {
    Contact contact;
    contact.emailAddresses.push_back(
        labeled(std::string(contacts::Label::home), std::string("a@b.c")));
    const PreviewDocument document = attributedPreview(contact, {});
    EXPECT_EQ(titleTexts(document), (std::vector<std::string>{"No Name"}));
    EXPECT_EQ(document.titleLines[0].style, PreviewTitleStyle::name);
}

TEST(ContactPreview, UnnamedPersonWithCompanyIsTitledByTheCompany) {
    Contact contact;
    contact.organizationName = "Acme";
    const PreviewDocument document = attributedPreview(contact, {});
    ASSERT_EQ(titleTexts(document), (std::vector<std::string>{"Acme"}));
    EXPECT_EQ(document.titleLines[0].style, PreviewTitleStyle::name);
}

TEST(ContactPreview, FirstNameBlockLineIsTheTitleEvenWhenPhonetic) {
    Contact contact;
    contact.phoneticGivenName = "Ana";
    const PreviewDocument document = attributedPreview(contact, {});
    ASSERT_EQ(titleTexts(document), (std::vector<std::string>{"Ana"}));
    EXPECT_EQ(document.titleLines[0].style, PreviewTitleStyle::name);
}

TEST(ContactPreview, NicknameFollowsTheNameInQuotationMarks) {
    Contact contact = person("Robert", "Berg");
    contact.nickname = "Bob";
    EXPECT_EQ(titleTexts(attributedPreview(contact, {})),
              (std::vector<std::string>{"Robert Berg", "\u201CBob\u201D"}));
}

TEST(ContactPreview, JobLineJoinsNonEmptyPartsWithNoBreakMiddleDot) {
    Contact contact = person("Anna", "Berg");
    contact.jobTitle = "Engineer";
    contact.organizationName = "Acme";
    EXPECT_EQ(attributedPreview(contact, {}).subtitle, "Engineer\u00A0\u00B7\u00A0Acme");
    contact.departmentName = "R&D";
    EXPECT_EQ(attributedPreview(contact, {}).subtitle,
              "Engineer\u00A0\u00B7\u00A0R&D\u00A0\u00B7\u00A0Acme");
}

TEST(ContactPreview, OrganizationJobLineLeavesOutItsOwnName) {
    Contact contact;
    contact.contactType = ContactType::organization;
    contact.organizationName = "Acme";
    contact.departmentName = "Sales";
    EXPECT_EQ(attributedPreview(contact, {}).subtitle, "Sales");
}

TEST(ContactPreview, RowsFollowTheAddressBookOrderWithLocalizedLabels) {
    ScopedDefaultLocale american("en_US");
    Contact contact = person("Anna", "Berg");
    contact.note = "Met at the fair";
    contact.postalAddresses.push_back(
        labeled(std::string(contacts::Label::work), address("", "", "Berlin", "", "de")));
    contact.instantMessageAddresses.push_back(labeled(
        std::string(contacts::Label::home), contacts::InstantMessageAddress{"anna.b", "Skype"}));
    contact.socialProfiles.push_back(labeled(std::string(), profile("annab", "twitter")));
    contact.contactRelations.push_back(
        labeled(std::string(contacts::RelationLabel::mother), contacts::ContactRelation{"Eva"}));
    contact.dates.push_back(
        labeled(std::string(contacts::Label::anniversary), DateComponents{2001, 6, 2, {}}));
    contact.birthday = DateComponents{1980, 3, 12, {}};
    contact.urlAddresses.push_back(labeled(std::string("blog"), std::string("https://a.example")));
    contact.emailAddresses.push_back(
        labeled(std::string(contacts::Label::home), std::string("a@b.c")));
    contact.phoneNumbers.push_back(
        labeled(std::string(contacts::Label::mobile), std::string("+49 170 1")));
    contact.previousFamilyName = "Lind";

    const PreviewDocument document = attributedPreview(contact, {"Friends"});
    EXPECT_EQ(rowLabels(document),
              (std::vector<std::string>{"Maiden name", "mobile", "home", "blog", "Birthday",
                                        "anniversary", "mother", "Twitter", "home", "work",
                                        "Groups", "Note"}));
    EXPECT_EQ(document.rows[0].value, "Lind");
    EXPECT_EQ(document.rows[1].value, "+49 170 1");
    EXPECT_EQ(document.rows[4].value, "March 12, 1980");
    EXPECT_EQ(document.rows[5].value, "June 2, 2001");
    EXPECT_EQ(document.rows[6].value, "Eva");
    EXPECT_EQ(document.rows[7].value, "annab");
    EXPECT_EQ(document.rows[8].value, "anna.b\u00A0\u00A0\u00A0Skype");
    EXPECT_EQ(document.rows[11].value, "Met at the fair");
}

TEST(ContactPreview, DatesFollowTheUserLocale) {
    ScopedDefaultLocale german("de_DE");
    EXPECT_EQ(previewDateText(DateComponents{1980, 3, 12, {}}), "12. März 1980");
    EXPECT_EQ(previewDateText(DateComponents{std::nullopt, 3, 12, {}}), "12. März");
    EXPECT_EQ(previewDateText(DateComponents{std::nullopt, 2, 30, {}}), "???");
}

TEST(ContactPreview, DatesWithoutYearShowDayAndMonth) {
    ScopedDefaultLocale american("en_US");
    EXPECT_EQ(previewDateText(DateComponents{std::nullopt, 3, 12, {}}), "March 12");
    EXPECT_EQ(previewDateText(DateComponents{std::nullopt, 2, 29, {}}), "February 29");
    EXPECT_EQ(previewDateText(DateComponents{1980, 12, 1, {}}), "December 1, 1980");
}

TEST(ContactPreview, ComponentsThatMakeNoDateShowQuestionMarks) {
    ScopedDefaultLocale american("en_US");
    EXPECT_EQ(previewDateText(DateComponents{1980, std::nullopt, 12, {}}), "???");
    EXPECT_EQ(previewDateText(DateComponents{1980, 3, std::nullopt, {}}), "???");
    EXPECT_EQ(previewDateText(DateComponents{1980, 13, 1, {}}), "???");
    EXPECT_EQ(previewDateText(DateComponents{1981, 2, 29, {}}), "???");
    EXPECT_EQ(previewDateText(DateComponents{1980, 4, 31, {}}), "???");
    EXPECT_EQ(previewDateText(DateComponents{1980, 2, 29, {}}), "February 29, 1980");
}

TEST(ContactPreview, BirthdayWithoutYearIsShownInItsRow) {
    ScopedDefaultLocale american("en_US");
    Contact contact = person("Anna", "Berg");
    contact.birthday = DateComponents{std::nullopt, 7, 4, {}};
    const PreviewDocument document = attributedPreview(contact, {});
    ASSERT_EQ(document.rows.size(), 1U);
    EXPECT_EQ(document.rows[0], (PreviewRow{"Birthday", "July 4", ""}));
}

// The preview of a user in the United States lays each address out for its own country,
// whether the address gives it by ISO code or by name only.
TEST(ContactPreview, PostalAddressIsMailingStyleOfItsOwnCountry) {
    const CountryOverride country("us");
    struct Case {
        contacts::PostalAddress address;
        std::string_view expected;
    };
    const Case cases[] = {
        {address("2 rue de la Paix", "75002", "Paris", "France", ""),
         "2 rue de la Paix\n75002 Paris\nFrance"},
        {address("Hauptstraße 5", "10115", "Berlin", "Deutschland", ""),
         "Hauptstraße 5\n10115 Berlin\nDeutschland"},
        {address("Hauptstraße 5", "10115", "Berlin", "", "de"), "Hauptstraße 5\n10115 Berlin"},
        {address("1 Main St", "62704", "Springfield", "United States", ""),
         "1 Main St\nSpringfield 62704\nUnited States"},
        {address("10 Downing Street", "SW1A 2AA", "London", "Royaume-Uni", ""),
         "10 Downing Street\nLondon\nSW1A 2AA\nRoyaume-Uni"},
        {address("10 Downing Street", "SW1A 2AA", "London", "", "GB"),
         "10 Downing Street\nLondon\nSW1A 2AA"},
    };
    for (const Case& c : cases) {
        Contact contact = person("Anna", "Berg");
        contact.postalAddresses.push_back(labeled(std::string(contacts::Label::home), c.address));
        const PreviewDocument document = attributedPreview(contact, {});
        ASSERT_EQ(document.rows.size(), 1U);
        EXPECT_EQ(document.rows[0], (PreviewRow{"home", std::string(c.expected), ""}))
            << c.address.country << c.address.isoCountryCode;
    }
}

// Only an address whose country is not recognised says which layout it got instead.
TEST(ContactPreview, FormatNoteOnlyForAnAddressWhoseCountryIsNotRecognised) {
    const CountryOverride country("ch");
    struct Case {
        std::string_view country;
        std::string_view isoCountryCode;
        std::string_view note;
    };
    const Case cases[] = {
        {"Deutschland", "de", ""},
        {"Deutschland", "", ""},
        {"", "de", ""},
        {"", "", ""},
        {"Atlantis", "", "Address Format (Country code): Default (Switzerland)"},
        {"", "qq", "Address Format (Country code): qq"},
        {"Atlantis", "qq", "Address Format (Country code): qq"},
    };
    for (const Case& c : cases) {
        Contact contact = person("Anna", "Berg");
        contact.postalAddresses.push_back(labeled(
            std::string(),
            address("", "", "Bern", std::string(c.country), std::string(c.isoCountryCode))));
        EXPECT_EQ(attributedPreview(contact, {}).rows.at(0).note, c.note)
            << c.country << " / " << c.isoCountryCode;
    }
}

TEST(ContactPreview, GroupNamesAreJoinedAndAbsentWithoutGroups) {
    const Contact contact = person("Anna", "Berg");
    EXPECT_TRUE(attributedPreview(contact, {}).rows.empty());
    const PreviewDocument document = attributedPreview(contact, {"Family", "Club"});
    ASSERT_EQ(document.rows.size(), 1U);
    EXPECT_EQ(document.rows[0], (PreviewRow{"Groups", "Family, Club", ""}));
}

TEST(ContactPreview, PlainTextAlignsValuesAndIndentsContinuationLines) {
    PreviewDocument document;
    document.titleLines = {{"Anna Berg", PreviewTitleStyle::name}};
    document.subtitle = "Engineer";
    document.rows = {{"mobile", "+49 170 1", ""},
                     {"work", "Main St 1\nBerlin", "Address Format (Country code): Germany"}};
    EXPECT_EQ(renderPlainText(document),
              "Anna Berg\n"
              "Engineer\n"
              "\n"
              "mobile  +49 170 1\n"
              "work    Main St 1\n"
              "        Berlin\n"
              "        Address Format (Country code): Germany\n");
}

TEST(ContactPreview, PlainTextMeasuresLabelsInCharactersNotBytes) {
    PreviewDocument document;
    document.rows = {{"Straße", "x", ""}, {"abcdef", "y", ""}};
    EXPECT_EQ(renderPlainText(document), "\nStraße  x\nabcdef  y\n");
}

TEST(ContactPreview, HtmlEscapesTextAndMarksStyles) {
    PreviewDocument document;
    document.titleLines = {{"<b>Tom</b> & \"Jerry\"", PreviewTitleStyle::name},
                           {"\u201CT\u201D", PreviewTitleStyle::alternateName}};
    document.subtitle = "R&D";
    document.rows = {{"a<b", "line 1\nline 2", "note's"}};
    const std::string html = renderHtml(document);
    EXPECT_NE(html.find("<p class=\"name\">&lt;b&gt;Tom&lt;/b&gt; &amp; &quot;Jerry&quot;</p>"),
              std::string::npos);
    EXPECT_NE(html.find("<p class=\"alternate-name\">\u201CT\u201D</p>"), std::string::npos);
    EXPECT_NE(html.find("<p class=\"job\">R&amp;D</p>"), std::string::npos);
    EXPECT_NE(html.find("<td class=\"label\">a&lt;b</td>"), std::string::npos);
    EXPECT_NE(
        html.find(
            "<td class=\"value\">line 1<br>line 2<br><span class=\"note\">note&#39;s</span></td>"),
        std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
}

TEST(ContactPreview, HtmlHasNoTableWithoutRows) {
    PreviewDocument document;
    document.titleLines = {{"No Name", PreviewTitleStyle::name}};
    EXPECT_EQ(renderHtml(document).find("<table"), std::string::npos);
}

}  // namespace
}  // namespace pelkora
