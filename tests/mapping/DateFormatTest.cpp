#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "TestSupport.h"
#include "mapping/DateFormat.h"
#include "platform/SettingsStore.h"
#include "propertylist/PropertyList.h"
#include "support/Settings.h"
#include "text/DateFormatting.h"

namespace pelkora {
namespace {

using contacts::DateComponents;
using dates::CalendarDate;
using dates::detectDate;

DateComponents fullDate(int year, int month, int day) {
    return DateComponents{year, month, day, {}};
}
DateComponents dayOfYear(int month, int day) {
    return DateComponents{std::nullopt, month, day, {}};
}

std::chrono::system_clock::time_point noonUtc(int year, unsigned month, unsigned day) {
    const std::chrono::sys_days days = std::chrono::year_month_day(
        std::chrono::year(year), std::chrono::month(month), std::chrono::day(day));
    return days + std::chrono::hours(12);
}

PropertyValue storedData(const std::string& bytes) {
    return PropertyValue(PropertyValue::Data(bytes.begin(), bytes.end()));
}

// ---- The date detector

TEST(DateDetector, FindsDatesInNaturalNotation) {
    EXPECT_EQ(detectDate("12 March 1980", "en_US"), (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(detectDate("March 12, 1980", "en_US"), (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(detectDate("Mar 12th 1980", "en_US"), (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(detectDate("12th Sept. 1980", "en_GB"), (CalendarDate{1980, 9, 12}));
    EXPECT_EQ(detectDate("12-Mar-1980", "en_US"), (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(detectDate("1980-03-12", "en_US"), (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(detectDate("12.03.1980", "en_US"), (CalendarDate{1980, 3, 12}));
}

TEST(DateDetector, ReadsMonthNamesOfTheLocaleInAnyCase) {
    EXPECT_EQ(detectDate("12. März 1980", "de_DE"), (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(detectDate("3. OKTOBER 2001", "de_DE"), (CalendarDate{2001, 10, 3}));
    EXPECT_EQ(detectDate("1 février 1999", "fr_FR"), (CalendarDate{1999, 2, 1}));
    // English is always understood.
    EXPECT_EQ(detectDate("12 march 1980", "de_DE"), (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(detectDate("12. März 1980", "en_US"), std::nullopt);
}

TEST(DateDetector, SlashedDatesFollowTheLocalesOrder) {
    EXPECT_EQ(detectDate("3/12/1980", "en_US"), (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(detectDate("3/12/1980", "en_GB"), (CalendarDate{1980, 12, 3}));
    EXPECT_EQ(detectDate("3/12/1980", "de_DE"), (CalendarDate{1980, 12, 3}));
    // Dots mean day first everywhere.
    EXPECT_EQ(detectDate("3.12.1980", "en_US"), (CalendarDate{1980, 12, 3}));
}

TEST(DateDetector, FindsTheFirstDateAnywhereInTheText) {
    EXPECT_EQ(detectDate("born on 12 March 1980 in Bonn", "en_US"), (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(detectDate("Geburtstag: 01.02.1975, Taufe 03.04.1975", "de_DE"),
              (CalendarDate{1975, 2, 1}));
    EXPECT_EQ(detectDate("(1999-12-31)", "en_US"), (CalendarDate{1999, 12, 31}));
}

TEST(DateDetector, NumbersPhoneNumbersAndPostalCodesAreNotDates) {
    for (std::string_view text : {"12345",
                                  "1067",
                                  "+49 170 1234567",
                                  "030 1234567",
                                  "030-123-4567",
                                  "(030) 12 03 1980",
                                  "D-01067 Dresden",
                                  "01067",
                                  "80331 München",
                                  "1980",
                                  "12",
                                  "3.14",
                                  "1.2.3.4.5",
                                  "192.168.1.10",
                                  "+49-12-03-1980",
                                  "12.03.1980.5",
                                  "ISBN 978-3-16-148410-0",
                                  "",
                                  "March",
                                  "12 March",
                                  "12.03.",
                                  "Version 2.1.2020a",
                                  "12/2020",
                                  "12:30",
                                  "2020-01",
                                  "DE89 3704 0044 0532 0130 00",
                                  "0170-12-03-1980",
                                  "1980-03-12-5",
                                  "Mai 1980"}) {
        EXPECT_EQ(detectDate(text, "de_DE"), std::nullopt) << text;
        EXPECT_EQ(detectDate(text, "en_US"), std::nullopt) << text;
    }
}

TEST(DateDetector, ImpossibleDaysAreNotDates) {
    EXPECT_EQ(detectDate("31.02.1980", "de_DE"), std::nullopt);
    EXPECT_EQ(detectDate("31 April 1980", "en_US"), std::nullopt);
    EXPECT_EQ(detectDate("1980-13-01", "en_US"), std::nullopt);
    EXPECT_EQ(detectDate("00.01.1980", "de_DE"), std::nullopt);
    EXPECT_EQ(detectDate("29.02.1900", "de_DE"), std::nullopt);
    EXPECT_EQ(detectDate("29.02.2000", "de_DE"), (CalendarDate{2000, 2, 29}));
    EXPECT_EQ(detectDate("13/25/1980", "en_US"), std::nullopt);
}

TEST(DateDetector, NumericDatesFollowTheGivenOrderElseTheLocales) {
    using enum dates::DayMonthOrder;
    EXPECT_EQ(detectDate("03/04/1975", "en_US", dayFirst), (CalendarDate{1975, 4, 3}));
    EXPECT_EQ(detectDate("03/04/1975", "fr_FR", monthFirst), (CalendarDate{1975, 3, 4}));
    EXPECT_EQ(detectDate("03/04/1975", "fr_FR", undecided), (CalendarDate{1975, 4, 3}));
    EXPECT_EQ(detectDate("25/12/1990", "en_US", undecided), std::nullopt);
    EXPECT_EQ(detectDate("25/12/1990", "en_US", dayFirst), (CalendarDate{1990, 12, 25}));
    // Dots are day first whatever the order.
    EXPECT_EQ(detectDate("03.04.1975", "en_US", monthFirst), (CalendarDate{1975, 4, 3}));
}

TEST(DateDetector, LocalesWriteDayOrMonthFirst) {
    using enum dates::DayMonthOrder;
    const std::pair<std::string_view, dates::DayMonthOrder> locales[] = {
        {"fr", dayFirst},   {"de_DE", dayFirst},   {"en_GB", dayFirst},
        {"en", monthFirst}, {"en_US", monthFirst}, {"en_US_POSIX", monthFirst}};
    for (const auto& [locale, order] : locales)
        EXPECT_EQ(dates::dayMonthOrderOfLocale(locale), order) << locale;
}

TEST(DateDetector, ColumnValuesDecideTheOrder) {
    using enum dates::DayMonthOrder;
    const std::pair<std::vector<std::string_view>, dates::DayMonthOrder> columns[] = {
        {{"03/04/1975", "25/12/1990", ""}, dayFirst},
        {{"03/04/1975", "12/25/1990"}, monthFirst},
        {{"03-04-1975", "12-25-1990"}, monthFirst},
        {{"21.06.", "13.01.80"}, dayFirst},
        {{"25/12/90 10:00"}, dayFirst},
        {{"03/04/1975", "01/02/1980"}, undecided},
        {{"25/12/1990", "12/25/1990"}, undecided},
        {{"1990-12-25", "1990-25-12", "25 December 1990"}, undecided},
        {{"+49 170 1234567", "13/14/1990", "32/01/1990", "25/12/199"}, undecided},
        {{}, undecided},
    };
    for (const auto& [texts, order] : columns) {
        dates::DayMonthOrderEvidence evidence;
        for (auto text : texts) evidence.add(text);
        EXPECT_EQ(evidence.order(), order) << (texts.empty() ? "" : texts.front());
    }
}

TEST(DateDetector, DaysWithoutAYearMustBeTheWholeText) {
    using dates::MonthDay;
    const std::tuple<std::string_view, std::string_view, std::optional<MonthDay>> texts[] = {
        {"--06-21", "en_US", MonthDay{6, 21}},    {"--0621", "en_US", MonthDay{6, 21}},
        {" 21.06. ", "en_US", MonthDay{6, 21}},   {"21 June", "en_US", MonthDay{6, 21}},
        {"June 21", "en_US", MonthDay{6, 21}},    {"Jun. 21st", "en_US", MonthDay{6, 21}},
        {"21. Juni", "de_DE", MonthDay{6, 21}},   {"21 juin", "fr_FR", MonthDay{6, 21}},
        {"29.02.", "de_DE", MonthDay{2, 29}},     {"30.02.", "de_DE", std::nullopt},
        {"--13-01", "en_US", std::nullopt},       {"--0632", "en_US", std::nullopt},
        {"21.06", "de_DE", std::nullopt},         {"21 June 1980", "en_US", std::nullopt},
        {"May 5 at noon", "en_US", std::nullopt}, {"June", "en_US", std::nullopt},
    };
    for (const auto& [text, locale, day] : texts)
        EXPECT_EQ(dates::detectDayWithoutYear(text, locale), day) << text;
}

TEST(DateDetector, TwoDigitYearsUseTheEightyTwentyWindow) {
    const auto today = std::chrono::year_month_day(
        std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()));
    const int thisYear = static_cast<int>(today.year());
    const auto detected = detectDate("12.03.80", "de_DE");
    ASSERT_TRUE(detected);
    EXPECT_EQ(detected->year % 100, 80);
    EXPECT_GT(detected->year, thisYear - 80);
    EXPECT_LE(detected->year, thisYear + 20);
}

// ---- The platform's formatter

TEST(DateFormatter, ReadsWholeTextsWithPatternAndLocale) {
    dates::DateFormatter formatter;
    formatter.setLocaleIdentifier("de");
    formatter.setDateFormat("d. MMMM yyyy");
    ASSERT_TRUE(formatter.date("12. März 1980"));
    EXPECT_EQ(dates::calendarDateOf(*formatter.date(" 12. März 1980 ")),
              (CalendarDate{1980, 3, 12}));
    EXPECT_EQ(formatter.date("12. März 1980 und mehr"), std::nullopt);
    formatter.setLocaleIdentifier("en");
    EXPECT_EQ(formatter.date("12. März 1980"), std::nullopt);
    EXPECT_TRUE(formatter.date("12. March 1980"));
    // Back to a pattern and locale it has read with before.
    formatter.setLocaleIdentifier("de");
    EXPECT_TRUE(formatter.date("12. März 1980"));
    formatter.setDateFormat("");
    EXPECT_EQ(formatter.date("12. März 1980"), std::nullopt);
}

struct StrictReading {
    std::string_view pattern;
    std::string_view text;
    std::optional<CalendarDate> date;  // none: not a date
};

TEST(DateFormatter, ReadsStrictlyWithoutRollingOver) {
    // Two-digit years by ICU's window, 80 years back to 20 ahead: "03" is 2003, "95" 1995
    // (until 2075).
    const StrictReading readings[] = {
        {"dd/MM/yyyy", "31/02/2000", std::nullopt},
        {"dd/MM/yyyy", "00/01/2000", std::nullopt},
        {"dd/MM/yyyy", "13/13/2000", std::nullopt},
        {"MM/dd/yyyy", "25/12/1990", std::nullopt},
        {"yyyy-MM-dd", "2000-02-30", std::nullopt},
        {"yyyy-MM-dd", "2001-02-29", std::nullopt},
        {"M/d/yy", "0/0/00", std::nullopt},
        {"dd.MM.yyyy", "32.01.2000", std::nullopt},
        {"dd.MM.", "30.02.", std::nullopt},
        {"dd/MM/yyyy", "29/02/2000", CalendarDate{2000, 2, 29}},
        {"dd/MM/yyyy", "25/12/1990", CalendarDate{1990, 12, 25}},
        {"MM/dd/yyyy", "12/25/1990", CalendarDate{1990, 12, 25}},
        {"M/d/yy", "1/2/03", CalendarDate{2003, 1, 2}},
        {"M/d/yy", "1/2/95", CalendarDate{1995, 1, 2}},
        {"M/d/y", "1/2/03", CalendarDate{2003, 1, 2}},
        // Without a year the day is one of 2000, so 29 February exists.
        {"dd.MM.", "29.02.", CalendarDate{2000, 2, 29}},
    };
    dates::DateFormatter formatter;
    formatter.setLocaleIdentifier("en");
    for (const auto& reading : readings) {
        formatter.setDateFormat(reading.pattern);
        const auto date = formatter.date(reading.text);
        EXPECT_EQ(date ? std::optional(dates::calendarDateOf(*date)) : std::nullopt, reading.date)
            << reading.pattern << " " << reading.text;
    }
}

TEST(DateFormatter, TwoLetterYearFieldReadsTwoDigitYears) {
    dates::DateFormatter formatter;
    formatter.setLocaleIdentifier("de");
    formatter.setDateFormat("dd.MM.yy");
    const auto date = formatter.date("12.03.80");
    ASSERT_TRUE(date);
    EXPECT_EQ(dates::calendarDateOf(*date).year % 100, 80);
}

// ---- The record and its archive form

TEST(DateFormat, InitialisersAndCopies) {
    const DateFormat empty;
    EXPECT_EQ(empty.format, "");
    EXPECT_EQ(empty.localeIdentifier, std::nullopt);
    EXPECT_FALSE(empty.userDefined);
    const DateFormat full("dd.MM.", "de", true);
    DateFormat copy = full;
    EXPECT_EQ(copy, full);
    copy.format = "d.M.";
    EXPECT_EQ(full.format, "dd.MM.");
}

TEST(DateFormat, ArchiveWritesLocaleOnlyWhenPresent) {
    const auto withLocale = DateFormat("dd.MM.yyyy", "de", true).archived();
    ASSERT_TRUE(withLocale.objectValue());
    EXPECT_EQ(withLocale.objectValue()->className, "QvDateFormat");
    EXPECT_EQ(withLocale.objectValue()->stringField("localeIdentifier"), "de");
    EXPECT_EQ(withLocale.objectValue()->boolField("userDefined"), true);

    const auto withoutLocale = DateFormat("y-M-d", std::nullopt, false).archived();
    EXPECT_EQ(withoutLocale.objectValue()->field("localeIdentifier"), nullptr);
    EXPECT_EQ(withoutLocale.objectValue()->stringField("format"), "y-M-d");
}

TEST(DateFormat, DecodingKeepsDefaultsForFieldsThatAreNotTexts) {
    ArchivedObject object;
    object.className = "QvDateFormat";
    object.fields["format"] = ArchiveValue(12);
    object.fields["localeIdentifier"] = ArchiveValue(true);
    EXPECT_EQ(DateFormat::fromArchive(object), DateFormat());
}

class DateFormatCustomFormats : public ::testing::Test {
  protected:
    test::TemporaryDirectory folder_;
    SettingsStore settings_{folder_ / "settings.plist"};
    const std::string key_{SettingKey::CustomDateFormats};
};

TEST_F(DateFormatCustomFormats, RoundTripThroughTheSettingsAsBinaryData) {
    const std::vector<DateFormat> formats{{"dd.MM.", "de", true}, {"yyyy/M/d", std::nullopt, true}};
    DateFormat::archiveWithCustomFormats(formats, settings_);
    const auto stored = settings_.object(key_);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->dataValue());
    EXPECT_EQ(DateFormat::unarchiveCustomFormats(settings_), formats);

    // Written to the file at once, not at the next synchronisation.
    SettingsStore reloaded(settings_.file());
    EXPECT_EQ(DateFormat::unarchiveCustomFormats(reloaded), formats);
}

TEST_F(DateFormatCustomFormats, ModuleQualifiedClassNameIsReadBack) {
    auto object = std::make_shared<ArchivedObject>();
    object->className = "Pelkora.QvDateFormat";
    object->fields["format"] = ArchiveValue("d.M.yyyy");
    object->fields["localeIdentifier"] = ArchiveValue("de");
    object->fields["userDefined"] = ArchiveValue(ArchiveValue::InlineBool{true});
    const ArchiveValue root(ArchiveValue::Array{ArchiveValue(std::move(object))});
    settings_.set(key_, storedData(encodeKeyedArchive(root)));
    EXPECT_EQ(DateFormat::unarchiveCustomFormats(settings_),
              (std::vector<DateFormat>{{"d.M.yyyy", "de", true}}));
}

TEST_F(DateFormatCustomFormats, AbsentOrNonBinarySettingGivesNone) {
    test::LogCapture log;
    EXPECT_TRUE(DateFormat::unarchiveCustomFormats(settings_).empty());
    settings_.set(key_, PropertyValue("dd.MM.yyyy"));
    EXPECT_TRUE(DateFormat::unarchiveCustomFormats(settings_).empty());
    EXPECT_TRUE(log.messages().empty());
}

TEST_F(DateFormatCustomFormats, UnreadableArchiveLogsAndGivesNone) {
    test::LogCapture log;
    settings_.set(key_, storedData("not an archive"));
    EXPECT_TRUE(DateFormat::unarchiveCustomFormats(settings_).empty());
    EXPECT_TRUE(log.contains(
        "Cannot unarchive custom date formats: unarchiver.decodeObject() returned nil"));
}

TEST_F(DateFormatCustomFormats, UnknownClassIsToldToTheDelegate) {
    test::LogCapture log;
    auto object = std::make_shared<ArchivedObject>();
    object->className = "SomethingElse";
    settings_.set(
        key_, storedData(encodeKeyedArchive(ArchiveValue::Array{ArchiveValue(std::move(object))})));
    std::vector<std::string> told;
    const auto formats = DateFormat::unarchiveCustomFormats(
        settings_, [&](std::string_view className) { told.emplace_back(className); });
    EXPECT_TRUE(formats.empty());
    EXPECT_EQ(told, std::vector<std::string>{"SomethingElse"});
    EXPECT_TRUE(log.contains("unarchiver.decodeObject() returned nil"));
}

TEST_F(DateFormatCustomFormats, RootThatIsNotAListOfRecordsGivesNone) {
    settings_.set(key_, storedData(encodeKeyedArchive(ArchiveValue("dd.MM.yyyy"))));
    EXPECT_TRUE(DateFormat::unarchiveCustomFormats(settings_).empty());
    settings_.set(key_,
                  storedData(encodeKeyedArchive(ArchiveValue::Array{ArchiveValue("dd.MM.yyyy")})));
    EXPECT_TRUE(DateFormat::unarchiveCustomFormats(settings_).empty());
}

// ---- Common formats

TEST(DateFormat, CommonPatternsStartWithTheFixedOnesThenFollowTheSkeletons) {
    const auto patterns = commonDatePatterns("de");
    ASSERT_GE(patterns.size(), 3u + std::size(commonDateSkeletons));
    EXPECT_EQ(patterns[0], "y-M-d");
    EXPECT_EQ(patterns[1], "yyyy-MM-dd'T'HH:mm:ss'Z'");
    EXPECT_EQ(patterns[2], "yyyy-MM-dd HH:mm:ss");
    for (std::size_t index = 0; index < std::size(commonDateSkeletons); ++index) {
        EXPECT_EQ(patterns[3 + index], dates::bestPattern(commonDateSkeletons[index], "de"))
            << commonDateSkeletons[index];
    }
    EXPECT_EQ(patterns[3], "d.M.y");
}

TEST(DateFormat, CommonFormatsCarryTheLanguageCodeAndAreBuiltIn) {
    const auto formats = commonDateFormats("de_DE", "de");
    ASSERT_FALSE(formats.empty());
    for (const auto& format : formats) {
        EXPECT_EQ(format.localeIdentifier, "de");
        EXPECT_FALSE(format.userDefined);
    }
}

// ---- The parser

class DateParser : public ::testing::Test {
  protected:
    std::optional<DateComponents> parse(const DateCellValue& value,
                                        const std::vector<DateFormat>& formats,
                                        std::string_view detectorLocale = "de_DE") {
        return parseDate(value, formats, formatter_, detectorLocale);
    }
    dates::DateFormatter formatter_;
    const std::vector<DateFormat> common_ = commonDateFormats("de_DE", "de");
};

TEST_F(DateParser, NothingAndOtherValuesGiveNone) {
    EXPECT_EQ(parse(std::monostate{}, common_), std::nullopt);
    EXPECT_EQ(parse(19800312.0, common_), std::nullopt);
    EXPECT_EQ(parse(true, common_), std::nullopt);
}

TEST_F(DateParser, DateCellGivesItsDayWithoutAnyFormat) {
    EXPECT_EQ(parse(noonUtc(1980, 3, 12), {}), fullDate(1980, 3, 12));
}

TEST_F(DateParser, DetectorReadsNaturalDatesNoFormatMatches) {
    EXPECT_EQ(parse(std::string_view("12 March 1980"), {}), fullDate(1980, 3, 12));
}

TEST_F(DateParser, DetectorComesBeforeEveryFormat) {
    // Read as a format, this would be the fourth of December.
    const std::vector<DateFormat> formats{{"MM.dd.yyyy", "en", true}};
    EXPECT_EQ(parse(std::string_view("12.04.1980"), formats), fullDate(1980, 4, 12));
}

TEST_F(DateParser, FormatWithoutYearGivesMonthAndDayOnly) {
    const std::vector<DateFormat> formats = parserDateFormats({{"dd.MM.", "de", true}}, common_);
    EXPECT_EQ(parse(std::string_view("12.03."), formats), dayOfYear(3, 12));
}

TEST_F(DateParser, CustomFormatComesBeforeCommonFormats) {
    const std::vector<DateFormat> custom{{"yyyy-dd-MM", std::nullopt, true}};
    const auto formats = parserDateFormats(custom, common_);
    EXPECT_EQ(formats.front(), custom.front());
    // "y-M-d" would read the same text as the third of December.
    EXPECT_EQ(parse(std::string_view("1980-12-03x"), {{"yyyy-dd-MM'x'", std::nullopt, true}}),
              fullDate(1980, 3, 12));
    EXPECT_EQ(parse(std::string_view("1980-31-12 "), formats, "en_US"), fullDate(1980, 12, 31));
}

TEST_F(DateParser, CommonFormatsReadTheLocalesNotation) {
    EXPECT_EQ(parse(std::string_view("2020-01-02T10:00:00Z"), common_), fullDate(2020, 1, 2));
    EXPECT_EQ(parse(std::string_view("1980-03-12 08:15:00"), common_), fullDate(1980, 3, 12));
    EXPECT_EQ(parse(std::string_view("12. März"), common_), dayOfYear(3, 12));
}

TEST_F(DateParser, FormatWithoutLocaleReadsWithTheUndefinedLocale) {
    EXPECT_EQ(parse(std::string_view("12/1980/03"), {{"dd/yyyy/MM", std::nullopt, true}}),
              fullDate(1980, 3, 12));
    EXPECT_EQ(formatter_.localeIdentifier(), "-undef-");
    EXPECT_EQ(formatter_.dateFormat(), "dd/yyyy/MM");
}

TEST_F(DateParser, TextNoFormatReadsGivesNone) {
    EXPECT_EQ(parse(std::string_view("sometime in spring"), common_), std::nullopt);
    EXPECT_EQ(parse(std::string_view("+49 170 1234567"), common_), std::nullopt);
    EXPECT_EQ(parse(std::string_view(""), common_), std::nullopt);
}

TEST_F(DateParser, NoDayIsInventedFromAnImpossibleText) {
    const auto english = commonDateFormats("en_US", "en");
    for (std::string_view text : {"31/02/2000", "00/01/2000", "13/13/2000", "2000-02-30", "0/0/00",
                                  "32.01.2000", "--00-12"}) {
        EXPECT_EQ(parse(text, english, "en_US"), std::nullopt) << text;
        EXPECT_EQ(parse(text, common_, "de_DE"), std::nullopt) << text;
    }
    // Day first only: English reads month first and finds no month 25.
    EXPECT_EQ(parse(std::string_view("25/12/1990"), english, "en_US"), std::nullopt);
    EXPECT_EQ(parse(std::string_view("25/12/1990"), common_, "de_DE"), fullDate(1990, 12, 25));
}

TEST_F(DateParser, DecidedOrderReadsAmbiguousDatesAndSkipsFormatsOfTheOtherOrder) {
    using enum dates::DayMonthOrder;
    const auto english = commonDateFormats("en_US", "en");
    EXPECT_EQ(parseDate(std::string_view("03/04/1975"), english, formatter_, "en_US", dayFirst),
              fullDate(1975, 4, 3));
    EXPECT_EQ(parseDate(std::string_view("25/12/1990"), english, formatter_, "en_US", dayFirst),
              fullDate(1990, 12, 25));
    // English's "M/d" would read 4 March; a day-first column has no format for "3/4".
    EXPECT_EQ(parseDate(std::string_view("3/4"), english, formatter_, "en_US", dayFirst),
              std::nullopt);
    EXPECT_EQ(parseDate(std::string_view("3/4"), english, formatter_, "en_US", monthFirst),
              dayOfYear(3, 4));
    // The user's own format says what the files hold and is never skipped.
    EXPECT_EQ(
        parseDate(std::string_view("3/4"), {{"M/d", "en", true}}, formatter_, "en_US", dayFirst),
        dayOfYear(3, 4));
    // Year-first patterns say nothing about the order and stay.
    EXPECT_EQ(parseDate(std::string_view("1975/4/3"), {{"y/M/d", "en", true}}, formatter_, "en_US",
                        dayFirst),
              fullDate(1975, 4, 3));
}

TEST_F(DateParser, TwoDigitYearsFollowThePlatformsWindow) {
    // 80 years back to 20 ahead of today: these hold until 2075.
    const auto english = commonDateFormats("en_US", "en");
    EXPECT_EQ(parse(std::string_view("1/2/03"), english, "en_US"), fullDate(2003, 1, 2));
    EXPECT_EQ(parse(std::string_view("1/2/95"), english, "en_US"), fullDate(1995, 1, 2));
    EXPECT_EQ(parse(std::string_view("1/2/03"), common_, "de_DE"), fullDate(2003, 2, 1));
}

TEST_F(DateParser, DaysWithoutAYearKeepNoYear) {
    for (std::string_view text : {"--06-21", "--0621", "21.06.", "21 June", "June 21"})
        EXPECT_EQ(parse(text, {}, "en_US"), dayOfYear(6, 21)) << text;
}

TEST(DateFormat, NoDatePlaceholders) {
    const std::pair<std::string_view, bool> texts[] = {
        {"0/0/00", true},      {"00.00.0000", true},
        {"0000-00-00", true},  {" 00/00/0000 ", true},
        {"0.0.0", true},       {"1/0/1900", true},
        {"0/1/1900", true},    {"00.01.1900", true},
        {"00.01.1900.", true}, {"1900-01-00", true},
        {"1/1/1900", false},   {"01.01.1900", false},
        {"1900-01-01", false}, {"0/0", false},
        {"0-0/00", false},     {"", false},
        {"0", false},          {"00.00.0000 x", false},
        {"00000/0/0", false},  {"1/0/1901", false},
    };
    for (const auto& [text, placeholder] : texts)
        EXPECT_EQ(isNoDatePlaceholder(text), placeholder) << text;
}

// ---- The format page's live test

TEST(DateParsingError, ErrorsCarryTheirTexts) {
    EXPECT_EQ(errorText(DateParsingError::emptyFormatString), "Missing Format String");
    EXPECT_EQ(errorText(DateParsingError::emptyTestString), "Missing Test String");
    EXPECT_EQ(errorText(DateParsingError::parsingFailed), "Parsing Failed");
    EXPECT_EQ(errorText(DateParsingError::unknownLocale), "");
}

TEST(DateFormatTest, ChecksFormatThenTestTextThenLocale) {
    EXPECT_EQ(testDateFormat("", std::nullopt, "").error(), DateParsingError::emptyFormatString);
    EXPECT_EQ(testDateFormat("dd.MM.yyyy", std::nullopt, "").error(),
              DateParsingError::emptyTestString);
    EXPECT_EQ(testDateFormat("dd.MM.yyyy", std::nullopt, "12.03.1980").error(),
              DateParsingError::unknownLocale);
    EXPECT_EQ(testDateFormat("dd.MM.yyyy", "", "12.03.1980").error(),
              DateParsingError::unknownLocale);
    EXPECT_EQ(testDateFormat("dd.MM.yyyy", "de", "Montag").error(),
              DateParsingError::parsingFailed);
    EXPECT_EQ(testDateFormat("dd/MM/yyyy", "en", "31/02/2000").error(),
              DateParsingError::parsingFailed);
}

TEST(DateFormatTest, DayWithoutYearIsShownWithoutOne) {
    const auto result = testDateFormat("dd.MM.", "de", "29.02.");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->components, dayOfYear(2, 29));
    EXPECT_EQ(result->displayText, dates::calendarDayText(std::nullopt, 2, 29));
}

TEST(DateFormatTest, ReadDateIsShownInLongStyle) {
    const auto result = testDateFormat("d. MMMM yyyy", "de", "12. März 1980");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->components, fullDate(1980, 3, 12));
    EXPECT_NE(result->displayText.find("1980"), std::string::npos);
    EXPECT_EQ(result->displayText, dates::longDateText(noonUtc(1980, 3, 12)));
}

// Ancestors' birthdays and years typed one digit at a time lie far from 1970: they are read as
// the dates they are, not lost to an overflow.
TEST(DateFormatTest, YearsFarFromNowAreReadExactly) {
    for (const int year : {2, 1650, 1677, 2263, 9999}) {
        SCOPED_TRACE(year);
        const auto result =
            testDateFormat("d. MMMM y", "de", "24. Dezember " + std::to_string(year));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->components, fullDate(year, 12, 24));
    }
}

}  // namespace
}  // namespace pelkora
