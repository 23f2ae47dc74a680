#pragma once

// Which address book a command works on. A store is named by a URI: "sqlite:PATH" (a plain
// path means the same), "eds:" (the desktop's address books, Evolution Data Server) or
// "vdir:PATH" (a folder of vCard files, or a folder of such folders); or by the name of a
// store the user configured with "pelkora stores add". Without --store, the "ContactStore"
// setting names the default, else the usual SQLite book.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "addressbook/ContactStore.h"
#include "support/Expected.h"

namespace pelkora::cli {

struct StoreLocation {
    enum class Kind { sqlite, eds, vdir };
    Kind kind = Kind::sqlite;
    std::filesystem::path path;  // sqlite: the file; vdir: the folder; absolute

    // "sqlite:/home/ada/book.sqlite", "eds:", "vdir:/home/ada/contacts".
    std::string uri() const;
    bool operator==(const StoreLocation&) const = default;
};

// A URI or a plain path (a SQLite file); relative paths are made absolute. An unknown scheme
// ("carddav:" included, for now) is an error naming the ones there are.
Expected<StoreLocation, std::string> parseStoreUri(std::string_view text);

// The user's named stores, in $XDG_CONFIG_HOME/pelkora/stores.plist (a dictionary of names
// and URIs, written atomically).
class NamedStores {
  public:
    static std::filesystem::path defaultFile();
    // An absent file is no store; a damaged one is an error.
    static Expected<NamedStores, std::string> load(std::filesystem::path file = defaultFile());

    const std::map<std::string, std::string>& stores() const { return stores_; }
    std::optional<std::string> uriOf(std::string_view name) const;
    void set(std::string name, std::string uri) { stores_[std::move(name)] = std::move(uri); }
    bool remove(std::string_view name);
    Expected<void, std::string> save() const;

  private:
    std::filesystem::path file_;
    std::map<std::string, std::string> stores_;
};

// --store's value (a configured name first, then a URI or path); without one the default.
Expected<StoreLocation, std::string> resolveStore(const std::optional<std::string>& given);

// Opens the store. With `create`, a SQLite book or a vdir folder that is not there is made;
// without, a missing one is storeUnavailable and nothing is made.
Expected<std::unique_ptr<contacts::ContactStore>, contacts::ContactStoreError> openStore(
    const StoreLocation& location, bool create);

}  // namespace pelkora::cli
