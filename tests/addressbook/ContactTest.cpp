#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "addressbook/Contact.h"
#include "vcard/VCardValue_p.h"

namespace pelkora::contacts {
namespace {

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

TEST(ContactTest, UUIDsAreVersionFourInUpperCaseHexWithDashes) {
    for (int round = 0; round < 1000; ++round) {
        const std::string uuid = makeUUID();
        ASSERT_EQ(uuid.size(), 36u) << uuid;
        for (std::size_t at = 0; at < uuid.size(); ++at) {
            if (at == 8 || at == 13 || at == 18 || at == 23)
                ASSERT_EQ(uuid[at], '-') << uuid;
            else
                ASSERT_TRUE(isUpperHex(uuid[at])) << uuid;
        }
        EXPECT_EQ(uuid[14], '4') << "version 4: " << uuid;
        EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos)
            << "RFC 4122 variant: " << uuid;
    }
}

TEST(ContactTest, UUIDsDoNotRepeatWithinOrAcrossThreads) {
    constexpr int kPerThread = 20000;
    std::vector<std::string> first(kPerThread);
    std::vector<std::string> second(kPerThread);
    std::thread other([&] {
        for (auto& uuid : second) uuid = makeUUID();
    });
    for (auto& uuid : first) uuid = makeUUID();
    other.join();
    std::set<std::string> all(first.begin(), first.end());
    all.insert(second.begin(), second.end());
    EXPECT_EQ(all.size(), 2u * kPerThread);
}

TEST(ContactTest, NewContactsHaveTheirOwnIdentifier) {
    EXPECT_NE(Contact::makeNew().identifier, Contact::makeNew().identifier);
}

TEST(ContactTest, TextValuesEscapeBackslashSeparatorsAndEveryLineBreak) {
    EXPECT_EQ(detail::escapeText(""), "");
    EXPECT_EQ(detail::escapeText("plain text"), "plain text");
    EXPECT_EQ(detail::escapeText("a\\b,c;d\r\ne\rf\ng"), "a\\\\b\\,c\\;d\\ne\\nf\\ng");
    EXPECT_EQ(detail::escapeText(",;"), "\\,\\;");
    EXPECT_EQ(detail::escapeText("Straße\n"), "Straße\\n");
    std::string out = "X:";
    detail::appendEscapedText(out, "1,2");
    EXPECT_EQ(out, "X:1\\,2");
}

TEST(ContactTest, DatesAreWrittenWithPaddedDigits) {
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
