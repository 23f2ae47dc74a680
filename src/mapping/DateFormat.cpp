#include "mapping/DateFormat.h"

#include <algorithm>
#include <array>

#include "platform/SettingsStore.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/Settings.h"

namespace pelkora {
namespace {

// Patterns every locale reads: a plain ISO day and the two timestamps that exporters write.
constexpr std::array<std::string_view, 3> fixedDatePatterns{"y-M-d", "yyyy-MM-dd'T'HH:mm:ss'Z'",
                                                            "yyyy-MM-dd HH:mm:ss"};

// The locale a format without one is read with: the platform's identifier for no locale.
constexpr std::string_view undefinedLocale = "-undef-";

struct DateParsingErrorText {
    DateParsingError error;
    const char* text;  // marked with N_, translated when shown
};

constexpr std::array<DateParsingErrorText, 4> dateParsingErrorTexts{{
    {DateParsingError::emptyFormatString, N_("Missing Format String")},
    {DateParsingError::emptyTestString, N_("Missing Test String")},
    {DateParsingError::parsingFailed, N_("Parsing Failed")},
    {DateParsingError::unknownLocale, ""},
}};

KeyedArchiveClassMap dateFormatClasses(std::function<void(std::string_view)> delegate) {
    KeyedArchiveClassMap classes;
    classes.classes = {std::string(DateFormat::archivedClassName)};
    classes.aliases = {{"Pelkora.QvDateFormat", std::string(DateFormat::archivedClassName)}};
    classes.unknownClass = std::move(delegate);
    return classes;
}

bool containsYear(std::string_view pattern) {
    return pattern.find_first_of("yY") != std::string_view::npos;
}

contacts::DateComponents components(const dates::CalendarDate& date, bool withYear) {
    contacts::DateComponents result;
    if (withYear) result.year = date.year;
    result.month = date.month;
    result.day = date.day;
    return result;
}

// The order of numeric day and month a pattern reads ("dd/MM/yyyy" day first); undecided
// when it starts with the year (ISO's "y-M-d" says nothing about "3/4/1975"), spells the
// month out or lacks the day or the month.
dates::DayMonthOrder patternDayMonthOrder(std::string_view pattern) {
    std::size_t day = std::string_view::npos;
    std::size_t month = std::string_view::npos;
    std::size_t monthLetters = 0;
    std::size_t year = std::string_view::npos;
    bool quoted = false;
    for (std::size_t index = 0; index < pattern.size(); ++index) {
        const char letter = pattern[index];
        if (letter == '\'') {
            quoted = !quoted;
        } else if (quoted) {
            continue;
        } else if (letter == 'd' && day == std::string_view::npos) {
            day = index;
        } else if (letter == 'M' && month == std::string_view::npos) {
            month = index;
            while (index < pattern.size() && pattern[index] == 'M') {
                ++monthLetters;
                ++index;
            }
            --index;
        } else if ((letter == 'y' || letter == 'Y') && year == std::string_view::npos) {
            year = index;
        }
    }
    if (day == std::string_view::npos || month == std::string_view::npos || monthLetters > 2)
        return dates::DayMonthOrder::undecided;
    if (year != std::string_view::npos && year < day && year < month)
        return dates::DayMonthOrder::undecided;
    return month < day ? dates::DayMonthOrder::monthFirst : dates::DayMonthOrder::dayFirst;
}

// Steps: (1) the detector over the whole text, whose first date wins before any format;
// (2) the detector of days without a year; (3) each format in order, a common format only
// when it does not contradict the column's order of day and month, read with its own locale or
// "-undef-"; the first that reads the text wins, with a year only when its pattern has a year
// letter; (4) none.
std::optional<contacts::DateComponents> parseText(std::string_view text,
                                                  const std::vector<DateFormat>& formats,
                                                  dates::DateFormatter& formatter,
                                                  std::string_view detectorLocale,
                                                  dates::DayMonthOrder order) {
    if (auto detected = dates::detectDate(text, detectorLocale, order))
        return components(*detected, true);
    if (auto day = dates::detectDayWithoutYear(text, detectorLocale))
        return contacts::DateComponents{std::nullopt, day->month, day->day, {}};
    for (const auto& format : formats) {
        // The user's own formats are what the user says the files hold; they always stay.
        if (order != dates::DayMonthOrder::undecided && !format.userDefined) {
            const auto formatOrder = patternDayMonthOrder(format.format);
            if (formatOrder != dates::DayMonthOrder::undecided && formatOrder != order) continue;
        }
        formatter.setDateFormat(format.format);
        formatter.setLocaleIdentifier(
            format.localeIdentifier ? std::string_view(*format.localeIdentifier) : undefinedLocale);
        if (auto date = formatter.date(text)) {
            return components(dates::calendarDateOf(*date), containsYear(format.format));
        }
    }
    return std::nullopt;
}

}  // namespace

ArchiveValue DateFormat::archived() const {
    auto object = std::make_shared<ArchivedObject>();
    object->className = std::string(archivedClassName);
    object->fields["format"] = ArchiveValue(format);
    if (localeIdentifier) object->fields["localeIdentifier"] = ArchiveValue(*localeIdentifier);
    object->fields["userDefined"] = ArchiveValue(ArchiveValue::InlineBool{userDefined});
    return ArchiveValue(std::shared_ptr<const ArchivedObject>(std::move(object)));
}

DateFormat DateFormat::fromArchive(const ArchivedObject& object) {
    DateFormat record;
    if (auto text = object.stringField("format")) record.format = *text;
    if (auto text = object.stringField("localeIdentifier")) record.localeIdentifier = *text;
    if (auto flag = object.boolField("userDefined")) record.userDefined = *flag;
    return record;
}

std::string archiveDateFormats(const std::vector<DateFormat>& formats) {
    ArchiveValue::Array list;
    list.reserve(formats.size());
    for (const auto& format : formats) list.push_back(format.archived());
    return encodeKeyedArchive(ArchiveValue(std::move(list)));
}

std::vector<DateFormat> DateFormat::unarchiveCustomFormats(
    SettingsStore& settings, std::function<void(std::string_view className)> delegate) {
    const auto stored = settings.object(SettingKey::CustomDateFormats);
    if (!stored || !stored->dataValue()) return {};
    const auto& bytes = *stored->dataValue();
    auto decoded = decodeKeyedArchive(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
        dateFormatClasses(std::move(delegate)));
    // A failed decoding is the platform's decodeObject returning nil: no root object.
    if (!decoded || decoded->isNull()) {
        writeLog(LogType::error,
                 "Cannot unarchive custom date formats: unarchiver.decodeObject() returned nil");
        return {};
    }
    const auto* list = decoded->arrayValue();
    if (!list) return {};
    std::vector<DateFormat> formats;
    formats.reserve(list->size());
    for (const auto& element : *list) {
        const auto* object = element.objectValue();
        if (!object || object->className != archivedClassName) return {};
        formats.push_back(fromArchive(*object));
    }
    return formats;
}

void DateFormat::archiveWithCustomFormats(const std::vector<DateFormat>& formats,
                                          SettingsStore& settings) {
    const std::string bytes = archiveDateFormats(formats);
    settings.set(SettingKey::CustomDateFormats,
                 PropertyValue(PropertyValue::Data(bytes.begin(), bytes.end())));
    if (auto written = settings.synchronize(); !written) {
        writeLog(LogType::error, "Failed to synchronize the user's preferences!");
        writeLog(LogType::error, "%{public}@", written.error().message);
    }
}

std::vector<std::string> commonDatePatterns(std::string_view localeIdentifier) {
    std::vector<std::string> patterns(fixedDatePatterns.begin(), fixedDatePatterns.end());
    for (std::string_view skeleton : commonDateSkeletons) {
        if (auto pattern = dates::bestPattern(skeleton, localeIdentifier))
            patterns.push_back(*pattern);
    }
    return patterns;
}

std::vector<DateFormat> commonDateFormats(std::string_view localeIdentifier,
                                          std::string_view languageCode) {
    std::vector<DateFormat> formats;
    for (auto& pattern : commonDatePatterns(localeIdentifier)) {
        formats.emplace_back(std::move(pattern), std::string(languageCode), false);
    }
    return formats;
}

std::vector<DateFormat> commonDateFormats() {
    return commonDateFormats(dates::currentLocaleIdentifier(), dates::currentLanguageCode());
}

std::vector<DateFormat> parserDateFormats(const std::vector<DateFormat>& customFormats,
                                          const std::vector<DateFormat>& commonFormats) {
    std::vector<DateFormat> formats = customFormats;
    formats.insert(formats.end(), commonFormats.begin(), commonFormats.end());
    return formats;
}

std::optional<contacts::DateComponents> parseDate(const DateCellValue& value,
                                                  const std::vector<DateFormat>& formats,
                                                  dates::DateFormatter& formatter,
                                                  std::string_view detectorLocale,
                                                  dates::DayMonthOrder order) {
    // Steps: a date cell gives its day without any text parsing; a text goes through
    // parseText; nothing and every other kind of value give none.
    if (const auto* date = std::get_if<std::chrono::system_clock::time_point>(&value)) {
        return components(dates::calendarDateOf(*date), true);
    }
    if (const auto* text = std::get_if<std::string_view>(&value)) {
        return parseText(*text, formats, formatter, detectorLocale, order);
    }
    return std::nullopt;
}

std::optional<contacts::DateComponents> parseDate(const DateCellValue& value,
                                                  const std::vector<DateFormat>& formats,
                                                  dates::DateFormatter& formatter) {
    return parseDate(value, formats, formatter, dates::currentLocaleIdentifier());
}

bool isNoDatePlaceholder(std::string_view text) {
    // The fields of a numeric date: digits separated by one kind of "/", ".", "-".
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    std::vector<std::string_view> fields;
    char separator = 0;
    std::size_t start = 0;
    for (std::size_t index = 0; index <= text.size(); ++index) {
        if (index < text.size() && text[index] >= '0' && text[index] <= '9') continue;
        if (index < text.size()) {
            const char character = text[index];
            if (character != '/' && character != '.' && character != '-') return false;
            if (separator != 0 && character != separator) return false;
            separator = character;
        }
        fields.push_back(text.substr(start, index - start));
        start = index + 1;
    }
    // "00.01.1900" may end in a dot in German notation; an empty last field after one is fine.
    if (separator == '.' && fields.size() == 4 && fields.back().empty()) fields.pop_back();
    if (fields.size() != 3) return false;
    int values[3] = {};
    for (std::size_t index = 0; index < 3; ++index) {
        if (fields[index].empty() || fields[index].size() > 4) return false;
        for (char digit : fields[index]) values[index] = values[index] * 10 + (digit - '0');
    }
    if (values[0] == 0 && values[1] == 0 && values[2] == 0) return true;
    // Day zero of 1900 in the three orders it is written in.
    const bool yearFirst = fields[0].size() == 4;
    if (yearFirst) return values[0] == 1900 && values[1] == 1 && values[2] == 0;
    if (fields[2].size() != 4 || values[2] != 1900) return false;
    return (values[0] == 1 && values[1] == 0) || (values[0] == 0 && values[1] == 1);
}

std::string errorText(DateParsingError error) {
    for (const auto& entry : dateParsingErrorTexts) {
        if (entry.error == error) {
            if (*entry.text == '\0') return {};
            return localizedString(entry.text, "Result of testing a date format");
        }
    }
    return {};
}

Expected<DateTestResult, DateParsingError> testDateFormat(
    std::string_view format, const std::optional<std::string>& localeIdentifier,
    std::string_view testText) {
    if (format.empty()) return Unexpected(DateParsingError::emptyFormatString);
    if (testText.empty()) return Unexpected(DateParsingError::emptyTestString);
    if (!localeIdentifier || localeIdentifier->empty()) {
        return Unexpected(DateParsingError::unknownLocale);
    }
    dates::DateFormatter formatter;
    formatter.setLocaleIdentifier(*localeIdentifier);
    formatter.setDateFormat(format);
    const auto date = formatter.date(testText);
    if (!date) return Unexpected(DateParsingError::parsingFailed);
    const auto read = components(dates::calendarDateOf(*date), containsYear(format));
    // A day without a year is shown without the year the formatter filled in.
    std::string displayText = read.year
                                  ? dates::longDateText(*date)
                                  : dates::calendarDayText(std::nullopt, *read.month, *read.day);
    return DateTestResult{read, std::move(displayText)};
}

}  // namespace pelkora
