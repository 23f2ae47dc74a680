#pragma once

// Where the user's shared mappings are kept, as the settings name it, and opening the record
// store it names. Front ends call this at start and when the user changes it.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mappingstore/MappingStore.h"
#include "mappingstore/RecordStore.h"
#include "platform/SettingsStore.h"
#include "support/Expected.h"

namespace pelkora {

struct SyncConfiguration {
    enum class Kind { none, folder, webdav };
    Kind kind = Kind::none;
    std::filesystem::path folder;  // folder: the folder the sync tool keeps in step
    std::string url;               // webdav: the folder on the server
    std::string user;
    std::filesystem::path caFile;  // webdav: trusted instead of the system's authorities
    bool operator==(const SyncConfiguration&) const = default;
};

// Read from and written to the settings (MappingSync… keys); a folder wins over a URL.
SyncConfiguration readSyncConfiguration(const SettingsStore& settings);
void writeSyncConfiguration(SettingsStore& settings, const SyncConfiguration& configuration);
// "sync folder /home/ada/Sync" or "WebDAV server https://dav.example/ as ada", or "none".
std::string describe(const SyncConfiguration& configuration);

// The WebDAV password for the configuration, or why there is none.
using PasswordSource = std::function<Expected<std::string, std::string>(const SyncConfiguration&)>;

struct OpenOptions {
    PasswordSource password;
    // How often a WebDAV server is asked for changes while watching.
    std::chrono::milliseconds pollInterval{60000};
};

// The record store the configuration names; none for Kind::none.
Expected<std::unique_ptr<RecordStore>, std::string> openRecordStore(
    const SyncConfiguration& configuration, const OpenOptions& options);

// Sets the store up for sharing when the settings ask for it (ShareMappings and a place set up):
// opens the place, asks for the account status and reads the shared list, and notes the time in
// MappingSyncLastRefresh. Returns why the store works with the local file instead, or none
// (sharing on and working, or sharing off: see MappingStore::isSharedMode).
std::optional<std::string> setUpSharing(MappingStore& store, SettingsStore& settings,
                                        const OpenOptions& options);

// Notes now as the last refresh of the shared mappings.
void noteSharedRefresh(SettingsStore& settings);

// "available", "no account", …: an account status in the words status lines use.
std::string_view accountStatusName(AccountStatus status);

}  // namespace pelkora
