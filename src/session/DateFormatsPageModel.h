#pragma once

// The date-format page of the settings: a table of the custom formats followed by the
// common formats, an editor for custom formats with a live test, and removal. Built-in
// formats cannot be edited or removed.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mapping/DateFormat.h"
#include "support/Expected.h"

namespace pelkora {

class SettingsStore;

// One row of the table.
struct DateFormatRow {
    bool userDefined = false;
    std::string format;
    // The locale's name in the user's language; empty for a format without a locale.
    std::string language;
    bool operator==(const DateFormatRow&) const = default;
};

// An item of the editor's locale pop-up.
struct LocaleChoice {
    std::string identifier;
    // The locale's name in the user's language.
    std::string name;
};

// Why the page refuses an action; the alert shows message and informative text.
enum class DateFormatRefusal { editBuiltInFormat, removeBuiltInFormat, noSuchRow };

// The alert's message ("Built-in date formats cannot be edited."); empty for noSuchRow,
// which the page ignores.
std::string refusalMessage(DateFormatRefusal refusal);
// The alert's informative text; empty for noSuchRow.
std::string refusalInformativeText(DateFormatRefusal refusal);

// What the editor sheet holds while it is open.
struct DateFormatDraft {
    // The custom format being edited (its index in the custom list); none when adding.
    std::optional<std::size_t> customIndex;
    // Shown in the sheet only: the record has no field for it, and archives written by
    // other installations of the program would not carry one either.
    std::string description;
    std::string format;
    std::optional<std::string> localeIdentifier;
    std::string testText;
};

// The page's state over the session's two lists. The custom list belongs to the session;
// the model changes it in place and archives it into the settings after every change.
class DateFormatsPageModel {
  public:
    DateFormatsPageModel(std::vector<DateFormat>& customFormats,
                         const std::vector<DateFormat>& commonFormats, SettingsStore& settings);

    // The custom formats, then the common formats.
    std::vector<DateFormatRow> rows() const;
    std::size_t rowCount() const { return customFormats_.size() + commonFormats_.size(); }

    // An empty draft for a new custom format, with the user's language preselected.
    DateFormatDraft beginAdding() const;
    // A draft holding the row's format; refused for a common format.
    Expected<DateFormatDraft, DateFormatRefusal> beginEditing(std::size_t row) const;
    // The live test of the draft, run after every change of its format, locale or test text.
    Expected<DateTestResult, DateParsingError> test(const DateFormatDraft& draft) const;
    // Writes the draft's format and locale into the record it edits, or appends a new
    // user-defined record; then archives the custom formats.
    void save(const DateFormatDraft& draft);
    // Removes a custom format and archives the rest; refused for a common format.
    Expected<void, DateFormatRefusal> remove(std::size_t row);

    // The locale pop-up's items: every locale the platform offers, sorted by name.
    static std::vector<LocaleChoice> localeChoices();

  private:
    std::vector<DateFormat>& customFormats_;
    const std::vector<DateFormat>& commonFormats_;
    SettingsStore& settings_;
};

}  // namespace pelkora
