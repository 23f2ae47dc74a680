#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/Settings.h"

namespace pelkora {
namespace {

TEST(Settings, EveryKeyIsInTheTableOnceAndFoundByIt) {
    std::set<std::string_view> keys;
    for (const Setting& setting : settingsTable) {
        EXPECT_TRUE(keys.insert(setting.key).second) << setting.key << " is in the table twice";
        EXPECT_EQ(findSetting(setting.key), &setting) << setting.key;
        EXPECT_TRUE(setting.defaultFitsType()) << setting.key;
    }
    EXPECT_EQ(keys.size(), std::size(settingsTable));
}

TEST(Settings, LookupIsByTheExactKey) {
    EXPECT_EQ(findSetting("NoSuchKey"), nullptr);
    EXPECT_EQ(findSetting(""), nullptr);
    EXPECT_EQ(findSetting("trustboms"), nullptr);
    EXPECT_EQ(findSetting("TrustBOMs "), nullptr);
    // The C++ name is capitalized, the stored key is not.
    EXPECT_EQ(findSetting("ShowExtendedRelevantRelationships"), nullptr);
    ASSERT_NE(findSetting(SettingKey::ShowExtendedRelevantRelationships), nullptr);
    EXPECT_EQ(SettingKey::ShowExtendedRelevantRelationships, "showExtendedRelevantRelationships");
    // A key cut out of a longer text is found without a terminating zero.
    const std::string_view text = "TrustBOMsAndMore";
    EXPECT_EQ(findSetting(text.substr(0, 9)), findSetting(SettingKey::TrustBOMs));
}

TEST(Settings, SettingsWithADefaultComeFirst) {
    bool withoutDefaultSeen = false;
    for (const Setting& setting : settingsTable) {
        if (!setting.hasDefault()) withoutDefaultSeen = true;
        EXPECT_FALSE(withoutDefaultSeen && setting.hasDefault()) << setting.key;
    }
    EXPECT_TRUE(withoutDefaultSeen);
}

TEST(Settings, DefaultOfAnotherTypeDoesNotFit) {
    static constexpr std::string_view items[] = {"a"};
    EXPECT_FALSE((Setting{"x", SettingType::boolean, std::int64_t{1}}.defaultFitsType()));
    EXPECT_FALSE((Setting{"x", SettingType::integer, true}.defaultFitsType()));
    EXPECT_FALSE((Setting{"x", SettingType::string, StringList(items)}.defaultFitsType()));
    EXPECT_FALSE((Setting{"x", SettingType::stringList, std::string_view("a")}.defaultFitsType()));
    EXPECT_FALSE((Setting{"x", SettingType::archiveList, StringList(items)}.defaultFitsType()));
    EXPECT_TRUE((Setting{"x", SettingType::archiveList, StringList()}.defaultFitsType()));
    EXPECT_TRUE((Setting{"x", SettingType::string, LocalizedText{"a", ""}}.defaultFitsType()));
    EXPECT_TRUE((Setting{"x", SettingType::integer, NoDefault()}.defaultFitsType()));
}

}  // namespace
}  // namespace pelkora
