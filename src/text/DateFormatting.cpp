#include "text/DateFormatting.h"

#include <unicode/datefmt.h>
#include <unicode/dtfmtsym.h>
#include <unicode/dtptngen.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace pelkora::dates {
namespace {

icu::Locale localeFor(std::string_view identifier) {
    icu::Locale locale(std::string(identifier).c_str());
    // An identifier ICU cannot even parse ("-undef-") reads with the root locale's data,
    // which is what the platform does for a locale it does not know.
    if (locale.isBogus()) return icu::Locale::getRoot();
    return locale;
}

std::string utf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::u32string codePoints(std::string_view text) {
    // Most cells are ASCII, whose bytes are their code points.
    if (isAscii(text)) return std::u32string(text.begin(), text.end());
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    std::u32string result(static_cast<std::size_t>(unicode.countChar32()), U'\0');
    UErrorCode status = U_ZERO_ERROR;
    unicode.toUTF32(reinterpret_cast<UChar32*>(result.data()), static_cast<int32_t>(result.size()),
                    status);
    return result;
}

TimePoint timePointOf(UDate milliseconds) {
    return TimePoint(std::chrono::duration_cast<TimePoint::duration>(
        std::chrono::milliseconds(std::llround(milliseconds))));
}

UDate udateOf(TimePoint time) {
    return static_cast<UDate>(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && isLeapYear(year)) return 29;
    return days[static_cast<std::size_t>(month - 1)];
}

std::optional<CalendarDate> validDate(int year, int month, int day) {
    if (year < 1 || month < 1 || month > 12 || day < 1) return std::nullopt;
    if (day > daysInMonth(year, month)) return std::nullopt;
    return CalendarDate{year, month, day};
}

int currentYear() {
    const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    return static_cast<int>(std::chrono::year_month_day(today).year());
}

// Two-digit years by the platform's window: from 80 years back to 20 years ahead.
int expandedTwoDigitYear(int year) {
    const int now = currentYear();
    int expanded = now / 100 * 100 + year;
    if (expanded > now + 20) expanded -= 100;
    if (expanded <= now - 80) expanded += 100;
    return expanded;
}

// ---- The detector's view of a text: runs of digits, runs of letters, white space, marks.

struct Token {
    enum class Kind { number, word, space, mark };
    Kind kind = Kind::mark;
    int value = 0;           // numbers: their value (capped), for marks: the character
    std::size_t digits = 0;  // numbers: how many digits
    std::string folded;      // words: case-folded UTF-8
};

bool isLetter(char32_t c) {
    return u_isalpha(static_cast<UChar32>(c)) ||
           (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_M_MASK) != 0;
}

std::string folded(const std::u32string& word) {
    // ASCII letters fold to their lower case.
    if (std::all_of(word.begin(), word.end(), [](char32_t c) { return c < 0x80; })) {
        std::string text(word.size(), '\0');
        std::transform(word.begin(), word.end(), text.begin(), [](char32_t c) {
            return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        });
        return text;
    }
    icu::UnicodeString text = icu::UnicodeString::fromUTF32(
        reinterpret_cast<const UChar32*>(word.data()), static_cast<int32_t>(word.size()));
    text.foldCase();
    return utf8(text);
}

// What a character is to the tokenizer.
enum class CharacterClass : std::uint8_t { digit, letter, space, other };

CharacterClass characterClassFromProperties(char32_t c) {
    if (u_isdigit(static_cast<UChar32>(c))) return CharacterClass::digit;
    if (isLetter(c)) return CharacterClass::letter;
    if (u_isUWhiteSpace(static_cast<UChar32>(c))) return CharacterClass::space;
    return CharacterClass::other;
}

// ASCII characters are looked up in a table made once from the same character properties.
CharacterClass characterClass(char32_t c) {
    static const auto asciiClasses = [] {
        std::array<CharacterClass, 128> classes{};
        for (char32_t ascii = 0; ascii < 128; ++ascii)
            classes[ascii] = characterClassFromProperties(ascii);
        return classes;
    }();
    return c < 128 ? asciiClasses[c] : characterClassFromProperties(c);
}

int digitValue(char32_t c) {
    return c >= '0' && c <= '9' ? static_cast<int>(c - '0')
                                : u_charDigitValue(static_cast<UChar32>(c));
}

std::vector<Token> tokenize(std::string_view text) {
    const std::u32string characters = codePoints(text);
    std::vector<Token> tokens;
    tokens.reserve(characters.size());
    std::size_t index = 0;
    const auto isClass = [&](std::size_t at, CharacterClass wanted) {
        return at < characters.size() && characterClass(characters[at]) == wanted;
    };
    while (index < characters.size()) {
        const char32_t c = characters[index];
        const CharacterClass kind = characterClass(c);
        Token token;
        if (kind == CharacterClass::digit) {
            token.kind = Token::Kind::number;
            while (isClass(index, CharacterClass::digit)) {
                if (token.value < 100000)
                    token.value = token.value * 10 + digitValue(characters[index]);
                ++token.digits;
                ++index;
            }
        } else if (kind == CharacterClass::letter) {
            token.kind = Token::Kind::word;
            std::u32string word;
            while (isClass(index, CharacterClass::letter)) word += characters[index++];
            token.folded = folded(word);
        } else if (kind == CharacterClass::space) {
            token.kind = Token::Kind::space;
            while (isClass(index, CharacterClass::space)) ++index;
        } else {
            token.kind = Token::Kind::mark;
            token.value = static_cast<int>(c);
            ++index;
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

// Case-folded month names and abbreviations → month number.
using MonthNames = std::map<std::string, int, std::less<>>;

void addMonthNames(MonthNames& names, const icu::Locale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    icu::DateFormatSymbols symbols(locale, status);
    if (U_FAILURE(status)) return;
    using Symbols = icu::DateFormatSymbols;
    for (auto context : {Symbols::FORMAT, Symbols::STANDALONE}) {
        for (auto width : {Symbols::WIDE, Symbols::ABBREVIATED}) {
            int32_t count = 0;
            const icu::UnicodeString* months = symbols.getMonths(count, context, width);
            for (int32_t month = 0; month < count && month < 12; ++month) {
                std::u32string name;
                for (char32_t c : codePoints(utf8(months[month]))) {
                    if (c != U'.') name += c;
                }
                // Names with digits ("3月") cannot be told from numbers by this detector.
                bool lettersOnly = !name.empty();
                for (char32_t c : name) lettersOnly = lettersOnly && isLetter(c);
                if (lettersOnly) names.emplace(folded(name), month + 1);
            }
        }
    }
}

MonthNames monthNamesFor(const icu::Locale& locale) {
    MonthNames names;
    addMonthNames(names, icu::Locale::getEnglish());
    addMonthNames(names, locale);
    names.emplace("sept", 9);
    return names;
}

// Whether the locale writes the month before the day in numeric dates ("3/12/80").
bool writesMonthFirst(const icu::Locale& locale) {
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateInstance(icu::DateFormat::kShort, locale));
    auto* simple = dynamic_cast<icu::SimpleDateFormat*>(format.get());
    if (!simple) return false;
    icu::UnicodeString pattern;
    simple->toPattern(pattern);
    const int32_t month = pattern.indexOf(u'M');
    const int32_t day = pattern.indexOf(u'd');
    return month >= 0 && day >= 0 && month < day;
}

// What the detector knows about a locale's notation.
struct LocaleNotation {
    MonthNames months;
    bool monthFirst = false;
};

// The parser runs the detector on every date cell of an import, and building the month
// names from the locale data costs far more than scanning a cell, so each locale's notation
// is built once per process.
std::shared_ptr<const LocaleNotation> notationFor(std::string_view localeIdentifier) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const LocaleNotation>, std::less<>> cache;
    const std::lock_guard lock(mutex);
    if (auto found = cache.find(localeIdentifier); found != cache.end()) return found->second;
    const icu::Locale locale = localeFor(localeIdentifier);
    auto notation = std::make_shared<const LocaleNotation>(
        LocaleNotation{monthNamesFor(locale), writesMonthFirst(locale)});
    cache.emplace(std::string(localeIdentifier), notation);
    return notation;
}

// The day and month of a whole text without a year; see detectDayWithoutYear.
class DayWithoutYearReader {
  public:
    DayWithoutYearReader(std::vector<Token> tokens, const MonthNames& months)
        : tokens_(std::move(tokens)), months_(months) {
        // White space around the day is no part of it.
        while (end_ > begin_ && tokens_[end_ - 1].kind == Token::Kind::space) --end_;
        while (begin_ < end_ && tokens_[begin_].kind == Token::Kind::space) ++begin_;
    }

    // Steps: the ISO forms "--MM-DD" and "--MMDD", the dotted "DD.MM.", then a day before
    // and after a month name; each must cover the whole text.
    std::optional<MonthDay> read() const {
        for (auto reader :
             {&DayWithoutYearReader::isoDay, &DayWithoutYearReader::dottedDay,
              &DayWithoutYearReader::dayMonthName, &DayWithoutYearReader::monthNameDay}) {
            if (auto day = (this->*reader)()) return day;
        }
        return std::nullopt;
    }

  private:
    std::size_t count() const { return end_ - begin_; }
    const Token& at(std::size_t offset) const { return tokens_[begin_ + offset]; }
    bool isMark(std::size_t offset, char32_t mark) const {
        return offset < count() && at(offset).kind == Token::Kind::mark &&
               at(offset).value == static_cast<int>(mark);
    }
    bool isNumber(std::size_t offset, std::size_t minimumDigits, std::size_t maximumDigits) const {
        return offset < count() && at(offset).kind == Token::Kind::number &&
               at(offset).digits >= minimumDigits && at(offset).digits <= maximumDigits;
    }
    bool isSpace(std::size_t offset) const {
        return offset < count() && at(offset).kind == Token::Kind::space;
    }
    std::optional<int> monthNamed(std::size_t offset) const {
        if (offset >= count() || at(offset).kind != Token::Kind::word) return std::nullopt;
        auto found = months_.find(at(offset).folded);
        if (found == months_.end()) return std::nullopt;
        return found->second;
    }
    bool isOrdinalSuffix(std::size_t offset) const {
        if (offset >= count() || at(offset).kind != Token::Kind::word) return false;
        const std::string& word = at(offset).folded;
        return word == "st" || word == "nd" || word == "rd" || word == "th";
    }

    static std::optional<MonthDay> existing(int month, int day) {
        // 2000 is a leap year: 29 February exists without a year.
        if (!validDate(2000, month, day)) return std::nullopt;
        return MonthDay{month, day};
    }

    // "--06-21", "--0621".
    std::optional<MonthDay> isoDay() const {
        if (!isMark(0, U'-') || !isMark(1, U'-')) return std::nullopt;
        if (count() == 3 && isNumber(2, 4, 4))
            return existing(at(2).value / 100, at(2).value % 100);
        if (count() == 5 && isNumber(2, 2, 2) && isMark(3, U'-') && isNumber(4, 2, 2))
            return existing(at(2).value, at(4).value);
        return std::nullopt;
    }

    // "21.06.", "1.6."
    std::optional<MonthDay> dottedDay() const {
        if (count() != 4 || !isNumber(0, 1, 2) || !isMark(1, U'.') || !isNumber(2, 1, 2) ||
            !isMark(3, U'.')) {
            return std::nullopt;
        }
        return existing(at(2).value, at(0).value);
    }

    // "21 June", "21. Juni", "21st Jun.".
    std::optional<MonthDay> dayMonthName() const {
        if (!isNumber(0, 1, 2)) return std::nullopt;
        std::size_t next = 1;
        if (isOrdinalSuffix(next)) ++next;
        if (isMark(next, U'.')) ++next;
        if (isSpace(next)) ++next;
        const auto month = monthNamed(next);
        if (!month) return std::nullopt;
        ++next;
        if (isMark(next, U'.')) ++next;
        if (next != count()) return std::nullopt;
        return existing(*month, at(0).value);
    }

    // "June 21", "Jun. 21st".
    std::optional<MonthDay> monthNameDay() const {
        const auto month = monthNamed(0);
        if (!month) return std::nullopt;
        std::size_t next = 1;
        if (isMark(next, U'.')) ++next;
        if (isSpace(next)) ++next;
        if (!isNumber(next, 1, 2)) return std::nullopt;
        const int day = at(next).value;
        ++next;
        if (isOrdinalSuffix(next)) ++next;
        if (next != count()) return std::nullopt;
        return existing(*month, day);
    }

    std::vector<Token> tokens_;
    const MonthNames& months_;
    std::size_t begin_ = 0;
    std::size_t end_ = tokens_.size();
};

struct Match {
    CalendarDate date;
    std::size_t end = 0;  // one past the last token
};

class Detector {
  public:
    Detector(std::vector<Token> tokens, const LocaleNotation& notation, DayMonthOrder order)
        : tokens_(std::move(tokens)),
          months_(notation.months),
          monthFirst_(order == DayMonthOrder::undecided ? notation.monthFirst
                                                        : order == DayMonthOrder::monthFirst) {}

    // Steps: at each token, in order, try the numeric notation, then day-month-year with a
    // month name, then month-day-year with a month name; a match counts only when it does
    // not continue a longer run of numbers or words on either side.
    std::optional<CalendarDate> firstDate() const {
        for (std::size_t index = 0; index < tokens_.size(); ++index) {
            if (!startsFreely(index)) continue;
            for (auto matcher : {&Detector::numericDate, &Detector::dayMonthNameYear,
                                 &Detector::monthNameDayYear}) {
                if (auto match = (this->*matcher)(index); match && endsFreely(match->end)) {
                    return match->date;
                }
            }
        }
        return std::nullopt;
    }

  private:
    bool is(std::size_t index, Token::Kind kind) const {
        return index < tokens_.size() && tokens_[index].kind == kind;
    }
    bool isMark(std::size_t index, char32_t mark) const {
        return is(index, Token::Kind::mark) && tokens_[index].value == static_cast<int>(mark);
    }
    bool isNumber(std::size_t index, std::size_t minimumDigits, std::size_t maximumDigits) const {
        return is(index, Token::Kind::number) && tokens_[index].digits >= minimumDigits &&
               tokens_[index].digits <= maximumDigits;
    }
    static bool isNumberJoiner(int mark) {
        return mark == '.' || mark == '-' || mark == '/' || mark == ':' || mark == ',';
    }

    // A date must not be the tail of a phone number, a version or an identifier.
    bool startsFreely(std::size_t index) const {
        if (!is(index, Token::Kind::number) && !is(index, Token::Kind::word)) return false;
        if (index == 0) return true;
        const Token& before = tokens_[index - 1];
        if (before.kind == Token::Kind::space) return true;
        if (before.kind != Token::Kind::mark) return false;
        if (before.value == '+') return false;
        return !(isNumberJoiner(before.value) && index >= 2 && is(index - 2, Token::Kind::number));
    }

    // …nor the head of one.
    bool endsFreely(std::size_t end) const {
        if (end >= tokens_.size()) return true;
        const Token& after = tokens_[end];
        if (after.kind == Token::Kind::space) return true;
        if (after.kind != Token::Kind::mark) return false;
        return !(isNumberJoiner(after.value) && is(end + 1, Token::Kind::number));
    }

    std::optional<int> monthNamed(std::size_t index) const {
        if (!is(index, Token::Kind::word)) return std::nullopt;
        auto found = months_.find(tokens_[index].folded);
        if (found == months_.end()) return std::nullopt;
        return found->second;
    }

    bool isOrdinalSuffix(std::size_t index) const {
        if (!is(index, Token::Kind::word)) return false;
        const std::string& word = tokens_[index].folded;
        return word == "st" || word == "nd" || word == "rd" || word == "th";
    }

    // Skips white space and at most one of the marks; returns where the gap ends.
    std::size_t skipGap(std::size_t index, std::u32string_view marks) const {
        bool markSeen = false;
        while (index < tokens_.size()) {
            if (is(index, Token::Kind::space)) {
                ++index;
            } else if (!markSeen && is(index, Token::Kind::mark) &&
                       marks.find(static_cast<char32_t>(tokens_[index].value)) !=
                           std::u32string_view::npos) {
                markSeen = true;
                ++index;
            } else {
                break;
            }
        }
        return index;
    }

    // "1980-03-12", "12.03.1980", "3/12/1980", "12.03.80".
    std::optional<Match> numericDate(std::size_t index) const {
        if (!is(index, Token::Kind::number) || !is(index + 1, Token::Kind::mark))
            return std::nullopt;
        const int separator = tokens_[index + 1].value;
        if (separator != '.' && separator != '-' && separator != '/') return std::nullopt;
        if (!is(index + 2, Token::Kind::number) ||
            !isMark(index + 3, static_cast<char32_t>(separator)) ||
            !is(index + 4, Token::Kind::number)) {
            return std::nullopt;
        }
        const Token& first = tokens_[index];
        const Token& second = tokens_[index + 2];
        const Token& third = tokens_[index + 4];
        std::optional<CalendarDate> date;
        if (first.digits == 4 && second.digits <= 2 && third.digits <= 2) {
            date = validDate(first.value, second.value, third.value);
        } else if (first.digits <= 2 && second.digits <= 2 &&
                   (third.digits == 4 || (third.digits == 2 && separator != '-'))) {
            const int year = third.digits == 2 ? expandedTwoDigitYear(third.value) : third.value;
            // A dotted date is day first everywhere; slashes and dashes follow the column's
            // order, or the locale's when the column does not decide.
            const bool monthFirst = separator != '.' && monthFirst_;
            date = monthFirst ? validDate(year, first.value, second.value)
                              : validDate(year, second.value, first.value);
        }
        if (!date) return std::nullopt;
        return Match{*date, index + 5};
    }

    // "12 March 1980", "12. März 1980", "12th Mar. 1980", "12-Mar-1980".
    std::optional<Match> dayMonthNameYear(std::size_t index) const {
        if (!isNumber(index, 1, 2)) return std::nullopt;
        const int day = tokens_[index].value;
        std::size_t next = index + 1;
        if (isOrdinalSuffix(next)) ++next;
        if (isMark(next, U'.')) ++next;
        next = skipGap(next, U"-");
        if (next == index + 1) return std::nullopt;
        const auto month = monthNamed(next);
        if (!month) return std::nullopt;
        ++next;
        if (isMark(next, U'.')) ++next;
        const std::size_t yearIndex = skipGap(next, U"-,");
        if (yearIndex == next || !isNumber(yearIndex, 4, 4)) return std::nullopt;
        const auto date = validDate(tokens_[yearIndex].value, *month, day);
        if (!date) return std::nullopt;
        return Match{*date, yearIndex + 1};
    }

    // "March 12, 1980", "Mar 12th 1980".
    std::optional<Match> monthNameDayYear(std::size_t index) const {
        const auto month = monthNamed(index);
        if (!month) return std::nullopt;
        std::size_t next = index + 1;
        if (isMark(next, U'.')) ++next;
        const std::size_t dayIndex = skipGap(next, U"-");
        if (dayIndex == next || !isNumber(dayIndex, 1, 2)) return std::nullopt;
        next = dayIndex + 1;
        if (isOrdinalSuffix(next)) ++next;
        const std::size_t yearIndex = skipGap(next, U",");
        if (yearIndex == next || !isNumber(yearIndex, 4, 4)) return std::nullopt;
        const auto date = validDate(tokens_[yearIndex].value, *month, tokens_[dayIndex].value);
        if (!date) return std::nullopt;
        return Match{*date, yearIndex + 1};
    }

    std::vector<Token> tokens_;
    const MonthNames& months_;
    bool monthFirst_ = false;
};

}  // namespace

std::string currentLocaleIdentifier() {
    return icu::Locale::getDefault().getName();
}

std::string currentLanguageCode() {
    return icu::Locale::getDefault().getLanguage();
}

std::optional<std::string> bestPattern(std::string_view skeleton,
                                       std::string_view localeIdentifier) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(localeFor(localeIdentifier), status));
    if (U_FAILURE(status) || !generator) return std::nullopt;
    const icu::UnicodeString pattern = generator->getBestPattern(
        icu::UnicodeString::fromUTF8(std::string(skeleton)), UDATPG_MATCH_NO_OPTIONS, status);
    if (U_FAILURE(status) || pattern.isEmpty()) return std::nullopt;
    return utf8(pattern);
}

CalendarDate calendarDateOf(TimePoint time) {
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(status);
    calendar.setTime(udateOf(time), status);
    CalendarDate date;
    date.year = calendar.get(UCAL_YEAR, status);
    date.month = calendar.get(UCAL_MONTH, status) + 1;
    date.day = calendar.get(UCAL_DATE, status);
    return date;
}

namespace {

// The point in time written by a formatter of the user's locale; empty when there is none.
std::string formattedWith(icu::DateFormat* made, TimePoint time) {
    std::unique_ptr<icu::DateFormat> format(made);
    if (!format) return {};
    icu::UnicodeString text;
    format->format(udateOf(time), text);
    return utf8(text);
}

}  // namespace

std::string longDateText(TimePoint time) {
    return formattedWith(icu::DateFormat::createDateInstance(icu::DateFormat::kLong), time);
}

std::string shortDateText(TimePoint time) {
    return formattedWith(icu::DateFormat::createDateInstance(icu::DateFormat::kShort), time);
}

std::string shortTimeText(TimePoint time) {
    return formattedWith(icu::DateFormat::createTimeInstance(icu::DateFormat::kShort), time);
}

std::string calendarDayText(std::optional<int> year, int month, int day) {
    UErrorCode status = U_ZERO_ERROR;
    // Noon in UTC, formatted in UTC, names the same day wherever the user is. A leap year
    // stands in for a missing one so that 29 February can be written.
    icu::GregorianCalendar calendar(*icu::TimeZone::getGMT(), status);
    if (U_FAILURE(status)) return {};
    calendar.clear();
    calendar.set(year.value_or(2000), month - 1, day, 12, 0, 0);
    const UDate when = calendar.getTime(status);
    if (U_FAILURE(status)) return {};
    std::unique_ptr<icu::DateFormat> format;
    if (year) {
        format.reset(icu::DateFormat::createDateInstance(icu::DateFormat::kLong));
    } else {
        const auto pattern = bestPattern("dMMMM", currentLocaleIdentifier());
        if (!pattern) return {};
        format =
            std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(*pattern), status);
        if (U_FAILURE(status)) return {};
    }
    if (!format) return {};
    format->setTimeZone(*icu::TimeZone::getGMT());
    icu::UnicodeString text;
    format->format(when, text);
    return utf8(text);
}

std::vector<std::string> availableLocaleIdentifiers() {
    int32_t count = 0;
    const icu::Locale* available = icu::Locale::getAvailableLocales(count);
    std::vector<std::string> identifiers;
    identifiers.reserve(static_cast<std::size_t>(count));
    for (int32_t index = 0; index < count; ++index)
        identifiers.emplace_back(available[index].getName());
    return identifiers;
}

std::string localeDisplayName(std::string_view localeIdentifier) {
    if (localeIdentifier.empty()) return {};
    icu::UnicodeString name;
    localeFor(localeIdentifier).getDisplayName(icu::Locale::getDefault(), name);
    return utf8(name);
}

// The parser sets a dozen patterns in turn for every cell, and building an ICU formatter
// costs much more than reading a text with it, so each pattern and locale is built once per
// formatter, with the calendar it reads into; a formatter that could not be built is
// remembered as none.
struct DateFormatter::Implementation {
    struct Built {
        std::unique_ptr<icu::SimpleDateFormat> format;
        std::unique_ptr<icu::Calendar> calendar;
    };
    static constexpr std::size_t maximumBuiltFormats = 64;
    std::map<std::pair<std::string, std::string>, Built> built;
    Built* current = nullptr;
};

DateFormatter::DateFormatter()
    : localeIdentifier_(currentLocaleIdentifier()),
      implementation_(std::make_unique<Implementation>()) {}

DateFormatter::~DateFormatter() = default;

void DateFormatter::setDateFormat(std::string_view pattern) {
    pattern_ = std::string(pattern);
    rebuild();
}

void DateFormatter::setLocaleIdentifier(std::string_view localeIdentifier) {
    localeIdentifier_ = std::string(localeIdentifier);
    rebuild();
}

void DateFormatter::rebuild() {
    auto& implementation = *implementation_;
    implementation.current = nullptr;
    if (pattern_.empty()) return;
    auto key = std::make_pair(pattern_, localeIdentifier_);
    if (auto found = implementation.built.find(key); found != implementation.built.end()) {
        implementation.current = &found->second;
        return;
    }
    if (implementation.built.size() >= Implementation::maximumBuiltFormats) {
        implementation.built.clear();
    }
    UErrorCode status = U_ZERO_ERROR;
    auto format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString::fromUTF8(pattern_),
                                                          localeFor(localeIdentifier_), status);
    if (U_FAILURE(status)) {
        format.reset();
    } else {
        // ICU reads leniently by default: "31/02/2000" would become 2 March and month 13
        // January of the next year. A value out of range is no date.
        format->setLenient(false);
    }
    Implementation::Built built;
    if (format && format->getCalendar()) {
        built.calendar.reset(format->getCalendar()->clone());
        if (built.calendar) built.format = std::move(format);
    }
    implementation.current =
        &implementation.built.emplace(std::move(key), std::move(built)).first->second;
}

std::optional<TimePoint> DateFormatter::date(std::string_view text) const {
    Implementation::Built* built = implementation_->current;
    if (!built || !built->format) return std::nullopt;
    // Cells often carry white space around a date, which the pattern does not mention.
    icu::UnicodeString input = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    input.trim();
    if (input.isEmpty()) return std::nullopt;
    // The calendar starts in 2000 rather than ICU's 1970 so that a pattern without a year
    // reads 29 February; a pattern with a year sets its own. The calendar is not lenient
    // either, so a field out of range makes getTime fail instead of rolling over.
    const icu::SimpleDateFormat& format = *built->format;
    icu::Calendar* calendar = built->calendar.get();
    calendar->clear();
    calendar->set(UCAL_YEAR, 2000);
    icu::ParsePosition position(0);
    format.parse(input, *calendar, position);
    if (position.getErrorIndex() >= 0 || position.getIndex() != input.length()) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const UDate date = calendar->getTime(status);
    if (U_FAILURE(status)) return std::nullopt;
    return timePointOf(date);
}

DayMonthOrder dayMonthOrderOfLocale(std::string_view localeIdentifier) {
    return notationFor(localeIdentifier)->monthFirst ? DayMonthOrder::monthFirst
                                                     : DayMonthOrder::dayFirst;
}

void DayMonthOrderEvidence::add(std::string_view text) {
    // Only "a/b/yyyy", "a.b.yy", "a-b-yyyy" and "a.b." count: two fields of one or two
    // digits, the same separator, then a year of two or four digits or nothing (what
    // follows the year, a time for one, does not matter). ISO dates start with the year and
    // say nothing here.
    std::size_t index = 0;
    const auto skipSpaces = [&] {
        while (index < text.size() && (text[index] == ' ' || text[index] == '\t')) ++index;
    };
    const auto number = [&](std::size_t maximumDigits) -> std::optional<std::pair<int, int>> {
        int value = 0;
        int digits = 0;
        while (index < text.size() && text[index] >= '0' && text[index] <= '9' &&
               digits <= static_cast<int>(maximumDigits)) {
            value = value * 10 + (text[index] - '0');
            ++digits;
            ++index;
        }
        if (digits == 0 || digits > static_cast<int>(maximumDigits)) return std::nullopt;
        return std::make_pair(value, digits);
    };
    skipSpaces();
    const auto first = number(2);
    if (!first || index >= text.size()) return;
    const char separator = text[index++];
    if (separator != '/' && separator != '.' && separator != '-') return;
    const auto second = number(2);
    if (!second) return;
    if (index < text.size() && text[index] == separator) {
        ++index;
        skipSpaces();
        if (index < text.size()) {
            const auto year = number(4);
            if (!year || year->second == 1 || year->second == 3) return;
            if (index < text.size() && text[index] != ' ' && text[index] != 'T') return;
        }
    } else {
        skipSpaces();
        if (index != text.size()) return;
    }
    if (first->first > 12 && first->first <= 31) dayFirstSeen_ = true;
    if (second->first > 12 && second->first <= 31) monthFirstSeen_ = true;
}

DayMonthOrder DayMonthOrderEvidence::order() const {
    if (dayFirstSeen_ == monthFirstSeen_) return DayMonthOrder::undecided;
    return dayFirstSeen_ ? DayMonthOrder::dayFirst : DayMonthOrder::monthFirst;
}

std::optional<CalendarDate> detectDate(std::string_view text, std::string_view localeIdentifier,
                                       DayMonthOrder order) {
    const auto notation = notationFor(localeIdentifier);
    const Detector detector(tokenize(text), *notation, order);
    return detector.firstDate();
}

std::optional<MonthDay> detectDayWithoutYear(std::string_view text,
                                             std::string_view localeIdentifier) {
    const auto notation = notationFor(localeIdentifier);
    const DayWithoutYearReader reader(tokenize(text), notation->months);
    return reader.read();
}

}  // namespace pelkora::dates
