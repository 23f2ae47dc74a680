// Google Contacts exports, old and current form, opened through the session as a user opens
// them: every phone number, e-mail and postal address comes in with the label its label
// column gives it row by row, values joined with " ::: " come in one by one, and Google's
// system groups stay out.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "SessionTestSupport.h"
#include "addressbook/ContactKeys.h"
#include "import/ContactAssembly.h"
#include "input/TextReader.h"
#include "session/FieldMappingPage.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;
using test::SessionFixture;
using Pairs = std::vector<std::pair<std::string, std::string>>;

const std::filesystem::path kExports = std::filesystem::path(PELKORA_TEST_DATA_DIR) / "exports";

std::string fileText(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

template <typename T>
Pairs pairs(const std::vector<LabeledValue<T>>& values) {
    Pairs result;
    for (const auto& value : values) result.emplace_back(value.label, value.value);
    return result;
}

Pairs addresses(const Contact& contact) {
    Pairs result;
    for (const auto& address : contact.postalAddresses) {
        const PostalAddress& value = address.value;
        result.emplace_back(address.label, value.street + "|" + value.city + "|" + value.state +
                                               "|" + value.postalCode + "|" + value.country);
    }
    return result;
}

class GoogleExportImportTest : public ::testing::Test {
  protected:
    // Opens the export as the user does and assembles every record with the mapping the
    // mapping page made.
    std::vector<AssembledContact> importExport(const std::string& name) {
        fixture.launch();
        // With a byte-order mark the file goes straight to the mapping page.
        (void)fixture.session.openFiles(
            {fixture.file(name, "\xEF\xBB\xBF" + fileText(kExports / name))});
        EXPECT_TRUE(fixture.runUntilPage("FieldMappingViewController"));
        page = dynamic_cast<FieldMappingPage*>(fixture.session.currentPage());
        if (!page) throw std::runtime_error("the mapping page is not shown");
        MainQueue::shared().runUntil([&] { return !page->isMapping(); }, std::chrono::seconds(30));

        const auto& reader = *fixture.session.textReader();
        ContactAssembler assembler(fixture.session.mappedContactProperties(), {},
                                   AssemblyOptions{});
        std::vector<AssembledContact> contacts;
        for (std::size_t row = static_cast<std::size_t>(reader.headerRowIndex()) + 1;
             row < reader.dataRows().size(); ++row)
            contacts.push_back(assembler.assemble(reader.dataRows()[row]));
        return contacts;
    }

    // The row of the mapping page for the column title.
    std::size_t row(std::string_view title) {
        const auto& list = fixture.session.mappedContactProperties();
        for (std::size_t index = 0; index < list.size(); ++index) {
            if (list[index].sourceFieldName == title) return index;
        }
        ADD_FAILURE() << "no column " << title;
        return 0;
    }

    test::ScopedXdgHome xdg;
    SessionFixture fixture;
    FieldMappingPage* page = nullptr;
};

TEST_F(GoogleExportImportTest, CurrentFormKeepsEveryLabelValueAndGroup) {
    const auto contacts = importExport("google-current.csv");
    ASSERT_EQ(contacts.size(), 3u);

    const Contact& ada = contacts[0].contact;
    EXPECT_EQ(pairs(ada.phoneNumbers), (Pairs{{std::string(Label::mobile), "+1 415 555 0101"},
                                              {std::string(Label::mobile), "+1 415 555 0102"},
                                              {std::string(Label::workFax), "+1 415 555 0199"}}));
    EXPECT_EQ(pairs(ada.emailAddresses),
              (Pairs{{std::string(Label::home), "ada@example.org"},
                     {std::string(Label::work), "ada@analytical.example.com"},
                     {std::string(Label::work), "a.lovelace@analytical.example.com"}}));
    EXPECT_EQ(addresses(ada),
              (Pairs{{std::string(Label::home), "12 Analytical Way|San Francisco|CA|94110|US"}}));
    EXPECT_EQ(pairs(ada.urlAddresses), (Pairs{{"Blog", "https://ada.example.org/blog"}}));
    EXPECT_EQ(ada.organizationName, "Analytical Engines Ltd");
    EXPECT_EQ(ada.jobTitle, "Mathematician");
    EXPECT_EQ(contacts[0].groupNames, std::vector<std::string>{"Friends"});
    // The label columns are nobody's note.
    EXPECT_EQ(ada.note.find("Work Fax"), std::string::npos) << ada.note;
    EXPECT_EQ(ada.note.find("Mobile"), std::string::npos) << ada.note;

    const Contact& grace = contacts[1].contact;
    EXPECT_EQ(pairs(grace.phoneNumbers), (Pairs{{std::string(Label::work), "+1 202 555 0110"},
                                                {"Google Voice", "+1 202 555 0111"},
                                                {"Assistant", "+1 202 555 0112"},
                                                {std::string(Label::home), "+1 703 555 0113"}}));
    EXPECT_EQ(pairs(grace.emailAddresses),
              (Pairs{{std::string(Label::work), "grace@navy.example.mil"}}));
    EXPECT_EQ(addresses(grace),
              (Pairs{{std::string(Label::work), "1 Navy Yard|Washington|DC|20374|US"},
                     {std::string(Label::home), "7 Harbor Road|Arlington|VA|22201|US"}}));
    EXPECT_EQ(pairs(grace.urlAddresses), (Pairs{{"Profile", "https://navy.example.mil/hopper"}}));
    EXPECT_EQ(contacts[1].groupNames, (std::vector<std::string>{"Navy", "Friends"}));

    const Contact& initech = contacts[2].contact;
    EXPECT_EQ(initech.contactType, ContactType::organization);
    EXPECT_EQ(pairs(initech.phoneNumbers),
              (Pairs{{std::string(Label::main), "+1 512 555 0100"},
                     {std::string(Label::pager), "+1 512 555 0177"},
                     {std::string(Label::homeFax), "+1 512 555 0178"}}));
    EXPECT_EQ(pairs(initech.emailAddresses),
              (Pairs{{std::string(Label::other), "info@initech.example.com"}}));
    EXPECT_TRUE(contacts[2].groupNames.empty());

    // The page says where the labels come from.
    EXPECT_EQ(page->labelText(fixture.session, row("Phone 1 - Value")), "label from column 22");
    EXPECT_EQ(page->labelText(fixture.session, row("Address 1 - City")), "label from column 28");
    EXPECT_FALSE(fixture.session.mappedContactProperties()[row("Phone 1 - Label")]
                     .contactProperty.isValid());
    // A label chosen by hand holds for every row.
    page->contactLabelDidChange(fixture.session, row("Phone 1 - Value"), std::string(Label::work));
    EXPECT_EQ(page->labelText(fixture.session, row("Phone 1 - Value")), "work");
}

TEST_F(GoogleExportImportTest, OldFormKeepsEveryLabelValueAndGroup) {
    const auto contacts = importExport("google-old.csv");
    ASSERT_EQ(contacts.size(), 2u);

    const Contact& alan = contacts[0].contact;
    EXPECT_EQ(pairs(alan.phoneNumbers), (Pairs{{std::string(Label::mobile), "+44 7700 900101"},
                                               {std::string(Label::homeFax), "+44 20 7946 0101"},
                                               {std::string(Label::workFax), "+44 20 7946 0102"}}));
    EXPECT_EQ(pairs(alan.emailAddresses),
              (Pairs{{std::string(Label::home), "alan@example.org"},
                     {std::string(Label::work), "alan@bletchley.example.gov.uk"}}));
    EXPECT_EQ(addresses(alan),
              (Pairs{{std::string(Label::home),
                      "43 Adlington Road\nPO Box 7|Wilmslow|Cheshire|SK9 2BJ|GB"}}));
    EXPECT_EQ(pairs(alan.urlAddresses), (Pairs{{"Blog", "https://alan.example.org/notes"}}));
    EXPECT_EQ(alan.organizationName, "Government Code and Cypher School");
    EXPECT_EQ(alan.jobTitle, "Cryptanalyst");
    EXPECT_EQ(alan.departmentName, "Hut 8");
    EXPECT_EQ(contacts[0].groupNames, std::vector<std::string>{"Bletchley"});

    const Contact& joan = contacts[1].contact;
    EXPECT_EQ(pairs(joan.emailAddresses),
              (Pairs{{std::string(Label::work), "joan@bletchley.example.gov.uk"},
                     {std::string(Label::home), "joan@example.org"}}));
    EXPECT_EQ(pairs(joan.phoneNumbers), (Pairs{{std::string(Label::pager), "+44 20 7946 0200"},
                                               {std::string(Label::other), "+44 20 7946 0201"},
                                               {"Assistant", "+44 20 7946 0202"}}));
    EXPECT_EQ(addresses(joan),
              (Pairs{{std::string(Label::work),
                      "Bletchley Park|Milton Keynes|Buckinghamshire|MK3 6EB|GB"}}));
    EXPECT_EQ(pairs(joan.urlAddresses),
              (Pairs{{std::string(Label::homePage), "https://joan.example.org"}}));
    EXPECT_EQ(contacts[1].groupNames, std::vector<std::string>{"Bletchley"});
}

// Titles that say where a value belongs, in French, Spanish and Italian.
struct PlaceTitlesCase {
    std::string file;
    Pairs phones;
    Pairs addresses;
    Pairs emails;
};

class PlaceTitlesTest : public GoogleExportImportTest,
                        public ::testing::WithParamInterface<PlaceTitlesCase> {};

TEST_P(PlaceTitlesTest, TitlesNamingAPlaceLabelTheirValues) {
    const auto& expected = GetParam();
    const auto contacts = importExport(expected.file);
    ASSERT_EQ(contacts.size(), 1u);
    EXPECT_EQ(pairs(contacts[0].contact.phoneNumbers), expected.phones);
    EXPECT_EQ(addresses(contacts[0].contact), expected.addresses);
    EXPECT_EQ(pairs(contacts[0].contact.emailAddresses), expected.emails);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, PlaceTitlesTest,
    ::testing::Values(
        PlaceTitlesCase{"places-fr.csv",
                        {{std::string(Label::work), "+33 1 44 27 00 00"},
                         {std::string(Label::home), "+33 6 12 34 56 78"},
                         {std::string(Label::other), "+33 1 40 00 00 00"}},
                        {{std::string(Label::work), "1 rue Pierre et Marie Curie|Paris||75005|"},
                         {std::string(Label::home), "36 quai de Béthune|Paris|||"}},
                        {{std::string(Label::home), "marie@example.fr"}}},
        PlaceTitlesCase{"places-es.csv",
                        {{std::string(Label::work), "+34 915 61 88 00"},
                         {std::string(Label::home), "+34 612 34 56 78"},
                         {std::string(Label::other), "+34 910 00 00 00"}},
                        {{std::string(Label::home), "Calle de Atocha 1|Madrid||28012|"},
                         {std::string(Label::work), "Calle Serrano 117|Madrid|||"}},
                        {{std::string(Label::home), "santiago@example.es"}}},
        PlaceTitlesCase{"places-it.csv",
                        {{std::string(Label::work), "+39 06 4993 0000"},
                         {std::string(Label::home), "+39 333 123 4567"},
                         {std::string(Label::other), "+39 06 0000 0000"}},
                        {{std::string(Label::home), "Via Po 12|Torino||10123|"},
                         {std::string(Label::work), "Via Nazionale 5|Roma|||"}},
                        {{std::string(Label::home), "rita@example.it"}}}),
    [](const ::testing::TestParamInfo<PlaceTitlesCase>& info) {
        return info.param.file.substr(7, 2);
    });

}  // namespace
}  // namespace pelkora
