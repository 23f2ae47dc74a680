#pragma once

// The settings table (support/Settings.h) turned into the store's values: registering the
// defaults at launch, and typing a value given as text like the setting it is for.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "propertylist/PropertyList.h"
#include "support/Expected.h"
#include "support/Logger.h"
#include "support/Settings.h"

namespace pelkora {

class SettingsStore;

// The property-list type that a setting of this type holds (both lists are arrays).
PropertyValueType propertyValueType(SettingType type);

// The setting's default as the store holds it, a localized text translated; none when the
// setting has no default.
std::optional<PropertyValue> defaultValue(const Setting& setting);

// Registers the default of every setting that has one, in the table's order, and writes the
// store out. Stored values are never overwritten. A failed write is logged.
void registerDefaults(SettingsStore& settings);

// The preferences' reset of the warnings: the mapping hint and the hint to close other
// programs that hold the address book are shown again.
void resetWarnings(SettingsStore& settings);

// Gives the runtime log the level the "LogLevel" setting names (everything when it names
// none it knows), and stores a new one when given.
void applyLogLevel(SettingsStore& settings, std::optional<LogLevel> level = std::nullopt);

// Why texts could not be made into a value of a setting.
struct SettingTextError {
    enum class Cause {
        notOneText,         // a setting that is not a list takes exactly one text
        notYesOrNo,         // a boolean from a text that is none of its spellings
        notAWholeNumber,    // an integer from a text that is not decimal digits
        notWritableAsText,  // a list of archived objects is changed only by its owner
    };

    Cause cause;
    std::string key;
    std::string text;  // the text that was refused; empty for notOneText and notWritableAsText

    // What is wrong and what to write instead, naming the setting: "“TrustBOMs” is a yes/no
    // setting: use true or false, not “maybe”".
    std::string message() const;
    bool operator==(const SettingTextError&) const = default;
};

// The value that texts typed on the command line give the setting, of the setting's type: a
// boolean from true/false, yes/no, on/off or 1/0; an integer from decimal digits with an
// optional minus sign; a string as it is; a string list with one item per text, in order.
[[nodiscard]] Expected<PropertyValue, SettingTextError> settingValueFromText(
    const Setting& setting, std::span<const std::string> texts);

}  // namespace pelkora
