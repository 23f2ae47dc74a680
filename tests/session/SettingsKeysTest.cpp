#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/SettingsStore.h"
#include "session/SettingsKeys.h"

namespace pelkora {
namespace {

TEST(SettingsKeys, FreshInstallationReadsTheRegisteredDefaults) {
    test::TemporaryDirectory folder;
    SettingsStore settings(folder / "settings.plist");
    registerDefaults(settings);
    EXPECT_TRUE(settings.boolForKey("TrustBOMs"));
    EXPECT_FALSE(settings.boolForKey("TreatUnknownFileTypesAsText"));
    EXPECT_TRUE(settings.boolForKey("FirstLaunch"));
    EXPECT_EQ(settings.integerForKey("NumberOfLaunches"), 0);
    EXPECT_EQ(settings.stringForKey("ImportMode"), "Contacts");
    EXPECT_EQ(settings.stringForKey("VCardFormat"), "Group");
    EXPECT_EQ(settings.stringForKey("CompanyTerms"), "Company, Organization");
    EXPECT_EQ(
        settings.stringArrayForKey("TextToNotesTokens"),
        (std::vector<std::string>{"Import# ", "TRANSNUM", " (", "DATE", "TIME", "/", "FILE", ")"}));
    EXPECT_EQ(settings.stringForKey("SelectedContainerID"), std::nullopt);
    EXPECT_FALSE(settings.boolForKey("showExtendedRelevantRelationships"));

    const auto keys = settings.registeredKeys();
    ASSERT_EQ(keys.size(), 28u);
    EXPECT_EQ(keys.front(), "FirstLaunch");
    EXPECT_EQ(keys[13], "TextToNotesTokens");
    EXPECT_EQ(keys.back(), "FieldNameInNotesAllCaps");
}

TEST(SettingsKeys, RegistrationKeepsWhatTheUserStored) {
    test::TemporaryDirectory folder;
    {
        SettingsStore settings(folder / "settings.plist");
        registerDefaults(settings);
        settings.set("ImportMode", PropertyValue(std::string("vCard")));
        ASSERT_TRUE(settings.synchronize());
    }
    SettingsStore nextLaunch(folder / "settings.plist");
    registerDefaults(nextLaunch);
    EXPECT_EQ(nextLaunch.stringForKey("ImportMode"), "vCard");
}

// The keys, types and defaults that users' settings files hold, written out so that a change
// to the table shows up here: a changed key, type or default would make those files read
// differently.
TEST(SettingsKeys, KeysTypesAndDefaultsStayAsUsersFilesHoldThem) {
    using Array = PropertyValue::Array;
    struct Row {
        std::string key;
        SettingType type;
        std::optional<PropertyValue> defaultValue;
    };
    const std::vector<Row> expected = {
        {"FirstLaunch", SettingType::boolean, true},
        {"TerminatedProperly", SettingType::boolean, false},
        {"NumberOfCrashes", SettingType::integer, 0},
        {"NumberOfLaunches", SettingType::integer, 0},
        {"TreatUnknownFileTypesAsText", SettingType::boolean, false},
        {"TrustBOMs", SettingType::boolean, true},
        {"DetectCustomLabels", SettingType::boolean, true},
        {"IgnoreCustomMappings", SettingType::boolean, false},
        {"AppendUnmappedFieldsToNotes", SettingType::boolean, true},
        {"ShowMenuIcons", SettingType::boolean, true},
        {"ShowMappingHint", SettingType::boolean, true},
        {"ShowShouldQuitContactsAppHint", SettingType::boolean, true},
        {"AddTextToNotes", SettingType::boolean, true},
        {"TextToNotesTokens", SettingType::stringList,
         Array{"Import# ", "TRANSNUM", " (", "DATE", "TIME", "/", "FILE", ")"}},
        {"ImportMode", SettingType::string, "Contacts"},
        {"VCardFormat", SettingType::string, "Group"},
        {"RemoveGroups", SettingType::boolean, false},
        {"DetectDuplicates", SettingType::boolean, true},
        {"DetectNewDuplicates", SettingType::boolean, true},
        {"CompanyTerms", SettingType::string, "Company, Organization"},
        {"CustomDateFormats", SettingType::archiveList, Array{}},
        {"UseNativeContactPreview", SettingType::boolean, false},
        {"ShareMappings", SettingType::boolean, false},
        {"FieldNameInNotesAddExtraLinefeed", SettingType::boolean, true},
        {"FieldNameInNotesPrependFieldTitle", SettingType::boolean, true},
        {"FieldNameInNotesSortByFieldTitle", SettingType::boolean, true},
        {"FieldNameInNotesAddLinefeedAfterFieldTitle", SettingType::boolean, true},
        {"FieldNameInNotesAllCaps", SettingType::boolean, true},
        {"MostRecentDocumentFileURL", SettingType::string, std::nullopt},
        {"SelectedContainerID", SettingType::string, std::nullopt},
        {"showExtendedRelevantRelationships", SettingType::boolean, std::nullopt},
        {"DefaultCountryCode", SettingType::string, std::nullopt},
        {"ContactStore", SettingType::string, std::nullopt},
        {"LogLevel", SettingType::string, std::nullopt},
        {"MappingSyncFolder", SettingType::string, std::nullopt},
        {"MappingSyncWebDAVURL", SettingType::string, std::nullopt},
        {"MappingSyncWebDAVUser", SettingType::string, std::nullopt},
        {"MappingSyncCAFile", SettingType::string, std::nullopt},
        {"MappingSyncLastRefresh", SettingType::string, std::nullopt},
    };
    ASSERT_EQ(std::size(settingsTable), expected.size());
    for (std::size_t row = 0; row < expected.size(); ++row) {
        const Setting& setting = settingsTable[row];
        EXPECT_EQ(setting.key, expected[row].key) << "row " << row;
        EXPECT_EQ(setting.type, expected[row].type) << setting.key;
        EXPECT_EQ(defaultValue(setting), expected[row].defaultValue) << setting.key;
    }
}

TEST(SettingsKeys, EverySettingIsRegisteredWithItsDefaultOfItsType) {
    test::TemporaryDirectory folder;
    SettingsStore settings(folder / "settings.plist");
    registerDefaults(settings);

    std::vector<std::string> withDefault;
    for (const Setting& setting : settingsTable) {
        const auto registered = settings.registeredDefault(setting.key);
        if (!setting.hasDefault()) {
            EXPECT_FALSE(registered) << setting.key << " has no default, yet one is registered";
            EXPECT_FALSE(settings.object(setting.key)) << setting.key;
            continue;
        }
        withDefault.emplace_back(setting.key);
        ASSERT_TRUE(registered) << setting.key;
        EXPECT_EQ(registered, defaultValue(setting)) << setting.key;
        EXPECT_EQ(registered->type(), propertyValueType(setting.type)) << setting.key;
        if (setting.type == SettingType::stringList) {
            ASSERT_TRUE(settings.stringArrayForKey(setting.key)) << setting.key;
            EXPECT_EQ(settings.stringArrayForKey(setting.key)->size(),
                      std::get<StringList>(setting.defaultValue).size());
        }
    }
    EXPECT_EQ(settings.registeredKeys(), withDefault) << "registered in the table's order";
}

// One text of each type that the command line accepts, and the value it gives.
struct TypedText {
    SettingType type;
    std::vector<std::string> texts;
    PropertyValue value;
};

TEST(SettingsKeys, CommandLineTypingFollowsTheTable) {
    const std::vector<TypedText> accepted = {
        {SettingType::boolean, {"off"}, false},
        {SettingType::integer, {"-12"}, -12},
        {SettingType::string, {"12"}, "12"},
        {SettingType::stringList, {"Imported ", "FILE"}, PropertyValue::Array{"Imported ", "FILE"}},
    };
    for (const Setting& setting : settingsTable) {
        for (const auto& sample : accepted) {
            if (sample.type != setting.type) continue;
            auto value = settingValueFromText(setting, sample.texts);
            ASSERT_TRUE(value) << setting.key << ": " << value.error().message();
            EXPECT_EQ(*value, sample.value) << setting.key;
            EXPECT_EQ(value->type(), propertyValueType(setting.type)) << setting.key;
            if (auto fallback = defaultValue(setting)) {
                EXPECT_EQ(value->type(), fallback->type())
                    << setting.key << " is typed unlike its default";
            }
        }
        if (setting.type == SettingType::archiveList) {
            auto refused = settingValueFromText(setting, std::vector<std::string>{});
            ASSERT_FALSE(refused) << setting.key;
            EXPECT_EQ(refused.error().cause, SettingTextError::Cause::notWritableAsText);
        } else if (setting.type != SettingType::stringList) {
            auto refused = settingValueFromText(setting, std::vector<std::string>{"1", "0"});
            ASSERT_FALSE(refused) << setting.key;
            EXPECT_EQ(refused.error().cause, SettingTextError::Cause::notOneText) << setting.key;
        }
    }
}

TEST(SettingsKeys, CommandLineRefusesTextsThatDoNotFitTheType) {
    const std::vector<std::string> maybe = {"maybe"};
    auto notBoolean = settingValueFromText(*findSetting(SettingKey::TrustBOMs), maybe);
    ASSERT_FALSE(notBoolean);
    EXPECT_EQ(notBoolean.error(),
              (SettingTextError{SettingTextError::Cause::notYesOrNo, "TrustBOMs", "maybe"}));
    EXPECT_EQ(
        notBoolean.error().message(),
        "\u201cTrustBOMs\u201d is a yes/no setting: use true or false, not \u201cmaybe\u201d");

    for (const std::string text : {"12x", "", " 1", "1.5", "99999999999999999999"}) {
        auto notInteger = settingValueFromText(*findSetting(SettingKey::NumberOfCrashes),
                                               std::vector<std::string>{text});
        ASSERT_FALSE(notInteger) << text;
        EXPECT_EQ(notInteger.error().cause, SettingTextError::Cause::notAWholeNumber) << text;
    }
    for (const std::string text : {"Yes", "TRUE", "y", ""}) {
        EXPECT_FALSE(settingValueFromText(*findSetting(SettingKey::DetectDuplicates),
                                          std::vector<std::string>{text}))
            << text;
    }
}

}  // namespace
}  // namespace pelkora
