#pragma once

// Date formats and date parsing: the format record, the user's custom formats kept in the
// settings, the common formats of a locale, the parser that turns a cell value into year,
// month and day, and the live test of the date-format page.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "addressbook/Contact.h"
#include "propertylist/KeyedArchive.h"
#include "support/Expected.h"
#include "text/DateFormatting.h"

namespace pelkora {

class SettingsStore;

// A date format pattern (Unicode TR35, "yyyy-MM-dd HH:mm:ss") and the locale it is read with.
class DateFormat {
  public:
    // The class name in archives; "Pelkora.QvDateFormat" reads as the same class.
    static constexpr std::string_view archivedClassName = "QvDateFormat";

    std::string format;
    // A language code ("de") or any locale identifier; none reads with "-undef-".
    std::optional<std::string> localeIdentifier;
    // True for the user's custom formats, false for the common formats.
    bool userDefined = false;

    // Empty: no pattern, no locale, not user-defined.
    DateFormat() = default;
    DateFormat(std::string format, std::optional<std::string> localeIdentifier, bool userDefined)
        : format(std::move(format)),
          localeIdentifier(std::move(localeIdentifier)),
          userDefined(userDefined) {}

    bool operator==(const DateFormat&) const = default;

    // The record as an archived object: "format", "localeIdentifier" only when present,
    // "userDefined" inline.
    ArchiveValue archived() const;
    // The record an archived object describes, starting from an empty record and taking a
    // text field only when it holds a text.
    static DateFormat fromArchive(const ArchivedObject& object);

    // The custom formats stored under "CustomDateFormats"; none (an empty list) when the
    // setting is absent, not binary data, unreadable or not a list of records. The
    // delegate is told each archived class name no record class matches.
    static std::vector<DateFormat> unarchiveCustomFormats(
        SettingsStore& settings, std::function<void(std::string_view className)> delegate = {});
    // Stores the formats under "CustomDateFormats" and writes the settings at once.
    static void archiveWithCustomFormats(const std::vector<DateFormat>& formats,
                                         SettingsStore& settings);
};

// The keyed-archive bytes of a list of formats, as they are stored in the settings.
std::string archiveDateFormats(const std::vector<DateFormat>& formats);

// The common date patterns of a locale: three fixed patterns, then the locale's best
// pattern for each skeleton of commonDateSkeletons, in that order, leaving out skeletons
// that give no pattern.
std::vector<std::string> commonDatePatterns(std::string_view localeIdentifier);
// The skeletons the common patterns are built from.
inline constexpr std::string_view commonDateSkeletons[] = {"yMd",  "yMMd",  "yMMMd", "yMMMMd", "dM",
                                                           "dMMM", "dMMMM", "yMdhm", "yMdhms"};
// The common formats for the session: the common patterns of the locale, each with the
// language code as its locale and not user-defined.
std::vector<DateFormat> commonDateFormats(std::string_view localeIdentifier,
                                          std::string_view languageCode);

// The common formats for the user's current locale and language, as the session builds
// them at launch.
std::vector<DateFormat> commonDateFormats();

// The list the parser takes: the custom formats, then the common formats.
std::vector<DateFormat> parserDateFormats(const std::vector<DateFormat>& customFormats,
                                          const std::vector<DateFormat>& commonFormats);

// A cell value as the parser sees it: nothing, a text, a number, a truth value or a date.
using DateCellValue = std::variant<std::monostate, std::string_view, double, bool,
                                   std::chrono::system_clock::time_point>;

// The year, month and day a cell value stands for; none when it stands for no date.
// A date cell gives its day in the default time zone. A text is given to the date detector
// first (in English and the language of detectorLocale, numeric dates in the given order of
// day and month, the locale's when undecided), then to the detector of days without a year
// ("--06-21", "21.06.", "21 June"), then read with each format in order, strictly (no day
// 31 of February); a format without a year letter gives month and day only, and a common
// format whose numeric day and month stand in the other order than a decided one is
// skipped (the user's own formats never are). The
// formatter's pattern and locale are changed, nothing else.
std::optional<contacts::DateComponents> parseDate(
    const DateCellValue& value, const std::vector<DateFormat>& formats,
    dates::DateFormatter& formatter, std::string_view detectorLocale,
    dates::DayMonthOrder order = dates::DayMonthOrder::undecided);
// As above, with the user's current locale for the detector.
std::optional<contacts::DateComponents> parseDate(const DateCellValue& value,
                                                  const std::vector<DateFormat>& formats,
                                                  dates::DateFormatter& formatter);

// Whether a text is a producer's way of writing "no date" in a date column: every field
// zero ("0/0/00", as Outlook exports an unset birthday, "00.00.0000", "0000-00-00"), or
// 0 January 1900, the day zero of spreadsheet dates that a cleared date cell shows
// ("1/0/1900", "00.01.1900", "1900-01-00"). Such a value means the cell is empty, so it
// gives no date and is no problem to report. Real days such as 1 January 1900 are not on
// the list: some producers use them for "empty", but a contact may have one.
bool isNoDatePlaceholder(std::string_view text);

// Why the date-format page's live test shows no date.
enum class DateParsingError { emptyFormatString, emptyTestString, parsingFailed, unknownLocale };

// The text the result field shows in red; empty for unknownLocale, which only beeps.
std::string errorText(DateParsingError error);

// A date the live test read.
struct DateTestResult {
    contacts::DateComponents components;
    // The date in long style for the user's current locale.
    std::string displayText;
    bool operator==(const DateTestResult&) const = default;
};

// The live test: reads the test text with the pattern and locale. An empty pattern, an
// empty test text or no locale (none or empty) are errors, checked in that order.
Expected<DateTestResult, DateParsingError> testDateFormat(
    std::string_view format, const std::optional<std::string>& localeIdentifier,
    std::string_view testText);

}  // namespace pelkora
