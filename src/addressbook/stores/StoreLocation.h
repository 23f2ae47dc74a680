#pragma once

// Which address book a front end works on. A store is named by a URI: "sqlite:PATH" (a plain
// path means the same), "eds:" (the desktop's address books, Evolution Data Server) or
// "vdir:PATH" (a folder of vCard files, or a folder of such folders), "carddav:URL" (an
// account on a CardDAV server; a user name may come in the URL, "https://ada@host/"); or by
// the name of a store the user configured with "pelkora stores add", which may add the user,
// a CA file and the kind of groups. Without --store, the "ContactStore" setting names the
// default, else the usual SQLite book.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "addressbook/ContactStore.h"
#include "support/Expected.h"

namespace pelkora {

// What a named store keeps besides its URI (a CardDAV account's).
struct StoreOptions {
    std::string user;
    std::filesystem::path caFile;  // absolute
    bool groupCards = false;       // groups as cards of their own, not CATEGORIES

    bool empty() const { return user.empty() && caFile.empty() && !groupCards; }
    bool operator==(const StoreOptions&) const = default;
};

struct StoreLocation {
    enum class Kind { sqlite, eds, vdir, carddav };
    Kind kind = Kind::sqlite;
    std::filesystem::path path;  // sqlite: the file; vdir: the folder; absolute
    std::string url = {};        // carddav: the server's or the address book's URL
    StoreOptions options = {};   // carddav

    // "sqlite:/home/ada/book.sqlite", "eds:", "vdir:/home/ada/contacts",
    // "carddav:https://cloud.example.org/remote.php/dav" (without the user).
    std::string uri() const;
    bool operator==(const StoreLocation&) const = default;
};

// A URI or a plain path (a SQLite file); relative paths are made absolute. An unknown scheme
// is an error naming the ones there are.
Expected<StoreLocation, std::string> parseStoreUri(std::string_view text);

// The user's named stores, in $XDG_CONFIG_HOME/pelkora/stores.plist (a dictionary of names
// and URIs, written atomically; a store with options has a dictionary of "URI", "User",
// "CAFile" and "GroupCards" instead of its URI).
class NamedStores {
  public:
    static std::filesystem::path defaultFile();
    // An absent file is no store; a damaged one is an error.
    static Expected<NamedStores, std::string> load(std::filesystem::path file = defaultFile());

    const std::map<std::string, std::string>& stores() const { return stores_; }
    std::optional<std::string> uriOf(std::string_view name) const;
    StoreOptions optionsOf(std::string_view name) const;
    void set(std::string name, std::string uri, StoreOptions options = {});
    bool remove(std::string_view name);
    Expected<void, std::string> save() const;

  private:
    std::filesystem::path file_;
    std::map<std::string, std::string> stores_;
    std::map<std::string, StoreOptions> options_;
};

// --store's value (a configured name first, then a URI or path); without one the default.
Expected<StoreLocation, std::string> resolveStore(const std::optional<std::string>& given);

// A store as an import recorded it (its URI): a CardDAV account takes its user and CA file
// from the named store of the same URI, as the recorded URI holds neither.
Expected<StoreLocation, std::string> recordedStore(std::string_view uri);

// Where a CardDAV account's password comes from: the Secret Service, then
// PELKORA_CARDDAV_PASSWORD; a front end may ask the user after that. The error says where it
// looked; an account without a user has the empty password.
using StorePasswordSource = std::function<Expected<std::string, std::string>(const StoreLocation&)>;
Expected<std::string, std::string> storedCardDavPassword(const StoreLocation& location);

// Opens the store. With `create`, a SQLite book or a vdir folder that is not there is made;
// without, a missing one is storeUnavailable and nothing is made. A CardDAV store keeps its
// indexes in $XDG_CACHE_HOME/pelkora/carddav and takes its password from `password`.
Expected<std::unique_ptr<contacts::ContactStore>, contacts::ContactStoreError> openStore(
    const StoreLocation& location, bool create,
    const StorePasswordSource& password = storedCardDavPassword);

// Forgets a named store: out of stores.plist (written at once), and a CardDAV account's
// password out of the keyring. A password that could not be removed is the result's warning;
// the error is `notFound` when no store has the name, `notSaved` when the file could not be
// written (then nothing changed).
struct ForgetStoreError {
    enum class Kind { notFound, notSaved };
    Kind kind;
    std::string message;
};
Expected<std::optional<std::string>, ForgetStoreError> forgetNamedStore(const std::string& name);

}  // namespace pelkora
