// pelkora mappings sync …, pelkora mappings watch: sharing saved mappings between the user's
// computers through a sync folder or a WebDAV server.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Command.h"
#include "CommandHelp.h"
#include "SharedMappings.h"
#include "StandardStreams.h"
#include "Terminal.h"
#include "mappingstore/webdav/SecretStore.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "support/Json.h"
#include "support/Logger.h"

namespace pelkora::cli {
namespace {

constexpr std::string_view kShareMappingsKey = "ShareMappings";
constexpr std::string_view kLastRefreshKey = "MappingSyncLastRefresh";
constexpr const char* kPasswordVariable = "PELKORA_WEBDAV_PASSWORD";

struct SyncOptions {
    std::string action;  // status, enable, disable, refresh or watch
    bool json = false;
    std::filesystem::path folder;
    std::string url;
    std::string user;
    std::filesystem::path caFile;
};

// Writes the settings file; false after saying why it could not be written.
bool saveSettings(SettingsStore& settings, std::string_view command) {
    if (auto written = settings.synchronize(); !written) {
        printError(std::string(command) + ": " + written.error().message);
        return false;
    }
    return true;
}

std::string serverWords(const SyncConfiguration& configuration) {
    return configuration.user + " at " + configuration.url;
}

Expected<std::string, std::string> passwordFor(const SyncConfiguration& configuration) {
    auto stored = lookupWebDavPassword(configuration.url, configuration.user);
    if (stored && *stored) return **stored;
    if (const char* given = std::getenv(kPasswordVariable); given && *given)
        return std::string(given);
    if (auto typed = askPassword("Password for " + serverWords(configuration) + ": "))
        return *typed;
    const std::string why = stored ? "it is not in the Secret Service" : stored.error();
    return Unexpected("no password for " + serverWords(configuration) + ": " + why + "; set " +
                      kPasswordVariable + " or run “pelkora mappings sync enable” on a terminal");
}

int syncStatus(const SyncOptions& options) {
    auto& settings = SettingsStore::standard();
    const bool sharing = settings.boolForKey(kShareMappingsKey);
    const auto configuration = readSyncConfiguration(settings);
    std::string account = "none set up";
    std::optional<bool> zone;
    std::string problem;
    if (configuration.kind != SyncConfiguration::Kind::none) {
        // Only looks: no zone is made, nothing is read but the account and the zone.
        auto store = openRecordStore(configuration, commandOpenOptions());
        if (!store) {
            problem = store.error();
            account = "could not determine";
        } else if (auto status = (*store)->accountStatus(); !status) {
            problem = status.error().message;
            account = "could not determine";
        } else {
            account = accountStatusName(*status);
            if (*status == AccountStatus::available) {
                if (auto found = (*store)->zoneExists(kMappingZoneName)) {
                    zone = *found;
                } else {
                    problem = found.error().message;
                }
            }
        }
    }
    const bool shared = sharing && account == "available" && zone.value_or(false);
    const std::string pushes = configuration.kind == SyncConfiguration::Kind::webdav
                                   ? "polled every minute while a program watches"
                                   : "pushed by the folder's changes while a program watches";
    const std::string lastRefresh = settings.stringForKey(kLastRefreshKey).value_or("never");
    if (options.json) {
        std::cout << "{\"sharing\": " << (sharing ? "true" : "false")
                  << ", \"mode\": " << json::quoted(shared ? "shared" : "local")
                  << ", \"backend\": " << json::quoted(describe(configuration))
                  << ", \"account\": " << json::quoted(account)
                  << ", \"zone\": " << (zone ? (*zone ? "\"exists\"" : "\"missing\"") : "null")
                  << ", \"lastRefresh\": " << json::quoted(lastRefresh)
                  << ", \"problem\": " << (problem.empty() ? "null" : json::quoted(problem))
                  << "}\n";
        return kSuccess;
    }
    std::cout << "sharing:      " << (sharing ? "on" : "off") << '\n'
              << "mode:         " << (shared ? "shared" : "local") << '\n'
              << "backend:      " << escapedControls(describe(configuration)) << '\n'
              << "account:      " << account << '\n'
              << "zone:         "
              << (zone ? (*zone ? "“Pelkora Mappings” exists" : "“Pelkora Mappings” missing")
                       : "unknown")
              << '\n'
              << "subscription: "
              << (configuration.kind == SyncConfiguration::Kind::none ? "none" : pushes) << '\n'
              << "last refresh: " << lastRefresh << '\n';
    if (!problem.empty()) std::cout << "problem:      " << escapedControls(problem) << '\n';
    return kSuccess;
}

int enableSync(const SyncOptions& options) {
    auto& settings = SettingsStore::standard();
    SyncConfiguration configuration = readSyncConfiguration(settings);
    if (!options.folder.empty() && !options.url.empty()) {
        printError("mappings sync enable: give either --folder or --webdav, not both");
        return kUsageError;
    }
    std::optional<std::string> password;
    if (!options.folder.empty()) {
        configuration = {};
        configuration.kind = SyncConfiguration::Kind::folder;
        configuration.folder = std::filesystem::absolute(options.folder).lexically_normal();
    } else if (!options.url.empty()) {
        configuration = {};
        configuration.kind = SyncConfiguration::Kind::webdav;
        configuration.url = options.url;
        configuration.user = options.user;
        if (!options.caFile.empty())
            configuration.caFile = std::filesystem::absolute(options.caFile).lexically_normal();
        if (!configuration.user.empty()) {
            if (const char* given = std::getenv(kPasswordVariable); given && *given) {
                password = given;
            } else {
                password = askPassword("Password for " + serverWords(configuration) + ": ");
            }
            if (!password) {
                printError(std::string("mappings sync enable: no password for ") +
                           serverWords(configuration) + "; set " + kPasswordVariable +
                           " or run the command on a terminal");
                return kUsageError;
            }
        }
    } else if (configuration.kind == SyncConfiguration::Kind::none) {
        printError("mappings sync enable: give --folder DIR or --webdav URL");
        return kUsageError;
    }

    OpenOptions open = commandOpenOptions();
    if (password) {
        open.password =
            [&password](const SyncConfiguration&) -> Expected<std::string, std::string> {
            return *password;
        };
    }
    SavedMappingStore local;
    MappingStore store(local);
    const auto shared = enableSharing(store, settings, configuration, open);
    if (!shared) {
        printError("mappings sync enable: " + shared.error().message());
        if (shared.error().alert) saveSettings(settings, "mappings sync enable");
        return kStorageError;
    }
    // Kept only once the server took it.
    if (password) {
        if (auto stored = storeWebDavPassword(configuration.url, configuration.user, *password);
            !stored) {
            printWarning("mappings sync enable: the password was not stored (" + stored.error() +
                         "); set " + kPasswordVariable + " for later commands");
        }
    }
    if (!saveSettings(settings, "mappings sync enable")) return kStorageError;
    std::cout << "Sharing mappings through " << escapedControls(describe(configuration)) << ": "
              << *shared << (*shared == 1 ? " mapping" : " mappings") << " shared.\n";
    return kSuccess;
}

int disableSync() {
    auto& settings = SettingsStore::standard();
    if (!settings.boolForKey(kShareMappingsKey)) {
        std::cout << "Sharing is off already.\n";
        return kSuccess;
    }
    SavedMappingStore local;
    MappingStore store(local);
    setUpSharing(store, "mappings sync disable");
    const auto kept = disableSharing(store, settings);
    if (!saveSettings(settings, "mappings sync disable")) return kStorageError;
    if (!kept) {
        printError("mappings sync disable: " + kept.error().message());
        return kStorageError;
    }
    std::cout << "Sharing is off: " << local.mappings().size()
              << (local.mappings().size() == 1 ? " mapping is" : " mappings are")
              << " kept in the local file.\n";
    return kSuccess;
}

int refreshSync() {
    SavedMappingStore local;
    MappingStore store(local);
    if (!setUpSharing(store, "mappings sync refresh")) {
        printError(
            "mappings sync refresh: the mappings are not shared; see “pelkora mappings "
            "sync status”");
        return kStorageError;
    }
    saveSettings(SettingsStore::standard(), "mappings sync refresh");
    std::cout << "Read " << store.mappings().size()
              << (store.mappings().size() == 1 ? " mapping" : " mappings") << " from "
              << escapedControls(store.placeName() + " " + store.recordStore()->location())
              << ".\n";
    return kSuccess;
}

std::atomic<bool> stopWatching{false};

void onStopSignal(int) {
    stopWatching = true;
}

// One line per mapping added, changed or deleted between two lists.
void printChanges(const std::map<std::string, SavedMapping>& before,
                  const std::map<std::string, SavedMapping>& after) {
    for (const auto& [uuid, mapping] : after) {
        const auto old = before.find(uuid);
        if (old == before.end()) {
            std::cout << "added “" << escapedControls(mapping.title) << "” " << uuid << '\n';
        } else if (!(old->second == mapping)) {
            std::cout << "changed “" << escapedControls(mapping.title) << "” " << uuid << '\n';
        }
    }
    for (const auto& [uuid, mapping] : before) {
        if (!after.contains(uuid))
            std::cout << "deleted “" << escapedControls(mapping.title) << "” " << uuid << '\n';
    }
    std::cout << std::flush;
}

std::map<std::string, SavedMapping> byUuid(const std::vector<SavedMapping>& list) {
    std::map<std::string, SavedMapping> mappings;
    for (const auto& mapping : list) mappings.emplace(mapping.uuid, mapping);
    return mappings;
}

int watchMappings() {
    SavedMappingStore local;
    MappingStore store(local);
    if (!setUpSharing(store, "mappings watch")) {
        printError(
            "mappings watch: the mappings are not shared; see “pelkora mappings sync "
            "status”");
        return kStorageError;
    }
    auto known = byUuid(store.mappings());
    store.onChange = [&store, &known] {
        auto now = byUuid(store.mappings());
        printChanges(known, now);
        known = std::move(now);
        noteSharedRefresh(SettingsStore::standard());
        saveSettings(SettingsStore::standard(), "mappings watch");
    };
    store.onError = [](const RecordStoreError& error) {
        printWarning("mappings watch: " + error.message);
    };
    std::cout << "Watching "
              << escapedControls(store.placeName() + " " + store.recordStore()->location()) << " ("
              << known.size() << (known.size() == 1 ? " mapping" : " mappings")
              << "); Ctrl-C stops.\n"
              << std::flush;
    stopWatching = false;
    auto previousInterrupt = std::signal(SIGINT, onStopSignal);
    auto previousTerminate = std::signal(SIGTERM, onStopSignal);
    while (!stopWatching) {
        MainQueue::shared().runUntil([] { return stopWatching.load(); },
                                     std::chrono::milliseconds(200));
    }
    std::signal(SIGINT, previousInterrupt);
    std::signal(SIGTERM, previousTerminate);
    return kSuccess;
}

int runSync(const SyncOptions& options) {
    if (options.action == "status") return syncStatus(options);
    if (options.action == "enable") return enableSync(options);
    if (options.action == "disable") return disableSync();
    if (options.action == "refresh") return refreshSync();
    return watchMappings();
}

}  // namespace

OpenOptions commandOpenOptions() {
    OpenOptions options;
    options.password = passwordFor;
    if (const char* interval = std::getenv("PELKORA_SYNC_POLL_MS"); interval && *interval) {
        char* end = nullptr;
        const long milliseconds = std::strtol(interval, &end, 10);
        if (end && *end == '\0' && milliseconds > 0)
            options.pollInterval = std::chrono::milliseconds(milliseconds);
    }
    return options;
}

bool setUpSharing(MappingStore& store, std::string_view command) {
    if (auto local =
            pelkora::setUpSharing(store, SettingsStore::standard(), commandOpenOptions())) {
        printWarning(std::string(command) + ": the shared mappings cannot be used (" + *local +
                     "); working with the local ones");
    }
    return store.isSharedMode();
}

void addMappingSyncActions(CLI::App& mappings, CommandContext& context) {
    auto options = std::make_shared<SyncOptions>();
    const auto run = [](const SyncOptions& given) { return runSync(given); };

    CLI::App* sync = mappings.add_subcommand("sync");
    describe(
        *sync,
        {"Share saved mappings between your computers",
         "Through a folder that a sync tool keeps in step (Nextcloud, Syncthing, Dropbox…) "
         "or a WebDAV server. Each mapping is a file in the folder “Pelkora Mappings” there; "
         "every computer that enables sharing with the same place sees the same mappings. "
         "A WebDAV password is kept in the desktop's Secret Service, never in the "
         "settings; without one, PELKORA_WEBDAV_PASSWORD or the terminal gives it.",
         {{"pelkora mappings sync enable --folder ~/Nextcloud",
           "Shares the mappings through a synced folder."},
          {"pelkora mappings sync enable --webdav https://cloud.example/remote.php/dav/files/ada/ "
           "--user ada",
           "Shares them through a WebDAV server."}}});
    sync->require_subcommand(1);

    CLI::App* status = addAction(*sync, context, options, "status",
                                 {"Show how mappings are shared",
                                  "Sharing on or off, the mode in use, the sync folder or WebDAV "
                                  "server, the account's status, whether the “Pelkora Mappings” "
                                  "folder exists, and the last refresh. Changes nothing.",
                                  {}},
                                 run);
    status->add_flag("--json", options->json,
                     "Print an object with sharing, mode, backend, account, zone, lastRefresh "
                     "and problem.");

    CLI::App* enable =
        addAction(*sync, context, options, "enable",
                  {"Share the saved mappings through a sync folder or a WebDAV server",
                   "The local mappings are merged into the shared ones (a shared mapping with "
                   "the same uuid takes the local title, mode and columns) and uploaded in one "
                   "batch. Without --folder or --webdav, the place set up before is used again. "
                   "Exit 3 when the place cannot be used, with the reason.",
                   {}},
                  run);
    enable->add_option("--folder", options->folder, "A folder a sync tool keeps in step.");
    enable->add_option("--webdav", options->url, "The URL of a folder on a WebDAV server.");
    enable->add_option("--user", options->user, "The WebDAV user name.");
    enable->add_option("--ca-file", options->caFile,
                       "A PEM file of the authorities to trust for the server's certificate, "
                       "instead of the system's.");

    addAction(*sync, context, options, "disable",
              {"Stop sharing; the shared mappings are kept in the local file", "", {}}, run);
    addAction(*sync, context, options, "refresh",
              {"Read the shared mappings again", "Exit 3 when the mappings are not shared.", {}},
              run);
    addAction(mappings, context, options, "watch",
              {"Print each change of the shared mappings as it arrives",
               "One line per mapping added, changed or deleted on any computer, until Ctrl-C. "
               "A WebDAV server is asked every minute (PELKORA_SYNC_POLL_MS sets another "
               "interval in milliseconds).",
               {}},
              run);
}

}  // namespace pelkora::cli
