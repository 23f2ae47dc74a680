#include <gtest/gtest.h>

#include <cctype>
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

}  // namespace
}  // namespace pelkora::contacts
