#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "input/SheetParser_p.h"
#include "input/WorkbookValues_p.h"
#include "input/XmlPullScanner_p.h"
#include "platform/InputStream.h"

namespace pelkora::excel {
namespace {

// A cell as the receiver saw it, its texts copied.
struct RecordedCell {
    std::int64_t column = 0;
    CellType type = CellType::number;
    std::int64_t style = 0;
    std::string value;
    std::string inlineText;

    bool operator==(const RecordedCell&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RecordedCell& cell) {
    return out << "{column " << cell.column << ", type " << static_cast<int>(cell.type)
               << ", style " << cell.style << ", value \"" << cell.value << "\", inline \""
               << cell.inlineText << "\"}";
}

struct RecordedRow {
    std::int64_t number = 0;
    std::vector<RecordedCell> cells;
    bool ended = false;

    bool operator==(const RecordedRow&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RecordedRow& row) {
    out << "row " << row.number << (row.ended ? "" : " (not ended)") << ":";
    for (const auto& cell : row.cells) out << " " << cell;
    return out;
}

class RecordingReceiver final : public SheetReceiver {
  public:
    // Asks to stop before the row that would follow this many.
    std::optional<std::size_t> stopAfterRows;

    std::vector<RecordedRow> rows;
    std::vector<std::uint64_t> declaredRowCounts;
    int sheetDataBeginnings = 0;
    // The reference and fault of each faulty cell, in order.
    std::vector<std::pair<std::string, CellFault>> faults;

    void sheetDidDeclareRowCount(std::uint64_t rowCount) override {
        declaredRowCounts.push_back(rowCount);
    }
    void sheetDataDidBegin() override { ++sheetDataBeginnings; }
    bool shouldStopBeforeRow() override { return stopAfterRows && rows.size() >= *stopAfterRows; }
    void rowDidBegin(std::int64_t rowNumber) override {
        EXPECT_TRUE(rows.empty() || rows.back().ended) << "a row began inside another";
        rows.push_back({rowNumber, {}, false});
    }
    void cellDidEnd(const SheetCell& cell) override {
        EXPECT_FALSE(rows.empty() || rows.back().ended) << "a cell ended outside a row";
        rows.back().cells.push_back({cell.columnIndex, cell.type, cell.styleIndex,
                                     std::string(cell.value), std::string(cell.inlineText)});
        if (cell.fault != CellFault::none)
            faults.emplace_back(std::string(cell.reference), cell.fault);
    }
    void rowDidEnd(std::int64_t rowNumber) override {
        EXPECT_EQ(rows.back().number, rowNumber);
        rows.back().ended = true;
    }
};

constexpr std::size_t kWholeReads = std::numeric_limits<std::size_t>::max();

struct Parse {
    Expected<SheetParseEnd, std::string> end = SheetParseEnd::endOfPart;
    RecordingReceiver receiver;
};

// Parses the part from memory at once, or from a stream that hands out readSize bytes per
// read, so that elements straddle the scanner's refills.
Parse parse(const std::string& part, std::size_t readSize = kWholeReads,
            std::optional<std::size_t> stopAfterRows = std::nullopt) {
    Parse result;
    result.receiver.stopAfterRows = stopAfterRows;
    auto scanner = readSize == kWholeReads
                       ? xml::XmlPullScanner(std::span<const char>(part.data(), part.size()))
                       : xml::XmlPullScanner(InputStream::fromMemory(part, readSize));
    result.end = SheetParser(scanner, result.receiver, "xl/worksheets/sheet1.xml").parse();
    return result;
}

std::string sheet(std::string_view sheetData, std::string_view beforeSheetData = "") {
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
           "\n<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" +
           std::string(beforeSheetData) + "<sheetData>" + std::string(sheetData) +
           "</sheetData></worksheet>";
}

// The rows of a part that parses to its end.
std::vector<RecordedRow> rowsOf(const std::string& part, std::size_t readSize = kWholeReads) {
    auto result = parse(part, readSize);
    EXPECT_TRUE(result.end.has_value()) << result.end.error();
    if (result.end) {
        EXPECT_EQ(*result.end, SheetParseEnd::endOfPart);
    }
    return result.receiver.rows;
}

RecordedCell text(std::int64_t column, std::string inlineText) {
    return {column, CellType::inlineString, 0, "", std::move(inlineText)};
}

RecordedCell number(std::int64_t column, std::string value, std::int64_t style = 0) {
    return {column, CellType::number, style, std::move(value), ""};
}

TEST(SheetParserTest, CellsKeepTheirTypeStyleAndValue) {
    const auto rows = rowsOf(
        sheet(R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" s="3"><v>45000.5</v></c>)"
              R"(<c r="C1" t="b"><v>1</v></c><c r="D1" t="str"><f>A1&amp;B1</f><v>a&lt;b</v></c>)"
              R"(<c r="E1" t="e"><v>#N/A</v></c><c r="F1" t="d"><v>2024-03-05</v></c>)"
              R"(<c r="G1" t="n"><v>7</v></c><c r="H1" t="future"><v>8</v></c></row>)"));
    const std::vector<RecordedRow> expected = {{1,
                                                {{0, CellType::sharedString, 0, "0", ""},
                                                 number(1, "45000.5", 3),
                                                 {2, CellType::boolean, 0, "1", ""},
                                                 {3, CellType::formulaString, 0, "a<b", ""},
                                                 {4, CellType::error, 0, "#N/A", ""},
                                                 {5, CellType::date, 0, "2024-03-05", ""},
                                                 number(6, "7"),
                                                 number(7, "8")},
                                                true}};
    EXPECT_EQ(rows, expected);
}

TEST(SheetParserTest, RowsAreNumberedAsTheyComeWhateverTheirReference) {
    // Out of order, with gaps, and one without a reference: the numbers run 1, 2, 3, 4.
    const auto rows = rowsOf(sheet(R"(<row r="5"><c r="A5"><v>5</v></c></row><row r="2"/>)"
                                   R"(<row r="9"><c r="B9"><v>9</v></c></row><row/>)"));
    const std::vector<RecordedRow> expected = {
        {1, {number(0, "5")}, true},
        {2, {}, true},
        {3, {number(1, "9")}, true},
        {4, {}, true},
    };
    EXPECT_EQ(rows, expected);
}

TEST(SheetParserTest, CellsWithoutAReferenceFollowTheCellBeforeThem) {
    const auto rows =
        rowsOf(sheet(R"(<row><c r="C1"><v>1</v></c><c><v>2</v></c><c r="a1"/><c/></row>)"
                     R"(<row><c/><c r="AA2"/><c/></row>)"));
    ASSERT_EQ(rows.size(), 2u);
    std::vector<std::int64_t> columns;
    for (const auto& row : rows) {
        for (const auto& cell : row.cells) columns.push_back(cell.column);
    }
    // Each row starts again at the first column.
    EXPECT_EQ(columns, (std::vector<std::int64_t>{2, 3, 0, 1, 0, 26, 27}));
}

TEST(SheetParserTest, InlineStringJoinsRichTextRunsAndLeavesOutPhoneticReadings) {
    const auto rows = rowsOf(sheet(
        R"(<row><c r="A1" t="inlineStr"><is><t>Plain &amp; simple</t></is></c>)"
        R"(<c r="B1" t="inlineStr"><is><r><rPr><b/><sz val="11"/></rPr><t>Zo&#235;</t></r>)"
        R"(<r><t xml:space="preserve"> van Dijk</t></r><rPh sb="0" eb="1"><t>ゾエ</t></rPh>)"
        R"(<phoneticPr fontId="1"/></is></c>)"
        R"(<c r="C1" t="inlineStr"><is><t>Ab<rPh><t>x</t></rPh>c</t><t> and more</t></is></c>)"
        R"(<c r="D1" t="inlineStr"><is><t>one</t></is><is><t>two</t></is></c></row>)"));
    ASSERT_EQ(rows.size(), 1u);
    const std::vector<RecordedCell> expected = {
        text(0, "Plain & simple"), text(1, "Zoë van Dijk"),
        // A phonetic reading inside a text leaves out only itself; every text counts.
        text(2, "Abc and more"),
        // A second inline string adds to the first.
        text(3, "onetwo")};
    EXPECT_EQ(rows[0].cells, expected);
}

TEST(SheetParserTest, EmptyMissingAndRepeatedValues) {
    const auto rows = rowsOf(sheet(R"(<row><c r="A1"><v/></c><c r="B1"><v></v></c><c r="C1"/>)"
                                   R"(<c r="D1"><v>1</v><v>2</v></c><c r="E1"><v/><v>3</v></c>)"
                                   R"(<c r="F1"><v> 4 <!-- note --> </v></c></row>)"));
    ASSERT_EQ(rows.size(), 1u);
    const std::vector<RecordedCell> expected = {number(0, ""),  number(1, ""), number(2, ""),
                                                number(3, "1"), number(4, ""), number(5, " 4  ")};
    EXPECT_EQ(rows[0].cells, expected);
}

TEST(SheetParserTest, ElementsOutOfTheirPlaceAreSkipped) {
    const auto rows = rowsOf(sheet(
        // A cell straight under the sheet data, a value deeper than a cell's child, text of a
        // cell outside any value, a "t" outside an inline string.
        R"(<c r="A1"><v>lost</v></c><row><c r="A1">stray<f><v>9</v></f><t>no</t></c>)"
        R"(<c r="B1" t="inlineStr"><v>5</v></c></row>)",
        // Rows and cells before the sheet data.
        R"(<sheetViews><row><c r="A1"><v>view</v></c></row></sheetViews>)"));
    const std::vector<RecordedRow> expected = {
        {1, {number(0, ""), {1, CellType::inlineString, 0, "5", ""}}, true}};
    EXPECT_EQ(rows, expected);

    // A part whose root is no worksheet has no rows.
    EXPECT_TRUE(
        rowsOf(R"(<chartsheet><sheetData><row><c><v>1</v></c></row></sheetData></chartsheet>)")
            .empty());
    // Nor does one whose sheet data is not the root's child.
    EXPECT_TRUE(
        rowsOf(R"(<worksheet><extLst><sheetData><row><c/></row></sheetData></extLst></worksheet>)")
            .empty());
}

TEST(SheetParserTest, NamespacePrefixesAreLookedThrough) {
    const auto rows = rowsOf(
        R"(<x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
        R"(<x:sheetData><x:row><x:c r="B1"><x:v>1</x:v></x:c><x:c t="inlineStr"><x:is>)"
        R"(<x:r><x:t>a</x:t></x:r></x:is></x:c></x:row></x:sheetData></x:worksheet>)");
    const std::vector<RecordedRow> expected = {{1, {number(1, "1"), text(2, "a")}, true}};
    EXPECT_EQ(rows, expected);
}

TEST(SheetParserTest, DimensionDeclaresTheRowCountAndSheetDataBeginsOnce) {
    auto result = parse(sheet("<row/>", R"(<dimension ref="B2:D11"/>)"));
    EXPECT_EQ(result.receiver.declaredRowCounts, std::vector<std::uint64_t>{10});
    EXPECT_EQ(result.receiver.sheetDataBeginnings, 1);

    EXPECT_EQ(parse(sheet("", R"(<dimension ref="A1"/>)")).receiver.declaredRowCounts,
              std::vector<std::uint64_t>{1});
    // Backwards, without a reference, or inside the sheet data: no claim.
    EXPECT_TRUE(parse(sheet("", R"(<dimension ref="A9:A2"/>)")).receiver.declaredRowCounts.empty());
    EXPECT_TRUE(parse(sheet("", R"(<dimension/>)")).receiver.declaredRowCounts.empty());
    EXPECT_TRUE(parse(sheet(R"(<dimension ref="A1:A5"/>)")).receiver.declaredRowCounts.empty());
    EXPECT_EQ(parse("<worksheet/>").receiver.sheetDataBeginnings, 0);
}

TEST(SheetParserTest, StopBeforeARowEndsTheParseThere) {
    const std::string part = sheet("<row><c/></row><row><c/></row><row><c/></row><row/>");
    auto result = parse(part, kWholeReads, 2);
    ASSERT_TRUE(result.end.has_value());
    EXPECT_EQ(*result.end, SheetParseEnd::stoppedBeforeRow);
    ASSERT_EQ(result.receiver.rows.size(), 2u);
    EXPECT_TRUE(result.receiver.rows[1].ended);

    result = parse(part, kWholeReads, 0);
    EXPECT_EQ(*result.end, SheetParseEnd::stoppedBeforeRow);
    EXPECT_TRUE(result.receiver.rows.empty());
}

TEST(SheetParserTest, MalformedPartsAreErrorsThatNameThePart) {
    // The rows before the damage stay reported; the row it cuts short is not ended.
    auto result = parse(sheet("<row><c><v>1</v></c></row><row><c><v>2</v></c>"));
    ASSERT_FALSE(result.end.has_value());
    EXPECT_NE(result.end.error().find("the part “xl/worksheets/sheet1.xml” is not well-formed XML"),
              std::string::npos)
        << result.end.error();
    ASSERT_EQ(result.receiver.rows.size(), 2u);
    EXPECT_TRUE(result.receiver.rows[0].ended);
    EXPECT_FALSE(result.receiver.rows[1].ended);

    const std::string noCharacter =
        "the part “xl/worksheets/sheet1.xml” holds a character reference to no character.";
    result = parse(sheet("<row><c><v>&#0;</v></c></row>"));
    ASSERT_FALSE(result.end.has_value());
    EXPECT_EQ(result.end.error(), noCharacter);
    result = parse(sheet(R"(<row><c t="inlineStr"><is><t>&#xD800;</t></is></c></row>)"));
    ASSERT_FALSE(result.end.has_value());
    EXPECT_EQ(result.end.error(), noCharacter);
    // Text the parser does not read is not decoded, so it cannot fail.
    EXPECT_EQ(rowsOf(sheet("<row><c>&#0;<f>&#0;</f></c></row>")).size(), 1u);
}

TEST(SheetParserTest, UnhandledCellAttributesAreLoggedAndTheCellIsStillRead) {
    test::LogCapture log;
    const auto rows = rowsOf(sheet(R"(<row><c r="B1" cm="1" s="2"><v>3</v></c></row>)"));
    EXPECT_EQ(log.count("Unhandled attribute in cell node: cm (1 cell)"), 1u);
    const std::vector<RecordedRow> expected = {{1, {number(1, "3", 2)}, true}};
    EXPECT_EQ(rows, expected);
}

TEST(SheetParserTest, EachUnhandledAttributeIsLoggedOnceWithTheNumberOfCells) {
    std::string data;
    for (int row = 1; row <= 5000; ++row) {
        data += "<row><c r=\"A" + std::to_string(row) + "\" cm=\"1\"><v>1</v></c>";
        data += row % 1000 == 0 ? "<c vm=\"2\" cm=\"1\"><v>2</v></c>" : "<c><v>2</v></c>";
        data += "</row>";
    }
    test::LogCapture log;
    EXPECT_EQ(rowsOf(sheet(data)).size(), 5000u);
    EXPECT_EQ(log.count("Unhandled attribute in cell node"), 2u);
    EXPECT_EQ(log.count("Unhandled attribute in cell node: cm (5005 cells)"), 1u);
    EXPECT_EQ(log.count("Unhandled attribute in cell node: vm (5 cells)"), 1u);

    // A parse the receiver stops reports what it met so far; a malformed part, too.
    EXPECT_EQ(parse(sheet(data), kWholeReads, 10).receiver.rows.size(), 10u);
    EXPECT_EQ(log.count("Unhandled attribute in cell node: cm (10 cells)"), 1u);
    EXPECT_FALSE(parse(sheet(data + "<row><c cm=\"1\">"), kWholeReads).end.has_value());
    EXPECT_EQ(log.count("Unhandled attribute in cell node: cm (5006 cells)"), 1u);
}

TEST(SheetParserTest, SameRowsWhateverTheReadSize) {
    // Every awkward case at once, read in pieces so small that each element, attribute and
    // reference straddles the scanner's refills.
    const std::string part = sheet(
        R"(<row r="3" spans="1:4"><c r="A3" t="inlineStr"><is><r><t>Zo&#235;</t></r>)"
        R"(<r><rPr><i/></rPr><t xml:space="preserve"> &amp; Lee</t></r><rPh><t>x</t></rPh>)"
        R"(</is></c><c s="1"><v>45000</v></c><c r="D3"><v/></c><c/></row><row r="1"/>)"
        R"(<row><c r="XFC7" t="s"><v>12</v></c><c t="str"><v><![CDATA[<raw>]]></v></c></row>)",
        R"(<dimension ref="A1:XFD7"/>)");
    const auto whole = rowsOf(part);
    const std::vector<RecordedRow> expected = {
        {1, {text(0, "Zoë & Lee"), number(1, "45000", 1), number(3, ""), number(4, "")}, true},
        {2, {}, true},
        {3,
         {{16382, CellType::sharedString, 0, "12", ""},
          {16383, CellType::formulaString, 0, "<raw>", ""}},
         true}};
    EXPECT_EQ(whole, expected);
    for (const std::size_t readSize : {1, 2, 3, 7, 64}) {
        SCOPED_TRACE(readSize);
        EXPECT_EQ(rowsOf(part, readSize), expected);
        EXPECT_EQ(parse(part, readSize).receiver.declaredRowCounts, std::vector<std::uint64_t>{7});
    }
}

TEST(SheetParserTest, CellTypesByName) {
    EXPECT_EQ(cellTypeOf("s"), CellType::sharedString);
    EXPECT_EQ(cellTypeOf("str"), CellType::formulaString);
    EXPECT_EQ(cellTypeOf("inlineStr"), CellType::inlineString);
    EXPECT_EQ(cellTypeOf("b"), CellType::boolean);
    EXPECT_EQ(cellTypeOf("d"), CellType::date);
    EXPECT_EQ(cellTypeOf("e"), CellType::error);
    EXPECT_EQ(cellTypeOf("n"), CellType::number);
    EXPECT_EQ(cellTypeOf(""), CellType::number);
    EXPECT_EQ(cellTypeOf("S"), CellType::number);
}

TEST(SheetParserTest, CellsBeyondTheLastCellAndOversizeTextsAreFaulty) {
    const std::string oversize(kMaximumCellTextSize + 10, 'x');
    const std::string part = sheet(
        R"(<row><c r="XFD1048576"><v>1</v></c><c><v>beyond</v></c>)"
        R"(<c r="MWLQKWU3" t="inlineStr"><is><t>)" +
        oversize + R"(</t></is></c><c r="A1048577"><v>2</v></c><c r="B2" t="str"><v>)" + oversize +
        R"(</v></c><c r="C2" t="inlineStr"><is><t>)" + oversize + R"(</t></is></c></row>)");
    const auto parsed = parse(part);
    ASSERT_TRUE(parsed.end.has_value());
    const auto& cells = parsed.receiver.rows.at(0).cells;
    ASSERT_EQ(cells.size(), 6u);
    EXPECT_EQ(cells[0].value, "1");
    // The value of a cell beyond the last one is not even read.
    EXPECT_EQ(cells[1].value, "");
    EXPECT_EQ(cells[1].column, 16384);
    EXPECT_EQ(cells[2].inlineText, "");
    EXPECT_EQ(cells[3].value, "");
    EXPECT_EQ(cells[4].value, oversize.substr(0, kMaximumCellTextSize));
    EXPECT_EQ(cells[5].inlineText, oversize.substr(0, kMaximumCellTextSize));
    EXPECT_EQ(parsed.receiver.faults, (std::vector<std::pair<std::string, CellFault>>{
                                          {"", CellFault::beyondLastCell},
                                          {"MWLQKWU3", CellFault::beyondLastCell},
                                          {"A1048577", CellFault::beyondLastCell},
                                          {"B2", CellFault::textCut},
                                          {"C2", CellFault::textCut}}));
}

// The current text token of a document "<a>…</a>"; the scanner must outlive the use.
std::string_view textTokenOf(xml::XmlPullScanner& scanner) {
    EXPECT_EQ(scanner.next(), xml::XmlPullScanner::Token::startElement);
    EXPECT_EQ(scanner.next(), xml::XmlPullScanner::Token::text);
    return scanner.rawText();
}

TEST(LimitedCellTextTest, ChunkedDecodingMatchesWholeDecodingAndCutsOnCharacters) {
    // References, line ends and characters of every length, so that chunks end in each of
    // them somewhere; several hundred kilobytes, decoded in chunks.
    std::string escaped;
    std::string literal;
    for (int index = 0; escaped.size() < 400000; ++index) {
        const std::string padding(static_cast<std::size_t>(index % 7), 'x');
        escaped += padding + "Ann &amp; Bob\r\né€𝄞 &#x1F600;&#233;&lt;\r";
        literal += padding + "Ann & Bob\r\né€𝄞 <\r";
    }
    struct Case {
        const char* name;
        std::string document;
    };
    const std::vector<Case> cases = {
        {"escaped text", "<a>" + escaped + "</a>"},
        {"CDATA section", "<a><![CDATA[" + literal + "]]></a>"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        xml::XmlPullScanner wholeScanner(std::span(testCase.document));
        textTokenOf(wholeScanner);
        std::string whole = "prefix";
        ASSERT_TRUE(wholeScanner.appendText(whole));
        for (const std::size_t limit :
             {whole.size() + 10, whole.size(), whole.size() - 1, whole.size() - 2,
              std::size_t{200001}, std::size_t{65536}, std::size_t{65537}, std::size_t{3}}) {
            SCOPED_TRACE(limit);
            xml::XmlPullScanner scanner(std::span(testCase.document));
            textTokenOf(scanner);
            std::string out = "prefix";
            const auto result = appendLimitedText(scanner, out, limit);
            EXPECT_EQ(result,
                      limit >= whole.size() ? LimitedTextResult::appended : LimitedTextResult::cut);
            ASSERT_LE(out.size(), std::max(limit, std::size_t{6}));
            EXPECT_EQ(out, whole.substr(0, out.size()));
            // The cut is at most one character short of the limit, and on its boundary.
            if (limit < whole.size() && limit > 6) {
                EXPECT_GE(out.size() + 3, limit);
                EXPECT_NE(static_cast<unsigned char>(whole[out.size()]) & 0xC0, 0x80);
            }
        }
    }
}

TEST(LimitedCellTextTest, OversizeTextIsNotCopiedWhole) {
    const std::string document = "<a>" + std::string(std::size_t{8} << 20, 'x') + "</a>";
    xml::XmlPullScanner scanner{std::span(document)};
    textTokenOf(scanner);
    // The scanner hands a long text out in pieces: the first fills the cell, and each one
    // after it is cut, adding nothing.
    std::string out;
    EXPECT_EQ(appendLimitedText(scanner, out, kMaximumCellTextSize), LimitedTextResult::appended);
    std::size_t cutPieces = 0;
    while (scanner.next() == xml::XmlPullScanner::Token::text) {
        EXPECT_EQ(appendLimitedText(scanner, out, kMaximumCellTextSize), LimitedTextResult::cut);
        EXPECT_EQ(out.size(), kMaximumCellTextSize);
        ++cutPieces;
    }
    EXPECT_GE(cutPieces, 7u);
    // Decoding stopped at the limit: the text never held the 8 MiB.
    EXPECT_LT(out.capacity(), std::size_t{4} << 20);
    // One piece longer than the room left is cut within it.
    std::string tail(kMaximumCellTextSize - 10, 'z');
    xml::XmlPullScanner longer{std::span(document)};
    textTokenOf(longer);
    EXPECT_EQ(appendLimitedText(longer, tail, kMaximumCellTextSize), LimitedTextResult::cut);
    EXPECT_EQ(tail.size(), kMaximumCellTextSize);

    const std::string noCharacter = "<a>" + std::string(100000, 'y') + "&#0;</a>";
    xml::XmlPullScanner badScanner{std::span(noCharacter)};
    textTokenOf(badScanner);
    std::string bad;
    EXPECT_EQ(appendLimitedText(badScanner, bad, kMaximumCellTextSize),
              LimitedTextResult::referenceToNoCharacter);
}

}  // namespace
}  // namespace pelkora::excel
