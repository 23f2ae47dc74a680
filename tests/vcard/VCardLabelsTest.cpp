#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addressbook/ContactKeys.h"
#include "vcard/VCard.h"

namespace pelkora::contacts {
namespace {

// A vCard 3.0 around the lines, joined by CR LF.
std::string vcard(std::string_view lines) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg;Anna;;;\r\n" + std::string(lines) +
           "END:VCARD\r\n";
}

Contact readOne(std::string_view text) {
    auto entries = readVCards(text);
    EXPECT_TRUE(entries) << (entries ? "" : entries.error().message);
    if (!entries || entries->size() != 1) {
        ADD_FAILURE() << "not one vCard in " << text;
        return {};
    }
    return entries->front().contact;
}

// Every labelled property of a contact, each holding the one label.
Contact contactWithLabelEverywhere(std::string_view label) {
    const std::string text(label);
    Contact contact;
    contact.identifier = "L";
    contact.givenName = "Anna";
    contact.phoneNumbers = {labeled(text, std::string("+49 30 1"))};
    contact.emailAddresses = {labeled(text, std::string("anna@example.org"))};
    contact.urlAddresses = {labeled(text, std::string("https://anna.example"))};
    PostalAddress address;
    address.street = "Hauptstraße 5";
    contact.postalAddresses = {labeled(text, address)};
    contact.dates = {labeled(text, DateComponents{2004, 6, 20, ""})};
    contact.contactRelations = {labeled(text, ContactRelation{"Bob"})};
    contact.socialProfiles = {
        labeled(text, SocialProfile{"https://x.example/anna", "anna", "", ""})};
    contact.instantMessageAddresses = {
        labeled(text, InstantMessageAddress{"anna", std::string(InstantMessageService::skype)})};
    return contact;
}

// The labels of each labelled property, in the order above.
std::vector<std::string> labelsOf(const Contact& contact) {
    std::vector<std::string> labels;
    const auto add = [&](const auto& values) {
        for (const auto& value : values) labels.push_back(value.label);
        if (values.size() != 1) labels.push_back("(" + std::to_string(values.size()) + " values)");
    };
    add(contact.phoneNumbers);
    add(contact.emailAddresses);
    add(contact.urlAddresses);
    add(contact.postalAddresses);
    add(contact.dates);
    add(contact.contactRelations);
    add(contact.socialProfiles);
    add(contact.instantMessageAddresses);
    return labels;
}

// Every built-in label on every kind of property is written in words other programs show and
// comes back as the same label: TYPE words, or its English name, which must therefore be one
// no other label has.
TEST(VCardLabelSpelling, EveryBuiltInLabelComesBackWithoutATokenInTheText) {
    std::vector<std::string_view> labels(builtInLabels.begin(), builtInLabels.end());
    labels.push_back("Summer house");
    labels.push_back("");
    for (const auto label : labels) {
        SCOPED_TRACE(std::string(label));
        const Contact contact = contactWithLabelEverywhere(label);
        const std::string text = dataWithContacts({contact});
        EXPECT_EQ(text.find("_$!<"), std::string::npos) << text;
        EXPECT_EQ(text.find(">!$_"), std::string::npos) << text;
        EXPECT_EQ(labelsOf(readOne(text)), labelsOf(contact)) << text;
    }
}

TEST(VCardLabelSpelling, LabelTextIsTheEnglishNameOrTheTextWithoutMarkers) {
    const std::vector<std::pair<std::string_view, std::string_view>> cases = {
        {RelationLabel::mother, "mother"},
        {RelationLabel::grandmotherMothersMother, "mother's mother"},
        {Label::homeFax, "home fax"},
        {Label::appleWatch, "Apple Watch"},
        {Label::iPhone, "iPhone"},
        {"_$!<Boat>!$_", "Boat"},
        {"Summer house", "Summer house"},
    };
    for (const auto& [label, text] : cases) EXPECT_EQ(vCardLabelText(label), text) << label;
}

// What other programs write, and what older versions of ours wrote, reads as the labels.
TEST(VCardLabelSpelling, TokensEnglishNamesAndTypeListsAreRead) {
    const std::vector<std::pair<std::string, std::string_view>> cases = {
        {"item1.TEL:1\r\nitem1.X-ABLABEL:_$!<HomePage>!$_", Label::homePage},
        {"item1.TEL:1\r\nitem1.X-ABLabel:homepage", Label::homePage},
        {"item1.TEL:1\r\nitem1.X-ABLabel:HomePage", Label::homePage},
        {"item1.TEL:1\r\nitem1.X-ABLabel:Home Fax", Label::homeFax},
        {"item1.TEL;TYPE=VOICE:1\r\nitem1.X-ABLabel:main", Label::main},
        {"item1.TEL;TYPE=CELL:1\r\nitem1.X-ABLabel:Apple Watch", Label::appleWatch},
        // A token we do not know is read as its name, as it is written back.
        {"item1.TEL:1\r\nitem1.X-ABLabel:_$!<Unheard>!$_", "Unheard"},
        {"item1.TEL:1\r\nitem1.X-ABLabel:_$!<MM-ain>!$_", "MM-ain"},
        {"item1.TEL:1\r\nitem1.X-ABLabel:_$!<>!$_", ""},
        {"item1.TEL:1\r\nitem1.X-ABLabel:Blog", "Blog"},
        {"TEL;TYPE=HOME,FAX:1", Label::homeFax},
        {"TEL;TYPE=\"work,fax\":1", Label::workFax},
        {"TEL;TYPE=MAIN:1", Label::main},
    };
    for (const auto& [lines, label] : cases) {
        const auto contact = readOne(vcard(lines + "\r\n"));
        ASSERT_EQ(contact.phoneNumbers.size(), 1u) << lines;
        EXPECT_EQ(contact.phoneNumbers[0].label, label) << lines;
        // What was read is written so that it reads the same again.
        EXPECT_EQ(labelsOf(readOne(dataWithContacts({contact}))), labelsOf(contact)) << lines;
    }
}

TEST(VCardLabelSpelling, AnniversariesInEveryFormAreRead) {
    const std::vector<std::pair<std::string, DateComponents>> cases = {
        {"X-ANNIVERSARY:2004-06-20", {2004, 6, 20, ""}},
        {"ANNIVERSARY:20040620", {2004, 6, 20, ""}},
        {"ANNIVERSARY:--0620", {std::nullopt, 6, 20, ""}},
        {"X-ANNIVERSARY;X-APPLE-OMIT-YEAR=1604:1604-06-20", {std::nullopt, 6, 20, ""}},
        {"item1.X-ABDATE:2004-06-20\r\nitem1.X-ABLabel:_$!<Anniversary>!$_", {2004, 6, 20, ""}},
        {"item1.X-ABDATE:2004-06-20\r\nitem1.X-ABLabel:anniversary", {2004, 6, 20, ""}},
    };
    for (const auto& [lines, date] : cases) {
        const auto contact = readOne(vcard(lines + "\r\n"));
        ASSERT_EQ(contact.dates.size(), 1u) << lines;
        EXPECT_EQ(contact.dates[0].label, Label::anniversary) << lines;
        EXPECT_EQ(contact.dates[0].value, date) << lines;
    }
}

TEST(VCardLabelSpelling, TheFirstAnniversaryIsTheStandardPropertyAndTheOthersAreLabelledDates) {
    Contact contact;
    contact.identifier = "A";
    contact.dates = {
        labeled(std::string("Wedding"), DateComponents{2001, 5, 5, ""}),
        labeled(std::string(Label::anniversary), DateComponents{2004, 6, 20, ""}),
        labeled(std::string(Label::anniversary), DateComponents{std::nullopt, 7, 1, ""})};
    const std::string text = dataWithContacts({contact});
    EXPECT_NE(text.find("\r\nX-ANNIVERSARY:2004-06-20\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(".X-ABDATE:--0701\r\nitem2.X-ABLabel:anniversary\r\n"), std::string::npos)
        << text;
    const auto dates = readOne(text).dates;
    ASSERT_EQ(dates.size(), 3u);
    for (std::size_t i = 0; i < dates.size(); ++i) {
        EXPECT_EQ(dates[i].label, contact.dates[i].label) << i;
        EXPECT_EQ(dates[i].value, contact.dates[i].value) << i;
    }
}

// Related names in the forms of RFC 6350, Apple, and the programs that know only a spouse, a
// manager and an assistant; a name written in two of them is one relation.
TEST(VCardLabelSpelling, RelatedNamesInEveryFormAreReadOnce) {
    using Relations = std::vector<std::pair<std::string_view, std::string>>;
    const std::vector<std::pair<std::string, Relations>> cases = {
        {"RELATED;TYPE=spouse;VALUE=text:Alex", {{RelationLabel::spouse, "Alex"}}},
        {"RELATED;TYPE=co-worker;VALUE=text:Kim", {{RelationLabel::colleague, "Kim"}}},
        {"item1.X-ABRELATEDNAMES:Bob\r\nitem1.X-ABLabel:_$!<Mother>!$_",
         {{RelationLabel::mother, "Bob"}}},
        {"item1.X-ABRELATEDNAMES:Bob\r\nitem1.X-ABLabel:mother", {{RelationLabel::mother, "Bob"}}},
        {"X-ABRELATEDNAMES;TYPE=OTHER:Eve", {{Label::other, "Eve"}}},
        {"X-SPOUSE:Alex", {{RelationLabel::spouse, "Alex"}}},
        {"X-MANAGER:Kim\r\nX-ASSISTANT:Lou",
         {{RelationLabel::manager, "Kim"}, {RelationLabel::assistant, "Lou"}}},
        {"X-EVOLUTION-SPOUSE:Alex\r\nX-KADDRESSBOOK-X-ManagersName:Kim",
         {{RelationLabel::spouse, "Alex"}, {RelationLabel::manager, "Kim"}}},
        {"item1.X-ABRELATEDNAMES:Alex\r\nitem1.X-ABLabel:wife\r\nX-SPOUSE:Alex",
         {{RelationLabel::wife, "Alex"}}},
        {"X-SPOUSE:Alex\r\nX-EVOLUTION-SPOUSE:Alex\r\nRELATED;TYPE=spouse:Alex",
         {{RelationLabel::spouse, "Alex"}}},
        {"X-SPOUSE:Alex\r\nitem1.X-ABRELATEDNAMES:Alex\r\nitem1.X-ABLabel:brother",
         {{RelationLabel::spouse, "Alex"}, {RelationLabel::brother, "Alex"}}},
    };
    for (const auto& [lines, expected] : cases) {
        const Contact contact = readOne(vcard(lines + "\r\n"));
        Relations relations;
        for (const auto& relation : contact.contactRelations) {
            relations.emplace_back(relation.label, relation.value.name);
        }
        EXPECT_EQ(relations, expected) << lines;
    }
}

TEST(VCardLabelSpelling, SpouseManagerAndAssistantAlsoGetTheirOwnProperty) {
    Contact contact;
    contact.identifier = "R";
    contact.contactRelations = {labeled(std::string(RelationLabel::husband), ContactRelation{"Al"}),
                                labeled(std::string(RelationLabel::spouse), ContactRelation{"Bo"}),
                                labeled(std::string(RelationLabel::manager), ContactRelation{"Cy"}),
                                labeled(std::string(RelationLabel::mother), ContactRelation{"Di"})};
    const std::string text = dataWithContacts({contact});
    EXPECT_NE(text.find("\r\nX-SPOUSE:Al\r\nX-MANAGER:Cy\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("X-SPOUSE:Bo"), std::string::npos) << "a vCard has one spouse";
    EXPECT_EQ(text.find("X-ASSISTANT"), std::string::npos);
    const auto relations = readOne(text).contactRelations;
    ASSERT_EQ(relations.size(), 4u);
    for (std::size_t i = 0; i < relations.size(); ++i) {
        EXPECT_EQ(relations[i].label, contact.contactRelations[i].label) << i;
    }
}

}  // namespace
}  // namespace pelkora::contacts
