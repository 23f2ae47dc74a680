#pragma once

// The user's settings: one table of {key, type, default}, from which the session registers
// the defaults, the command line types the values it is given, and every lookup by key reads.
// The table itself is support/Settings.def; this header turns it into the scoped key names
// (SettingKey::TrustBOMs) and the constexpr array settingsTable.
//
// The keys are stored in the user's settings file, so a key, its type and its default never
// change. A setting is read and written through platform/SettingsStore.h by its key.

#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "support/SharedNames.h"

namespace pelkora {

// The kind of value a setting holds.
enum class SettingType {
    boolean,
    integer,
    string,
    stringList,   // a list of strings
    archiveList,  // a list of archived objects, written only by the module that owns them
};

// The default of a setting that has none: it reads as absent until something stores a value.
struct NoDefault {
    constexpr bool operator==(const NoDefault&) const = default;
};

// A default text that the user sees and may edit; it is translated when it is registered.
struct LocalizedText {
    std::string_view english;
    std::string_view comment;  // tells translators where the text appears
    constexpr bool operator==(const LocalizedText&) const = default;
};

// A list default; the strings live in static storage.
using StringList = std::span<const std::string_view>;

// A setting's default, one alternative per kind of value (a string is plain or localized).
using SettingDefault =
    std::variant<NoDefault, bool, std::int64_t, std::string_view, LocalizedText, StringList>;

// One row of the settings table.
struct Setting {
    std::string_view key;
    SettingType type;
    SettingDefault defaultValue;

    // Whether the setting is registered with a default at launch.
    constexpr bool hasDefault() const { return !std::holds_alternative<NoDefault>(defaultValue); }

    // Whether the default is a value of the setting's type (or there is none). A list of
    // archived objects can only start empty, since its objects are not known here.
    constexpr bool defaultFitsType() const {
        if (!hasDefault()) return true;
        switch (type) {
            case SettingType::boolean:
                return std::holds_alternative<bool>(defaultValue);
            case SettingType::integer:
                return std::holds_alternative<std::int64_t>(defaultValue);
            case SettingType::string:
                return std::holds_alternative<std::string_view>(defaultValue) ||
                       std::holds_alternative<LocalizedText>(defaultValue);
            case SettingType::stringList:
                return std::holds_alternative<StringList>(defaultValue);
            case SettingType::archiveList:
                return std::holds_alternative<StringList>(defaultValue) &&
                       std::get<StringList>(defaultValue).empty();
        }
        return false;
    }
};

// The import text added to each contact's note: literal pieces and NoteTokens.
inline constexpr std::string_view defaultTextToNotesTokens[] = {
    "Import# ", NoteTokens::TRANSNUM, " (", NoteTokens::DATE, NoteTokens::TIME,
    "/",        NoteTokens::FILE,     ")"};

// The keys, by their C++ names: SettingKey::DetectDuplicates is "DetectDuplicates".
namespace SettingKey {
#define SETTING(name, key, type, ...) inline constexpr std::string_view name = key;
#define SETTING_WITHOUT_DEFAULT(name, key, type) inline constexpr std::string_view name = key;
#include "support/Settings.def"
}  // namespace SettingKey

// Every setting: first those with a default, in registration order, then those without.
inline constexpr Setting settingsTable[] = {
#define SETTING(name, key, type, ...) {key, SettingType::type, __VA_ARGS__},
#define SETTING_WITHOUT_DEFAULT(name, key, type) {key, SettingType::type, NoDefault()},
#include "support/Settings.def"
};

// The table's row for the key, or null when the key is not one of this program's settings.
constexpr const Setting* findSetting(std::string_view key) {
    for (const Setting& setting : settingsTable) {
        if (setting.key == key) return &setting;
    }
    return nullptr;
}

// Checked where the table is defined, so that a wrong row does not compile.
static_assert(
    [] {
        for (const Setting& setting : settingsTable) {
            if (!setting.defaultFitsType()) return false;
        }
        return true;
    }(),
    "every default in Settings.def is a value of its setting's type");
static_assert(
    [] {
        for (const Setting& setting : settingsTable) {
            if (findSetting(setting.key) != &setting) return false;
        }
        return true;
    }(),
    "every key in Settings.def is there once");

}  // namespace pelkora
