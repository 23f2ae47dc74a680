// pelkora contacts: look into the address book, or export it as vCards.

#include <cstdio>
#include <unordered_map>

#include "Command.h"
#include "OutputFile.h"
#include "addressbook/ContactFormatter.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "platform/AtomicFile.h"
#include "support/Json.h"
#include "vcard/VCard.h"

namespace pelkora::cli {
namespace {

using namespace pelkora::contacts;

struct ContactsOptions {
    std::string action;
    std::optional<std::filesystem::path> storePath;
    std::optional<std::string> container;
    bool json = false;
    bool force = false;  // export may replace an existing file
    std::vector<std::string> operands;
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

std::optional<ContactsOptions> parseOptions(const std::vector<std::string>& arguments) {
    ContactsOptions options;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const auto& argument = arguments[index];
        if (argument == "--store" || argument == "--container") {
            if (index + 1 == arguments.size()) {
                printError("contacts: " + argument + " needs a value");
                return std::nullopt;
            }
            const auto& value = arguments[++index];
            if (argument == "--store") {
                options.storePath = value;
            } else {
                options.container = value;
            }
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--force") {
            options.force = true;
        } else if (argument.starts_with("--")) {
            printError("contacts: unknown option “" + argument + "”");
            return std::nullopt;
        } else if (options.action.empty()) {
            options.action = argument;
        } else {
            options.operands.push_back(argument);
        }
    }
    if (options.action.empty()) {
        printError("contacts: say containers, list, groups, export OUT.vcf or import-vcf FILE...");
        return std::nullopt;
    }
    return options;
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
    return kFailure;
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
    // A symbolic link at the output is replaced, never written through, as export-vcard does.
    auto file = AtomicFileWriter::open(output, AtomicFileWriter::SymbolicLinks::replace);
    if (!file) {
        printError("contacts: " + file.error().message);
        return kFailure;
    }
    auto written = file->append(dataWithContacts(contacts, options));
    if (written) written = file->commit();
    if (!written) {
        printError("contacts: " + written.error().message);
        return kFailure;
    }
    std::cout << "Exported " << contacts.size() << " contacts to "
              << escapedControls(output.string()) << '\n';
    return kSuccess;
}

}  // namespace

int runContacts(const std::vector<std::string>& arguments, const GlobalOptions& globalOptions) {
    const auto options = parseOptions(arguments);
    if (!options) return kUsageError;
    if (options->action == "import-vcf" && !options->operands.empty()) {
        // Kept for scripts written before vCards went through the import's own steps.
        std::vector<std::string> importArguments;
        if (options->storePath)
            importArguments.insert(importArguments.end(),
                                   {"--store", options->storePath->string()});
        if (options->container)
            importArguments.insert(importArguments.end(), {"--container", *options->container});
        if (options->json) importArguments.push_back("--json");
        importArguments.insert(importArguments.end(), options->operands.begin(),
                               options->operands.end());
        return runImport(importArguments, globalOptions);
    }
    const auto location = options->storePath.value_or(SqliteContactStore::defaultLocation());
    // Listing and exporting only read: a mistyped --store must not leave a new book behind.
    auto opened = SqliteContactStore::openExisting(location);
    if (!opened) return fail(opened.error());
    auto& store = **opened;
    const std::string container = options->container.value_or(store.defaultContainerIdentifier());
    if (options->container) {
        auto found = store.container(container);
        if (!found) return fail(found.error());
        if (!*found) {
            printError("contacts: no container “" + container +
                       "”. Run “pelkora contacts containers” to see them.");
            return kFailure;
        }
    }
    const auto& action = options->action;
    const auto operandCount = options->operands.size();
    if (action == "containers" && operandCount == 0) return listContainers(store, options->json);
    if (action == "list" && operandCount == 0) return listContacts(store, container, options->json);
    if (action == "groups" && operandCount == 0) return listGroups(store, container, options->json);
    if (action == "export" && operandCount == 1) {
        const std::filesystem::path output = options->operands[0];
        // The address book's own files are what the export reads.
        const std::vector<std::filesystem::path> read{location, location.string() + "-wal",
                                                      location.string() + "-shm"};
        if (!mayWriteOutputFile("contacts", output, read, options->force)) return kUsageError;
        return exportContacts(store, container, output);
    }
    printError("contacts: say containers, list, groups, export OUT.vcf or import-vcf FILE...");
    return kUsageError;
}

}  // namespace pelkora::cli
