#pragma once

// A deterministic contact CSV for the benchmarks: 20 columns, quoted fields with commas,
// doubled quotes and line breaks in notes, non-ASCII names, CRLF line ends. The same
// columns as bench/generate-contacts-csv.py writes, with fewer variants.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelkora::bench {

// A fixed linear congruential generator, so every run works on the same bytes.
class Random {
  public:
    std::uint32_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    template <typename T, std::size_t N>
    const T& pick(const std::array<T, N>& choices) {
        return choices[next() % N];
    }

  private:
    std::uint64_t state_ = 0x5EED;
};

inline constexpr std::array<std::string_view, 12> kFirstNames = {
    "Anna",  "Jürgen", "Zoë",       "Łukasz", "Mohammed", "Siobhán",
    "Chloé", "Björn",  "Ana María", "Nguyễn", "Olga",     "John"};
inline constexpr std::array<std::string_view, 10> kLastNames = {
    "Müller", "O'Brien",  "García Márquez", "Smith",        "Dvořák",
    "Åberg",  "Nakamura", "Kowalski",       "van der Berg", "Brown"};
inline constexpr std::array<std::string_view, 6> kCompanies = {
    "Acme Corp", "\"Müller & Söhne, GmbH\"",    "Globex", "\"Initech, Inc.\"",
    "Umbrella",  "\"The \"\"Best\"\" Widgets\""};
inline constexpr std::array<std::string_view, 6> kCities = {
    "10115,Berlin,Germany", "80331,München,Germany",      "10001,New York,United States",
    "30-001,Kraków,Poland", "01310-100,São Paulo,Brazil", "8001,Zürich,Switzerland"};
inline constexpr std::array<std::string_view, 4> kGroups = {"Friends", "Work", "\"Friends, Work\"",
                                                            ""};
inline constexpr std::array<std::string_view, 5> kNotes = {
    "", "\"Met at the fair, booth 12.\r\nCall back in \"\"Q3\"\".\"", "Prefers e-mail",
    "\"Line one\r\nLine two, with comma\r\nLine three\"",
    "\"VIP; birthday card \"\"every year\"\"\""};

inline std::string generateContactsCsv(std::size_t targetSize) {
    Random random;
    std::string csv =
        "First Name,Last Name,Company,Job Title,E-mail Address,E-mail 2 Address,Business "
        "Phone,Mobile Phone,Business Street,Business Postal Code,Business City,Business "
        "Country,Birthday,Anniversary,Categories,Notes,Nickname,Department,Web Page,Customer "
        "ID\r\n";
    csv.reserve(targetSize + 4096);
    for (std::uint32_t row = 1; csv.size() < targetSize; ++row) {
        const std::string_view first = random.pick(kFirstNames);
        const std::string id = std::to_string(row);
        const std::string number = std::to_string(1'000'000 + random.next() % 9'000'000);
        const std::string day = std::to_string(10 + row % 18);
        const std::string month = std::to_string(10 + row % 3);
        const std::string year = std::to_string(1940 + row % 65);
        csv.append(first).append(",").append(random.pick(kLastNames)).append(",");
        csv.append(random.pick(kCompanies)).append(",Sales Manager,");
        csv.append("contact").append(id).append("@example.com,,");
        csv.append("+49 30 ").append(number).append(",+1 (555) ").append(number).append(",");
        csv.append("\"Hauptstraße ").append(std::to_string(row % 250)).append(", Hof 2\",");
        csv.append(random.pick(kCities)).append(",");
        csv.append(year).append("-").append(month).append("-").append(day).append(",");
        csv.append(day).append(".").append(month).append(".").append(year).append(",");
        csv.append(random.pick(kGroups)).append(",").append(random.pick(kNotes)).append(",");
        csv.append(first).append(",Vertrieb,https://example.com/people/").append(id);
        csv.append(",C-").append(id).append("\r\n");
    }
    return csv;
}

}  // namespace pelkora::bench
