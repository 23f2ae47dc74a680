#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "addressbook/Contact.h"

namespace pelkora::contacts {
namespace {

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

TEST(ContactTest, UUIDsAreUpperCaseHexWithDashesAndTheirVersion) {
    struct Case {
        std::string (*make)();
        char version;
    };
    for (const auto& [make, version] : {Case{makeUUID, '7'}, Case{makeRandomUUID, '4'}}) {
        std::set<std::string> seen;
        for (int round = 0; round < 1000; ++round) {
            const std::string uuid = make();
            ASSERT_EQ(uuid.size(), 36u) << uuid;
            for (std::size_t at = 0; at < uuid.size(); ++at) {
                if (at == 8 || at == 13 || at == 18 || at == 23)
                    ASSERT_EQ(uuid[at], '-') << uuid;
                else
                    ASSERT_TRUE(isUpperHex(uuid[at])) << uuid;
            }
            EXPECT_EQ(uuid[14], version) << uuid;
            EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos)
                << "RFC 9562 variant: " << uuid;
            seen.insert(uuid);
        }
        EXPECT_EQ(seen.size(), 1000u);
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

// The address book's indexes on identifiers stay append-only for an import only when the
// identifiers come in order, also many within one millisecond; the leading 48 bits are the
// time they were made.
TEST(ContactTest, UUIDsOfOneThreadSortInTheOrderTheyWereMade) {
    const auto before = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    std::vector<std::string> made(50000);
    for (auto& uuid : made) uuid = makeUUID();
    EXPECT_TRUE(std::is_sorted(made.begin(), made.end()));
    EXPECT_EQ(std::adjacent_find(made.begin(), made.end()), made.end());
    std::string hex = made.front().substr(0, 8) + made.front().substr(9, 4);
    const long long stamp = std::stoll(hex, nullptr, 16);
    EXPECT_GE(stamp, before);
    EXPECT_LT(stamp, before + 60000);
}

TEST(ContactTest, NewContactsHaveTheirOwnIdentifier) {
    EXPECT_NE(Contact::makeNew().identifier, Contact::makeNew().identifier);
}

}  // namespace
}  // namespace pelkora::contacts
