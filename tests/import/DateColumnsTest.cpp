#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "TestSupport.h"
#include "addressbook/ContactKeys.h"
#include "addressbook/sqlite/SqliteContactStore.h"
#include "import/ContactAssembly.h"
#include "import/DateColumns.h"
#include "import/ImportTestSupport.h"
#include "import/TabularDataImportOperation.h"
#include "input/TextReader.h"
#include "mapping/AutoMapping.h"
#include "platform/MainQueue.h"
#include "platform/OperationQueue.h"

namespace pelkora {
namespace {

using namespace contacts;
using dates::DayMonthOrder;

using test::ScopedDefaultLocale;

MappedContactProperty column(std::int64_t index, std::string_view key, std::string title,
                             std::optional<std::string_view> label = std::nullopt) {
    return test::mappedColumn(index, key, std::nullopt, label, std::move(title));
}

DataRow textRow(std::int64_t number, const std::vector<std::string>& texts) {
    DataRow row(number);
    for (std::size_t index = 0; index < texts.size(); ++index)
        row.addText(static_cast<std::int64_t>(index), texts[index]);
    return row;
}

DateComponents day(std::optional<int> year, int month, int dayOfMonth) {
    return DateComponents{year, month, dayOfMonth, {}};
}

TEST(DateColumnsTest, EachDateColumnIsDecidedByItsOwnValues) {
    const std::vector<DataRow> rows{
        textRow(1, {"Name", "Birthday", "Anniversary", "Since", "Note"}),
        textRow(2, {"Ann", "03/04/1975", "12/25/1990", "01/02/2000", "25/12/1990"}),
        textRow(3, {"Bob", "25/12/1990", "", "03/04/2001", ""}),
        textRow(4, {"Cleo", "0/0/00", "05/06/2007", "", ""}),
    };
    const std::vector<MappedContactProperty> properties{
        column(0, ContactKey::givenName, "Name"),
        column(1, ContactKey::birthday, "Birthday"),
        column(2, ContactKey::dates, "Anniversary", Label::anniversary),
        column(3, ContactKey::dates, "Since", Label::other),
        column(4, ContactKey::note, "Note"),
    };
    const auto orders = dayMonthOrdersOfDateColumns(rows, properties);
    EXPECT_EQ(orders, (std::map<std::int64_t, DayMonthOrder>{{1, DayMonthOrder::dayFirst},
                                                             {2, DayMonthOrder::monthFirst},
                                                             {3, DayMonthOrder::undecided}}));
}

struct OrderCase {
    std::string_view text;
    DayMonthOrder columnOrder;
    std::string_view language;  // of the titles; empty: the user's locale (English here)
    std::optional<DateComponents> birthday;
};

TEST(DateColumnsTest, AssemblyReadsByColumnThenTitleLanguageThenLocale) {
    const ScopedDefaultLocale english("en_US_POSIX");
    using enum DayMonthOrder;
    const OrderCase cases[] = {
        {"25/12/1990", dayFirst, "", day(1990, 12, 25)},
        {"03/04/1975", dayFirst, "en", day(1975, 4, 3)},
        {"12/25/1990", monthFirst, "fr", day(1990, 12, 25)},
        {"03/04/1975", monthFirst, "fr", day(1975, 3, 4)},
        {"03/04/1975", undecided, "fr", day(1975, 4, 3)},
        {"03/04/1975", undecided, "de", day(1975, 4, 3)},
        {"03/04/1975", undecided, "en", day(1975, 3, 4)},
        {"03/04/1975", undecided, "", day(1975, 3, 4)},
        // A dotted date is day first in every language.
        {"03.04.1975", undecided, "en", day(1975, 4, 3)},
        {"3/4", dayFirst, "", std::nullopt},
        {"21 juin", undecided, "fr", day(std::nullopt, 6, 21)},
    };
    const std::vector<MappedContactProperty> properties{
        column(0, ContactKey::birthday, "Birthday")};
    for (const auto& testCase : cases) {
        AssemblyOptions options;
        options.dayMonthOrders[0] = testCase.columnOrder;
        options.dateLanguage = std::string(testCase.language);
        ContactAssembler assembler(properties, commonDateFormats("en_US_POSIX", "en"), options);
        const auto assembled = assembler.assemble(textRow(2, {std::string(testCase.text)}));
        EXPECT_EQ(assembled.contact.birthday, testCase.birthday)
            << testCase.text << " " << testCase.language;
        EXPECT_EQ(assembled.problems.empty(), testCase.birthday.has_value()) << testCase.text;
    }
}

TEST(DateColumnsTest, NoDatePlaceholdersLeaveTheDateEmptyWithoutAProblem) {
    const std::vector<MappedContactProperty> properties{
        column(0, ContactKey::birthday, "Birthday"),
        column(1, ContactKey::dates, "Anniversary", Label::anniversary)};
    for (std::string_view text : {"0/0/00", "00.00.0000", "0000-00-00", "1/0/1900"}) {
        const auto assembled = assembleContact(textRow(2, {std::string(text), std::string(text)}),
                                               properties, {}, AssemblyOptions{});
        EXPECT_FALSE(assembled.contact.birthday) << text;
        EXPECT_TRUE(assembled.contact.dates.empty()) << text;
        EXPECT_TRUE(assembled.problems.empty()) << text;
        EXPECT_EQ(assembled.contact.note.find(text), std::string::npos) << text;
    }
    // An impossible day is a problem and goes into the note.
    const auto impossible =
        assembleContact(textRow(2, {"31/02/2000"}), properties, {}, AssemblyOptions{});
    EXPECT_FALSE(impossible.contact.birthday);
    ASSERT_EQ(impossible.problems.size(), 1u);
    EXPECT_EQ(impossible.problems[0],
              (AssemblyProblem{"Birthday", "31/02/2000", std::string(kProblemNotADate)}));
}

// Real exports read by the text reader and imported into a store, the process locale being
// English: the dates must come out as the file meant them.
class DateImportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainQueue::shared().adoptCurrentThreadAsMain();
        MainQueue::shared().drain();
        auto opened = SqliteContactStore::open(directory_.path() / "contacts.sqlite");
        ASSERT_TRUE(opened);
        store_ = std::shared_ptr<SqliteContactStore>(std::move(*opened));
        options_.selectedContainerID = store_->defaultContainerIdentifier();
        options_.addTextToNotes = false;
    }

    // Imports the export with the columns given, the title language detected as the mapping
    // page detects it; returns the saved contacts by given name.
    std::map<std::string, Contact> import(const std::string& name,
                                          std::vector<MappedContactProperty> properties) {
        auto reader = std::make_shared<TextReader>(std::filesystem::path(PELKORA_TEST_DATA_DIR) /
                                                   "exports" / name);
        reader->examineFile();
        reader->parse(true);
        MainQueue::shared().drain();
        EXPECT_EQ(reader->headerRowIndex(), 0);
        ImportSource source;
        source.mappedProperties = std::move(properties);
        source.dateFormats =
            commonDateFormats(dates::currentLocaleIdentifier(), dates::currentLanguageCode());
        source.assemblyOptions.dateLanguage = headerLanguage(reader->dataRows().at(0));
        language_ = source.assemblyOptions.dateLanguage;
        source.reader = std::move(reader);

        Operation operation([](Operation&) {});
        TabularDataImportOperation importing(store_, std::move(source), options_, {},
                                             std::weak_ptr<ImportOperationDelegate>());
        importing.main(operation);
        MainQueue::shared().drain();
        summary_ = importing.summary();

        std::map<std::string, Contact> saved;
        EXPECT_TRUE(store_->enumerateContacts(options_.selectedContainerID.value(),
                                              [&](const Contact& contact) {
                                                  saved.emplace(contact.givenName, contact);
                                                  return true;
                                              }));
        return saved;
    }

    const ScopedDefaultLocale english_{"en_US_POSIX"};
    test::TemporaryDirectory directory_;
    std::shared_ptr<SqliteContactStore> store_;
    ImportOptions options_;
    ImportSummary summary_;
    std::string language_;
};

TEST_F(DateImportTest, FrenchExportReadsDayFirstByItsTitles) {
    // No value above 12 decides the column: the French titles do.
    auto saved =
        import("fr-date-de-naissance.csv", {column(0, ContactKey::givenName, "Prénom"),
                                            column(1, ContactKey::familyName, "Nom"),
                                            column(2, ContactKey::birthday, "Date de naissance")});
    EXPECT_EQ(language_, "fr");
    ASSERT_EQ(saved.size(), 5u);
    EXPECT_EQ(saved["Camille"].birthday, day(1975, 4, 3));
    EXPECT_EQ(saved["Hugo"].birthday, day(1962, 11, 9));
    EXPECT_EQ(saved["Chloé"].birthday, day(1989, 12, 1));
    EXPECT_FALSE(saved["Jules"].birthday);
    EXPECT_FALSE(saved["Léa"].birthday);
    EXPECT_NE(saved["Léa"].note.find("31/02/2000"), std::string::npos);
    ASSERT_EQ(summary_.warnings.size(), 1u);
    EXPECT_EQ(summary_.warnings[0].row, 4);  // the file's fourth record, the titles first
    EXPECT_EQ(summary_.warnings[0].column, "Date de naissance");
    EXPECT_EQ(summary_.warnings[0].value, "31/02/2000");
    EXPECT_EQ(summary_.warnings[0].problem, kProblemNotADate);
}

TEST_F(DateImportTest, GermanExportKeepsBirthdaysWithoutAYear) {
    auto saved = import("de-geburtstag.csv", {column(0, ContactKey::givenName, "Vorname"),
                                              column(1, ContactKey::familyName, "Nachname"),
                                              column(2, ContactKey::birthday, "Geburtstag")});
    ASSERT_EQ(saved.size(), 4u);
    EXPECT_EQ(saved["Jürgen"].birthday, day(1980, 6, 21));
    EXPECT_EQ(saved["Anke"].birthday, day(std::nullopt, 6, 21));
    EXPECT_EQ(saved["Maren"].birthday, day(1975, 4, 3));
    EXPECT_FALSE(saved["Timo"].birthday);
    ASSERT_EQ(summary_.warnings.size(), 1u);
    EXPECT_EQ(summary_.warnings[0].row, 4);  // the file's fourth record, the titles first
    EXPECT_EQ(summary_.warnings[0].column, "Geburtstag");
    EXPECT_EQ(summary_.warnings[0].value, "30.02.1985");
    EXPECT_EQ(summary_.warnings[0].problem, kProblemNotADate);
}

TEST_F(DateImportTest, OutlookNoDateIsNoBirthdayAndNoWarning) {
    auto saved = import("outlook-birthday-anniversary.csv",
                        {column(0, ContactKey::givenName, "First Name"),
                         column(1, ContactKey::familyName, "Last Name"),
                         column(2, ContactKey::birthday, "Birthday"),
                         column(3, ContactKey::dates, "Anniversary", Label::anniversary)});
    ASSERT_EQ(saved.size(), 4u);
    EXPECT_FALSE(saved["Ann"].birthday);
    EXPECT_TRUE(saved["Ann"].dates.empty());
    EXPECT_EQ(saved["Ann"].note, "");
    EXPECT_EQ(saved["Carl"].birthday, day(1980, 6, 21));
    EXPECT_TRUE(saved["Carl"].dates.empty());
    EXPECT_FALSE(saved["Erin"].birthday);
    ASSERT_EQ(saved["Erin"].dates.size(), 1u);
    EXPECT_EQ(saved["Erin"].dates[0].value, day(2005, 5, 14));
    EXPECT_EQ(saved["Gus"].birthday, day(1971, 2, 3));
    EXPECT_TRUE(summary_.warnings.empty());
}

}  // namespace
}  // namespace pelkora
