#include <gtest/gtest.h>

#include <string>

#include "vcard/VCardValue_p.h"

namespace pelkora::contacts {
namespace {

TEST(VCardValueTest, TextValuesEscapeBackslashSeparatorsAndEveryLineBreak) {
    EXPECT_EQ(detail::escapeText(""), "");
    EXPECT_EQ(detail::escapeText("plain text"), "plain text");
    EXPECT_EQ(detail::escapeText("a\\b,c;d\r\ne\rf\ng"), "a\\\\b\\,c\\;d\\ne\\nf\\ng");
    EXPECT_EQ(detail::escapeText(",;"), "\\,\\;");
    EXPECT_EQ(detail::escapeText("Straße\n"), "Straße\\n");
    EXPECT_EQ(detail::escapeText(std::string("\0Ada\0\0Love\0lace,\0", 17)), "AdaLovelace\\,");
    EXPECT_EQ(detail::unescapeText(std::string("\0Ada\0Love\\\0lace\\,\0", 18)), "AdaLove\\lace,");
    std::string out = "X:";
    detail::appendEscapedText(out, "1,2");
    EXPECT_EQ(out, "X:1\\,2");
}

TEST(VCardValueTest, DatesAreWrittenWithPaddedDigits) {
    const auto date = [](std::optional<int> year, std::optional<int> month,
                         std::optional<int> day) {
        DateComponents components;
        components.year = year;
        components.month = month;
        components.day = day;
        return detail::formatDate(components);
    };
    EXPECT_EQ(date(2000, 3, 5), "2000-03-05");
    EXPECT_EQ(date(7, 12, 31), "0007-12-31");
    EXPECT_EQ(date(1980, 2, std::nullopt), "1980-02");
    EXPECT_EQ(date(1980, std::nullopt, 15), "1980");
    EXPECT_EQ(date(std::nullopt, 3, 15), "--0315");
    EXPECT_EQ(date(std::nullopt, 11, std::nullopt), "--11");
    EXPECT_EQ(date(std::nullopt, std::nullopt, 9), "---09");
    EXPECT_EQ(date(10000, 13, 32), "");
    EXPECT_EQ(date(1980, 2, 30), "1980-02") << "an impossible day counts as absent";
}

}  // namespace
}  // namespace pelkora::contacts
