#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

#include "TestSupport.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"

namespace pelkora {
namespace {

using Array = PropertyValue::Array;
namespace fs = std::filesystem;
using test::filesIn;

using test::ScopedFileSizeLimit;

std::string quoted(const fs::path& path) {
    return "\u201c" + path.string() + "\u201d";
}

TEST(Paths, AbsoluteXdgVariablesDecide) {
    test::ScopedXdgHome xdg;
    EXPECT_EQ(paths::configHome(), xdg.root() / "config");
    EXPECT_EQ(paths::stateHome(), xdg.root() / "state");
    EXPECT_EQ(paths::dataHome(), xdg.root() / "data");
    EXPECT_EQ(paths::cacheHome(), xdg.root() / "cache");
    // Where SettingsStore::standard() keeps its file.
    EXPECT_EQ(paths::applicationConfigFolder(), xdg.root() / "config" / "pelkora");
    EXPECT_EQ(paths::applicationStateFolder(), xdg.root() / "state" / "pelkora");
    EXPECT_EQ(paths::applicationDataFolder(), xdg.root() / "data" / "pelkora");
}

TEST(Paths, RelativeOrEmptyXdgVariablesFallBackToTheHomeFolder) {
    test::ScopedEnvironment home("HOME", "/home/someone");
    test::ScopedEnvironment config("XDG_CONFIG_HOME", "relative/config");
    test::ScopedEnvironment state("XDG_STATE_HOME", "");
    test::ScopedEnvironment data("XDG_DATA_HOME", "");
    test::ScopedEnvironment cache("XDG_CACHE_HOME", "~/.cache");
    EXPECT_EQ(paths::homeFolder(), "/home/someone");
    EXPECT_EQ(paths::configHome(), "/home/someone/.config");
    EXPECT_EQ(paths::stateHome(), "/home/someone/.local/state");
    EXPECT_EQ(paths::dataHome(), "/home/someone/.local/share");
    EXPECT_EQ(paths::cacheHome(), "/home/someone/.cache");
}

TEST(AtomicFile, WritesAndCreatesMissingFolders) {
    test::TemporaryDirectory folder;
    const auto file = folder / "a/b/settings.plist";
    ASSERT_TRUE(writeFileAtomically(file, "first"));
    ASSERT_TRUE(writeFileAtomically(file, "second"));
    EXPECT_EQ(readWholeFile(file).value_or(""), "second");
    EXPECT_EQ(filesIn(file.parent_path()), std::vector<std::string>{"settings.plist"});
}

TEST(AtomicFile, ReplacedFileKeepsItsPermissions) {
    test::TemporaryDirectory folder;
    const auto file = folder / "private.plist";
    test::writeFile(file, "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically(file, "new"));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(AtomicFile, ReplacesTheTargetOfASymbolicLink) {
    test::TemporaryDirectory folder;
    test::writeFile(folder / "dotfiles/settings.plist", "old");
    fs::create_symlink("dotfiles/settings.plist", folder / "settings.plist");
    ASSERT_TRUE(writeFileAtomically(folder / "settings.plist", "new"));
    EXPECT_TRUE(fs::is_symlink(folder / "settings.plist"));
    EXPECT_EQ(test::readFile(folder / "dotfiles/settings.plist"), "new");
}

TEST(AtomicFile, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    test::TemporaryDirectory folder;
    const auto file = folder / "settings.plist";
    test::writeFile(file, "old content");
    {
        ScopedFileSizeLimit limit(16);
        auto written = writeFileAtomically(file, std::string(1000, 'x'));
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().message, "Could not write " + quoted(file) + ": File too large");
    }
    EXPECT_EQ(test::readFile(file), "old content");
    EXPECT_EQ(filesIn(folder.path()), std::vector<std::string>{"settings.plist"});
}

TEST(AtomicFile, FolderThatCannotBeCreatedIsReported) {
    test::TemporaryDirectory folder;
    test::writeFile(folder / "blocker", "a file where a folder should be");
    const auto file = folder / "blocker/settings.plist";
    auto written = writeFileAtomically(file, "x");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().file, file);
    EXPECT_NE(written.error().message.find("Could not write " + quoted(file)), std::string::npos);
    EXPECT_NE(written.error().reason.find("could not be created"), std::string::npos);
}

TEST(AtomicFile, ReadingAMissingFileNamesItAndTheCause) {
    test::TemporaryDirectory folder;
    auto read = readWholeFile(folder / "absent.plist");
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().code, std::errc::no_such_file_or_directory);
    EXPECT_EQ(read.error().message,
              "Could not read " + quoted(folder / "absent.plist") + ": No such file or directory");
}

class SettingsStoreTest : public testing::Test {
  protected:
    // A few rows of the launch table, enough to cover each kind of default.
    static void registerLaunchDefaults(SettingsStore& store, std::string importMode = "Contacts") {
        store.registerDefaults({
            {"TrustBOMs", true},
            {"TreatUnknownFileTypesAsText", false},
            {"NumberOfLaunches", 0},
            {"TextToNotesTokens",
             Array{"Import# ", "TRANSNUM", " (", "DATE", "TIME", "/", "FILE", ")"}},
            {"ImportMode", std::move(importMode)},
        });
    }

    test::TemporaryDirectory folder_;
    const fs::path file_ = folder_ / "pelkora/settings.plist";
};

TEST_F(SettingsStoreTest, FreshInstallationReadsTheRegisteredDefaults) {
    SettingsStore store(file_);
    registerLaunchDefaults(store);
    EXPECT_FALSE(store.loadWarning());
    EXPECT_TRUE(store.boolForKey("TrustBOMs"));
    EXPECT_FALSE(store.boolForKey("TreatUnknownFileTypesAsText"));
    EXPECT_FALSE(store.boolForKey("showExtendedRelevantRelationships"));
    EXPECT_EQ(store.stringForKey("SelectedContainerID"), std::nullopt);
    EXPECT_EQ(store.object("SelectedContainerID"), std::nullopt);
    EXPECT_EQ(store.integerForKey("NumberOfCrashes"), 0);
    EXPECT_EQ(
        store.stringArrayForKey("TextToNotesTokens"),
        (std::vector<std::string>{"Import# ", "TRANSNUM", " (", "DATE", "TIME", "/", "FILE", ")"}));
    EXPECT_TRUE(store.storedKeys().empty());
}

TEST_F(SettingsStoreTest, StoredValueSurvivesTheNextLaunchsRegistration) {
    {
        SettingsStore store(file_);
        registerLaunchDefaults(store);
        store.set("ImportMode", "vCard");
        ASSERT_TRUE(store.synchronize());
    }
    SettingsStore nextLaunch(file_);
    registerLaunchDefaults(nextLaunch);
    EXPECT_EQ(nextLaunch.stringForKey("ImportMode"), "vCard");
    EXPECT_EQ(nextLaunch.registeredDefault("ImportMode"), PropertyValue("Contacts"));
    EXPECT_TRUE(nextLaunch.hasStoredValue("ImportMode"));
}

TEST_F(SettingsStoreTest, RegistrationKeepsItsOrderAndReplacesDefaults) {
    SettingsStore store(file_);
    registerLaunchDefaults(store);
    store.registerDefaults({{"ImportMode", "vCard"}, {"VCardFormat", "Group"}});
    EXPECT_EQ(
        store.registeredKeys(),
        (std::vector<std::string>{"TrustBOMs", "TreatUnknownFileTypesAsText", "NumberOfLaunches",
                                  "TextToNotesTokens", "ImportMode", "VCardFormat"}));
    EXPECT_EQ(store.stringForKey("ImportMode"), "vCard");
}

TEST_F(SettingsStoreTest, RemovingAStoredValueBringsBackTheDefault) {
    SettingsStore store(file_);
    registerLaunchDefaults(store);
    store.set("TrustBOMs", false);
    EXPECT_FALSE(store.boolForKey("TrustBOMs"));
    store.removeObject("TrustBOMs");
    EXPECT_TRUE(store.boolForKey("TrustBOMs"));
    EXPECT_FALSE(store.hasStoredValue("TrustBOMs"));
}

TEST_F(SettingsStoreTest, KeyCutOutOfALongerTextNamesOnlyItself) {
    SettingsStore store(file_);
    const std::string_view text = "ImportModeAndMore";
    const std::string_view key = text.substr(0, 10);
    int calls = 0;
    store.observe(key, [&](const std::string& changed) {
        EXPECT_EQ(changed, "ImportMode");
        ++calls;
    });
    store.set(key, "vCard");
    EXPECT_EQ(store.storedKeys(), std::vector<std::string>{"ImportMode"});
    EXPECT_EQ(store.stringForKey("ImportMode"), "vCard");
    EXPECT_TRUE(store.hasStoredValue(key));
    store.removeObject(key);
    EXPECT_FALSE(store.hasStoredValue("ImportMode"));
    EXPECT_EQ(calls, 2);
}

TEST_F(SettingsStoreTest, TypedReadsConvertLikeTheirNamesSay) {
    SettingsStore store(file_);
    const std::vector<std::pair<PropertyValue, bool>> bools = {
        {2, true},   {0, false},    {0.5, true},  {"YES", true},    {"true", true},
        {"1", true}, {"no", false}, {"0", false}, {"maybe", false}, {Array{}, false}};
    for (const auto& [value, expected] : bools) {
        store.set("key", value);
        EXPECT_EQ(store.boolForKey("key"), expected) << value.typeName();
    }
    const std::vector<std::pair<PropertyValue, std::int64_t>> integers = {
        {true, 1}, {"42", 42}, {" -7 ", -7}, {"3.9", 3}, {2.9, 2}, {1e300, INT64_MAX}, {"x", 0}};
    for (const auto& [value, expected] : integers) {
        store.set("key", value);
        EXPECT_EQ(store.integerForKey("key"), expected) << value.typeName();
    }
    store.set("key", "2.5");
    EXPECT_EQ(store.doubleForKey("key"), 2.5);
    store.set("key", 3);
    EXPECT_EQ(store.doubleForKey("key"), 3.0);
    EXPECT_EQ(store.stringForKey("key"), "3");
    store.set("key", 2.5);
    EXPECT_EQ(store.stringForKey("key"), "2.5");
    store.set("key", true);
    EXPECT_EQ(store.stringForKey("key"), "1");
    store.set("key", Array{"a", 1});
    EXPECT_EQ(store.stringForKey("key"), std::nullopt);
    EXPECT_EQ(store.stringArrayForKey("key"), std::nullopt);
    store.set("key", Array{});
    EXPECT_EQ(store.stringArrayForKey("key"), std::vector<std::string>{});
    store.set("key", "a");
    EXPECT_EQ(store.stringArrayForKey("key"), std::nullopt);
    EXPECT_EQ(store.integerForKey("absent"), 0);
    EXPECT_EQ(store.doubleForKey("absent"), 0.0);
}

TEST_F(SettingsStoreTest, EveryKindOfValuePersistsAcrossStoreObjects) {
    const PropertyValue::Dictionary values = {
        {"bool", true},
        {"integer", -12},
        {"real", 0.25},
        {"string", "Société, GmbH"},
        {"date", PropertyValue::Date(std::chrono::sys_days(std::chrono::year(2024) / 3 / 1))},
        {"data", PropertyValue::Data{1, 2, 3}},
        {"list", Array{"a", Array{}}},
        {"dictionary", PropertyValue::Dictionary{{"inner", 1}}},
    };
    {
        SettingsStore store(file_);
        for (const auto& [key, value] : values) store.set(key, value);
        ASSERT_TRUE(store.synchronize());
    }
    SettingsStore reloaded(file_);
    EXPECT_FALSE(reloaded.loadWarning());
    EXPECT_EQ(reloaded.storedKeys(),
              (std::vector<std::string>{"bool", "data", "date", "dictionary", "integer", "list",
                                        "real", "string"}));
    for (const auto& [key, value] : values) EXPECT_EQ(reloaded.object(key), value) << key;
}

TEST_F(SettingsStoreTest, SynchronizeWritesOnlyWhenSomethingChanged) {
    SettingsStore store(file_);
    registerLaunchDefaults(store);
    ASSERT_TRUE(store.synchronize());
    EXPECT_FALSE(fs::exists(file_)) << "defaults alone are never written";

    store.set("ImportMode", "vCard");
    ASSERT_TRUE(store.synchronize());
    test::writeFile(file_, "changed behind the store's back");
    store.set("ImportMode", "vCard");
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(test::readFile(file_), "changed behind the store's back");
}

TEST_F(SettingsStoreTest, WithWritingOffChangesStayInMemoryUntilWritingIsOnAgain) {
    {
        SettingsStore store(file_);
        store.set("ImportMode", "vCard");
        ASSERT_TRUE(store.synchronize());
    }
    const auto saved = test::readFile(file_);
    SettingsStore store(file_);
    store.setWritesFile(false);
    store.set("ImportMode", "Contacts");
    store.set("SelectedContainerID", "local");
    store.removeObject("ImportMode");
    store.set("ImportMode", "CSV");
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(test::readFile(file_), saved);
    EXPECT_EQ(store.stringForKey("ImportMode"), "CSV") << "the run sees its own changes";
    EXPECT_EQ(SettingsStore(file_).stringForKey("ImportMode"), "vCard");

    store.setWritesFile(true);
    ASSERT_TRUE(store.synchronize());
    const SettingsStore reloaded(file_);
    EXPECT_EQ(reloaded.stringForKey("ImportMode"), "CSV");
    EXPECT_EQ(reloaded.stringForKey("SelectedContainerID"), "local");
}

TEST_F(SettingsStoreTest, FailedSynchronizeNamesTheFileKeepsItAndRetriesLater) {
    SettingsStore store(file_);
    store.set("ImportMode", "vCard");
    ASSERT_TRUE(store.synchronize());
    const auto saved = test::readFile(file_);

    store.set("CompanyTerms", std::string(4000, 'x'));
    {
        ScopedFileSizeLimit limit(saved.size());
        auto written = store.synchronize();
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().message, "Could not write " + quoted(file_) + ": File too large");
    }
    EXPECT_EQ(test::readFile(file_), saved);
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(SettingsStore(file_).stringForKey("CompanyTerms"), std::string(4000, 'x'));
}

TEST_F(SettingsStoreTest, ReadOnlyFolderMakesSynchronizeFail) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    SettingsStore store(file_);
    store.set("ImportMode", "vCard");
    ASSERT_TRUE(store.synchronize());
    fs::permissions(file_.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    store.set("ImportMode", "Contacts");
    auto written = store.synchronize();
    fs::permissions(file_.parent_path(), fs::perms::owner_all);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message, "Could not write " + quoted(file_) + ": Permission denied");
    EXPECT_EQ(SettingsStore(file_).stringForKey("ImportMode"), "vCard");
}

TEST_F(SettingsStoreTest, DamagedFileIsKeptAsideAndTheStoreStartsEmpty) {
    const std::vector<std::pair<std::string, std::string>> damages = {
        {"<plist><dict><key>ImportMode</key>", "the file ends"},
        {"<plist><array/></plist>", "holds a list instead of a dictionary"},
    };
    // Each damaged file is kept; a later one never replaces an earlier one.
    for (std::size_t index = 0; index < damages.size(); ++index) {
        const auto& [content, problem] = damages[index];
        test::writeFile(file_, content);
        SettingsStore store(file_);
        registerLaunchDefaults(store);
        const fs::path aside = file_.string() + (index == 0 ? ".damaged" : ".damaged-2");
        ASSERT_TRUE(store.loadWarning());
        EXPECT_NE(store.loadWarning()->find(quoted(file_)), std::string::npos)
            << *store.loadWarning();
        EXPECT_NE(store.loadWarning()->find(quoted(aside)), std::string::npos)
            << *store.loadWarning();
        EXPECT_NE(store.loadWarning()->find(problem), std::string::npos) << *store.loadWarning();
        EXPECT_EQ(test::readFile(aside), content);
        EXPECT_FALSE(fs::exists(file_));
        EXPECT_TRUE(store.storedKeys().empty());
        EXPECT_EQ(store.stringForKey("ImportMode"), "Contacts");
    }
    EXPECT_EQ(test::readFile(file_.string() + ".damaged"), damages[0].first);
}

TEST_F(SettingsStoreTest, ObserverHearsEveryChangeOfWhatTheKeyReads) {
    SettingsStore store(file_);
    int calls = 0;
    const auto id = store.observe("ImportMode", [&](const std::string& key) {
        EXPECT_EQ(key, "ImportMode");
        ++calls;
    });
    registerLaunchDefaults(store);  // nothing -> "Contacts"
    EXPECT_EQ(calls, 1);
    store.set("ImportMode", "vCard");
    EXPECT_EQ(calls, 2);
    store.set("ImportMode", "vCard");   // the same value again
    store.set("VCardFormat", "Group");  // another key
    EXPECT_EQ(calls, 2);
    store.removeObject("ImportMode");  // back to "Contacts"
    EXPECT_EQ(calls, 3);
    store.removeObject("ImportMode");
    registerLaunchDefaults(store);  // the same default again
    EXPECT_EQ(calls, 3);
    registerLaunchDefaults(store, "vCard");
    EXPECT_EQ(calls, 4);
    store.set("ImportMode", "vCard");  // stored now, but it reads as before
    EXPECT_EQ(calls, 4);
    store.removeObserver(id);
    store.set("ImportMode", "Contacts");
    EXPECT_EQ(calls, 4);
}

TEST_F(SettingsStoreTest, ObserverMayReadAndWriteTheStore) {
    SettingsStore store(file_);
    std::optional<std::string> seen;
    store.observe("CompanyTerms", [&](const std::string& key) {
        seen = store.stringForKey(key);
        store.set("CompanyTermsChanged", true);
    });
    store.set("CompanyTerms", "Firma, GmbH");
    EXPECT_EQ(seen, "Firma, GmbH");
    EXPECT_TRUE(store.boolForKey("CompanyTermsChanged"));
}

TEST_F(SettingsStoreTest, ConcurrentUseLosesNoChange) {
    SettingsStore store(file_);
    std::atomic<int> notifications{0};
    store.observe("shared", [&](const std::string&) { ++notifications; });
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&store, thread] {
            for (int i = 0; i < 100; ++i) {
                store.set("key" + std::to_string(thread) + "-" + std::to_string(i), i);
                store.set("shared", thread * 1000 + i);
                (void)store.integerForKey("shared");
                if (i % 25 == 0) (void)store.synchronize();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(store.storedKeys().size(), 401u);
    EXPECT_GT(notifications.load(), 0);
    ASSERT_TRUE(store.synchronize());
    EXPECT_EQ(SettingsStore(file_).storedKeys().size(), 401u);
}

}  // namespace
}  // namespace pelkora
