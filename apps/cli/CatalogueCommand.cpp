// pelkora catalogue: the targets a column can be assigned to, and the labels of a target.

#include "Command.h"
#include "addressbook/ContactLocalization.h"
#include "mapping/ContactPropertyCatalogue.h"
#include "support/Json.h"

namespace pelkora::cli {
namespace {

int printTargets(bool asJson) {
    std::vector<std::vector<std::string>> table;
    std::string json = "[";
    for (const auto& item : makeTargetMenu(false)) {
        switch (item.kind) {
            case TargetMenuItem::Kind::separator:
                table.push_back({"-"});
                break;
            case TargetMenuItem::Kind::ignore:
                table.push_back({std::to_string(item.tag), item.title});
                json += std::string(json.size() > 1 ? ",\n " : "\n ") +
                        "{\"tag\": " + std::to_string(item.tag) +
                        ", \"title\": " + json::quoted(item.title) +
                        ", \"propertyKey\": null, \"propertySubKey\": null}";
                break;
            case TargetMenuItem::Kind::property: {
                const auto& entry = item.representedEntry;
                std::string keyPath = entry.propertyKey.value_or("");
                if (entry.propertySubKey) keyPath += "/" + *entry.propertySubKey;
                table.push_back({std::to_string(item.tag), item.title, keyPath});
                json += std::string(json.size() > 1 ? ",\n " : "\n ") +
                        "{\"tag\": " + std::to_string(item.tag) +
                        ", \"title\": " + json::quoted(item.title) + ", \"propertyKey\": " +
                        (entry.propertyKey ? json::quoted(*entry.propertyKey) : "null") +
                        ", \"propertySubKey\": " +
                        (entry.propertySubKey ? json::quoted(*entry.propertySubKey) : "null") + "}";
                break;
            }
        }
    }
    if (asJson) {
        std::cout << json << "\n]\n";
    } else {
        printListing(table);
    }
    return kSuccess;
}

int printLabels(const std::string& key, bool asJson) {
    const auto target = SuggestedContactProperty::target(key);
    if (!target.canHaveLabel()) {
        printError("catalogue: “" + key +
                   "” takes no label (keys with labels: phoneNumbers, "
                   "emailAddresses, urlAddresses, postalAddresses, dates, contactRelations, "
                   "instantMessageAddresses)");
        return kUsageError;
    }
    // The labels the mapping page's label menu offers for the key.
    std::vector<std::vector<std::string>> table;
    std::string json = "[";
    for (auto label : target.offeredLabels()) {
        const auto text = contacts::localizedStringForLabel(label);
        table.push_back({std::string(label), text});
        json += std::string(json.size() > 1 ? ",\n " : "\n ") +
                "{\"label\": " + json::quoted(label) + ", \"title\": " + json::quoted(text) + "}";
    }
    if (asJson) {
        std::cout << json << "\n]\n";
    } else {
        printListing(table);
    }
    return kSuccess;
}

}  // namespace

int runCatalogue(const std::vector<std::string>& arguments, const GlobalOptions&) {
    bool asJson = false;
    std::vector<std::string> rest;
    for (const auto& argument : arguments) {
        if (argument == "--json") {
            asJson = true;
        } else {
            rest.push_back(argument);
        }
    }
    if (rest.empty()) return printTargets(asJson);
    if (rest.size() == 2 && rest[0] == "--labels") return printLabels(rest[1], asJson);
    printError("catalogue: takes no arguments, or --labels KEY (and --json)");
    return kUsageError;
}

}  // namespace pelkora::cli
