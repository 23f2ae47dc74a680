#pragma once

// 100,000 generated contact rows (the columns of ContactCsv.h) as a reader holds them after
// parsing, with the column assignments a user would make: the input of the import and
// export benchmarks.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ContactCsv.h"
#include "addressbook/ContactKeys.h"
#include "import/ImportSource.h"

namespace pelkora::bench {

using namespace pelkora::contacts;

inline constexpr std::size_t kGeneratedRows = 100'000;
constexpr std::size_t kRows = kGeneratedRows;

// A CSV field's value: outer quotes removed and doubled quotes undone.
inline std::string fieldValue(std::string_view field) {
    if (field.size() < 2 || field.front() != '"') return std::string(field);
    std::string value;
    field = field.substr(1, field.size() - 2);
    for (std::size_t i = 0; i < field.size(); ++i) {
        value += field[i];
        if (field[i] == '"' && i + 1 < field.size() && field[i + 1] == '"') ++i;
    }
    return value;
}

// The rows of bench/ContactCsv.h, built as a reader would, with a header row.
class GeneratedContactsReader : public TabularDataReader {
  public:
    GeneratedContactsReader() : TabularDataReader("contacts.csv") {
        Random random;
        DataRow header(1);
        for (std::int64_t column = 0; column < 20; ++column) {
            header.addText(column, "Column " + std::to_string(column));
        }
        appendDataRow(std::move(header));
        setHeaderRowIndex(0);
        reserveDataRows(kRows + 1);
        for (std::uint32_t record = 1; record <= kRows; ++record) {
            const std::string id = std::to_string(record);
            const std::string number = std::to_string(1'000'000 + random.next() % 9'000'000);
            const std::string day = std::to_string(10 + record % 18);
            const std::string month = std::to_string(10 + record % 3);
            const std::string year = std::to_string(1940 + record % 65);
            const std::string_view first = random.pick(kFirstNames);
            const std::string_view last = random.pick(kLastNames);
            const std::string company = fieldValue(random.pick(kCompanies));
            const std::string_view city = random.pick(kCities);
            const std::size_t comma1 = city.find(',');
            const std::size_t comma2 = city.find(',', comma1 + 1);
            const std::string groups = fieldValue(random.pick(kGroups));
            const std::string notes = fieldValue(random.pick(kNotes));
            const std::vector<std::string> texts = {
                std::string(first),
                std::string(last),
                company,
                "Sales Manager",
                "contact" + id + "@example.com",
                "",
                "+49 30 " + number,
                "+1 (555) " + number,
                "Hauptstraße " + std::to_string(record % 250) + ", Hof 2",
                std::string(city.substr(0, comma1)),
                std::string(city.substr(comma1 + 1, comma2 - comma1 - 1)),
                std::string(city.substr(comma2 + 1)),
                year + "-" + month + "-" + day,
                day + "." + month + "." + year,
                groups,
                notes,
                std::string(first),
                "Vertrieb",
                "https://example.com/people/" + id,
                "C-" + id};
            DataRow row(record + 1);
            for (std::size_t column = 0; column < texts.size(); ++column) {
                row.addText(static_cast<std::int64_t>(column), texts[column]);
            }
            appendDataRow(std::move(row));
        }
    }
};

inline MappedContactProperty column(std::int64_t index, std::string_view key,
                                    std::optional<std::string_view> subKey = std::nullopt,
                                    std::optional<std::string_view> label = std::nullopt,
                                    std::string title = {}) {
    MappedContactProperty property;
    property.columnIndex = index;
    property.contactProperty = SuggestedContactProperty::target(key, subKey);
    property.contactProperty.systemLabel.reset();
    property.contactProperty.customLabel.reset();
    if (label) property.contactProperty.setLabel(*label);
    property.sourceFieldName = std::move(title);
    return property;
}

inline ImportSource generatedSource() {
    ImportSource source;
    source.reader = std::make_shared<GeneratedContactsReader>();
    source.mappedProperties = {
        column(0, ContactKey::givenName),
        column(1, ContactKey::familyName),
        column(2, ContactKey::organizationName),
        column(3, ContactKey::jobTitle),
        column(4, ContactKey::emailAddresses, std::nullopt, Label::work),
        column(5, ContactKey::emailAddresses, std::nullopt, Label::home),
        column(6, ContactKey::phoneNumbers, std::nullopt, Label::work),
        column(7, ContactKey::phoneNumbers, std::nullopt, Label::mobile),
        column(8, ContactKey::postalAddresses, PostalAddressKey::street, Label::work),
        column(9, ContactKey::postalAddresses, PostalAddressKey::postalCode, Label::work),
        column(10, ContactKey::postalAddresses, PostalAddressKey::city, Label::work),
        column(11, ContactKey::postalAddresses, PostalAddressKey::country, Label::work),
        column(12, ContactKey::birthday),
        column(13, ContactKey::dates, std::nullopt, Label::anniversary),
        column(14, CustomPropertyKeys::Group),
        column(15, ContactKey::note),
        column(16, ContactKey::nickname),
        column(17, ContactKey::departmentName),
        column(18, ContactKey::urlAddresses, std::nullopt, Label::homePage),
        column(19, CustomPropertyKeys::AdditionalNote, std::nullopt, std::nullopt, "Customer ID"),
    };
    source.dateFormats = {DateFormat("yyyy-MM-dd", std::nullopt, true),
                          DateFormat("dd.MM.yyyy", std::string("de"), true)};
    source.assemblyOptions.prependFieldTitle = true;
    return source;
}

}  // namespace pelkora::bench
