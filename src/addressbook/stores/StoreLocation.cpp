#include "addressbook/stores/StoreLocation.h"

#include <system_error>

#include "addressbook/carddav/CardDavContactStore.h"
#include "addressbook/eds/EdsContactStore.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "addressbook/vdir/VdirContactStore.h"
#include "mappingstore/webdav/SecretStore.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"
#include "propertylist/PropertyList.h"
#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

constexpr std::string_view kContactStoreSetting = "ContactStore";
constexpr const char* kCardDavPasswordVariable = "PELKORA_CARDDAV_PASSWORD";

std::filesystem::path absolute(std::string_view path) {
    std::error_code ignored;
    auto made = std::filesystem::absolute(std::filesystem::path(path), ignored);
    return made.empty() ? std::filesystem::path(path) : made.lexically_normal();
}

std::string expandHome(std::string_view path) {
    if (path == "~" || path.starts_with("~/")) {
        if (const char* home = std::getenv("HOME"))
            return std::string(home) + std::string(path.substr(1));
    }
    return std::string(path);
}

}  // namespace

std::string StoreLocation::uri() const {
    switch (kind) {
        case Kind::eds:
            return "eds:";
        case Kind::vdir:
            return "vdir:" + path.string();
        case Kind::carddav:
            return "carddav:" + url;
        case Kind::sqlite:
            break;
    }
    return "sqlite:" + path.string();
}

Expected<StoreLocation, std::string> parseStoreUri(std::string_view text) {
    if (text.empty()) return Unexpected(localizedString("an empty store name"));
    const auto colon = text.find(':');
    // "C:…" never occurs here, and a path with a colon after a slash is a path.
    const auto slash = text.find('/');
    if (colon == std::string_view::npos || (slash != std::string_view::npos && slash < colon))
        return StoreLocation{StoreLocation::Kind::sqlite, absolute(expandHome(text))};
    const std::string_view scheme = text.substr(0, colon);
    if (scheme == "carddav") {
        std::string url(text.substr(colon + 1));
        if (!url.starts_with("https://") && !url.starts_with("http://"))
            return Unexpected(formatMessage(
                localizedString("“%@” names no server: give carddav:https://HOST/PATH"), text));
        StoreLocation location{StoreLocation::Kind::carddav, {}, {}, {}};
        // A user name in the URL goes to the options, so that it never travels in the URL.
        const auto authority = url.find("://") + 3;
        const auto end = url.find_first_of("/?#", authority);
        const auto at = url.rfind('@', end == std::string::npos ? url.size() : end);
        if (at != std::string::npos && at >= authority) {
            location.options.user = url.substr(authority, at - authority);
            if (location.options.user.find(':') != std::string::npos)
                return Unexpected(formatMessage(
                    localizedString("“%@” holds a password: give the user name only; the "
                                    "password is asked for and kept in the keyring"),
                    text));
            url.erase(authority, at + 1 - authority);
        }
        location.url = url;
        return location;
    }
    std::string rest = expandHome(text.substr(colon + 1));
    if (rest.starts_with("//")) rest.erase(0, 2);  // "vdir:///home/…" as well as "vdir:/home/…"
    if (scheme == "eds") {
        if (!rest.empty())
            return Unexpected(formatMessage(
                localizedString("“%@”: eds: takes no path; it means the desktop's address books"),
                text));
        return StoreLocation{StoreLocation::Kind::eds, {}};
    }
    if (scheme == "sqlite" || scheme == "vdir") {
        if (rest.empty())
            return Unexpected(formatMessage(scheme == "sqlite"
                                                ? localizedString("“%@” names no file")
                                                : localizedString("“%@” names no folder"),
                                            text));
        return StoreLocation{
            scheme == "sqlite" ? StoreLocation::Kind::sqlite : StoreLocation::Kind::vdir,
            absolute(rest)};
    }
    return Unexpected(formatMessage(
        localizedString("“%@” is not a store: use sqlite:PATH, eds:, vdir:PATH or carddav:URL, a "
                        "file's path, or the name of a store from “pelkora stores list”"),
        text));
}

std::filesystem::path NamedStores::defaultFile() {
    return paths::applicationConfigFolder() / "stores.plist";
}

Expected<NamedStores, std::string> NamedStores::load(std::filesystem::path file) {
    NamedStores named;
    named.file_ = std::move(file);
    std::error_code missing;
    if (!std::filesystem::exists(named.file_, missing)) return named;
    auto bytes = readWholeFile(named.file_);
    if (!bytes) return Unexpected(bytes.error().message);
    auto decoded = decodePropertyList(*bytes);
    const auto* dictionary = decoded ? decoded->dictionaryValue() : nullptr;
    if (!dictionary)
        return Unexpected(
            decoded ? formatMessage(localizedString("“%@” is not a list of stores"),
                                    named.file_.string())
                    : formatMessage(localizedString("“%1$@” is not a list of stores: %2$@"),
                                    named.file_.string(), decoded.error().message));
    for (const auto& [name, entry] : *dictionary) {
        if (const auto* text = entry.stringValue()) {
            named.stores_.emplace(name, *text);
        } else if (const auto* fields = entry.dictionaryValue()) {
            auto field = [&](const char* key) -> std::string {
                auto found = fields->find(key);
                const auto* value = found == fields->end() ? nullptr : found->second.stringValue();
                return value ? *value : std::string();
            };
            if (field("URI").empty()) continue;
            named.stores_.emplace(name, field("URI"));
            StoreOptions options{field("User"), field("CAFile"), false};
            if (auto cards = fields->find("GroupCards"); cards != fields->end())
                options.groupCards = cards->second.boolValue() && *cards->second.boolValue();
            named.options_.emplace(name, std::move(options));
        }
    }
    return named;
}

std::optional<std::string> NamedStores::uriOf(std::string_view name) const {
    const auto found = stores_.find(std::string(name));
    if (found == stores_.end()) return std::nullopt;
    return found->second;
}

StoreOptions NamedStores::optionsOf(std::string_view name) const {
    const auto found = options_.find(std::string(name));
    return found == options_.end() ? StoreOptions{} : found->second;
}

void NamedStores::set(std::string name, std::string uri, StoreOptions options) {
    if (options.empty())
        options_.erase(name);
    else
        options_[name] = std::move(options);
    stores_[std::move(name)] = std::move(uri);
}

bool NamedStores::remove(std::string_view name) {
    options_.erase(std::string(name));
    return stores_.erase(std::string(name)) > 0;
}

Expected<void, std::string> NamedStores::save() const {
    PropertyValue::Dictionary dictionary;
    for (const auto& [name, uri] : stores_) {
        const StoreOptions options = optionsOf(name);
        if (options.empty()) {
            dictionary.emplace(name, uri);
            continue;
        }
        PropertyValue::Dictionary fields;
        fields.emplace("URI", uri);
        if (!options.user.empty()) fields.emplace("User", options.user);
        if (!options.caFile.empty()) fields.emplace("CAFile", options.caFile.string());
        if (options.groupCards) fields.emplace("GroupCards", PropertyValue(true));
        dictionary.emplace(name, PropertyValue(std::move(fields)));
    }
    std::error_code ignored;
    std::filesystem::create_directories(file_.parent_path(), ignored);
    auto written = writeFileAtomically(
        file_, encodePropertyList(PropertyValue(std::move(dictionary)), PropertyListFormat::xml));
    if (!written) return Unexpected(written.error().message);
    return {};
}

Expected<StoreLocation, std::string> resolveStore(const std::optional<std::string>& given) {
    std::optional<std::string> wanted = given;
    if (!wanted) wanted = SettingsStore::standard().stringForKey(kContactStoreSetting);
    if (!wanted || wanted->empty())
        return StoreLocation{StoreLocation::Kind::sqlite,
                             contacts::SqliteContactStore::defaultLocation()};
    auto named = NamedStores::load();
    if (!named) return Unexpected(named.error());
    if (auto uri = named->uriOf(*wanted)) {
        auto location = parseStoreUri(*uri);
        if (location) {
            const StoreOptions options = named->optionsOf(*wanted);
            if (!options.user.empty()) location->options.user = options.user;
            if (!options.caFile.empty()) location->options.caFile = options.caFile;
            location->options.groupCards = location->options.groupCards || options.groupCards;
        }
        return location;
    }
    return parseStoreUri(*wanted);
}

Expected<StoreLocation, std::string> recordedStore(std::string_view uri) {
    auto location = parseStoreUri(uri);
    if (!location || location->kind != StoreLocation::Kind::carddav || !location->options.empty())
        return location;
    auto named = NamedStores::load();
    if (!named) return Unexpected(named.error());
    for (const auto& [name, storeUri] : named->stores()) {
        auto candidate = parseStoreUri(storeUri);
        if (candidate && candidate->uri() == location->uri()) {
            location->options = named->optionsOf(name);
            if (location->options.user.empty()) location->options.user = candidate->options.user;
            break;
        }
    }
    return location;
}

Expected<std::string, std::string> storedCardDavPassword(const StoreLocation& location) {
    const std::string& user = location.options.user;
    if (user.empty()) return std::string();
    if (auto refusal = contacts::CardDavContactStore::passwordRefusal(location.url))
        return Unexpected(formatMessage(localizedString("the password of %1$@ was not sent: %2$@"),
                                        user, *refusal));
    auto stored = lookupWebDavPassword(location.url, user);
    if (stored && *stored) return **stored;
    if (const char* given = std::getenv(kCardDavPasswordVariable); given && *given)
        return std::string(given);
    const std::string why = stored ? localizedString("it is not in the keyring") : stored.error();
    return Unexpected(formatMessage(localizedString("no password for %1$@ at %2$@: %3$@; set %4$@ "
                                                    "or store it with “pelkora stores add”"),
                                    user, location.url, why, kCardDavPasswordVariable));
}

Expected<std::unique_ptr<contacts::ContactStore>, contacts::ContactStoreError> openStore(
    const StoreLocation& location, bool create, const StorePasswordSource& password) {
    using contacts::ContactStore;
    const auto opened =
        [](auto result) -> Expected<std::unique_ptr<ContactStore>, contacts::ContactStoreError> {
        if (!result) return Unexpected(std::move(result).error());
        return std::unique_ptr<ContactStore>(std::move(result).value());
    };
    switch (location.kind) {
        case StoreLocation::Kind::eds:
            return opened(contacts::EdsContactStore::open());
        case StoreLocation::Kind::carddav: {
            auto secret = password(location);
            if (!secret)
                return Unexpected(contacts::ContactStoreError{
                    contacts::ContactStoreErrorKind::storeUnavailable,
                    formatMessage(localizedString("Could not open the address "
                                                  "book “%1$@”: %2$@."),
                                  location.uri(), secret.error())});
            contacts::CardDavConfiguration configuration;
            configuration.url = location.url;
            configuration.user = location.options.user;
            configuration.password = std::move(*secret);
            configuration.caFile = location.options.caFile;
            configuration.cacheFolder = paths::cacheHome() / "pelkora" / "carddav";
            configuration.groupMode = location.options.groupCards
                                          ? contacts::CardDavConfiguration::GroupMode::groupCards
                                          : contacts::CardDavConfiguration::GroupMode::categories;
            return opened(contacts::CardDavContactStore::open(std::move(configuration)));
        }
        case StoreLocation::Kind::vdir: {
            std::error_code missing;
            if (!create && !std::filesystem::exists(location.path, missing)) {
                return Unexpected(contacts::ContactStoreError{
                    contacts::ContactStoreErrorKind::storeUnavailable,
                    formatMessage(localizedString("There is no vCard folder at “%@”."),
                                  location.path.string())});
            }
            return opened(contacts::VdirContactStore::open(location.path));
        }
        case StoreLocation::Kind::sqlite:
            break;
    }
    if (create) return opened(contacts::SqliteContactStore::open(location.path));
    return opened(contacts::SqliteContactStore::openExisting(location.path));
}

Expected<std::optional<std::string>, ForgetStoreError> forgetNamedStore(const std::string& name) {
    auto named = NamedStores::load();
    if (!named)
        return Unexpected(ForgetStoreError{ForgetStoreError::Kind::notSaved, named.error()});
    const auto uri = named->uriOf(name);
    const StoreOptions kept = named->optionsOf(name);
    if (!named->remove(name))
        return Unexpected(ForgetStoreError{ForgetStoreError::Kind::notFound, name});
    if (auto saved = named->save(); !saved)
        return Unexpected(ForgetStoreError{ForgetStoreError::Kind::notSaved, saved.error()});
    // A CardDAV account's password leaves the keyring with it.
    const auto location = parseStoreUri(uri.value_or(""));
    if (location && location->kind == StoreLocation::Kind::carddav && !kept.user.empty()) {
        if (auto cleared = clearWebDavPassword(location->url, kept.user); !cleared)
            return std::optional<std::string>(cleared.error());
    }
    return std::optional<std::string>();
}

}  // namespace pelkora
