#include "mappingstore/webdav/SyncSetup.h"

#include <ctime>

#include "mappingstore/FolderRecordStore.h"
#include "mappingstore/webdav/WebDavRecordStore.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Settings.h"

namespace pelkora {
namespace {

std::string text(const SettingsStore& settings, std::string_view key) {
    return settings.stringForKey(key).value_or("");
}

void setOrRemove(SettingsStore& settings, std::string_view key, const std::string& value) {
    if (value.empty()) {
        settings.removeObject(key);
    } else {
        settings.set(key, PropertyValue(value));
    }
}

}  // namespace

SyncConfiguration readSyncConfiguration(const SettingsStore& settings) {
    SyncConfiguration configuration;
    if (auto folder = text(settings, "MappingSyncFolder"); !folder.empty()) {
        configuration.kind = SyncConfiguration::Kind::folder;
        configuration.folder = folder;
    } else if (auto url = text(settings, "MappingSyncWebDAVURL"); !url.empty()) {
        configuration.kind = SyncConfiguration::Kind::webdav;
        configuration.url = url;
        configuration.user = text(settings, "MappingSyncWebDAVUser");
        configuration.caFile = text(settings, "MappingSyncCAFile");
    }
    return configuration;
}

void writeSyncConfiguration(SettingsStore& settings, const SyncConfiguration& configuration) {
    using Kind = SyncConfiguration::Kind;
    const bool folder = configuration.kind == Kind::folder;
    const bool webdav = configuration.kind == Kind::webdav;
    setOrRemove(settings, "MappingSyncFolder", folder ? configuration.folder.string() : "");
    setOrRemove(settings, "MappingSyncWebDAVURL", webdav ? configuration.url : "");
    setOrRemove(settings, "MappingSyncWebDAVUser", webdav ? configuration.user : "");
    setOrRemove(settings, "MappingSyncCAFile", webdav ? configuration.caFile.string() : "");
}

std::string describe(const SyncConfiguration& configuration) {
    switch (configuration.kind) {
        case SyncConfiguration::Kind::folder:
            return "sync folder " + configuration.folder.string();
        case SyncConfiguration::Kind::webdav:
            return "WebDAV server " + configuration.url +
                   (configuration.user.empty() ? "" : " as " + configuration.user);
        case SyncConfiguration::Kind::none:
            break;
    }
    return "none";
}

Expected<std::unique_ptr<RecordStore>, std::string> openRecordStore(
    const SyncConfiguration& configuration, const OpenOptions& options) {
    switch (configuration.kind) {
        case SyncConfiguration::Kind::none:
            return std::unique_ptr<RecordStore>();
        case SyncConfiguration::Kind::folder:
            return std::unique_ptr<RecordStore>(
                std::make_unique<FolderRecordStore>(configuration.folder));
        case SyncConfiguration::Kind::webdav:
            break;
    }
    WebDavConfiguration webdav;
    webdav.url = configuration.url;
    webdav.user = configuration.user;
    webdav.caFile = configuration.caFile;
    webdav.pollInterval = options.pollInterval;
    if (!webdav.user.empty()) {
        if (!options.password)
            return Unexpected(
                formatMessage(localizedString("no password for %@"), describe(configuration)));
        auto password = options.password(configuration);
        if (!password) return Unexpected(password.error());
        webdav.password = std::move(password).value();
    }
    return std::unique_ptr<RecordStore>(std::make_unique<WebDavRecordStore>(std::move(webdav)));
}

void noteSharedRefresh(SettingsStore& settings) {
    const std::time_t seconds = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    settings.set("MappingSyncLastRefresh", PropertyValue(std::string(text)));
}

std::string_view accountStatusName(AccountStatus status) {
    switch (status) {
        case AccountStatus::available:
            return "available";
        case AccountStatus::restricted:
            return "restricted";
        case AccountStatus::noAccount:
            return "no account";
        case AccountStatus::temporarilyUnavailable:
            return "temporarily unavailable";
        case AccountStatus::couldNotDetermine:
            break;
    }
    return "could not determine";
}

std::optional<std::string> setUpSharing(MappingStore& store, SettingsStore& settings,
                                        const OpenOptions& options) {
    if (!settings.boolForKey("ShareMappings")) return std::nullopt;
    const auto configuration = readSyncConfiguration(settings);
    if (configuration.kind == SyncConfiguration::Kind::none) return std::nullopt;
    auto recordStore = openRecordStore(configuration, options);
    if (!recordStore) return recordStore.error();
    store.setRecordStore(std::move(recordStore).value());
    store.setShareMappings(true);
    auto status = store.updateStatus();
    if (!status) return status.error().message;
    if (!store.isSharedMode())
        return describe(configuration) + ": " + std::string(accountStatusName(*status));
    if (auto refreshed = store.refresh(); !refreshed) return refreshed.error().message;
    noteSharedRefresh(settings);
    return std::nullopt;
}

std::string SharingFailure::message() const {
    if (alert) return alert->heading + ". " + alert->text;
    return error;
}

Expected<std::size_t, SharingFailure> enableSharing(MappingStore& store, SettingsStore& settings,
                                                    const SyncConfiguration& place,
                                                    const OpenOptions& options) {
    if (place.kind == SyncConfiguration::Kind::none)
        return Unexpected(
            SharingFailure{localizedString("no sync folder or WebDAV server is set up"), {}});
    auto recordStore = openRecordStore(place, options);
    if (!recordStore) return Unexpected(SharingFailure{recordStore.error(), {}});
    writeSyncConfiguration(settings, place);
    store.setRecordStore(std::move(recordStore).value());
    const auto outcome = store.switchSharing(
        true, [&settings](bool on) { settings.set("ShareMappings", PropertyValue(on)); });
    if (outcome.alert) return Unexpected(SharingFailure{{}, outcome.alert});
    noteSharedRefresh(settings);
    return store.mappings().size();
}

Expected<std::size_t, SharingFailure> disableSharing(MappingStore& store, SettingsStore& settings) {
    const auto outcome = store.switchSharing(
        false, [&settings](bool on) { settings.set("ShareMappings", PropertyValue(on)); });
    if (outcome.alert) return Unexpected(SharingFailure{{}, outcome.alert});
    return store.mappings().size();
}

}  // namespace pelkora
