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

// Why switching sharing did not end as asked: the place could not be opened (error), or the
// store's alert (heading and text), which a window shows as it is.
struct SharingFailure {
    std::string error;
    std::optional<SharingAlert> alert;
    // One line for a terminal or a log: the error, or the alert's heading and text.
    std::string message() const;
};

// Switches sharing on with the place: opens it with the options, merges the local mappings
// into it (MappingStore::switchSharing), and keeps the place and ShareMappings in the settings
// once that worked; the place is kept also when the store's alert refuses, so that the user can
// try again. Returns how many mappings are shared. The settings are not written out.
Expected<std::size_t, SharingFailure> enableSharing(MappingStore& store, SettingsStore& settings,
                                                    const SyncConfiguration& place,
                                                    const OpenOptions& options);
// Switches sharing off: the shared list is written to the local file and ShareMappings is
// cleared; the place stays in the settings for the next time. Returns how many mappings the
// local file keeps.
Expected<std::size_t, SharingFailure> disableSharing(MappingStore& store, SettingsStore& settings);

// Notes now as the last refresh of the shared mappings.
void noteSharedRefresh(SettingsStore& settings);

// "available", "no account", …: an account status in the words status lines use.
std::string_view accountStatusName(AccountStatus status);

}  // namespace pelkora
