#pragma once

// A deterministic contact workbook for the benchmarks, written with libxlsxwriter: one sheet
// of a title row and `rows` contact rows of 20 text columns, every cell a shared string.
// About half of the values repeat (names, cities, companies, labels) and half are unique
// (e-mail addresses, phone numbers, streets, notes), as in a real address book export.

#include <xlsxwriter.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "ContactCsv.h"
#include "support/Utf8.h"

namespace pelkora::bench {

inline constexpr int kContactXlsxColumns = 20;

// Writes the workbook; returns false when libxlsxwriter fails.
inline bool writeContactsXlsx(const std::filesystem::path& path, int rows) {
    static constexpr std::array<std::string_view, kContactXlsxColumns> titles = {
        "First Name", "Last Name",  "Company",    "Job Title", "E-mail",   "E-mail 2", "Mobile",
        "Home Phone", "Work Phone", "Street",     "City",      "Postcode", "Country",  "Birthday",
        "Web Page",   "Nickname",   "Department", "Group",     "Label",    "Notes"};
    static constexpr std::array<std::string_view, 6> companies = {
        "Acme Corp", "Müller & Söhne, GmbH", "Globex", "Initech, Inc.", "Umbrella", "Widgets"};
    static constexpr std::array<std::string_view, 6> cities = {"Berlin", "Zürich",    "Kraków",
                                                               "Dublin", "São Paulo", "München"};
    static constexpr std::array<std::string_view, 4> countries = {"Germany", "Switzerland",
                                                                  "Poland", "Ireland"};
    static constexpr std::array<std::string_view, 4> labels = {"home", "work", "other", "VIP"};
    lxw_workbook* workbook = workbook_new(path.c_str());
    if (!workbook) return false;
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Contacts");
    for (int column = 0; column < kContactXlsxColumns; ++column) {
        worksheet_write_string(sheet, 0, static_cast<lxw_col_t>(column),
                               std::string(titles[static_cast<std::size_t>(column)]).c_str(),
                               nullptr);
    }
    Random random;
    std::array<std::string, kContactXlsxColumns> values;
    for (int row = 1; row <= rows; ++row) {
        const std::string number = std::to_string(row);
        const std::string first(random.pick(kFirstNames));
        const std::string last(random.pick(kLastNames));
        values[0] = first;
        values[1] = last;
        values[2] = std::string(random.pick(companies));
        values[3] = random.next() % 2 ? "Manager" : "Engineer";
        values[4] = "user" + number + "@example.com";
        values[5] = "u" + number + "@mail.example.org";
        values[6] = "+49 170 " + std::to_string(1000000 + random.next() % 9000000);
        values[7] = "+49 30 " + std::to_string(100000 + random.next() % 900000);
        values[8] = "+41 44 " + std::to_string(100000 + random.next() % 900000);
        values[9] = "Hauptstraße " + std::to_string(1 + random.next() % 200) + " / " + number;
        values[10] = std::string(random.pick(cities));
        values[11] = std::to_string(10000 + random.next() % 90000);
        values[12] = std::string(random.pick(countries));
        values[13] = std::to_string(1950 + random.next() % 50) + "-0" +
                     std::to_string(1 + random.next() % 9) + "-1" +
                     std::to_string(random.next() % 10);
        values[14] = "https://example.com/" + number;
        values[15] = first + " " + std::string(utf8::firstCodePoints(last, 1));
        values[16] = random.next() % 2 ? "Sales" : "Research";
        values[17] = random.next() % 3 ? "Friends" : "Colleagues";
        values[18] = std::string(random.pick(labels));
        values[19] = "Met at the fair <" + number + "> & talked";
        for (int column = 0; column < kContactXlsxColumns; ++column) {
            worksheet_write_string(sheet, static_cast<lxw_row_t>(row),
                                   static_cast<lxw_col_t>(column),
                                   values[static_cast<std::size_t>(column)].c_str(), nullptr);
        }
    }
    return workbook_close(workbook) == LXW_NO_ERROR;
}

}  // namespace pelkora::bench
