// pelkora stores: the address books the user named, and which one commands use by default.

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Command.h"
#include "CommandHelp.h"
#include "StorePassword.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "addressbook/stores/StoreLocation.h"
#include "mappingstore/webdav/SecretStore.h"
#include "platform/SettingsStore.h"
#include "support/Json.h"

namespace pelkora::cli {
namespace {

constexpr std::string_view kContactStoreSetting = "ContactStore";

struct StoresOptions {
    std::string action;  // list, add, remove or default
    bool json = false;
    std::string name;
    std::string uri;
    std::string user;
    std::filesystem::path caFile;
    bool groupCards = false;
};

Expected<NamedStores, int> loadStores(std::string_view command) {
    auto named = NamedStores::load();
    if (!named) {
        printError(std::string(command) + ": " + named.error());
        return Unexpected(static_cast<int>(kStorageError));
    }
    return std::move(named).value();
}

bool saveSettings(std::string_view command) {
    if (auto written = SettingsStore::standard().synchronize(); !written) {
        printError(std::string(command) + ": " + written.error().message);
        return false;
    }
    return true;
}

int listStores(const StoresOptions& options) {
    auto named = loadStores("stores list");
    if (!named) return named.error();
    const std::string chosen =
        SettingsStore::standard().stringForKey(kContactStoreSetting).value_or("");
    const std::string usual = "sqlite:" + contacts::SqliteContactStore::defaultLocation().string();
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"(usual)", usual, chosen.empty() ? "default" : ""});
    for (const auto& [name, uri] : named->stores())
        rows.push_back({name, uri, chosen == name ? "default" : ""});
    if (!chosen.empty() && !named->uriOf(chosen)) rows.push_back({"(setting)", chosen, "default"});
    if (options.json) {
        std::cout << "[";
        for (std::size_t index = 0; index < rows.size(); ++index) {
            std::cout << (index > 0 ? ",\n " : "") << "{\"name\": " << json::quoted(rows[index][0])
                      << ", \"uri\": " << json::quoted(rows[index][1])
                      << ", \"default\": " << (rows[index][2].empty() ? "false" : "true") << "}";
        }
        std::cout << "]\n";
        return kSuccess;
    }
    printListing(rows);
    return kSuccess;
}

int addStore(const StoresOptions& options) {
    if (options.name.empty() || options.name.find_first_of(":/") != std::string::npos) {
        printError(
            "stores add: a store's name has no “:” or “/”, so that it never reads as a "
            "URI or a path: “" +
            options.name + "”");
        return kUsageError;
    }
    auto location = parseStoreUri(options.uri);
    if (!location) {
        printError("stores add: " + location.error());
        return kUsageError;
    }
    if (location->kind != StoreLocation::Kind::carddav &&
        (!options.user.empty() || !options.caFile.empty() || options.groupCards)) {
        printError("stores add: --user, --ca-file and --group-cards are for carddav: stores");
        return kUsageError;
    }
    if (location->kind == StoreLocation::Kind::carddav) {
        if (!options.user.empty()) location->options.user = options.user;
        if (!options.caFile.empty())
            location->options.caFile = std::filesystem::absolute(options.caFile).lexically_normal();
        location->options.groupCards = options.groupCards;
        if (!location->options.user.empty()) {
            auto password = cardDavPassword(*location);
            if (!password) {
                printError("stores add: " + password.error());
                return kStorageError;
            }
            if (auto kept = storeWebDavPassword(location->url, location->options.user, *password);
                !kept) {
                printError("stores add: the password was not stored (" + kept.error() +
                           "); commands will ask for it, or read PELKORA_CARDDAV_PASSWORD");
                setenv("PELKORA_CARDDAV_PASSWORD", password->c_str(), 1);
            }
        }
        // The account is tried before it is named, so that a typing error shows now.
        auto store = openStore(*location, false, cardDavPassword);
        if (!store) {
            printError("stores add: " + store.error().message);
            return kStorageError;
        }
        auto books = (*store)->containers();
        if (books) {
            std::cout << "Address books of " << location->uri() << ":\n";
            for (const auto& book : *books)
                std::cout << "  " << book.name << "  " << book.identifier << '\n';
        }
    }
    auto named = loadStores("stores add");
    if (!named) return named.error();
    named->set(options.name, location->uri(), location->options);
    if (auto saved = named->save(); !saved) {
        printError("stores add: " + saved.error());
        return kStorageError;
    }
    std::cout << options.name << ": " << location->uri() << '\n';
    return kSuccess;
}

int removeStore(const StoresOptions& options) {
    auto forgotten = forgetNamedStore(options.name);
    if (!forgotten && forgotten.error().kind == ForgetStoreError::Kind::notFound) {
        printError("stores remove: no store is named “" + options.name +
                   "”. Run “pelkora stores list” to see them.");
        return kUsageError;
    }
    if (!forgotten) {
        printError("stores remove: " + forgotten.error().message);
        return kStorageError;
    }
    if (*forgotten)
        printError("stores remove: the password was not removed from the keyring (" + **forgotten +
                   ")");
    auto& settings = SettingsStore::standard();
    if (settings.stringForKey(kContactStoreSetting) == options.name) {
        settings.removeObject(kContactStoreSetting);
        if (!saveSettings("stores remove")) return kStorageError;
        std::cout << "The usual address book is the default again.\n";
    }
    return kSuccess;
}

int chooseDefault(const StoresOptions& options) {
    auto named = loadStores("stores default");
    if (!named) return named.error();
    auto& settings = SettingsStore::standard();
    if (options.name == "usual") {
        settings.removeObject(kContactStoreSetting);
    } else if (named->uriOf(options.name)) {
        settings.set(kContactStoreSetting, PropertyValue(options.name));
    } else if (auto location = parseStoreUri(options.name);
               location && options.name.find(':') != std::string::npos) {
        settings.set(kContactStoreSetting, PropertyValue(location->uri()));
    } else {
        printError(
            "stores default: no store is named “" + options.name +
            "”. Run “pelkora stores list”, or give a URI such as eds:, vdir:PATH or carddav:URL.");
        return kUsageError;
    }
    return saveSettings("stores default") ? kSuccess : kStorageError;
}

int runStores(const StoresOptions& options) {
    if (options.action == "list") return listStores(options);
    if (options.action == "add") return addStore(options);
    if (options.action == "remove") return removeStore(options);
    return chooseDefault(options);
}

}  // namespace

void addStoresCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<StoresOptions>();
    CLI::App* command = app.add_subcommand("stores");
    describe(
        *command,
        {"Name the address books you use and choose the default one",
         "An address book is named by a URI: sqlite:PATH (or just the file's path) for a "
         "book of Pelkora's own, eds: for the desktop's address books (Evolution Data "
         "Server: GNOME Contacts, Evolution and the accounts of Online Accounts), vdir:PATH "
         "for a folder of vCard files as khard and vdirsyncer keep them, carddav:URL for an "
         "account on a CardDAV server (Nextcloud, Radicale, Fastmail …). --store takes a "
         "URI or a name given here; without --store, commands use the default. The names "
         "are kept in $XDG_CONFIG_HOME/pelkora/stores.plist, the default in the setting "
         "\"ContactStore\".",
         {{"pelkora stores add desktop eds:", "Names the desktop's address books."},
          {"pelkora stores default desktop", "Imports go there from now on."},
          {"pelkora stores add work carddav:https://cloud.example.org/remote.php/dav --user ada",
           "Names the CardDAV account; its address books are found from the URL."},
          {"pelkora import --store vdir:~/.contacts/work people.csv",
           "One import into a vCard folder."}}});
    command->require_subcommand(1);
    const auto run = [](const StoresOptions& given) { return runStores(given); };

    CLI::App* list = addAction(*command, context, options, "list",
                               {"List the named address books and the default one", "", {}}, run);
    list->add_flag("--json", options->json,
                   "Print an array of objects with the keys name, uri and default.");
    CLI::App* add =
        addAction(*command, context, options, "add",
                  {"Name an address book (a name given before is replaced)", "", {}}, run);
    add->add_option("NAME", options->name, "The name, without “:” or “/”.")->required();
    add->add_option("URI", options->uri, "sqlite:PATH, eds:, vdir:PATH or carddav:URL.")
        ->required();
    add->add_option("--user", options->user,
                    "carddav: the account's user name. The password is asked for (or read from "
                    "PELKORA_CARDDAV_PASSWORD) and kept in the keyring (the Secret Service).");
    add->add_option("--ca-file", options->caFile,
                    "carddav: the certificate authorities to trust for this server, a PEM file.");
    add->add_flag("--group-cards", options->groupCards,
                  "carddav: keep groups as group cards (KIND:group) instead of CATEGORIES.");
    CLI::App* remove = addAction(*command, context, options, "remove",
                                 {"Forget a named address book", "", {}}, run);
    remove->add_option("NAME", options->name, "The name.")->required();
    CLI::App* chosen =
        addAction(*command, context, options, "default",
                  {"Choose the address book commands use without --store",
                   "A name from “stores list”, a URI, or “usual” for Pelkora's own book.",
                   {}},
                  run);
    chosen->add_option("NAME", options->name, "The name, a URI, or usual.")->required();
}

}  // namespace pelkora::cli
