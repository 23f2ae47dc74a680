#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pelkora
