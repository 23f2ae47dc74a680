#include "StoreLocation.h"

#include <system_error>

#include "addressbook/eds/EdsContactStore.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "addressbook/vdir/VdirContactStore.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"
#include "propertylist/PropertyList.h"

namespace pelkora::cli {
namespace {

constexpr std::string_view kContactStoreSetting = "ContactStore";

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
        case Kind::sqlite:
            break;
    }
    return "sqlite:" + path.string();
}

Expected<StoreLocation, std::string> parseStoreUri(std::string_view text) {
    if (text.empty()) return Unexpected(std::string("an empty store name"));
    const auto colon = text.find(':');
    // "C:…" never occurs here, and a path with a colon after a slash is a path.
    const auto slash = text.find('/');
    if (colon == std::string_view::npos || (slash != std::string_view::npos && slash < colon))
        return StoreLocation{StoreLocation::Kind::sqlite, absolute(expandHome(text))};
    const std::string_view scheme = text.substr(0, colon);
    std::string rest = expandHome(text.substr(colon + 1));
    if (rest.starts_with("//")) rest.erase(0, 2);  // "vdir:///home/…" as well as "vdir:/home/…"
    if (scheme == "eds") {
        if (!rest.empty())
            return Unexpected("“" + std::string(text) +
                              "”: eds: takes no path; it means the desktop's address books");
        return StoreLocation{StoreLocation::Kind::eds, {}};
    }
    if (scheme == "sqlite" || scheme == "vdir") {
        if (rest.empty())
            return Unexpected("“" + std::string(text) + "” names no " +
                              (scheme == "sqlite" ? "file" : "folder"));
        return StoreLocation{
            scheme == "sqlite" ? StoreLocation::Kind::sqlite : StoreLocation::Kind::vdir,
            absolute(rest)};
    }
    return Unexpected("“" + std::string(text) + "” is not a store: use sqlite:PATH, eds: or " +
                      "vdir:PATH, a file's path, or the name of a store from “pelkora stores " +
                      "list”");
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
        return Unexpected("“" + named.file_.string() + "” is not a list of stores" +
                          (decoded ? std::string() : ": " + decoded.error().message));
    for (const auto& [name, uri] : *dictionary) {
        if (const auto* text = uri.stringValue()) named.stores_.emplace(name, *text);
    }
    return named;
}

std::optional<std::string> NamedStores::uriOf(std::string_view name) const {
    const auto found = stores_.find(std::string(name));
    if (found == stores_.end()) return std::nullopt;
    return found->second;
}

bool NamedStores::remove(std::string_view name) {
    return stores_.erase(std::string(name)) > 0;
}

Expected<void, std::string> NamedStores::save() const {
    PropertyValue::Dictionary dictionary;
    for (const auto& [name, uri] : stores_) dictionary.emplace(name, uri);
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
    if (auto uri = named->uriOf(*wanted)) return parseStoreUri(*uri);
    return parseStoreUri(*wanted);
}

Expected<std::unique_ptr<contacts::ContactStore>, contacts::ContactStoreError> openStore(
    const StoreLocation& location, bool create) {
    using contacts::ContactStore;
    const auto opened =
        [](auto result) -> Expected<std::unique_ptr<ContactStore>, contacts::ContactStoreError> {
        if (!result) return Unexpected(std::move(result).error());
        return std::unique_ptr<ContactStore>(std::move(result).value());
    };
    switch (location.kind) {
        case StoreLocation::Kind::eds:
            return opened(contacts::EdsContactStore::open());
        case StoreLocation::Kind::vdir: {
            std::error_code missing;
            if (!create && !std::filesystem::exists(location.path, missing)) {
                return Unexpected(contacts::ContactStoreError{
                    contacts::ContactStoreErrorKind::storeUnavailable,
                    "There is no vCard folder at “" + location.path.string() + "”."});
            }
            return opened(contacts::VdirContactStore::open(location.path));
        }
        case StoreLocation::Kind::sqlite:
            break;
    }
    if (create) return opened(contacts::SqliteContactStore::open(location.path));
    return opened(contacts::SqliteContactStore::openExisting(location.path));
}

}  // namespace pelkora::cli
