#include <gtest/gtest.h>

#include "addressbook/ContactKeys.h"
#include "mapping/AutoMapping.h"
#include "mapping/ValueLabels.h"

namespace pelkora {
namespace {

using namespace contacts;

const TitleMatcher& shippedMatcher() {
    static const TitleMatcher matcher(vendorStringMap());
    return matcher;
}

TEST(ValueLabelsTest, LabelCellTextsNameLabelsTheTargetOffers) {
    struct Case {
        std::string text;
        std::string_view key;
        std::optional<std::string> label;
    };
    const Case cases[] = {
        {"Mobile", ContactKey::phoneNumbers, std::string(Label::mobile)},
        {"* Mobile", ContactKey::phoneNumbers, std::string(Label::mobile)},
        {"mobile", ContactKey::phoneNumbers, std::string(Label::mobile)},
        {"Work", ContactKey::phoneNumbers, std::string(Label::work)},
        {"* Home", ContactKey::emailAddresses, std::string(Label::home)},
        {"Main", ContactKey::phoneNumbers, std::string(Label::main)},
        {"Other", ContactKey::postalAddresses, std::string(Label::other)},
        {"Work Fax", ContactKey::phoneNumbers, std::string(Label::workFax)},
        {"Home Fax", ContactKey::phoneNumbers, std::string(Label::homeFax)},
        {"Pager", ContactKey::phoneNumbers, std::string(Label::pager)},
        {"Portable", ContactKey::phoneNumbers, std::string(Label::mobile)},
        {"Geschäftlich", ContactKey::emailAddresses, std::string(Label::work)},
        {"Móvil", ContactKey::phoneNumbers, std::string(Label::mobile)},
        {"Cellulare", ContactKey::phoneNumbers, std::string(Label::mobile)},
        {"Domicile", ContactKey::postalAddresses, std::string(Label::home)},
        {"Мобильный", ContactKey::phoneNumbers, std::string(Label::mobile)},
        {"自宅", ContactKey::phoneNumbers, std::string(Label::home)},
        {"Anniversary", ContactKey::dates, std::string(Label::anniversary)},
        {"Home Page", ContactKey::urlAddresses, std::string(Label::homePage)},
        // Words the target does not offer, and any other text, are custom labels.
        {"Mobile", ContactKey::emailAddresses, std::string("Mobile")},
        {"Work Fax", ContactKey::emailAddresses, std::string("Work Fax")},
        {"Google Voice", ContactKey::phoneNumbers, std::string("Google Voice")},
        {"Blog", ContactKey::urlAddresses, std::string("Blog")},
        {"* Assistant", ContactKey::phoneNumbers, std::string("Assistant")},
        {"  ", ContactKey::phoneNumbers, std::nullopt},
        {"*", ContactKey::phoneNumbers, std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.text + " for " + std::string(testCase.key));
        EXPECT_EQ(labelFromLabelText(testCase.text, SuggestedContactProperty::target(testCase.key)),
                  testCase.label);
    }
}

TEST(ValueLabelsTest, TitlesNamingAPlaceInAnyLanguageAndOrderGiveItsLabel) {
    const std::pair<std::string, std::optional<std::string_view>> cases[] = {
        {"Business Phone", Label::work},
        {"Telefon privat", Label::home},
        {"Ciudad donde vive", Label::home},
        {"Città di residenza", Label::home},
        {"Rue (bureau)", Label::work},
        {"Téléphone (domicile)", Label::home},
        {"E-Mail (Büro)", Label::work},
        {"Adres thuis", Label::home},
        {"Рабочий телефон", Label::work},
        {"自宅電話", Label::home},
        {"勤務先住所", Label::work},
        // Words that only contain a place word name none.
        {"Telephone", std::nullopt},
        {"Homepage", std::nullopt},
        {"Workshop Street", std::nullopt},
        {"Phone", std::nullopt},
    };
    for (const auto& [title, label] : cases) {
        SCOPED_TRACE(title);
        EXPECT_EQ(placeLabelInTitle(title), label);
    }
}

TEST(ValueLabelsTest, MultipleValuesSplitAtTheSeparatorOnly) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"+1 415 555 0101 ::: +1 415 555 0102", {"+1 415 555 0101", "+1 415 555 0102"}},
        {"a@example.org", {"a@example.org"}},
        {"Home :::  ::: Work", {"Home", "", "Work"}},
        {"::: +1 555", {"", "+1 555"}},
        {"+1 555 :::", {"+1 555", ""}},
        {"http://[fe80:::1]/ ::: b", {"http://[fe80:::1]/", "b"}},
        {"", {""}},
    };
    for (const auto& [text, values] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(splitMultipleValues(text), values);
    }
}

std::vector<MappedContactProperty> mapTitles(const std::vector<std::string>& titles,
                                             int columnIndexStyle = kColumnIndexStyleOneBased) {
    DataRow header(1);
    for (std::size_t i = 0; i < titles.size(); ++i)
        header.addText(static_cast<std::int64_t>(i), titles[i]);
    return autoMap(header, true, columnIndexStyle, shippedMatcher(), {}, AutoMappingSettings{})
        .mappedContactProperties;
}

TEST(ValueLabelsTest, LabelColumnsLabelTheValueColumnsOfTheirPrefix) {
    const auto list =
        mapTitles({"Phone 1 - Label", "Phone 1 - Value", "Address 1 - Type",
                   "Address 1 - Formatted", "Address 1 - Street", "Address 1 - City",
                   "Custom Field 1 - Label", "Custom Field 1 - Value", "Organization 1 - Type",
                   "Organization 1 - Name", "Phone 2 - Value", "E-mail 1 - Label"});
    // Label columns that label something are not imported.
    EXPECT_FALSE(list[0].contactProperty.propertyKey);
    EXPECT_FALSE(list[2].contactProperty.propertyKey);
    EXPECT_EQ(list[1].labelColumnIndex, 0);
    EXPECT_EQ(list[1].contactProperty.propertyKey, ContactKey::phoneNumbers);
    // Every address part takes the address's label column; the formatted address is a note.
    EXPECT_FALSE(list[3].labelColumnIndex);
    EXPECT_EQ(list[3].contactProperty.propertyKey, CustomPropertyKeys::AdditionalNote);
    EXPECT_EQ(list[4].labelColumnIndex, 2);
    EXPECT_EQ(list[5].labelColumnIndex, 2);
    // Nothing with a label beside them: these label columns stay notes.
    for (const std::size_t unpaired : {6u, 8u, 11u}) {
        SCOPED_TRACE(list[unpaired].sourceFieldName);
        EXPECT_EQ(list[unpaired].contactProperty.propertyKey, CustomPropertyKeys::AdditionalNote);
    }
    EXPECT_FALSE(list[7].labelColumnIndex);
    EXPECT_FALSE(list[9].labelColumnIndex);
    EXPECT_FALSE(list[10].labelColumnIndex);

    EXPECT_EQ(displayedLabel(list[1], list), "label from column 1");
    EXPECT_EQ(displayedLabel(list[5], list), "label from column 3");
    EXPECT_EQ(displayedLabel(list[10], list), "other");
    EXPECT_EQ(displayedLabel(list[9], list), "");
}

TEST(ValueLabelsTest, LabelColumnsPairInOtherLanguagesAndShowWorkbookLetters) {
    const auto list =
        mapTitles({"Nombre", "Apellido", "Teléfono 1 - Etiqueta", "Teléfono 1 - Valor",
                   "Correo electrónico 1 - Tipo", "Correo electrónico 1 - Valor"},
                  kColumnIndexStyleLetters);
    EXPECT_EQ(list[3].contactProperty.propertyKey, ContactKey::phoneNumbers);
    EXPECT_EQ(list[3].labelColumnIndex, 2);
    EXPECT_EQ(list[5].contactProperty.propertyKey, ContactKey::emailAddresses);
    EXPECT_EQ(list[5].labelColumnIndex, 4);
    EXPECT_EQ(displayedLabel(list[3], list), "label from column C");
}

TEST(ValueLabelsTest, ColumnsMappedByHandKeepTheirOwnLabel) {
    auto list = mapTitles({"Phone 1 - Label", "Phone 1 - Value"});
    for (auto& entry : list) entry.labelColumnIndex.reset();
    list[0].contactProperty.clearAll();
    list[0].contactProperty.propertyKey = std::string(CustomPropertyKeys::AdditionalNote);
    list[1].mappedManuallyByUser = true;
    pairLabelColumns(list);
    EXPECT_FALSE(list[1].labelColumnIndex);
    EXPECT_EQ(list[0].contactProperty.propertyKey, CustomPropertyKeys::AdditionalNote);
}

TEST(ValueLabelsTest, TitlesThatSayWhereLabelPhonesMailAndAddresses) {
    struct Case {
        std::vector<std::string> titles;
        std::vector<std::optional<std::string>> labels;
    };
    const Case cases[] = {
        {{"Prénom", "Nom", "Rue (bureau)", "Ville (domicile)", "Téléphone personnel", "Téléphone"},
         {std::nullopt, std::nullopt, std::string(Label::work), std::string(Label::home),
          std::string(Label::home), std::string(Label::other)}},
        {{"Nombre", "Apellido", "Ciudad donde vive", "Teléfono del trabajo", "Correo electrónico"},
         {std::nullopt, std::nullopt, std::string(Label::home), std::string(Label::work),
          std::string(Label::other)}},
        {{"Nome", "Cognome", "Città di residenza", "Telefono privato", "Telefono"},
         {std::nullopt, std::nullopt, std::string(Label::home), std::string(Label::home),
          std::string(Label::other)}},
        {{"First Name", "Last Name", "Business Phone", "Home Street", "E-mail Address"},
         {std::nullopt, std::nullopt, std::string(Label::work), std::string(Label::home),
          std::string(Label::other)}},
    };
    for (const auto& testCase : cases) {
        const auto list = mapTitles(testCase.titles);
        for (std::size_t i = 0; i < list.size(); ++i) {
            SCOPED_TRACE(list[i].sourceFieldName);
            const auto& target = list[i].contactProperty;
            EXPECT_EQ(target.canHaveLabel() ? target.label() : std::nullopt, testCase.labels[i]);
        }
    }
}

}  // namespace
}  // namespace pelkora
