// pelkora settings: read and change the user's settings.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "Command.h"
#include "CommandHelp.h"
#include "platform/SettingsStore.h"
#include "propertylist/PropertyList.h"
#include "session/SettingsKeys.h"
#include "support/Json.h"

namespace pelkora::cli {
namespace {

// A scalar as the command prints it; lists are printed by the callers.
std::string scalarText(const PropertyValue& value) {
    switch (value.type()) {
        case PropertyValueType::boolean:
            return *value.boolValue() ? "true" : "false";
        case PropertyValueType::integer:
            return std::to_string(*value.integerValue());
        case PropertyValueType::real: {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", *value.realValue());
            return text;
        }
        case PropertyValueType::string:
            return *value.stringValue();
        case PropertyValueType::date:
            return isoDateText(*value.dateValue());
        case PropertyValueType::data:
            return "<" + std::to_string(value.dataValue()->size()) + " bytes>";
        case PropertyValueType::array:
            return "<list of " + std::to_string(value.arrayValue()->size()) + ">";
        case PropertyValueType::dictionary:
            return "<dictionary of " + std::to_string(value.dictionaryValue()->size()) + ">";
        case PropertyValueType::uid:
            return "<reference " + std::to_string(value.uidValue()->value) + ">";
    }
    return {};
}

std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') result += '\\';
        result += c;
    }
    return result + "\"";
}

// One line for "settings list": lists in brackets, strings quoted.
std::string listingText(const PropertyValue& value) {
    if (const auto* items = value.arrayValue()) {
        std::string text = "[";
        for (std::size_t index = 0; index < items->size(); ++index) {
            if (index > 0) text += ", ";
            const auto& item = (*items)[index];
            text += item.stringValue() ? quoted(*item.stringValue()) : scalarText(item);
        }
        return text + "]";
    }
    if (value.stringValue()) return quoted(*value.stringValue());
    return scalarText(value);
}

// A value as JSON: lists as arrays, dictionaries as objects, dates as ISO 8601 text, data as
// {"bytes": N}, references as {"reference": N}.
std::string valueJson(const PropertyValue& value) {
    if (const auto* items = value.arrayValue()) {
        std::string text = "[";
        for (std::size_t index = 0; index < items->size(); ++index)
            text += (index > 0 ? ", " : "") + valueJson((*items)[index]);
        return text + "]";
    }
    if (const auto* entries = value.dictionaryValue()) {
        std::string text = "{";
        for (const auto& [key, entry] : *entries)
            text += (text.size() > 1 ? ", " : "") + json::quoted(key) + ": " + valueJson(entry);
        return text + "}";
    }
    switch (value.type()) {
        case PropertyValueType::boolean:
        case PropertyValueType::integer:
            return scalarText(value);
        case PropertyValueType::real:
            return json::number(*value.realValue());
        case PropertyValueType::data:
            return "{\"bytes\": " + std::to_string(value.dataValue()->size()) + "}";
        case PropertyValueType::uid:
            return "{\"reference\": " + std::to_string(value.uidValue()->value) + "}";
        default:
            return json::quoted(scalarText(value));
    }
}

// The table's settings in its order, then any other stored keys. A setting without a value
// is listed too, so that every key the command accepts shows up.
int list(SettingsStore& settings, bool asJson) {
    std::string json = "[";
    auto addJson = [&](const std::string& key, const std::optional<PropertyValue>& value,
                       bool stored) {
        json += std::string(json.size() > 1 ? ",\n " : "\n ") + "{\"key\": " + json::quoted(key) +
                ", \"value\": " + (value ? valueJson(*value) : std::string("null")) +
                ", \"stored\": " + (stored ? "true" : "false") + "}";
    };
    for (const Setting& setting : settingsTable) {
        const std::string key(setting.key);
        const auto value = settings.object(key);
        const bool stored = settings.hasStoredValue(key);
        addJson(key, value, stored);
        if (asJson) continue;
        std::cout << escapedControls(key);
        if (value) {
            std::cout << " = " << escapedControls(listingText(*value))
                      << (stored ? "" : "  (default)");
        } else {
            std::cout << "  (not set)";
        }
        std::cout << '\n';
    }
    for (const auto& key : settings.storedKeys()) {
        if (findSetting(key) != nullptr) continue;
        if (const auto value = settings.object(key)) {
            addJson(key, value, true);
            if (!asJson)
                std::cout << escapedControls(key) << " = " << escapedControls(listingText(*value))
                          << '\n';
        }
    }
    if (asJson) std::cout << json << "\n]\n";
    return kSuccess;
}

int get(SettingsStore& settings, const std::string& key) {
    const auto value = settings.object(key);
    if (!value) {
        if (findSetting(key) == nullptr) {
            printError("settings: unknown setting “" + key +
                       "”. Run “pelkora settings list” to see them.");
            return kUsageError;
        }
        printError("settings: “" + key + "” has no value");
        return kUsageError;
    }
    if (const auto* items = value->arrayValue()) {
        for (const auto& item : *items)
            std::cout << escapedControls(item.stringValue() ? *item.stringValue()
                                                            : scalarText(item))
                      << '\n';
    } else {
        std::cout << escapedControls(scalarText(*value)) << '\n';
    }
    return kSuccess;
}

int writeOut(SettingsStore& settings) {
    if (auto written = settings.synchronize(); !written) {
        printError("settings: " + written.error().message);
        return kStorageError;
    }
    return kSuccess;
}

int set(SettingsStore& settings, const std::string& key, const std::vector<std::string>& texts) {
    const Setting* setting = findSetting(key);
    if (setting == nullptr) {
        printError("settings: unknown setting “" + key +
                   "”. Run “pelkora settings list” to see them.");
        return kUsageError;
    }
    auto value = settingValueFromText(*setting, texts);
    if (!value) {
        printError("settings: " + value.error().message());
        return kUsageError;
    }
    settings.set(key, std::move(*value));
    return writeOut(settings);
}

struct SettingsOptions {
    std::string action;  // list, get, set or reset
    std::string key;
    std::vector<std::string> values;
    bool json = false;  // list --json
};

int runSettings(const SettingsOptions& options) {
    SettingsStore& settings = SettingsStore::standard();
    if (auto warning = settings.loadWarning()) printWarning("settings: " + *warning);
    registerDefaults(settings);

    const std::string& action = options.action;
    if (action == "list") return list(settings, options.json);
    if (action == "get") return get(settings, options.key);
    if (action == "set") return set(settings, options.key, options.values);
    if (findSetting(options.key) == nullptr && !settings.hasStoredValue(options.key)) {
        printError("settings: unknown setting “" + options.key + "”");
        return kUsageError;
    }
    settings.removeObject(options.key);
    return writeOut(settings);
}

}  // namespace

void addSettingsCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<SettingsOptions>();
    CLI::App* command = app.add_subcommand("settings");
    describe(*command,
             {"Read and change the settings",
              "The settings the desktop's preferences show, and the ones it keeps for itself.",
              {{"pelkora settings list", "Every setting with its value."},
               {"pelkora settings set TextToNotesTokens \"Imported from\" FILE",
                "A list setting takes one argument per item."},
               {"pelkora settings reset TrustBOMs", "Back to the default."}}});
    command->require_subcommand(1);
    auto add = [&](const char* name, CommandHelp help) {
        return addAction(*command, context, options, name, std::move(help), runSettings);
    };
    add("list", {"List every setting with its value",
                 "\"(default)\" marks a value that is not stored, \"(not set)\" a setting "
                 "without one.",
                 {}})
        ->add_flag("--json", options->json, "Print a JSON array (key, value, stored).");
    add("get", {"Print one setting", "Booleans as true or false, lists one item a line.", {}})
        ->add_option("KEY", options->key, "The setting's name, as \"settings list\" shows it.")
        ->required();
    CLI::App* set = add(
        "set", {"Store a value of the setting's type", "A list takes one argument per item.", {}});
    set->add_option("KEY", options->key, "The setting's name.")->required();
    set->add_option("VALUE", options->values, "The value, or the items of a list.")->required();
    add("reset", {"Forget the stored value; the default applies again", "", {}})
        ->add_option("KEY", options->key, "The setting's name.")
        ->required();
}

}  // namespace pelkora::cli
