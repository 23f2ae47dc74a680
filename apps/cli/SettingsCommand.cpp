// pelkora settings: read and change the user's settings.

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>

#include "Command.h"
#include "platform/SettingsStore.h"
#include "propertylist/PropertyList.h"
#include "session/SettingsKeys.h"

namespace pelkora::cli {
namespace {

namespace Key = UserDefaultsKeys;

// Settings that have no registered default but may be set here, with their type.
const std::pair<std::string_view, PropertyValueType> kUnregisteredSettings[] = {
    {Key::MostRecentDocumentFileURL, PropertyValueType::string},
    {Key::SelectedContainerID, PropertyValueType::string},
    {Key::showExtendedRelevantRelationships, PropertyValueType::boolean},
    {Key::DefaultCountryCode, PropertyValueType::string},
};

// The one list of plain strings; other lists hold archived objects that their own commands manage.
constexpr std::string_view kStringListSetting = Key::TextToNotesTokens;

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

std::optional<PropertyValueType> settableType(const SettingsStore& settings,
                                              const std::string& key) {
    if (auto fallback = settings.registeredDefault(key)) return fallback->type();
    for (const auto& [name, type] : kUnregisteredSettings) {
        if (name == key) return type;
    }
    return std::nullopt;
}

std::optional<bool> parseBool(const std::string& text) {
    if (text == "true" || text == "yes" || text == "1" || text == "on") return true;
    if (text == "false" || text == "no" || text == "0" || text == "off") return false;
    return std::nullopt;
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty()) return std::nullopt;
    return value;
}

int list(SettingsStore& settings) {
    std::vector<std::string> keys = settings.registeredKeys();
    for (const auto& key : settings.storedKeys()) {
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    }
    for (const auto& key : keys) {
        const auto value = settings.object(key);
        if (!value) continue;
        std::cout << key << " = " << listingText(*value)
                  << (settings.hasStoredValue(key) ? "" : "  (default)") << '\n';
    }
    return kSuccess;
}

int get(SettingsStore& settings, const std::string& key) {
    const auto value = settings.object(key);
    if (!value) {
        if (!settableType(settings, key)) {
            printError("settings: unknown setting “" + key +
                       "”. Run “pelkora settings list” to see them.");
            return kUsageError;
        }
        printError("settings: “" + key + "” has no value");
        return kFailure;
    }
    if (const auto* items = value->arrayValue()) {
        for (const auto& item : *items)
            std::cout << (item.stringValue() ? *item.stringValue() : scalarText(item)) << '\n';
    } else {
        std::cout << scalarText(*value) << '\n';
    }
    return kSuccess;
}

int writeOut(SettingsStore& settings) {
    if (auto written = settings.synchronize(); !written) {
        printError("settings: " + written.error().message());
        return kStorageError;
    }
    return kSuccess;
}

int set(SettingsStore& settings, const std::string& key, const std::vector<std::string>& values) {
    const auto type = settableType(settings, key);
    if (!type) {
        printError("settings: unknown setting “" + key +
                   "”. Run “pelkora settings list” to see them.");
        return kUsageError;
    }
    if (*type == PropertyValueType::array) {
        if (key != kStringListSetting) {
            printError("settings: “" + key +
                       "” holds saved objects and cannot be set from the command line");
            return kUsageError;
        }
        PropertyValue::Array items(values.begin(), values.end());
        settings.set(key, PropertyValue(std::move(items)));
        return writeOut(settings);
    }
    if (values.size() != 1) {
        printError("settings: “" + key + "” takes exactly one value");
        return kUsageError;
    }
    const std::string& text = values.front();
    switch (*type) {
        case PropertyValueType::boolean:
            if (auto flag = parseBool(text)) {
                settings.set(key, PropertyValue(*flag));
                return writeOut(settings);
            }
            printError("settings: “" + key + "” is a yes/no setting: use true or false, not “" +
                       text + "”");
            return kUsageError;
        case PropertyValueType::integer:
            if (auto number = parseInteger(text)) {
                settings.set(key, PropertyValue(*number));
                return writeOut(settings);
            }
            printError("settings: “" + key + "” is a whole number, not “" + text + "”");
            return kUsageError;
        case PropertyValueType::string:
            settings.set(key, PropertyValue(text));
            return writeOut(settings);
        default:
            printError("settings: “" + key + "” cannot be set from the command line");
            return kUsageError;
    }
}

}  // namespace

int runSettings(const std::vector<std::string>& arguments, const GlobalOptions&) {
    if (arguments.empty()) {
        printError("settings: say list, get KEY, set KEY VALUE… or reset KEY");
        return kUsageError;
    }
    SettingsStore& settings = SettingsStore::standard();
    if (auto warning = settings.loadWarning()) printError("settings: " + *warning);
    registerDefaults(settings);

    const std::string& action = arguments[0];
    const std::size_t operands = arguments.size() - 1;
    if (action == "list" && operands == 0) return list(settings);
    if (action == "get" && operands == 1) return get(settings, arguments[1]);
    if (action == "set" && operands >= 2) {
        return set(settings, arguments[1],
                   std::vector<std::string>(arguments.begin() + 2, arguments.end()));
    }
    if (action == "reset" && operands == 1) {
        if (!settableType(settings, arguments[1]) && !settings.hasStoredValue(arguments[1])) {
            printError("settings: unknown setting “" + arguments[1] + "”");
            return kUsageError;
        }
        settings.removeObject(arguments[1]);
        return writeOut(settings);
    }
    printError("settings: say list, get KEY, set KEY VALUE… or reset KEY");
    return kUsageError;
}

}  // namespace pelkora::cli
