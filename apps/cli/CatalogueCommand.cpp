// pelkora catalogue: the targets a column can be assigned to, and the labels of a target.

#include <CLI/CLI.hpp>
#include <optional>

#include "Command.h"
#include "CommandHelp.h"
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

struct CatalogueOptions {
    std::optional<std::string> labelsOf;  // --labels KEY
    bool json = false;
};

int runCatalogue(const CatalogueOptions& options) {
    if (options.labelsOf) return printLabels(*options.labelsOf, options.json);
    return printTargets(options.json);
}

}  // namespace

void addCatalogueCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<CatalogueOptions>();
    CLI::App* command = app.add_subcommand("catalogue");
    describe(*command,
             {"List the targets a column can be assigned to, or the labels of one",
              "Each target with its menu tag, title and key/sub-key, as --set takes them; with "
              "--labels the labels the mapping page offers for a key, stored form and display "
              "text. --json prints an array of objects (tag, title, propertyKey, "
              "propertySubKey; or label, title).",
              {{"pelkora catalogue", "Every target."},
               {"pelkora catalogue --labels phoneNumbers", "The labels of phone numbers."}}});
    command
        ->add_option("--labels", options->labelsOf,
                     "The labels this key offers instead of the targets.")
        ->type_name("KEY");
    command->add_flag("--json", options->json, "Print a JSON array.");
    setAction(*command, context, [options] { return runCatalogue(*options); });
}

}  // namespace pelkora::cli
