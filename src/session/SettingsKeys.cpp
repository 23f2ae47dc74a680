#include "session/SettingsKeys.h"

#include <charconv>
#include <cstdint>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/SettingsStore.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {
namespace {

// The spellings of a yes/no value on the command line.
struct BooleanSpelling {
    std::string_view text;
    bool value;
};

constexpr BooleanSpelling booleanSpellings[] = {
    {"true", true},   {"yes", true}, {"on", true},   {"1", true},
    {"false", false}, {"no", false}, {"off", false}, {"0", false},
};

std::optional<bool> parseBoolean(std::string_view text) {
    for (const auto& spelling : booleanSpellings) {
        if (spelling.text == text) return spelling.value;
    }
    return std::nullopt;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

Unexpected<SettingTextError> refusal(SettingTextError::Cause cause, const Setting& setting,
                                     std::string_view text = {}) {
    return Unexpected(SettingTextError{cause, std::string(setting.key), std::string(text)});
}

}  // namespace

PropertyValueType propertyValueType(SettingType type) {
    switch (type) {
        case SettingType::boolean:
            return PropertyValueType::boolean;
        case SettingType::integer:
            return PropertyValueType::integer;
        case SettingType::string:
            return PropertyValueType::string;
        case SettingType::stringList:
        case SettingType::archiveList:
            return PropertyValueType::array;
    }
    return PropertyValueType::string;
}

// xgettext reads no .def file: the translated defaults of support/Settings.def are marked
// here, with the same comments, so that the template has them.
[[maybe_unused]] constexpr const char* kTranslatedDefaults[] = {
    // TRANSLATORS: Default words that mark a company
    N_("Company, Organization"),
};

std::optional<PropertyValue> defaultValue(const Setting& setting) {
    return std::visit(
        [](const auto& value) -> std::optional<PropertyValue> {
            using Alternative = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Alternative, NoDefault>) {
                return std::nullopt;
            } else if constexpr (std::is_same_v<Alternative, LocalizedText>) {
                return PropertyValue(localizedString(value.english, value.comment));
            } else if constexpr (std::is_same_v<Alternative, StringList>) {
                return PropertyValue(PropertyValue::Array(value.begin(), value.end()));
            } else {
                return PropertyValue(value);
            }
        },
        setting.defaultValue);
}

void registerDefaults(SettingsStore& settings) {
    std::vector<std::pair<std::string, PropertyValue>> defaults;
    for (const Setting& setting : settingsTable) {
        if (auto value = defaultValue(setting)) {
            defaults.emplace_back(std::string(setting.key), std::move(*value));
        }
    }
    settings.registerDefaults(defaults);
    if (auto written = settings.synchronize(); !written) {
        writeLog(LogType::error, "Failed to synchronize the user's preferences!");
        writeLog(LogType::error, "%{public}@", written.error().message);
    }
}

std::string SettingTextError::message() const {
    switch (cause) {
        case Cause::notOneText:
            return formatMessage(localizedString("“%@” takes exactly one value",
                                                 "A setting given on the command line"),
                                 key);
        case Cause::notYesOrNo:
            return formatMessage(
                localizedString("“%1$@” is a yes/no setting: use true or false, not "
                                "“%2$@”",
                                "A setting given on the command line; true and false are typed "
                                "as is"),
                key, text);
        case Cause::notAWholeNumber:
            return formatMessage(localizedString("“%1$@” is a whole number, not “%2$@”",
                                                 "A setting given on the command line"),
                                 key, text);
        case Cause::notWritableAsText:
            return formatMessage(
                localizedString("“%@” holds saved objects and cannot be set from the "
                                "command line"),
                key);
    }
    return formatMessage(localizedString("“%@” cannot be set", "A setting"), key);
}

Expected<PropertyValue, SettingTextError> settingValueFromText(const Setting& setting,
                                                               std::span<const std::string> texts) {
    using Cause = SettingTextError::Cause;
    if (setting.type == SettingType::archiveList) {
        return refusal(Cause::notWritableAsText, setting);
    }
    if (setting.type == SettingType::stringList) {
        return PropertyValue(PropertyValue::Array(texts.begin(), texts.end()));
    }
    if (texts.size() != 1) return refusal(Cause::notOneText, setting);
    const std::string& text = texts.front();
    if (setting.type == SettingType::boolean) {
        if (auto flag = parseBoolean(text)) return PropertyValue(*flag);
        return refusal(Cause::notYesOrNo, setting, text);
    }
    if (setting.type == SettingType::integer) {
        if (auto number = parseInteger(text)) return PropertyValue(*number);
        return refusal(Cause::notAWholeNumber, setting, text);
    }
    return PropertyValue(text);
}

void applyLogLevel(SettingsStore& settings, std::optional<LogLevel> level) {
    if (level)
        settings.set(SettingKey::LogLevel, PropertyValue(std::string(nameOfLogLevel(*level))));
    const auto stored = settings.stringForKey(SettingKey::LogLevel);
    Logger::shared().setLevel(
        logLevelNamed(stored.value_or(std::string())).value_or(LogLevel::everything));
}

void resetWarnings(SettingsStore& settings) {
    settings.set(SettingKey::ShowMappingHint, PropertyValue(true));
    settings.set(SettingKey::ShowShouldQuitContactsAppHint, PropertyValue(true));
}

}  // namespace pelkora
