// How well auto-mapping maps the header rows of real contact exports with the shipped
// vocabulary. Each file of tests/data/headers lists one export's columns, one per line:
// title, expected key, expected sub-key and expected label, tab-separated (empty fields for
// none; lines starting with '#' are comments). A column counts as right when key, sub-key and
// label all match; the label only counts for targets that take one.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

#include "mapping/AutoMapping.h"

namespace pelkora {
namespace {

const std::filesystem::path kHeaderFolder =
    std::filesystem::path(PELKORA_TEST_DATA_DIR) / "headers";

// The share of columns each export must get right, set from measurement; an export not
// listed must reach kDefaultMinimumAccuracy. LinkedIn misses a column whose title the
// vocabulary gives another meaning: its "URL" is the profile, not a home page.
constexpr double kDefaultMinimumAccuracy = 0.95;
const std::map<std::string, double> kMinimumAccuracy = {
    {"linkedin.tsv", 0.85},
};

struct ExpectedColumn {
    std::string title;
    std::string key;
    std::string subKey;
    std::string label;
};

std::vector<std::string> splitAtTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t')) fields.push_back(field);
    if (!line.empty() && line.back() == '\t') fields.emplace_back();
    return fields;
}

std::vector<ExpectedColumn> readHeaderFile(const std::filesystem::path& file) {
    std::ifstream stream(file);
    std::vector<ExpectedColumn> columns;
    std::string line;
    while (std::getline(stream, line)) {
        if (line.empty() || line.front() == '#') continue;
        auto fields = splitAtTabs(line);
        fields.resize(4);
        columns.push_back({fields[0], fields[1], fields[2], fields[3]});
    }
    return columns;
}

std::vector<std::string> headerFiles() {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(kHeaderFolder, error)) {
        if (item.path().extension() == ".tsv") names.push_back(item.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string describe(const std::string& key, const std::string& subKey, const std::string& label) {
    std::string text = key.empty() ? "(none)" : key;
    if (!subKey.empty()) text += " / " + subKey;
    if (!label.empty()) text += " / " + label;
    return text;
}

const TitleMatcher& shippedMatcher() {
    static const TitleMatcher matcher(vendorStringMap());
    return matcher;
}

class HeaderAccuracy : public testing::TestWithParam<std::string> {};

TEST_P(HeaderAccuracy, ExportIsMappedAboveItsMinimumAccuracy) {
    const auto columns = readHeaderFile(kHeaderFolder / GetParam());
    ASSERT_FALSE(columns.empty()) << GetParam();
    DataRow header(1);
    for (std::size_t i = 0; i < columns.size(); ++i)
        header.addText(static_cast<std::int64_t>(i), columns[i].title);

    AutoMappingSettings settings;
    settings.appendUnmappedFieldsToNotes = true;
    const auto result =
        autoMap(header, true, kColumnIndexStyleOneBased, shippedMatcher(), {}, settings);
    ASSERT_EQ(result.mappedContactProperties.size(), columns.size());

    std::size_t right = 0;
    std::ostringstream wrong;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const auto& expected = columns[i];
        const auto& target = result.mappedContactProperties[i].contactProperty;
        const std::string key = target.propertyKey.value_or("");
        const std::string subKey = target.propertySubKey.value_or("");
        const std::string label = target.canHaveLabel() ? target.label().value_or("") : "";
        if (key == expected.key && subKey == expected.subKey && label == expected.label) {
            ++right;
        } else {
            wrong << "    " << expected.title << ": " << describe(key, subKey, label)
                  << ", expected " << describe(expected.key, expected.subKey, expected.label)
                  << "\n";
        }
    }
    const double accuracy = static_cast<double>(right) / static_cast<double>(columns.size());
    std::cout << "  " << std::left << std::setw(22) << GetParam() << " language "
              << result.detectedLanguage << "  " << right << "/" << columns.size() << " = "
              << std::fixed << std::setprecision(1) << accuracy * 100 << " %\n"
              << wrong.str();
    const auto minimum = kMinimumAccuracy.find(GetParam());
    EXPECT_GE(accuracy,
              minimum == kMinimumAccuracy.end() ? kDefaultMinimumAccuracy : minimum->second)
        << GetParam() << " maps these columns wrongly:\n"
        << wrong.str();
}

INSTANTIATE_TEST_SUITE_P(Exports, HeaderAccuracy, testing::ValuesIn(headerFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.find('.'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
}  // namespace pelkora
