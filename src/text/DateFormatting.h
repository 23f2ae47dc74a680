#pragma once

// Dates in the user's notation: the platform's date patterns for a locale, a date formatter
// that reads text with a pattern, and a detector that finds a date written in natural
// notation anywhere in a text. ICU does the work; none of its types appear here.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora::dates {

// A day of the Gregorian calendar.
struct CalendarDate {
    int year = 0;
    int month = 0;  // 1…12
    int day = 0;    // 1…31
    bool operator==(const CalendarDate&) const = default;
};

// Milliseconds, ICU's unit: a date of any year a contact may hold fits (nanoseconds would end
// in 1677 and 2262).
using TimePoint = std::chrono::time_point<std::chrono::system_clock, std::chrono::milliseconds>;

// The locale identifier of the user's current locale ("de_DE", "en_US_POSIX").
std::string currentLocaleIdentifier();
// The language code of the user's current locale ("de"); empty when it names none.
std::string currentLanguageCode();

// The locale's best pattern for a skeleton such as "yMMMd" ("d. MMM y" for German); none
// when the platform gives no pattern.
std::optional<std::string> bestPattern(std::string_view skeleton,
                                       std::string_view localeIdentifier);

// The day a point in time falls on in the default time zone, Gregorian calendar.
CalendarDate calendarDateOf(TimePoint time);

// The point in time as a long-style date in the user's current locale ("12. März 1980").
std::string longDateText(TimePoint time);

// The point in time as a short-style date without time ("12/03/1980" for a British user),
// and as a short-style time without date ("14:05"), in the user's current locale and time
// zone.
std::string shortDateText(TimePoint time);
std::string shortTimeText(TimePoint time);

// The same for a clock reading or a spreadsheet's date, to the millisecond.
using ClockTime = std::chrono::system_clock::time_point;
inline CalendarDate calendarDateOf(ClockTime time) {
    return calendarDateOf(std::chrono::floor<std::chrono::milliseconds>(time));
}
inline std::string longDateText(ClockTime time) {
    return longDateText(std::chrono::floor<std::chrono::milliseconds>(time));
}
inline std::string shortDateText(ClockTime time) {
    return shortDateText(std::chrono::floor<std::chrono::milliseconds>(time));
}
inline std::string shortTimeText(ClockTime time) {
    return shortTimeText(std::chrono::floor<std::chrono::milliseconds>(time));
}

// A calendar day (Gregorian) in the user's current locale: with a year in long style
// ("12. März 1980"), without one in the locale's day-and-month form ("12. März"). The day
// must exist (29 February only without a year or in a leap year).
std::string calendarDayText(std::optional<int> year, int month, int day);

// The identifiers of all locales the platform offers, sorted.
std::vector<std::string> availableLocaleIdentifiers();
// The locale's name in the user's current language ("de" → "German" for an English user);
// empty for an empty identifier.
std::string localeDisplayName(std::string_view localeIdentifier);

// Reads whole texts with one pattern and locale. Only the pattern and the locale are
// settable. Reading is strict: a field out of its range (day 0, day 31 of February, month
// 13) makes the text no date instead of rolling over into a later month or year, and the
// pattern must read the whole text. Calendar, time zone and the window for two-digit years
// are the platform's defaults (Gregorian, the default time zone, 80 years back to 20 ahead,
// so that in 2026 "03" is 2003 and "95" is 1995). Not safe to share between threads: each
// thread uses its own formatter.
class DateFormatter {
  public:
    // A formatter with an empty pattern and the user's current locale.
    DateFormatter();
    ~DateFormatter();
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;

    // A pattern in Unicode TR35 notation ("dd.MM.yyyy").
    void setDateFormat(std::string_view pattern);
    // Any locale identifier; one the platform does not know reads with its root data.
    void setLocaleIdentifier(std::string_view localeIdentifier);
    const std::string& dateFormat() const { return pattern_; }
    const std::string& localeIdentifier() const { return localeIdentifier_; }

    // The point in time the whole text stands for; none when the pattern does not read all
    // of it or a field is out of range. A pattern without a year reads as a day of 2000, a
    // leap year, so that 29 February is a day without a year.
    std::optional<TimePoint> date(std::string_view text) const;

  private:
    struct Implementation;
    void rebuild();

    std::string pattern_;
    std::string localeIdentifier_;
    std::unique_ptr<Implementation> implementation_;
};

// The order of day and month in numeric dates written with slashes or dashes ("3/12/1980").
enum class DayMonthOrder { dayFirst, monthFirst, undecided };

// The order the locale writes numeric dates in: month first when its short date pattern
// puts the month before the day ("en" is the United States' "M/d/yy"), day first otherwise.
DayMonthOrder dayMonthOrderOfLocale(std::string_view localeIdentifier);

// What the values of one column say about their order of day and month. A numeric date
// whose first field is above 12 can only be day first, one whose second field is above 12
// only month first; a column with both kinds, or with neither, is undecided.
class DayMonthOrderEvidence {
  public:
    void add(std::string_view text);
    DayMonthOrder order() const;

  private:
    bool dayFirstSeen_ = false;
    bool monthFirstSeen_ = false;
};

// The first date written in natural notation anywhere in the text, in English or the
// language of the given locale: "12 March 1980", "March 12, 1980", "12. März 1980",
// "1980-03-12", "12.03.1980", or "3/12/1980" read in the given order of day and month (the
// locale's order when undecided). A date needs a day, a month and a year; bare numbers,
// phone numbers, postal codes and impossible days ("31.02.1980") are not dates.
std::optional<CalendarDate> detectDate(std::string_view text, std::string_view localeIdentifier,
                                       DayMonthOrder order = DayMonthOrder::undecided);

// A day of the year without a year.
struct MonthDay {
    int month = 0;  // 1…12
    int day = 0;    // 1…31
    bool operator==(const MonthDay&) const = default;
};

// The day and month a whole text names without a year: "--06-21" and "--0621" (ISO 8601
// and vCard), "21.06." (dotted, day first), "21 June", "21. Juni", "June 21" (English or the
// locale's month names). The day must exist in some year (29 February does). Unlike
// detectDate the text must be nothing but the day, so a note's "May 5" is no birthday.
std::optional<MonthDay> detectDayWithoutYear(std::string_view text,
                                             std::string_view localeIdentifier);

}  // namespace pelkora::dates
