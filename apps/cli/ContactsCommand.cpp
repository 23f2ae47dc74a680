// pelkora contacts: look into the address book, or export it as vCards.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "Command.h"
#include "CommandHelp.h"
#include "ImportCommand.h"
#include "OutputFile.h"
#include "StandardStreams.h"
#include "StorePassword.h"
#include "addressbook/ContactFormatter.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "addressbook/stores/StoreLocation.h"
#include "addressbook/vdir/VdirContactStore.h"
#include "platform/AtomicFile.h"
#include "support/Json.h"
#include "vcard/VCard.h"

namespace pelkora::cli {
namespace {

using namespace pelkora::contacts;

struct ContactsOptions {
    std::string action;                // containers, list, groups, export or import-vcf
    std::optional<std::string> store;  // a URI, a path or a store's name
    std::optional<std::string> container;
    bool json = false;
    bool force = false;                             // export may replace an existing file
    std::filesystem::path output;                   // export: the vCard file, - for stdout
    std::optional<std::filesystem::path> vdir;      // export: the folder of vCard files instead
    std::vector<std::filesystem::path> vCardFiles;  // import-vcf
};

std::string dateText(const DateComponents& date) {
    char text[32];
    if (date.year && date.month && date.day) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", *date.year, *date.month, *date.day);
    } else if (date.month && date.day) {
        std::snprintf(text, sizeof text, "--%02d-%02d", *date.month, *date.day);
    } else if (date.year && date.month) {
        std::snprintf(text, sizeof text, "%04d-%02d", *date.year, *date.month);
    } else if (date.year) {
        std::snprintf(text, sizeof text, "%04d", *date.year);
    } else {
        return {};
    }
    std::string result = text;
    if (!date.calendar.empty()) result += " (" + date.calendar + ")";
    return result;
}

// Appends "key": value for non-empty texts only, so the output shows what the contact holds.
void addText(std::string& out, std::string_view key, const std::string& value) {
    if (value.empty()) return;
    out += ", " + json::quoted(key) + ": " + json::quoted(value);
}

template <typename Value, typename Render>
void addLabeled(std::string& out, std::string_view key,
                const std::vector<LabeledValue<Value>>& values, Render render) {
    if (values.empty()) return;
    out += ", " + json::quoted(key) + ": [";
    for (std::size_t index = 0; index < values.size(); ++index) {
        if (index > 0) out += ", ";
        out += "{\"label\": " +
               (values[index].label.empty() ? std::string("null")
                                            : json::quoted(values[index].label)) +
               ", \"value\": " + render(values[index].value) + "}";
    }
    out += "]";
}

std::string postalJson(const PostalAddress& address) {
    std::string out = "{";
    auto field = [&](std::string_view key, const std::string& value) {
        if (value.empty()) return;
        if (out.size() > 1) out += ", ";
        out += json::quoted(key) + ": " + json::quoted(value);
    };
    field("street", address.street);
    field("subLocality", address.subLocality);
    field("city", address.city);
    field("subAdministrativeArea", address.subAdministrativeArea);
    field("state", address.state);
    field("postalCode", address.postalCode);
    field("country", address.country);
    field("isoCountryCode", address.isoCountryCode);
    return out + "}";
}

std::string contactJson(const Contact& contact, const std::vector<std::string>& groupNames) {
    std::string out =
        "{\"identifier\": " + json::quoted(contact.identifier) + ", \"contactType\": " +
        (contact.contactType == ContactType::organization ? "\"organization\"" : "\"person\"");
    addText(out, "fullName", stringFromContact(contact));
    addText(out, "namePrefix", contact.namePrefix);
    addText(out, "givenName", contact.givenName);
    addText(out, "middleName", contact.middleName);
    addText(out, "familyName", contact.familyName);
    addText(out, "previousFamilyName", contact.previousFamilyName);
    addText(out, "nameSuffix", contact.nameSuffix);
    addText(out, "nickname", contact.nickname);
    addText(out, "phoneticGivenName", contact.phoneticGivenName);
    addText(out, "phoneticMiddleName", contact.phoneticMiddleName);
    addText(out, "phoneticFamilyName", contact.phoneticFamilyName);
    addText(out, "organizationName", contact.organizationName);
    addText(out, "departmentName", contact.departmentName);
    addText(out, "jobTitle", contact.jobTitle);
    addText(out, "phoneticOrganizationName", contact.phoneticOrganizationName);
    if (contact.birthday) addText(out, "birthday", dateText(*contact.birthday));
    if (contact.nonGregorianBirthday)
        addText(out, "nonGregorianBirthday", dateText(*contact.nonGregorianBirthday));
    auto text = [](const std::string& value) { return json::quoted(value); };
    addLabeled(out, "dates", contact.dates,
               [](const DateComponents& date) { return json::quoted(dateText(date)); });
    addLabeled(out, "phoneNumbers", contact.phoneNumbers, text);
    addLabeled(out, "emailAddresses", contact.emailAddresses, text);
    addLabeled(out, "urlAddresses", contact.urlAddresses, text);
    addLabeled(out, "postalAddresses", contact.postalAddresses, postalJson);
    addLabeled(out, "contactRelations", contact.contactRelations,
               [](const ContactRelation& relation) { return json::quoted(relation.name); });
    addLabeled(out, "socialProfiles", contact.socialProfiles, [](const SocialProfile& profile) {
        return "{\"service\": " + json::quoted(profile.service) +
               ", \"username\": " + json::quoted(profile.username) +
               ", \"urlString\": " + json::quoted(profile.urlString) + "}";
    });
    addLabeled(out, "instantMessageAddresses", contact.instantMessageAddresses,
               [](const InstantMessageAddress& address) {
                   return "{\"service\": " + json::quoted(address.service) +
                          ", \"username\": " + json::quoted(address.username) + "}";
               });
    addText(out, "note", contact.note);
    if (!contact.imageData.empty())
        out += ", \"imageBytes\": " + std::to_string(contact.imageData.size());
    if (!groupNames.empty()) {
        out += ", \"groups\": [";
        for (std::size_t index = 0; index < groupNames.size(); ++index) {
            out += (index > 0 ? ", " : "") + json::quoted(groupNames[index]);
        }
        out += "]";
    }
    return out + "}";
}

// The group names of every contact of the container that is in a group.
std::unordered_map<std::string, std::vector<std::string>> groupNamesByContact(
    ContactStore& store, const std::string& container) {
    std::unordered_map<std::string, std::vector<std::string>> result;
    auto groups = store.groups(container);
    auto memberships = store.groupMemberships(container);
    if (!groups || !memberships) return result;
    std::unordered_map<std::string, std::string> names;
    for (const auto& group : *groups) names[group.identifier] = group.name;
    for (const auto& [contact, groupIdentifiers] : *memberships) {
        auto& list = result[contact];
        for (const auto& identifier : groupIdentifiers) list.push_back(names[identifier]);
    }
    return result;
}

int fail(const ContactStoreError& error) {
    printError("contacts: " + error.message);
    return kStorageError;
}

int listContainers(ContactStore& store, bool asJson) {
    auto containers = store.containers();
    if (!containers) return fail(containers.error());
    const auto defaultIdentifier = store.defaultContainerIdentifier();
    std::vector<std::vector<std::string>> table;
    if (asJson) std::cout << "[\n";
    for (std::size_t index = 0; index < containers->size(); ++index) {
        const auto& container = (*containers)[index];
        const bool isDefault = container.identifier == defaultIdentifier;
        if (asJson) {
            std::cout << "  {\"identifier\": " << json::quoted(container.identifier)
                      << ", \"name\": " << json::quoted(container.name)
                      << ", \"default\": " << (isDefault ? "true" : "false") << "}"
                      << (index + 1 < containers->size() ? "," : "") << '\n';
        } else {
            table.push_back({container.identifier, container.name, isDefault ? "(default)" : ""});
        }
    }
    if (asJson) std::cout << "]\n";
    printListing(table);
    return kSuccess;
}

int listContacts(ContactStore& store, const std::string& container, bool asJson) {
    const auto groups = groupNamesByContact(store, container);
    static const std::vector<std::string> noGroups;
    bool first = true;
    if (asJson) std::cout << "[\n";
    auto listed = store.enumerateContacts(container, [&](const Contact& contact) {
        const auto found = groups.find(contact.identifier);
        const auto& names = found == groups.end() ? noGroups : found->second;
        if (asJson) {
            std::cout << (first ? "  " : ",\n  ") << contactJson(contact, names);
        } else {
            std::string line = stringFromContact(contact);
            if (line.empty()) line = "(no name)";
            if (!contact.organizationName.empty() && contact.contactType == ContactType::person) {
                line += " — " + contact.organizationName;
            }
            if (!contact.emailAddresses.empty())
                line += " — " + contact.emailAddresses.front().value;
            if (!contact.phoneNumbers.empty()) line += " — " + contact.phoneNumbers.front().value;
            std::cout << escapedControls(line) << '\n';
        }
        first = false;
        return true;
    });
    if (asJson) std::cout << (first ? "]\n" : "\n]\n");
    if (!listed) return fail(listed.error());
    return kSuccess;
}

int listGroups(ContactStore& store, const std::string& container, bool asJson) {
    auto groups = store.groups(container);
    if (!groups) return fail(groups.error());
    auto memberships = store.groupMemberships(container);
    if (!memberships) return fail(memberships.error());
    std::unordered_map<std::string, std::size_t> counts;
    for (const auto& [contact, groupIdentifiers] : *memberships) {
        for (const auto& identifier : groupIdentifiers) ++counts[identifier];
    }
    std::vector<std::vector<std::string>> table;
    if (asJson) std::cout << "[\n";
    for (std::size_t index = 0; index < groups->size(); ++index) {
        const auto& group = (*groups)[index];
        if (asJson) {
            std::cout << "  {\"identifier\": " << json::quoted(group.identifier)
                      << ", \"name\": " << json::quoted(group.name)
                      << ", \"members\": " << counts[group.identifier] << "}"
                      << (index + 1 < groups->size() ? "," : "") << '\n';
        } else {
            table.push_back({group.name, std::to_string(counts[group.identifier])});
        }
    }
    if (asJson) std::cout << "]\n";
    printListing(table);
    return kSuccess;
}

int exportContacts(ContactStore& store, const std::string& container,
                   const std::filesystem::path& output) {
    std::vector<Contact> contacts;
    auto listed = store.enumerateContacts(container, [&](const Contact& contact) {
        contacts.push_back(contact);
        return true;
    });
    if (!listed) return fail(listed.error());
    const auto groups = groupNamesByContact(store, container);
    VCardWriteOptions options;
    options.categories = [&](const Contact& contact) {
        const auto found = groups.find(contact.identifier);
        return found == groups.end() ? std::vector<std::string>{} : found->second;
    };
    const std::string data = dataWithContacts(contacts, options);
    if (isStandardStream(output)) {
        std::cout << data << std::flush;
        std::cerr << "Exported " << contacts.size() << " contacts\n";
        return std::cout ? kSuccess : kUsageError;
    }
    // A symbolic link at the output is replaced, never written through, as export-vcard does.
    auto file = AtomicFileWriter::open(output, AtomicFileWriter::SymbolicLinks::replace);
    if (!file) {
        printError("contacts: " + file.error().message);
        return kUsageError;
    }
    auto written = file->append(data);
    if (written) written = file->commit();
    if (!written) {
        printError("contacts: " + written.error().message);
        return kUsageError;
    }
    std::cout << "Exported " << contacts.size() << " contacts to "
              << escapedControls(output.string()) << '\n';
    return kSuccess;
}

// Contacts saved to the folder per request, as the import saves them.
constexpr std::size_t kVdirChunk = 500;

// Writes every contact of the container into the folder's collection, one file each, with
// their groups as CATEGORIES. A contact the folder has already (by identifier) is replaced in
// its file, so exporting again updates the folder rather than adding to it.
int exportToVdir(ContactStore& store, const std::string& container,
                 const std::filesystem::path& folder) {
    auto opened = VdirContactStore::open(folder);
    if (!opened) return fail(opened.error());
    VdirContactStore& vdir = **opened;
    const std::string target = vdir.defaultContainerIdentifier();

    // Each group of the book becomes the folder's group of that name, letter for letter.
    auto groups = store.groups(container);
    if (!groups) return fail(groups.error());
    auto memberships = store.groupMemberships(container);
    if (!memberships) return fail(memberships.error());
    auto present = vdir.groups(target);
    if (!present) return fail(present.error());
    std::unordered_map<std::string, std::string> groupInFolder;
    std::vector<std::string> candidates;
    for (const Group& group : *groups) candidates.push_back(group.identifier);
    auto taken = vdir.identifiersInUse(candidates);
    if (!taken) return fail(taken.error());
    SaveRequest groupRequest;
    for (const Group& group : *groups) {
        const auto same = std::find_if(present->begin(), present->end(), [&](const Group& there) {
            return there.name == group.name;
        });
        if (same != present->end()) {
            groupInFolder[group.identifier] = same->identifier;
            continue;
        }
        Group made{taken->contains(group.identifier) ? makeUUID() : group.identifier, group.name};
        groupInFolder[group.identifier] = made.identifier;
        groupRequest.addGroup(made, target);
    }
    if (auto done = vdir.execute(groupRequest); !done) return fail(done.error());
    std::unordered_map<std::string, std::vector<std::string>> groupsOfContact;
    for (auto& [contact, identifiers] : *memberships) groupsOfContact[contact] = identifiers;

    std::size_t added = 0;
    std::size_t updated = 0;
    std::vector<Contact> chunk;
    const auto save = [&]() -> Expected<void, ContactStoreError> {
        std::vector<std::string> identifiers;
        for (const Contact& contact : chunk) identifiers.push_back(contact.identifier);
        auto existing = vdir.existingIdentifiers(target, identifiers);
        if (!existing) return Unexpected(existing.error());
        SaveRequest request;
        for (const Contact& contact : chunk) {
            if (existing->contains(contact.identifier)) {
                request.deleteContact(contact.identifier);
                ++updated;
            } else {
                ++added;
            }
            request.addContact(contact, target);
            if (auto found = groupsOfContact.find(contact.identifier);
                found != groupsOfContact.end()) {
                for (const std::string& group : found->second)
                    request.addMember(contact.identifier, groupInFolder.at(group));
            }
        }
        chunk.clear();
        return vdir.execute(request);
    };
    Expected<void, ContactStoreError> saved;
    auto listed = store.enumerateContacts(container, [&](const Contact& contact) {
        chunk.push_back(contact);
        if (chunk.size() == kVdirChunk) saved = save();
        return bool(saved);
    });
    if (!listed) return fail(listed.error());
    if (saved && !chunk.empty()) saved = save();
    if (!saved) return fail(saved.error());
    std::cout << "Exported " << added + updated << " contacts to "
              << escapedControls(vdir.folder().string()) << ": " << added << " new, " << updated
              << " updated\n";
    return kSuccess;
}

int runContacts(const ContactsOptions& options, const GlobalOptions& globalOptions) {
    if (options.action == "import-vcf") {
        // Kept for scripts written before vCards went through the import's own steps.
        ImportCommandOptions importOptions;
        importOptions.store = options.store;
        importOptions.container = options.container;
        importOptions.json = options.json;
        importOptions.operands = options.vCardFiles;
        return runImport(importOptions, globalOptions);
    }
    if (options.action == "export" && options.vdir.has_value() == !options.output.empty()) {
        printError("contacts: export takes either OUT.vcf or --vdir DIR.");
        return kUsageError;
    }
    const auto location = resolveStore(options.store);
    if (!location) {
        printError("contacts: --store: " + location.error());
        return kUsageError;
    }
    // Listing and exporting only read: a mistyped --store must not leave a new book behind.
    auto opened = openStore(*location, false, cardDavPassword);
    if (!opened) return fail(opened.error());
    auto& store = **opened;
    const std::string container = options.container.value_or(store.defaultContainerIdentifier());
    if (options.container) {
        auto found = store.container(container);
        if (!found) return fail(found.error());
        if (!*found) {
            printError("contacts: no container “" + container +
                       "”. Run “pelkora contacts containers” to see them.");
            return kUsageError;
        }
    }
    const auto& action = options.action;
    if (action == "containers") return listContainers(store, options.json);
    if (action == "list") return listContacts(store, container, options.json);
    if (action == "groups") return listGroups(store, container, options.json);
    if (options.vdir) return exportToVdir(store, container, *options.vdir);
    if (!isStandardStream(options.output)) {
        // The address book's own files are what the export reads.
        const auto& file = location->path;
        const std::vector<std::filesystem::path> read{file, file.string() + "-wal",
                                                      file.string() + "-shm"};
        if (!mayWriteOutputFile("contacts", options.output, read, options.force))
            return kUsageError;
    }
    return exportContacts(store, container, options.output);
}

}  // namespace

void addContactsCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<ContactsOptions>();
    CLI::App* command = app.add_subcommand("contacts");
    describe(*command,
             {"Look into the address book, or export it as vCards",
              "The address book's containers, contacts or groups, every contact of a container "
              "as vCard 3.0, or an import of vCard files. Reading never creates the address "
              "book: only an import does. The options go before or after the command's name.",
              {{"pelkora contacts list",
                "One line per contact: name, organization, e-mail, "
                "phone."},
               {"pelkora contacts --store=/tmp/book.sqlite list --json",
                "Every field of every contact of another address book, as JSON."},
               {"pelkora contacts export - | gzip > contacts.vcf.gz",
                "The address book as vCards on standard output."}}});
    command
        ->add_option("--store", options->store,
                     "The address book: a URI (sqlite:PATH, eds:, vdir:PATH), a file's path, or a "
                     "name from \"pelkora stores list\"; without it the default store.")
        ->type_name("STORE");
    command
        ->add_option("--container", options->container,
                     "The container to look into, instead of the default one.")
        ->type_name("ID");
    command->add_flag("--json", options->json, "Print JSON instead of lines of text.");
    command->add_flag("--force", options->force,
                      "export: replace an existing OUT.vcf (or the symbolic link there).");
    command->require_subcommand(1);

    auto add = [&](const char* name, CommandHelp help) {
        return addAction(*command, context, options, name, std::move(help),
                         [&context](const ContactsOptions& given) {
                             return runContacts(given, context.global);
                         });
    };
    add("containers", {"List the address book's containers",
                       "Identifier and name of each container; the default one is marked.",
                       {}});
    add("list", {"List the contacts of a container",
                 "One line per contact (name, organization, first e-mail and phone); with "
                 "--json every field, labels and groups.",
                 {}});
    add("groups", {"List the groups of a container with their member counts", "", {}});
    CLI::App* exportAction = add(
        "export", {"Write every contact of the container as vCard 3.0",
                   "Groups go into CATEGORIES. OUT.vcf is written as a whole, never left half "
                   "written; an existing one (or a symbolic link, which is replaced itself) "
                   "only with --force. With --vdir, every contact becomes a file of its own in "
                   "a folder that khard and vdirsyncer read; exporting again replaces the files "
                   "of the contacts exported before rather than adding new ones.",
                   {{"pelkora contacts export contacts.vcf", "The default container as one file."},
                    {"pelkora contacts export --vdir ~/.local/share/contacts/pelkora",
                     "One file per contact, for khard or vdirsyncer; run it again to update."}}});
    exportAction->add_option("OUT.vcf", options->output,
                             "The vCard file; - writes to standard output.");
    exportAction
        ->add_option("--vdir", options->vdir,
                     "A folder to write one vCard file per contact to, instead of OUT.vcf; it is "
                     "made when missing.")
        ->type_name("DIR");
    add("import-vcf", {"Import vCard files (the same as \"pelkora import\")",
                       "The same as \"pelkora import --store PATH --container ID VCARDS...\".",
                       {}})
        ->add_option("VCARDS", options->vCardFiles,
                     "vCard files, and folders of them; - reads standard input.")
        ->required();
}

}  // namespace pelkora::cli
