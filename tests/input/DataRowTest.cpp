#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "input/DataRow.h"
#include "input/ParseLog.h"

namespace pelkora {
namespace {

using namespace std::chrono_literals;

// 2020-01-31 12:00:00 UTC.
const CellDate kJanuary31Noon =
    std::chrono::sys_days{std::chrono::year{2020} / std::chrono::January / 31} + 12h;

DataRow rowOfTexts(std::int64_t rowIndex, const std::vector<std::string>& texts) {
    DataRow row(rowIndex);
    for (std::size_t column = 0; column < texts.size(); ++column) {
        row.addText(static_cast<std::int64_t>(column), texts[column]);
    }
    return row;
}

std::vector<std::int64_t> columnsOf(const DataRow& row) {
    std::vector<std::int64_t> columns;
    for (DataCellView cell : row) columns.push_back(cell.columnIndex);
    return columns;
}

TEST(DataRowEmptyFlag, NewRowIsEmptyAndHasNoCells) {
    DataRow row(1);
    EXPECT_TRUE(row.empty());
    EXPECT_EQ(row.cellCount(), 0u);
    EXPECT_EQ(row.rowIndex(), 1);
}

TEST(DataRowEmptyFlag, OnlyEmptyTextsKeepRowEmpty) {
    DataRow row = rowOfTexts(1, {"", "", ""});
    row.add(DataCell(3, std::string()));
    EXPECT_TRUE(row.empty());
    EXPECT_EQ(row.cellCount(), 4u);
}

TEST(DataRowEmptyFlag, AbsentValueKeepsRowEmpty) {
    DataRow row(1);
    row.add(DataCell(0));
    EXPECT_TRUE(row.empty());
    EXPECT_FALSE(row.cell(0).hasValue());
}

TEST(DataRowEmptyFlag, SingleSpaceMakesRowNonEmpty) {
    DataRow row = rowOfTexts(1, {"", " "});
    EXPECT_FALSE(row.empty());
}

TEST(DataRowEmptyFlag, PictureWithoutTextMakesRowNonEmpty) {
    DataRow row(1);
    row.add(DataCell(4, PictureBytes{0x89, 0x50, 0x4E, 0x47}));
    EXPECT_FALSE(row.empty());
}

TEST(DataRowEmptyFlag, AnyPresentValueOtherThanTextMakesRowNonEmpty) {
    std::vector<CellValue> values = {0.0, false, CellDate(), PictureBytes()};
    for (const CellValue& value : values) {
        DataRow row(1);
        row.add(DataCell(0, value));
        EXPECT_FALSE(row.empty()) << describeCellValue(viewOf(value));
    }
}

TEST(DataRowCells, KeepInsertionOrderAndValues) {
    DataRow row(7);
    row.addText(0, "Ada");
    row.add(DataCell(1, 3.5));
    row.add(DataCell(2, true));
    row.add(DataCell(3, kJanuary31Noon));
    row.add(DataCell(4, PictureBytes{1, 2, 3}));
    row.add(DataCell(5));
    row.add(DataCell(6, std::string("Lovelace")));

    ASSERT_EQ(row.cellCount(), 7u);
    EXPECT_EQ(row.cell(0).toDataCell(), DataCell(0, std::string("Ada")));
    EXPECT_EQ(row.cell(1).toDataCell(), DataCell(1, 3.5));
    EXPECT_EQ(row.cell(2).toDataCell(), DataCell(2, true));
    EXPECT_EQ(row.cell(3).toDataCell(), DataCell(3, kJanuary31Noon));
    EXPECT_EQ(row.cell(4).toDataCell(), DataCell(4, PictureBytes{1, 2, 3}));
    EXPECT_EQ(row.cell(5).toDataCell(), DataCell(5));
    EXPECT_EQ(row.cell(6).text(), "Lovelace");
    EXPECT_EQ(row.cell(4).kind(), CellKind::picture);
}

TEST(DataRowCells, TextLiteralBecomesTextNotFlag) {
    DataCell cell(0, "Ada");
    EXPECT_EQ(cellKind(cell.value), CellKind::text);
}

TEST(DataRowCells, DatesBeforeTheEpochKeepTheirTicks) {
    CellDate before = CellDate() - 86'400s * 365 * 100 - 1ns;
    DataRow row(1);
    row.add(DataCell(0, before));
    EXPECT_EQ(std::get<CellDate>(row.cell(0).value), before);
}

TEST(DataRowCells, IterationVisitsCellsInOrderAndViewsReferToTheRow) {
    DataRow row = rowOfTexts(1, {"a", "b", "c"});
    std::string joined;
    for (DataCellView cell : row) {
        joined += cell.text();
        EXPECT_EQ(&cell.row(), &row);
    }
    EXPECT_EQ(joined, "abc");
    EXPECT_EQ(&row.cellForColumn(0)->row(), &row);
}

TEST(DataRowCells, ColumnIndexBeyond32BitsIsRefused) {
    DataRow row(1);
    EXPECT_THROW(row.addText(std::int64_t{1} << 40, "x"), std::out_of_range);
    EXPECT_THROW(row.add(DataCell(-(std::int64_t{1} << 40), 1.0)), std::out_of_range);
    EXPECT_EQ(row.cellCount(), 0u);
}

TEST(DataRowCells, FastPathAndDataCellsBuildEqualRows) {
    DataRow fast = rowOfTexts(3, {"Ada", "", "ada@example.org"});
    DataRow built(3);
    built.add(DataCell(0, std::string("Ada")));
    built.add(DataCell(1, std::string()));
    built.add(DataCell(2, std::string("ada@example.org")));
    EXPECT_EQ(fast, built);
}

TEST(DataRowCells, RowsDifferingInOneCellAreNotEqual) {
    EXPECT_NE(rowOfTexts(1, {"a", "b"}), rowOfTexts(1, {"a", "c"}));
    EXPECT_NE(rowOfTexts(1, {"a", "b"}), rowOfTexts(2, {"a", "b"}));
    DataRow pictures(1);
    pictures.add(DataCell(0, PictureBytes{1}));
    DataRow otherPictures(1);
    otherPictures.add(DataCell(0, PictureBytes{2}));
    EXPECT_NE(pictures, otherPictures);
}

TEST(DataRowColumnLookup, FindsColumnsOfDenseRow) {
    DataRow row = rowOfTexts(1, {"a", "b", "c"});
    EXPECT_EQ(row.cellForColumn(2)->text(), "c");
    EXPECT_FALSE(row.cellForColumn(3).has_value());
    EXPECT_FALSE(row.cellForColumn(-1).has_value());
}

TEST(DataRowColumnLookup, FindsColumnsOfSparseRow) {
    DataRow row(1);
    for (std::int64_t column : {1, 4, 9, 16, 25}) row.add(DataCell(column, column * 1.0));
    EXPECT_EQ(std::get<double>(row.cellForColumn(16)->value), 16.0);
    EXPECT_EQ(std::get<double>(row.cellForColumn(1)->value), 1.0);
    EXPECT_FALSE(row.cellForColumn(0).has_value());
    EXPECT_FALSE(row.cellForColumn(5).has_value());
    EXPECT_FALSE(row.cellForColumn(26).has_value());
}

TEST(DataRowColumnLookup, FindsColumnsOfUnorderedRow) {
    DataRow row(1);
    row.addText(5, "five");
    row.addText(2, "two");
    row.addText(7, "seven");
    EXPECT_EQ(row.cellForColumn(2)->text(), "two");
    EXPECT_EQ(row.cellForColumn(7)->text(), "seven");
    EXPECT_FALSE(row.cellForColumn(3).has_value());
}

TEST(DataRowColumnLookup, RepeatedColumnFindsFirstAdded) {
    DataRow ordered(1);
    ordered.addText(0, "first");
    ordered.addText(0, "second");
    EXPECT_EQ(ordered.cellForColumn(0)->text(), "first");

    DataRow unordered(1);
    unordered.addText(3, "first");
    unordered.addText(1, "x");
    unordered.addText(3, "second");
    EXPECT_EQ(unordered.cellForColumn(3)->text(), "first");
}

TEST(DataRowSorting, SortsByColumnKeepingOrderOfEqualColumns) {
    DataRow row(1);
    row.addText(3, "d");
    row.add(DataCell(0, 1.5));
    row.addText(3, "d2");
    row.add(DataCell(1, PictureBytes{9}));
    row.sortCellsByColumnIndex();
    EXPECT_EQ(columnsOf(row), (std::vector<std::int64_t>{0, 1, 3, 3}));
    EXPECT_EQ(row.cell(2).text(), "d");
    EXPECT_EQ(row.cell(3).text(), "d2");
    EXPECT_EQ(std::get<std::span<const std::uint8_t>>(row.cell(1).value)[0], 9);
    EXPECT_EQ(row.cellForColumn(3)->text(), "d");
}

TEST(DataRowStorage, TextsPast64KiBKeepEarlierCells) {
    std::string longText(70'000, 'x');
    DataRow row = rowOfTexts(1, {"short", "", longText, "after"});
    ASSERT_EQ(row.cellCount(), 4u);
    EXPECT_EQ(row.cell(0).text(), "short");
    EXPECT_EQ(row.cell(1).text(), "");
    EXPECT_EQ(row.cell(2).text(), longText);
    EXPECT_EQ(row.cell(3).text(), "after");
    EXPECT_EQ(row.cellForColumn(3)->text(), "after");
}

TEST(DataRowStorage, SwitchingToSparseKeepsEarlierDenseCells) {
    std::string longText(70'000, 'y');
    DataRow row = rowOfTexts(1, {"a", longText, "c"});
    row.add(DataCell(9, true));
    row.addText(4, "e");
    EXPECT_EQ(columnsOf(row), (std::vector<std::int64_t>{0, 1, 2, 9, 4}));
    EXPECT_EQ(row.cell(0).text(), "a");
    EXPECT_EQ(row.cell(1).text(), longText);
    EXPECT_EQ(row.cell(2).text(), "c");
    EXPECT_EQ(row.cell(4).text(), "e");
}

TEST(DataRowStorage, CopyIsExactlySizedAndEqual) {
    DataRow row(1);
    row.reserve(100, 10'000);
    row.addText(0, "Ada");
    row.addText(1, "Lovelace");
    DataRow copy = row;
    EXPECT_EQ(copy, row);
    EXPECT_EQ(copy.allocatedBytes(), 11u + 2 * 2);
    EXPECT_GT(row.allocatedBytes(), copy.allocatedBytes());
}

TEST(DataRowStorage, AssignmentReusesLargeEnoughBlock) {
    DataRow scratch(1);
    scratch.reserve(50, 1000);
    std::size_t reserved = scratch.allocatedBytes();
    DataRow source(1);
    source.addText(0, "a");
    source.add(DataCell(4, 2.0));
    scratch = source;
    EXPECT_EQ(scratch, source);
    EXPECT_EQ(scratch.allocatedBytes(), reserved);
}

TEST(DataRowStorage, ClearKeepsBlockAndResetsRow) {
    DataRow row = rowOfTexts(1, {"a", "b"});
    row.add(DataCell(5, 1.0));
    std::size_t allocated = row.allocatedBytes();
    row.clear();
    EXPECT_TRUE(row.empty());
    EXPECT_EQ(row.cellCount(), 0u);
    EXPECT_EQ(row.allocatedBytes(), allocated);
    row.addText(0, "again");
    EXPECT_EQ(row, rowOfTexts(1, {"again"}));
}

TEST(DataRowStorage, TextViewsSurviveGrowthOfTheRowVector) {
    std::vector<DataRow> rows;
    rows.push_back(rowOfTexts(1, {"short", "text"}));
    std::string_view text = rows[0].cell(1).text();
    for (int index = 2; index < 1000; ++index) rows.push_back(rowOfTexts(index, {"x"}));
    EXPECT_EQ(text, "text");
}

TEST(DataRowStorage, TextFromTheSameRowCanBeAddedAgain) {
    DataRow row = rowOfTexts(1, {"repeat me"});
    for (int round = 0; round < 10; ++round) row.addText(round + 1, row.cell(0).text());
    EXPECT_EQ(row.cellCount(), 11u);
    EXPECT_EQ(row.cell(10).text(), "repeat me");
}

TEST(DataRowDescription, DescribesEachKindOfValue) {
    EXPECT_EQ(DataCell(0).debugDescription(), "DataCell(columnIndex: 0, value: nil)");
    EXPECT_EQ(DataCell(2, "text").debugDescription(),
              "DataCell(columnIndex: 2, value: Optional(\"text\"))");
    EXPECT_EQ(DataCell(1, 3.5).debugDescription(),
              "DataCell(columnIndex: 1, value: Optional(3.5))");
    EXPECT_EQ(DataCell(1, true).debugDescription(),
              "DataCell(columnIndex: 1, value: Optional(true))");
    EXPECT_EQ(DataCell(1, kJanuary31Noon).debugDescription(),
              "DataCell(columnIndex: 1, value: Optional(2020-01-31 12:00:00 +0000))");
    EXPECT_EQ(DataCell(1, PictureBytes(1234)).debugDescription(),
              "DataCell(columnIndex: 1, value: Optional(1234 bytes))");
}

TEST(DataRowDescription, NumbersReadBackAsTheSameDouble) {
    EXPECT_EQ(describeCellValue(1.0), "Optional(1.0)");
    EXPECT_EQ(describeCellValue(-0.1), "Optional(-0.1)");
    EXPECT_EQ(describeCellValue(43861.5), "Optional(43861.5)");
    EXPECT_EQ(describeCellValue(1e-05), "Optional(1e-05)");
    EXPECT_EQ(describeCellValue(1e20), "Optional(1e+20)");
}

TEST(DataRowDescription, TextEscapesQuotesAndLineBreaks) {
    EXPECT_EQ(describeCellValue(std::string_view("say \"hi\"\n\tC:\\")),
              "Optional(\"say \\\"hi\\\"\\n\\tC:\\\\\")");
    EXPECT_EQ(describeCellValue(std::string_view("Zoë")), "Optional(\"Zoë\")");
}

TEST(DataRowDescription, DatesAreShownInUtc) {
    EXPECT_EQ(describeCellValue(CellDate() - 1s), "Optional(1969-12-31 23:59:59 +0000)");
}

TEST(DataRowDescription, RowJoinsCellsWithLineFeedTabHyphen) {
    DataRow row = rowOfTexts(4, {"a", ""});
    row.add(DataCell(2));
    EXPECT_EQ(row.debugDescription(),
              "DataRow(rowIndex: 4, cells: DataCell(columnIndex: 0, value: Optional(\"a\"))\n\t- "
              "DataCell(columnIndex: 1, value: Optional(\"\"))\n\t- "
              "DataCell(columnIndex: 2, value: nil))");
    EXPECT_EQ(DataRow(5).debugDescription(), "DataRow(rowIndex: 5, cells: )");
}

struct ColumnLabel {
    std::int64_t columnIndex;
    int style;
    const char* label;
};

TEST(FormattedColumnIndex, MatchesTable) {
    // clang-format off
    const ColumnLabel table[] = {
        {0, 0, "0"},         {0, 1, "1"},          {0, 2, "A"},        {25, 2, "Z"},
        {26, 2, "AA"},       {27, 0, "27"},        {27, 1, "28"},      {27, 2, "AB"},
        {51, 2, "AZ"},       {52, 2, "BA"},        {676, 2, "ZA"},     {701, 2, "ZZ"},
        {702, 2, "AAA"},     {16383, 2, "XFD"},    {18277, 2, "ZZZ"},  {18278, 2, "AAAA"},
        {65535, 2, "CRXP"},  {65536, 2, "65537"},  {-1, 2, "0"},       {-5, 0, "-5"},
        {-5, 1, "-4"},       {27, 7, "27"},        {27, -1, "27"},
        {INT64_MAX, 1, "9223372036854775808"},     {INT64_MAX, 2, "9223372036854775808"},
    };
    // clang-format on
    for (const ColumnLabel& entry : table) {
        EXPECT_EQ(formattedColumnIndex(entry.columnIndex, entry.style), entry.label)
            << "index " << entry.columnIndex << ", style " << entry.style;
    }
}

TEST(FormattedColumnIndex, CellsAndViewsLabelTheirColumn) {
    EXPECT_EQ(DataCell(27).formattedColumnIndex(kColumnIndexStyleLetters), "AB");
    DataRow row(1);
    row.addText(27, "x");
    EXPECT_EQ(row.cell(0).formattedColumnIndex(kColumnIndexStyleOneBased), "28");
}

TEST(ParseLogSeverity, RawValuesRoundTripAndOthersMakeNone) {
    EXPECT_EQ(parseLogSeverityFromRawValue(0), ParseLogSeverity::info);
    EXPECT_EQ(parseLogSeverityFromRawValue(1), ParseLogSeverity::warning);
    EXPECT_EQ(parseLogSeverityFromRawValue(2), ParseLogSeverity::error);
    EXPECT_FALSE(parseLogSeverityFromRawValue(3).has_value());
    EXPECT_FALSE(parseLogSeverityFromRawValue(-1).has_value());
}

}  // namespace
}  // namespace pelkora
