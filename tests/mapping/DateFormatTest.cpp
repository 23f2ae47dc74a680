#include <gtest/gtest.h>

#include <algorithm>

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

TEST(DateFormatter, KeepsThePlatformsLeniency) {
    dates::DateFormatter formatter;
    formatter.setLocaleIdentifier("de");
    formatter.setDateFormat("dd.MM.yyyy");
    const auto date = formatter.date("31.02.1980");
    ASSERT_TRUE(date);
    EXPECT_EQ(dates::calendarDateOf(*date), (CalendarDate{1980, 3, 2}));
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
}

TEST(DateFormatTest, ReadDateIsShownInLongStyle) {
    const auto result = testDateFormat("d. MMMM yyyy", "de", "12. März 1980");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->components, fullDate(1980, 3, 12));
    EXPECT_NE(result->displayText.find("1980"), std::string::npos);
    EXPECT_EQ(result->displayText, dates::longDateText(noonUtc(1980, 3, 12)));
}

}  // namespace
}  // namespace pelkora
