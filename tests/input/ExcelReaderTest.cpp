#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <map>

#include "TestSupport.h"
#include "input/ExcelReader.h"
#include "input/WorkbookValues_p.h"
#include "input/XmlPullScanner_p.h"
#include "platform/ImageData.h"
#include "platform/MainQueue.h"

namespace pelkora {
namespace {

using test::LogCapture;
using test::TemporaryDirectory;

// A 1×1 PNG, made once with Python's zlib and struct (signature, IHDR, IDAT, IEND).
const std::vector<std::uint8_t> kTinyPng = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
    0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0xC9, 0xFE, 0x92,
    0xEF, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

CellDate localTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&parts));
}

std::uint32_t crc32Of(std::string_view bytes) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Writes a zip archive of stored (uncompressed) entries: enough for hand-made packages.
std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string archive;
    std::string central;
    const auto put16 = [](std::string& out, std::uint32_t value) {
        out.push_back(static_cast<char>(value & 0xFF));
        out.push_back(static_cast<char>((value >> 8) & 0xFF));
    };
    const auto put32 = [&](std::string& out, std::uint32_t value) {
        put16(out, value & 0xFFFF);
        put16(out, value >> 16);
    };
    for (const auto& [name, content] : entries) {
        const auto offset = static_cast<std::uint32_t>(archive.size());
        const auto crc = crc32Of(content);
        const auto size = static_cast<std::uint32_t>(content.size());
        put32(archive, 0x04034B50);
        put16(archive, 20);
        put16(archive, 0x0800);
        put16(archive, 0);
        put32(archive, 0);
        put32(archive, crc);
        put32(archive, size);
        put32(archive, size);
        put16(archive, static_cast<std::uint32_t>(name.size()));
        put16(archive, 0);
        archive += name;
        archive += content;
        put32(central, 0x02014B50);
        put16(central, 20);
        put16(central, 20);
        put16(central, 0x0800);
        put16(central, 0);
        put32(central, 0);
        put32(central, crc);
        put32(central, size);
        put32(central, size);
        put16(central, static_cast<std::uint32_t>(name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0);
        put32(central, offset);
        central += name;
    }
    const auto centralOffset = static_cast<std::uint32_t>(archive.size());
    archive += central;
    put32(archive, 0x06054B50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put32(archive, static_cast<std::uint32_t>(central.size()));
    put32(archive, centralOffset);
    put16(archive, 0);
    return archive;
}

const char* const kContentTypes =
    R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)";
const char* const kWorkbookRelationships =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>
</Relationships>)";

std::string workbookXml(std::string_view properties = "") {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)") +
           std::string(properties) +
           R"(<sheets><sheet name="Contacts" sheetId="1" r:id="rId1"/></sheets></workbook>)";
}

std::string sheetXml(std::string_view rows) {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)" +
           std::string(rows) + "</sheetData></worksheet>";
}

// Styles with cell formats 0 (General), 1 (built-in date 14), 2 ([Blue]0.00), 3 (yyyy-mm-dd).
const char* const kStyles = R"(<?xml version="1.0" encoding="UTF-8"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<numFmts count="2"><numFmt numFmtId="164" formatCode="[Blue]0.00"/><numFmt numFmtId="165" formatCode="yyyy-mm-dd"/></numFmts>
<cellXfs count="4"><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="164"/><xf numFmtId="165"/></cellXfs>
</styleSheet>)";

// The text, number, flag or date each cell of a row holds, keyed by column index.
std::map<std::int64_t, CellValue> valuesOf(const DataRow& row) {
    std::map<std::int64_t, CellValue> values;
    for (const auto cell : row) values.emplace(cell.columnIndex, ownedCopy(cell.value));
    return values;
}

CellValue text(std::string_view value) {
    return CellValue(std::string(value));
}

class RecordingDelegate : public TabularDataReaderDelegate {
  public:
    void readerDidBeginParsing(TabularDataReader&) override { ++begins; }
    void readerDidParseRecord(TabularDataReader&, std::uint64_t record) override {
        records.push_back(record);
    }
    void readerDidEndParsing(TabularDataReader&) override { ++ends; }
    void readerDidFailWithError(TabularDataReader&, const ReaderError& error) override {
        failures.push_back(error);
    }
    bool finished() const { return ends + failures.size() > 0; }

    int begins = 0;
    int ends = 0;
    std::vector<std::uint64_t> records;
    std::vector<ReaderError> failures;
};

class ExcelReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MainQueue::shared().adoptCurrentThreadAsMain();
        MainQueue::shared().drain();
    }

    // A package of hand-written parts: content types, workbook relationships and the sheet
    // are added unless the parts name their own.
    std::shared_ptr<ExcelReader> handMade(std::vector<std::pair<std::string, std::string>> parts,
                                          bool standardParts = true) {
        if (standardParts) {
            parts.insert(parts.begin(), {{"[Content_Types].xml", kContentTypes},
                                         {"xl/_rels/workbook.xml.rels", kWorkbookRelationships}});
        }
        const auto path = folder / ("hand-made-" + std::to_string(++counter) + ".xlsx");
        test::writeFile(path, storedZip(parts));
        return std::make_shared<ExcelReader>(path);
    }

    // Parses the first sheet on this thread and waits for its end or failure.
    void parse(const std::shared_ptr<ExcelReader>& reader, std::size_t sheet = 0) {
        delegate = RecordingDelegate();
        reader->setDelegate(&delegate);
        ASSERT_LT(sheet, reader->sheets().size());
        reader->parseSheet(reader->sheets()[sheet]);
        ASSERT_TRUE(MainQueue::shared().runUntil([this] { return delegate.finished(); }));
        MainQueue::shared().drain();
        reader->setDelegate(nullptr);
    }

    std::filesystem::path path(const std::string& name) const { return folder / name; }

    TemporaryDirectory folder;
    RecordingDelegate delegate;
    int counter = 0;
};

// --- Workbooks written by libxlsxwriter ---------------------------------------------------

TEST_F(ExcelReaderTest, LibxlsxwriterWorkbookReadsEveryKindOfCell) {
    const auto file = path("kinds.xlsx");
    lxw_workbook* workbook = workbook_new(file.c_str());
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "People");
    lxw_format* builtinDate = workbook_add_format(workbook);
    format_set_num_format_index(builtinDate, 14);
    lxw_format* customDate = workbook_add_format(workbook);
    format_set_num_format(customDate, "dd.mm.yyyy hh:mm");
    lxw_format* blueNumber = workbook_add_format(workbook);
    format_set_num_format(blueNumber, "[Blue]0.00");
    worksheet_write_string(sheet, 0, 0, "Name", nullptr);
    worksheet_write_string(sheet, 0, 1, "Born", nullptr);
    worksheet_write_string(sheet, 0, 2, "Met", nullptr);
    worksheet_write_string(sheet, 0, 3, "Score", nullptr);
    worksheet_write_string(sheet, 0, 4, "VIP", nullptr);
    worksheet_write_string(sheet, 0, 5, "Formula", nullptr);
    worksheet_write_string(sheet, 1, 0, "Zoë & <Ann> \"A\"", nullptr);
    lxw_datetime born = {1980, 3, 12, 0, 0, 0};
    worksheet_write_datetime(sheet, 1, 1, &born, builtinDate);
    lxw_datetime met = {2024, 3, 5, 18, 45, 0};
    worksheet_write_datetime(sheet, 1, 2, &met, customDate);
    worksheet_write_number(sheet, 1, 3, 12.5, blueNumber);
    worksheet_write_boolean(sheet, 1, 4, 1, nullptr);
    worksheet_write_formula_str(sheet, 1, 5, "=\"a\"&\"b\"", nullptr, "ab");
    worksheet_write_string(sheet, 3, 1, "line one\nline two", nullptr);
    worksheet_write_number(sheet, 3, 3, -7, nullptr);
    worksheet_write_boolean(sheet, 3, 4, 0, nullptr);
    worksheet_write_blank(sheet, 3, 5, blueNumber);
    ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);

    ASSERT_TRUE(ExcelReader::isOfficeOpenXMLSpreadsheet(file));
    auto reader = std::make_shared<ExcelReader>(file);
    EXPECT_TRUE(reader->workbookExamined());
    EXPECT_FALSE(reader->examinationError());
    EXPECT_EQ(reader->dateSystem(), DateSystem::windows1900);
    ASSERT_EQ(reader->sheets().size(), 1u);
    EXPECT_EQ(reader->sheets()[0], (Sheet{"People", "xl/worksheets/sheet1.xml", 1, "rId1"}));
    parse(reader);
    EXPECT_EQ(delegate.begins, 1);
    EXPECT_EQ(delegate.ends, 1);
    EXPECT_TRUE(delegate.failures.empty());

    // The empty third row is not written, so the fourth spreadsheet row is running row 3.
    const auto& rows = reader->dataRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].rowIndex(), 3);
    const auto values = valuesOf(rows[1]);
    EXPECT_EQ(values.at(0), text("Zoë & <Ann> \"A\""));
    EXPECT_EQ(values.at(1), CellValue(localTime(1980, 3, 12)));
    // The time of day is dropped.
    EXPECT_EQ(values.at(2), CellValue(localTime(2024, 3, 5)));
    EXPECT_EQ(values.at(3), CellValue(12.5));
    EXPECT_EQ(values.at(4), CellValue(true));
    EXPECT_EQ(values.at(5), text("ab"));
    const auto last = valuesOf(rows[2]);
    EXPECT_EQ(last.at(1), text("line one\nline two"));
    EXPECT_EQ(last.at(3), CellValue(-7.0));
    EXPECT_EQ(last.at(4), CellValue(false));
    // A blank cell with a style has no value element: an empty text.
    EXPECT_EQ(last.at(5), text(""));
    EXPECT_EQ(reader->headerRowIndex(), 0);
    EXPECT_EQ(reader->exampleDataRowIndex(), 1);
}

TEST_F(ExcelReaderTest, ConstantMemoryWorkbookWithInlineStringsReadsLikeSharedStrings) {
    const auto shared = path("shared.xlsx");
    const auto inlined = path("inline.xlsx");
    for (const auto& file : {shared, inlined}) {
        lxw_workbook_options options = {};
        options.constant_memory = file == inlined ? LXW_TRUE : LXW_FALSE;
        lxw_workbook* workbook = workbook_new_opt(file.c_str(), &options);
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        for (int row = 0; row < 250; ++row) {
            for (int column = 0; column < 4; ++column) {
                const std::string value =
                    row == 0 ? "Title " + std::to_string(column)
                             : "r" + std::to_string(row) + "c" + std::to_string(column) + " <&>";
                worksheet_write_string(sheet, static_cast<lxw_row_t>(row),
                                       static_cast<lxw_col_t>(column), value.c_str(), nullptr);
            }
        }
        ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);
    }
    auto sharedReader = std::make_shared<ExcelReader>(shared);
    auto inlineReader = std::make_shared<ExcelReader>(inlined);
    EXPECT_EQ(sharedReader->sharedStringCount(), 1000u);
    EXPECT_EQ(inlineReader->sharedStringCount(), 0u);
    parse(sharedReader);
    parse(inlineReader);
    ASSERT_EQ(inlineReader->dataRows().size(), 250u);
    EXPECT_EQ(inlineReader->dataRows(), sharedReader->dataRows());
    EXPECT_EQ(valuesOf(inlineReader->dataRows()[249]).at(3), text("r249c3 <&>"));
    // The used range announces 250 rows: progress every hundred rows, then from 250 on.
    EXPECT_EQ(inlineReader->proposedRowCount(), 250u);
    EXPECT_EQ(delegate.records, (std::vector<std::uint64_t>{100, 200, 250}));
}

TEST_F(ExcelReaderTest, SeveralSheetsAreListedInWorkbookOrderAndParsedOnRequest) {
    const auto file = path("sheets.xlsx");
    lxw_workbook* workbook = workbook_new(file.c_str());
    for (const char* name : {"Family", "Work", "Clubs"}) {
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, name);
        worksheet_write_string(sheet, 0, 0, name, nullptr);
        worksheet_write_string(sheet, 0, 1, "second", nullptr);
        worksheet_write_string(sheet, 1, 0, "value", nullptr);
    }
    ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);
    auto reader = std::make_shared<ExcelReader>(file);
    ASSERT_EQ(reader->sheets().size(), 3u);
    EXPECT_EQ(reader->sheets()[1].displayName, "Work");
    EXPECT_EQ(reader->sheets()[1].sheetId, 2);
    EXPECT_EQ(reader->sheets()[2].pathInPackage, "xl/worksheets/sheet3.xml");
    parse(reader, 1);
    EXPECT_EQ(valuesOf(reader->dataRows()[0]).at(0), text("Work"));
    // Choosing another sheet parses again from an empty list with the same tables.
    reader->setDelegate(&delegate);
    delegate = RecordingDelegate();
    ASSERT_TRUE(reader->parseSheetWithId(3));
    ASSERT_TRUE(MainQueue::shared().runUntil([this] { return delegate.finished(); }));
    reader->setDelegate(nullptr);
    ASSERT_EQ(reader->dataRows().size(), 2u);
    EXPECT_EQ(valuesOf(reader->dataRows()[0]).at(0), text("Clubs"));
    EXPECT_FALSE(reader->parseSheetWithId(9));
}

TEST_F(ExcelReaderTest, PictureOverACellBecomesAPictureCellOfItsRow) {
    const auto file = path("picture.xlsx");
    lxw_workbook* workbook = workbook_new(file.c_str());
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    worksheet_write_string(sheet, 0, 0, "Name", nullptr);
    worksheet_write_string(sheet, 0, 1, "Phone", nullptr);
    worksheet_write_string(sheet, 1, 0, "Ann", nullptr);
    worksheet_write_string(sheet, 3, 0, "Bob", nullptr);
    // Anchored at column 2 of the first row, and over the fourth spreadsheet row, which is
    // the third running row since the third row is not written: the picture goes by file
    // row, so it lands on the running row whose number is the anchor row plus 1.
    ASSERT_EQ(worksheet_insert_image_buffer(sheet, 0, 2, kTinyPng.data(), kTinyPng.size()),
              LXW_NO_ERROR);
    ASSERT_EQ(worksheet_insert_image_buffer(sheet, 2, 1, kTinyPng.data(), kTinyPng.size()),
              LXW_NO_ERROR);
    ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);
    auto reader = std::make_shared<ExcelReader>(file);
    parse(reader);
    ASSERT_EQ(reader->anchoredImages().size(), 2u);
    EXPECT_EQ(reader->anchoredImages()[0].row, 1);
    EXPECT_EQ(reader->anchoredImages()[0].column, 3);
    EXPECT_EQ(reader->anchoredImages()[0].pathInPackage.rfind("xl/media/", 0), 0u);
    const auto& rows = reader->dataRows();
    ASSERT_EQ(rows.size(), 3u);
    const auto first = valuesOf(rows[0]);
    ASSERT_EQ(first.count(2), 1u);
    EXPECT_EQ(first.at(2), CellValue(PictureBytes(kTinyPng)));
    const auto third = valuesOf(rows[2]);
    EXPECT_EQ(third.at(0), text("Bob"));
    EXPECT_EQ(third.at(1), CellValue(PictureBytes(kTinyPng)));
    EXPECT_EQ(valuesOf(rows[1]).size(), 1u);
}

TEST_F(ExcelReaderTest, NamespacePrefixedWorkbookReadsLikeOneWithout) {
    if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
    const auto plain = path("plain.xlsx");
    const auto prefixed = path("prefixed.xlsx");
    lxw_workbook* workbook = workbook_new(plain.c_str());
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "Prefixed");
    lxw_format* date = workbook_add_format(workbook);
    format_set_num_format(date, "yyyy-mm-dd");
    worksheet_write_string(sheet, 0, 0, "Name", nullptr);
    worksheet_write_string(sheet, 0, 1, "Birthday", nullptr);
    worksheet_write_string(sheet, 1, 0, "Ann", nullptr);
    lxw_datetime birthday = {1990, 7, 1, 0, 0, 0};
    worksheet_write_datetime(sheet, 1, 1, &birthday, date);
    ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);
    // Rewrites the spreadsheet parts so that every element of the main namespace carries the
    // prefix "x" (as some exporters write them), and renames r: to rel:.
    const std::string script = R"(
import re, sys, zipfile
main = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
def prefix(xml):
    xml = xml.replace('xmlns="' + main + '"', 'xmlns:x="' + main + '"')
    xml = re.sub(r'<(/?)(?![?!])([A-Za-z]+)([\s>/])', r'<\1x:\2\3', xml)
    return xml.replace('xmlns:r=', 'xmlns:rel=').replace(' r:id=', ' rel:id=')
with zipfile.ZipFile(sys.argv[1]) as source, zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as target:
    for item in source.infolist():
        data = source.read(item.filename)
        name = item.filename
        if name.startswith('xl/') and name.endswith('.xml') and '_rels' not in name:
            data = prefix(data.decode('utf-8')).encode('utf-8')
        target.writestr(item, data)
)";
    test::writeFile(path("prefix.py"), script);
    const std::string command = "/usr/bin/python3 '" + path("prefix.py").string() + "' '" +
                                plain.string() + "' '" + prefixed.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    auto plainReader = std::make_shared<ExcelReader>(plain);
    auto prefixedReader = std::make_shared<ExcelReader>(prefixed);
    ASSERT_EQ(prefixedReader->sheets(), plainReader->sheets());
    EXPECT_EQ(prefixedReader->sharedStringCount(), 3u);
    EXPECT_EQ(prefixedReader->cellFormats(), plainReader->cellFormats());
    parse(plainReader);
    parse(prefixedReader);
    ASSERT_EQ(prefixedReader->dataRows().size(), 2u);
    EXPECT_EQ(prefixedReader->dataRows(), plainReader->dataRows());
    EXPECT_EQ(valuesOf(prefixedReader->dataRows()[1]).at(1), CellValue(localTime(1990, 7, 1)));
}

// Writes hostile packages ("bombs" or "pictures") into the folder with Python's zipfile and zlib,
// which deflate gigabytes-to-be into kilobytes:
//   sheet-bomb.xlsx    a sheet of 24 MiB of white space between its rows,
//   strings-bomb.xlsx  shared strings of 24 MiB of white space,
//   pictures.xlsx      300 rows showing one 3000 × 3000 PNG of a few kilobytes, a PNG whose
//                      header declares 20000 × 20000 pixels and a 40 MiB picture part.
const char* const kHostilePackagesScript = R"(
import struct, sys, zipfile, zlib
folder = sys.argv[1]
main = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
def rels(items):
    return ('<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">' +
            ''.join('<Relationship Id="%s" Type="%s%s" Target="%s"/>' % item for item in items) +
            '</Relationships>')
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
def png(width, height, rows=True):
    header = chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
    data = zlib.compress((b'\0' + b'\x20\x80\xe0' * width) * height, 9) if rows else b''
    return b'\x89PNG\r\n\x1a\n' + header + chunk(b'IDAT', data) + chunk(b'IEND', b'')
def package(name, sheet, strings=None, drawing=None, media=()):
    with zipfile.ZipFile(folder + '/' + name, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>')
        z.writestr('xl/workbook.xml', '<workbook %s><sheets><sheet name="Contacts" sheetId="1" r:id="rId1"/></sheets></workbook>' % main)
        z.writestr('xl/_rels/workbook.xml.rels', rels([('rId1', rel, 'worksheet', 'worksheets/sheet1.xml')]))
        z.writestr('xl/worksheets/sheet1.xml', sheet)
        if strings is not None:
            z.writestr('xl/sharedStrings.xml', strings)
        if drawing is not None:
            z.writestr('xl/worksheets/_rels/sheet1.xml.rels', rels([('rId1', rel, 'drawing', '../drawings/drawing1.xml')]))
            z.writestr('xl/drawings/drawing1.xml', drawing)
            z.writestr('xl/drawings/_rels/drawing1.xml.rels',
                       rels([('rId%d' % (i + 1), rel, 'image', '../media/' + m[0]) for i, m in enumerate(media)]))
            for m in media:
                z.writestr('xl/media/' + m[0], m[1])
def cell(ref, text):
    return '<c r="%s" t="inlineStr"><is><t>%s</t></is></c>' % (ref, text)
space = ' ' * (24 << 20)
rows = '<row r="1">' + cell('A1', 'Name') + cell('B1', 'Photo') + '</row>'
if sys.argv[2] == 'bombs':
  package('sheet-bomb.xlsx', '<worksheet %s><sheetData>%s%s</sheetData></worksheet>' % (main, rows, space))
  package('strings-bomb.xlsx', '<worksheet %s><sheetData>%s</sheetData></worksheet>' % (main, rows),
          strings='<sst %s><si><t>Ann</t></si>%s</sst>' % (main, space))
  half = ' ' * (10 << 20)
  package('drawing-bomb.xlsx', '<worksheet %s><sheetData>%s%s</sheetData></worksheet>' % (main, rows, half),
          drawing='<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing">%s</xdr:wsDr>' % half,
          media=[])
rows += ''.join('<row r="%d">%s</row>' % (r, cell('A%d' % r, 'Person %d' % r)) for r in range(2, 304))
def anchor(row, image):
    return ('<xdr:oneCellAnchor><xdr:from><xdr:col>1</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>%d</xdr:row>'
            '<xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:ext cx="9525" cy="9525"/><xdr:pic><xdr:blipFill>'
            '<a:blip r:embed="rId%d"/></xdr:blipFill></xdr:pic><xdr:clientData/></xdr:oneCellAnchor>') % (row, image)
drawing = ('<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" '
           'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" xmlns:r="%s">' % rel[:-1] +
           ''.join(anchor(r, 1) for r in range(1, 301)) + anchor(301, 2) + anchor(302, 3) + '</xdr:wsDr>')
if sys.argv[2] == 'pictures':
  package('pictures.xlsx', '<worksheet %s><sheetData>%s</sheetData></worksheet>' % (main, rows), drawing=drawing,
          media=[('photo.png', png(3000, 3000)), ('huge.png', png(20000, 20000, False)),
                 ('heavy.png', png(1, 1) + b'\0' * (40 << 20))])
)";

class HostilePackageTest : public ExcelReaderTest {
  protected:
    void write(const std::string& packages) {
        test::writeFile(path("hostile.py"), kHostilePackagesScript);
        const std::string command = "/usr/bin/python3 '" + path("hostile.py").string() + "' '" +
                                    folder.path().string() + "' " + packages;
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    static bool logMentions(const ExcelReader& reader, std::string_view text) {
        return std::any_of(reader.parseLog().begin(), reader.parseLog().end(),
                           [&](const ParseLogEntry& entry) {
                               return entry.message.find(text) != std::string::npos;
                           });
    }
};

TEST_F(HostilePackageTest, PartsInflatingBeyondTheirLimitStopTheRead) {
    if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
    ASSERT_NO_FATAL_FAILURE(write("bombs"));
    // The sheet: the parse fails with the limit, as soon as 16 MiB are read.
    auto sheetBomb = std::make_shared<ExcelReader>(path("sheet-bomb.xlsx"));
    parse(sheetBomb);
    ASSERT_EQ(delegate.failures.size(), 1u);
    EXPECT_EQ(delegate.failures[0].code, kExcelReaderErrorMalformedSheet);
    EXPECT_NE(delegate.failures[0].message.find("“xl/worksheets/sheet1.xml” inflates "
                                                "to more than 16777216 bytes"),
              std::string::npos)
        << delegate.failures[0].message;
    // The shared strings: examination reports them.
    auto stringsBomb = std::make_shared<ExcelReader>(path("strings-bomb.xlsx"));
    EXPECT_TRUE(logMentions(*stringsBomb, "“xl/sharedStrings.xml” inflates to more than"));
    // A drawing and a sheet, each within the part's limit, together beyond the package's.
    delegate.failures.clear();
    auto drawingBomb = std::make_shared<ExcelReader>(path("drawing-bomb.xlsx"));
    parse(drawingBomb);
    ASSERT_EQ(delegate.failures.size(), 1u);
    EXPECT_NE(delegate.failures[0].message.find("The package inflates to more than 16777216 "
                                                "bytes by the part “xl/worksheets/sheet1.xml”"),
              std::string::npos)
        << delegate.failures[0].message;
}

TEST_F(HostilePackageTest, EachPicturePartIsReadOnceScaledAndLimited) {
    if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
    ASSERT_NO_FATAL_FAILURE(write("pictures"));
    auto reader = std::make_shared<ExcelReader>(path("pictures.xlsx"));
    parse(reader);
    ASSERT_TRUE(delegate.failures.empty());
    const auto& rows = reader->dataRows();
    ASSERT_EQ(rows.size(), 303u);
    // 300 anchors of one 3000 × 3000 picture: each row has it as a 1024 × 1024 PNG.
    std::optional<CellValue> photo;
    for (std::size_t index = 1; index <= 300; ++index) {
        const auto values = valuesOf(rows[index]);
        ASSERT_EQ(values.count(1), 1u) << index;
        if (!photo) photo = values.at(1);
        ASSERT_EQ(values.at(1), *photo) << index;
    }
    const auto& bytes = std::get<PictureBytes>(*photo);
    const auto size = imageSize(bytes);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, contactPhotoSide);
    EXPECT_EQ(size->height, contactPhotoSide);
    // Too many pixels and too many bytes: left out and reported, never kept raw.
    EXPECT_EQ(valuesOf(rows[301]).count(1), 0u);
    EXPECT_EQ(valuesOf(rows[302]).count(1), 0u);
    EXPECT_TRUE(logMentions(*reader, "“xl/media/huge.png” is 20000 × 20000 pixels"));
    EXPECT_TRUE(logMentions(*reader, "more than the 33554432 a contact photo may take"));
}

TEST_F(ExcelReaderTest, LargeSheetStreamsThroughManyWindows) {
    // About 4 MB of sheet XML: every tag and text straddles a window boundary somewhere.
    const auto file = path("large.xlsx");
    const auto valueAt = [](int row, int column) {
        return "row " + std::to_string(row) + " column " + std::to_string(column) + " " +
               std::string(static_cast<std::size_t>(40 + (row * 7 + column) % 50), 'x') + " & <>";
    };
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* workbook = workbook_new_opt(file.c_str(), &options);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    for (int row = 0; row < 4000; ++row) {
        for (int column = 0; column < 10; ++column) {
            worksheet_write_string(sheet, static_cast<lxw_row_t>(row),
                                   static_cast<lxw_col_t>(column), valueAt(row, column).c_str(),
                                   nullptr);
        }
    }
    ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);
    auto reader = std::make_shared<ExcelReader>(file);
    parse(reader);
    ASSERT_EQ(reader->dataRows().size(), 4000u);
    for (int row = 0; row < 4000; row += 1) {
        const auto& dataRow = reader->dataRows()[static_cast<std::size_t>(row)];
        ASSERT_EQ(dataRow.cellCount(), 10u);
        for (int column = 0; column < 10; ++column) {
            ASSERT_EQ(dataRow.cell(static_cast<std::size_t>(column)).text(), valueAt(row, column))
                << row << " " << column;
        }
    }
}

TEST_F(ExcelReaderTest, TextLargerThanTheScannerWindowIsReadWhole) {
    const std::string huge(700000, 'z');
    auto reader =
        handMade({{"xl/workbook.xml", workbookXml()},
                  {"xl/worksheets/sheet1.xml",
                   sheetXml(R"(<row><c t="inlineStr"><is><t>)" + huge +
                            R"(</t></is></c><c t="inlineStr"><is><t>end</t></is></c></row>)")}});
    parse(reader);
    ASSERT_EQ(reader->dataRows().size(), 1u);
    EXPECT_EQ(reader->dataRows()[0].cell(0).text(), huge);
    EXPECT_EQ(reader->dataRows()[0].cell(1).text(), "end");
}

// --- Workbooks saved by LibreOffice (scripts/make-test-workbooks.sh) ------------------------

TEST_F(ExcelReaderTest, LibreOfficeContactsWorkbook) {
    auto reader = std::make_shared<ExcelReader>(std::filesystem::path(PELKORA_TEST_DATA_DIR) /
                                                "xlsx/libreoffice-contacts.xlsx");
    ASSERT_EQ(reader->sheets().size(), 1u);
    // LibreOffice escapes the hyphens of its date format ("yyyy\-mm\-dd"); still a date.
    ASSERT_EQ(reader->numberFormats().size(), 2u);
    EXPECT_TRUE(reader->numberFormats()[1].isDate);
    parse(reader);
    const auto& rows = reader->dataRows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(reader->headerRowIndex(), 0);
    EXPECT_EQ(reader->exampleDataRowIndex(), 1);
    const auto first = valuesOf(rows[1]);
    EXPECT_EQ(first.at(0), text("Zoë"));
    EXPECT_EQ(first.at(1), text("O'Brien \"Jr\""));
    EXPECT_EQ(first.at(2), CellValue(localTime(1980, 3, 12)));
    EXPECT_EQ(first.at(3), CellValue(12.5));
    EXPECT_EQ(first.at(4), text("one, two"));
    const auto second = valuesOf(rows[2]);
    EXPECT_EQ(second.at(2), CellValue(localTime(2001, 12, 31)));
    EXPECT_EQ(second.at(3), CellValue(-7.0));
    EXPECT_EQ(second.count(4), 0u);
    // The empty CSV line made no row in the file: Ann is the fourth running row.
    EXPECT_EQ(rows[3].rowIndex(), 4);
    EXPECT_EQ(valuesOf(rows[3]).at(0), text("Ann"));
}

TEST_F(ExcelReaderTest, LibreOfficeSparseWorkbookFindsTheHeaderBelowTheTitle) {
    auto reader = std::make_shared<ExcelReader>(std::filesystem::path(PELKORA_TEST_DATA_DIR) /
                                                "xlsx/libreoffice-sparse.xlsx");
    parse(reader);
    ASSERT_EQ(reader->dataRows().size(), 4u);
    EXPECT_EQ(reader->headerRowIndex(), 1);
    EXPECT_EQ(reader->exampleDataRowIndex(), 2);
    const auto header = valuesOf(reader->dataRows()[1]);
    EXPECT_EQ(header.at(0), text("Name"));
    EXPECT_EQ(header.at(2), text("Phone"));
    EXPECT_EQ(valuesOf(reader->dataRows()[3]).at(1), text("Carol"));
}

// --- Hand-made packages -------------------------------------------------------------------

TEST_F(ExcelReaderTest, DateSystemsAndSerialNumbers) {
    const std::string rows =
        R"(<row><c s="1"><v>0</v></c><c s="1"><v>61.75</v></c><c s="1"><v>60</v></c><c s="3"><v>45356</v></c></row>)";
    auto mac = handMade({{"xl/workbook.xml", workbookXml(R"(<workbookPr date1904="1"/>)")},
                         {"xl/styles.xml", kStyles},
                         {"xl/worksheets/sheet1.xml", sheetXml(rows)}});
    EXPECT_EQ(mac->dateSystem(), DateSystem::mac1904);
    parse(mac);
    EXPECT_EQ(valuesOf(mac->dataRows()[0]).at(0), CellValue(localTime(1904, 1, 1)));
    // "true" is not "1": the workbook stays in the 1900 system.
    auto windows = handMade({{"xl/workbook.xml", workbookXml(R"(<workbookPr date1904="true"/>)")},
                             {"xl/styles.xml", kStyles},
                             {"xl/worksheets/sheet1.xml", sheetXml(rows)}});
    EXPECT_EQ(windows->dateSystem(), DateSystem::windows1900);
    parse(windows);
    const auto values = valuesOf(windows->dataRows()[0]);
    EXPECT_EQ(values.at(0), CellValue(localTime(1899, 12, 30)));
    EXPECT_EQ(values.at(1), CellValue(localTime(1900, 3, 1)));
    // Below 61 the 1900 system falls one day earlier than the spreadsheet shows.
    EXPECT_EQ(values.at(2), CellValue(localTime(1900, 2, 28)));
    EXPECT_EQ(values.at(3), CellValue(localTime(2024, 3, 5)));
    EXPECT_FALSE(windows->dateFromSerial(1e300));
    // Beyond what a cell date can hold (about the years 1678 to 2261): no date.
    EXPECT_FALSE(windows->dateFromSerial(2958465));
    EXPECT_FALSE(windows->dateFromSerial(-200000));
    EXPECT_TRUE(windows->dateFromSerial(100000));
    EXPECT_FALSE(windows->dateFromSerial(std::numeric_limits<double>::quiet_NaN()));
}

TEST_F(ExcelReaderTest, NumberFormatsDecideBetweenNumberAndDate) {
    EXPECT_TRUE(isDateFormatCode("mm/dd/yyyy"));
    EXPECT_TRUE(isDateFormatCode("[Red]h:mm"));
    EXPECT_FALSE(isDateFormatCode("0.00"));
    EXPECT_FALSE(isDateFormatCode("[Red]0"));
    EXPECT_FALSE(isDateFormatCode("[Blue]0.00"));
    EXPECT_FALSE(isDateFormatCode("[Color10]0"));
    EXPECT_FALSE(isDateFormatCode("YYYY"));
    EXPECT_EQ(builtinDateNumberFormatIds().size(), 31u);
    EXPECT_TRUE(isBuiltinDateNumberFormatId("14"));
    EXPECT_TRUE(isBuiltinDateNumberFormatId("58"));
    EXPECT_FALSE(isBuiltinDateNumberFormatId("44"));

    auto reader = handMade(
        {{"xl/workbook.xml", workbookXml()},
         {"xl/styles.xml", kStyles},
         {"xl/worksheets/sheet1.xml",
          sheetXml(
              R"(<row><c s="1"><v>45356</v></c><c s="2"><v>45356</v></c><c s="3"><v>45356</v></c>)"
              R"(<c s="9"><v>1</v></c><c s="0"><v>abc</v></c><c s="0"/><c s="0"><v>1.5E3</v></c></row>)")}});
    ASSERT_EQ(reader->numberFormats().size(), 2u);
    EXPECT_EQ(reader->numberFormats()[1], (NumberFormat{"165", "yyyy-mm-dd", true}));
    EXPECT_EQ(reader->cellFormats().size(), 4u);
    parse(reader);
    const auto values = valuesOf(reader->dataRows()[0]);
    EXPECT_EQ(values.at(0), CellValue(localTime(2024, 3, 5)));
    EXPECT_EQ(values.at(1), CellValue(45356.0));
    EXPECT_EQ(values.at(2), CellValue(localTime(2024, 3, 5)));
    // A style index past the cell formats, a value that is no number and a missing value all
    // give an empty text.
    EXPECT_EQ(values.at(3), text(""));
    EXPECT_EQ(values.at(4), text(""));
    EXPECT_EQ(values.at(5), text(""));
    EXPECT_EQ(values.at(6), CellValue(1500.0));
}

TEST_F(ExcelReaderTest, CellTypesErrorsDatesAsTextAndInlineRuns) {
    auto reader = handMade(
        {{"xl/workbook.xml", workbookXml()},
         {"xl/worksheets/sheet1.xml",
          sheetXml(
              R"(<row r="1"><c r="A1" t="e"><v>#DIV/0!</v></c><c r="B1" t="d"><v>2024-03-05T10:20:30</v></c>)"
              R"(<c r="C1" t="d"><v>10:20</v></c><c r="D1" t="d"><v>2024-02-30</v></c>)"
              R"(<c r="E1" t="inlineStr"><is><r><t>Rich </t></r><r><rPr><b/></rPr><t xml:space="preserve">text</t></r><rPh><t>ふりがな</t></rPh></is></c>)"
              R"(<c r="F1" t="b"><v>0</v></c><c r="G1" t="str"><v>&#x41;&#66;&amp;&unknown;</v></c>)"
              R"(<c r="H1" t="inlineStr"><is><t><![CDATA[<kept>]]></t></is></c>)"
              R"(<c r="I1" t="d"><v>4096-01-01</v></c></row>)")}});
    parse(reader);
    const auto values = valuesOf(reader->dataRows()[0]);
    EXPECT_EQ(values.at(0), text("#DIV/0!"));
    EXPECT_EQ(values.at(1), CellValue(localTime(2024, 3, 5, 10, 20, 30)));
    EXPECT_EQ(values.at(2), CellValue(localTime(1904, 1, 1, 10, 20)));
    // 30 February is no date: the cell has no value.
    EXPECT_EQ(values.at(3), CellValue());
    EXPECT_EQ(values.at(8), CellValue());
    EXPECT_EQ(values.at(4), text("Rich text"));
    EXPECT_EQ(values.at(5), CellValue(false));
    EXPECT_EQ(values.at(6), text("AB&&unknown;"));
    EXPECT_EQ(values.at(7), text("<kept>"));
}

TEST_F(ExcelReaderTest, SharedStringsRichRunsAndIndicesOutOfBounds) {
    const char* const sharedStrings = R"(<?xml version="1.0" encoding="UTF-8"?>
<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="2" uniqueCount="2">
<si><t>Plain</t></si>
<si><r><t>Bold</t></r>
<r><t xml:space="preserve"> and plain</t></r><rPh sb="0" eb="1"><t>ボ</t></rPh></si>
<si><t/></si>
</sst>)";
    auto reader = handMade(
        {{"xl/workbook.xml", workbookXml()},
         {"xl/sharedStrings.xml", sharedStrings},
         {"xl/worksheets/sheet1.xml",
          sheetXml(
              R"(<row><c t="s"><v>0</v></c><c t="s"><v>1</v></c><c t="s"><v>3</v></c><c t="s"><v>x</v></c></row>)")}});
    ASSERT_EQ(reader->sharedStringCount(), 3u);
    EXPECT_EQ(reader->sharedString(1), "Bold and plain");
    EXPECT_EQ(reader->sharedString(2), "");
    parse(reader);
    const auto values = valuesOf(reader->dataRows()[0]);
    EXPECT_EQ(values.at(0), text("Plain"));
    EXPECT_EQ(values.at(1), text("Bold and plain"));
    // An index past the table is an empty cell and a problem, never text to import.
    EXPECT_EQ(values.at(2), CellValue());
    EXPECT_EQ(reader->parseLog(),
              (std::vector<ParseLogEntry>{
                  {ParseLogSeverity::error,
                   "Row 1, column C (cell C): the shared string 3 is not in the workbook, which "
                   "has 3 shared strings; the cell is left empty."}}));
    // A value that is no number reads as index 0.
    EXPECT_EQ(values.at(3), text("Plain"));

    auto withoutTables = handMade(
        {{"xl/workbook.xml", workbookXml()},
         {"xl/worksheets/sheet1.xml",
          sheetXml(
              R"(<row><c r="A1" t="s"><v>0</v></c><c><v>5</v></c><c t="b"><v>1</v></c><c t="inlineStr"><is><t>in</t></is></c></row>)")}});
    parse(withoutTables);
    const auto bare = valuesOf(withoutTables->dataRows()[0]);
    EXPECT_EQ(bare.at(0), CellValue());
    ASSERT_EQ(withoutTables->parseLog().size(), 1u);
    EXPECT_EQ(withoutTables->parseLog()[0].message,
              "Row 1, column A (cell A1): the shared string 0 is not in the workbook, which has 0 "
              "shared strings; the cell is left empty.");
    // Without a styles part every number cell is an empty text.
    EXPECT_EQ(bare.at(1), text(""));
    EXPECT_EQ(bare.at(2), CellValue(true));
    EXPECT_EQ(bare.at(3), text("in"));
}

TEST_F(ExcelReaderTest, DamagedSharedStringsKeepWhatWasReadOrFailTheWorkbook) {
    const std::string head = R"(<?xml version="1.0" encoding="UTF-8"?>
<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="3" uniqueCount="3">)";
    const std::string cells =
        R"(<row><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c></row>)";
    struct Case {
        const char* name;
        std::string part;
        std::size_t stringsKept;
        bool damaged;
    };
    const std::vector<Case> cases = {
        {"cut off in the third string", head + "<si><t>Ann</t></si><si><t>Bob</t></si><si><t>Ca", 2,
         false},
        {"broken after the second string",
         head + "<si><t>Ann</t></si><si><t>Bob</t></si><si><t>Cy</x></si></sst>", 2, false},
        {"broken in the first string", head + "<si><t>Ann</t></sx></sst>", 0, true},
        {"no XML at all", "Ann,Bob,Cy\n", 0, true},
        {"a reference to no character first", head + "<si><t>&#0;</t></si></sst>", 0, true},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        LogCapture log;
        auto reader = handMade({{"xl/workbook.xml", workbookXml()},
                                {"xl/sharedStrings.xml", testCase.part},
                                {"xl/worksheets/sheet1.xml", sheetXml(cells)}});
        EXPECT_TRUE(log.contains("Could not build shared strings table: '"));
        ASSERT_EQ(reader->sharedStringCount(), testCase.stringsKept);
        // The sheets are still listed; the error tells the session not to import them.
        ASSERT_EQ(reader->sheets().size(), 1u);
        EXPECT_EQ(reader->examinationError().has_value(), testCase.damaged);
        if (testCase.damaged) {
            EXPECT_NE(reader->examinationError()->find("xl/sharedStrings.xml"), std::string::npos);
            continue;
        }
        parse(reader);
        const auto values = valuesOf(reader->dataRows()[0]);
        EXPECT_EQ(values.at(0), text("Ann"));
        EXPECT_EQ(values.at(1), text("Bob"));
        EXPECT_EQ(values.at(2), CellValue());
        // The examination's entry, then the cell's.
        ASSERT_EQ(reader->parseLog().size(), 2u);
        EXPECT_EQ(reader->parseLog()[1].message,
                  "Row 1, column C (cell C1): the shared string 2 is not in the workbook, which "
                  "has 2 shared strings; the cell is left empty.");
    }
}

TEST_F(ExcelReaderTest, ReferencesBeyondTheLastCellAreLeftOutAndListed) {
    LogCapture log;
    auto reader = handMade(
        {{"xl/workbook.xml", workbookXml()},
         {"xl/worksheets/sheet1.xml",
          sheetXml(
              R"(<row><c r="A1" t="inlineStr"><is><t>Name</t></is></c>)"
              R"(<c r="ZZZZZ1" t="inlineStr"><is><t>far</t></is></c>)"
              R"(<c r="XFD1" t="inlineStr"><is><t>last column</t></is></c>)"
              R"(<c t="inlineStr"><is><t>one past it</t></is></c></row>)"
              R"(<row><c r="MWLQKWU2"><v>1</v></c><c r="A1048577" t="inlineStr"><is><t>low</t></is></c>)"
              R"(<c r="XFD1048576" t="inlineStr"><is><t>last cell</t></is></c></row>)")}});
    parse(reader);
    const auto& rows = reader->dataRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(valuesOf(rows[0]),
              (std::map<std::int64_t, CellValue>{{0, text("Name")}, {16383, text("last column")}}));
    EXPECT_EQ(valuesOf(rows[1]), (std::map<std::int64_t, CellValue>{{16383, text("last cell")}}));
    const std::string beyond =
        ": the reference lies beyond the last cell of a sheet, XFD1048576; the cell is left out.";
    std::vector<std::string> messages;
    for (const auto& entry : reader->parseLog()) {
        EXPECT_EQ(entry.severity, ParseLogSeverity::error);
        messages.push_back(entry.message);
    }
    EXPECT_EQ(messages,
              (std::vector<std::string>{"Row 1, column 12356630 (cell ZZZZZ1)" + beyond,
                                        "Row 1, column XFE (cell XFE)" + beyond,
                                        "Row 2, column 2147483647 (cell MWLQKWU2)" + beyond,
                                        "Row 2, column A (cell A1048577)" + beyond}));
    EXPECT_TRUE(log.contains("(cell MWLQKWU2)"));
}

TEST_F(ExcelReaderTest, CellTextIsCutAtTheLimitOnACharacterBoundary) {
    constexpr std::size_t limit = excel::kMaximumCellTextSize;
    // "é" is two bytes: after the one-byte "a" the limit falls inside a character.
    std::string longText = "a";
    while (longText.size() < limit + 100000) longText += "é";
    const std::string shared =
        R"(<?xml version="1.0" encoding="UTF-8"?><sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>)" +
        longText + "</t></si><si><t>short</t></si></sst>";
    LogCapture log;
    auto reader =
        handMade({{"xl/workbook.xml", workbookXml()},
                  {"xl/sharedStrings.xml", shared},
                  {"xl/worksheets/sheet1.xml",
                   sheetXml(R"(<row><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>)"
                            R"(<c r="C1" t="inlineStr"><is><r><t>)" +
                            longText + R"(</t></r><r><t>more</t></r></is></c>)" +
                            R"(<c r="D1" t="str"><v><![CDATA[)" + longText + R"(]]></v></c>)" +
                            R"(<c r="E1" t="inlineStr"><is><t>fine</t></is></c></row>)")}});
    ASSERT_EQ(reader->sharedStringCount(), 2u);
    EXPECT_EQ(reader->sharedString(0), longText.substr(0, limit - 1));
    EXPECT_EQ(reader->sharedString(1), "short");
    parse(reader);
    const auto values = valuesOf(reader->dataRows()[0]);
    for (const std::int64_t column : {0, 2, 3}) {
        SCOPED_TRACE(column);
        EXPECT_EQ(values.at(column), text(longText.substr(0, limit - 1)));
    }
    EXPECT_EQ(values.at(1), text("short"));
    EXPECT_EQ(values.at(4), text("fine"));
    const std::string cut = " bytes; the rest is left out.";
    const std::string size = std::to_string(limit);
    EXPECT_EQ(reader->parseLog(),
              (std::vector<ParseLogEntry>{
                  {ParseLogSeverity::warning, "The shared string 0 is longer than " + size + cut},
                  {ParseLogSeverity::warning,
                   "Row 1, column C (cell C1): the text is longer than " + size + cut},
                  {ParseLogSeverity::warning,
                   "Row 1, column D (cell D1): the text is longer than " + size + cut}}));
}

TEST_F(ExcelReaderTest, CellReferencesColumnsAndUnhandledAttributes) {
    EXPECT_EQ(CellReference::fromString("c3"), (CellReference{"c3", 3, 3}));
    EXPECT_EQ(CellReference::fromString("AA10").column, 27);
    EXPECT_EQ(CellReference::fromString("42").column, 1);
    EXPECT_EQ(CellReference::fromString("B").row, 1);
    EXPECT_EQ(CellReference::fromString("ZZZZZZZZZZZZZZZZ99999999999999999999").column,
              std::numeric_limits<std::int32_t>::max());

    LogCapture log;
    auto reader = handMade(
        {{"xl/workbook.xml", workbookXml()},
         {"xl/worksheets/sheet1.xml",
          sheetXml(
              R"(<row><c r="D1" t="inlineStr"><is><t>d</t></is></c><c r="b1" t="inlineStr" cm="1"><is><t>b</t></is></c>)"
              R"(<c t="inlineStr"><is><t>after b</t></is></c></row>)")}});
    parse(reader);
    EXPECT_EQ(log.count("Unhandled attribute in cell node: cm (1 cell)"), 1u);
    // Sorted by column; the cell without a reference follows the one before it.
    std::vector<std::int64_t> columns;
    for (const auto cell : reader->dataRows()[0]) columns.push_back(cell.columnIndex);
    EXPECT_EQ(columns, (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(valuesOf(reader->dataRows()[0]).at(2), text("after b"));
}

TEST_F(ExcelReaderTest, DynamicFormulasOfEveryRowMakeOneLogEntry) {
    // Excel 365 marks each dynamic formula's cell with "cm"; a sheet of them is common.
    const auto file = path("dynamic.xlsx");
    lxw_workbook* workbook = workbook_new(file.c_str());
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, "People");
    worksheet_write_string(sheet, 0, 0, "Name", nullptr);
    worksheet_write_string(sheet, 0, 1, "Initial", nullptr);
    constexpr int kPeople = 3000;
    for (int row = 1; row <= kPeople; ++row) {
        const std::string name = "Person " + std::to_string(row);
        worksheet_write_string(sheet, static_cast<lxw_row_t>(row), 0, name.c_str(), nullptr);
        const std::string formula = "=LEFT(A" + std::to_string(row + 1) + ",1)";
        worksheet_write_dynamic_formula(sheet, static_cast<lxw_row_t>(row), 1, formula.c_str(),
                                        nullptr);
    }
    ASSERT_EQ(workbook_close(workbook), LXW_NO_ERROR);

    LogCapture log;
    auto reader = std::make_shared<ExcelReader>(file);
    parse(reader);
    ASSERT_EQ(reader->dataRows().size(), kPeople + 1u);
    EXPECT_EQ(log.count("Unhandled attribute in cell node"), 1u);
    EXPECT_EQ(log.count("Unhandled attribute in cell node: cm (3000 cells)"), 1u);
}

TEST_F(ExcelReaderTest, HeaderRowNeedsMoreThanOneTextCell) {
    auto reader = handMade(
        {{"xl/workbook.xml", workbookXml()},
         {"xl/worksheets/sheet1.xml",
          sheetXml(
              R"(<row><c t="inlineStr"><is><t>Title</t></is></c></row>)"
              R"(<row><c t="inlineStr"><is><t>a</t></is></c><c t="inlineStr"><is><t>b</t></is></c><c t="inlineStr"><is><t>c</t></is></c></row>)"
              R"(<row><c t="inlineStr"><is><t>1</t></is></c></row>)")}});
    parse(reader);
    EXPECT_EQ(reader->headerRowIndex(), 1);
    EXPECT_EQ(reader->exampleDataRowIndex(), 2);

    auto single = handMade(
        {{"xl/workbook.xml", workbookXml()},
         {"xl/worksheets/sheet1.xml",
          sheetXml(
              R"(<row><c t="inlineStr"><is><t>a</t></is></c><c t="inlineStr"><is><t>b</t></is></c></row>)")}});
    parse(single);
    EXPECT_EQ(single->headerRowIndex(), TabularDataReader::kNotFound);
    EXPECT_EQ(single->exampleDataRowIndex(), TabularDataReader::kNotFound);
}

TEST_F(ExcelReaderTest, SheetPathsFromRelationships) {
    const char* const relationships =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/>
<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/worksheets/sheet1.xml"/>
<Relationship Id="rId3" Type="incomplete"/>
</Relationships>)";
    const char* const workbook =
        R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>
<sheet name="Second" sheetId="2" r:id="rId1"/><sheet name="Absolute" sheetId="x" r:id="rId2"/><sheet name="Lost" sheetId="3" r:id="rId9"/><sheet sheetId="4"/>
</sheets></workbook>)";
    LogCapture log;
    auto reader = handMade({{"[Content_Types].xml", kContentTypes},
                            {"xl/_rels/workbook.xml.rels", relationships},
                            {"xl/workbook.xml", workbook},
                            {"xl/worksheets/sheet1.xml", sheetXml("<row/>")}},
                           false);
    EXPECT_EQ(reader->workbookRelationships().size(), 2u);
    ASSERT_EQ(reader->sheets().size(), 4u);
    EXPECT_EQ(reader->sheets()[0].pathInPackage, "xl/worksheets/sheet2.xml");
    EXPECT_EQ(reader->sheets()[1].pathInPackage, "xl/worksheets/sheet1.xml");
    EXPECT_EQ(reader->sheets()[1].sheetId, 0);
    EXPECT_EQ(reader->sheets()[2].pathInPackage, "undefined");
    EXPECT_EQ(reader->sheets()[3], (Sheet{"undefined", "undefined", 4, "undefined"}));
    EXPECT_EQ(log.count("Could not find a workbook relationship whose id is 'rId9'."), 1u);
    EXPECT_EQ(log.count("Workbook relationships:"), 2u);
    // The sheet whose part is missing fails its parse instead of ending with no rows.
    parse(reader, 2);
    ASSERT_EQ(delegate.failures.size(), 1u);
    EXPECT_EQ(delegate.failures[0].code, kExcelReaderErrorSheetNotFound);
    EXPECT_EQ(delegate.failures[0].domain, kExcelReaderErrorDomain);
    EXPECT_EQ(log.count("Could not determine archive entry for sheet 'Lost'"), 1u);
    parse(reader, 1);
    EXPECT_EQ(delegate.ends, 1);
    ASSERT_EQ(reader->dataRows().size(), 1u);
    EXPECT_EQ(reader->dataRows()[0].cellCount(), 0u);
}

// --- Damaged packages ---------------------------------------------------------------------

TEST_F(ExcelReaderTest, DamagedPackagesAreReportedNotCrashedOn) {
    LogCapture log;
    // No workbook part: no sheets, so the session refuses the file.
    auto noWorkbook = handMade({{"xl/worksheets/sheet1.xml", sheetXml("")}});
    EXPECT_TRUE(noWorkbook->sheets().empty());
    ASSERT_TRUE(noWorkbook->examinationError());
    EXPECT_TRUE(log.contains("Could not examine workbook: '"));

    // Not a zip archive at all.
    test::writeFile(path("text.xlsx"), "Name,Phone\nAnn,1\n");
    EXPECT_FALSE(ExcelReader::isOfficeOpenXMLSpreadsheet(path("text.xlsx")));
    EXPECT_TRUE(
        log.contains("Could not determine if the file is a valid Office Open XML Spreadsheet:"));
    auto notZip = std::make_shared<ExcelReader>(path("text.xlsx"));
    EXPECT_TRUE(notZip->sheets().empty());
    EXPECT_TRUE(log.contains("Error initializing excel reader: '"));
    // A zip archive without content types.
    test::writeFile(path("plain.zip"), storedZip({{"a.txt", "a"}}));
    EXPECT_FALSE(ExcelReader::isOfficeOpenXMLSpreadsheet(path("plain.zip")));

    // A truncated sheet fails with the rows read so far kept.
    const std::string whole = sheetXml(R"(<row><c t="inlineStr"><is><t>a</t></is></c></row>)");
    auto truncated = handMade({{"xl/workbook.xml", workbookXml()},
                               {"xl/worksheets/sheet1.xml", whole.substr(0, whole.size() - 15)}});
    parse(truncated);
    ASSERT_EQ(delegate.failures.size(), 1u);
    EXPECT_EQ(delegate.failures[0].code, kExcelReaderErrorMalformedSheet);
    EXPECT_EQ(delegate.ends, 0);
    EXPECT_FALSE(truncated->parseLog().empty());

    // Broken shared strings leave the table empty and say so in the parse log.
    auto brokenStrings = handMade({{"xl/workbook.xml", workbookXml()},
                                   {"xl/sharedStrings.xml", "<sst><si><t>a</si></sst>"},
                                   {"xl/worksheets/sheet1.xml", sheetXml("")}});
    ASSERT_EQ(brokenStrings->parseLog().size(), 1u);
    EXPECT_EQ(
        brokenStrings->parseLog()[0].message.rfind("Could not build shared strings table: '", 0),
        0u);
    EXPECT_TRUE(log.contains("Could not build shared strings table: '"));

    auto brokenStyles = handMade({{"xl/workbook.xml", workbookXml()},
                                  {"xl/styles.xml", "<styleSheet><cellXfs>"},
                                  {"xl/worksheets/sheet1.xml", sheetXml("")}});
    EXPECT_TRUE(brokenStyles->cellFormats().empty());
    EXPECT_TRUE(log.contains("Could not build cell formats table: '"));

    // A picture whose part is missing leaves its cell out.
    const char* const sheetRelationships =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/drawing" Target="../drawings/drawing1.xml"/></Relationships>)";
    const char* const drawingRelationships =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="../media/missing.png"/></Relationships>)";
    const char* const drawing =
        R"(<xdr:wsDr xmlns:xdr="http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing" xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">
<xdr:oneCellAnchor><xdr:from><xdr:col>2</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>0</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:ext cx="1" cy="1"/>
<xdr:pic><xdr:nvPicPr/><xdr:blipFill><a:blip r:embed="rId1"/></xdr:blipFill></xdr:pic><xdr:clientData/></xdr:oneCellAnchor></xdr:wsDr>)";
    auto missingPicture =
        handMade({{"xl/workbook.xml", workbookXml()},
                  {"xl/worksheets/sheet1.xml",
                   sheetXml(R"(<row><c t="inlineStr"><is><t>a</t></is></c></row>)")},
                  {"xl/worksheets/_rels/sheet1.xml.rels", sheetRelationships},
                  {"xl/drawings/drawing1.xml", drawing},
                  {"xl/drawings/_rels/drawing1.xml.rels", drawingRelationships}});
    parse(missingPicture);
    ASSERT_EQ(missingPicture->anchoredImages().size(), 1u);
    EXPECT_EQ(missingPicture->anchoredImages()[0],
              (AnchoredImage{"rId1", "xl/media/missing.png", 1, 3}));
    EXPECT_EQ(missingPicture->dataRows()[0].cellCount(), 1u);
    EXPECT_TRUE(
        log.contains("An error occurred while retrieving image data for 'xl/media/missing.png'"));
}

TEST_F(ExcelReaderTest, CancelRequestSkipsTheRemainingRowsAndStillEnds) {
    std::string rows;
    for (int row = 0; row < 500; ++row)
        rows += R"(<row><c t="inlineStr"><is><t>x</t></is></c></row>)";
    auto reader = handMade(
        {{"xl/workbook.xml", workbookXml()}, {"xl/worksheets/sheet1.xml", sheetXml(rows)}});
    parse(reader);
    EXPECT_EQ(reader->dataRows().size(), 500u);
    // The session clears the flag when it starts a parse; one set before the first row stops
    // the parse there, and the parse still ends instead of failing.
    reader->setShouldCancelParsing(true);
    parse(reader);
    EXPECT_EQ(delegate.ends, 1);
    EXPECT_TRUE(delegate.records.empty());
    EXPECT_TRUE(reader->dataRows().empty());
    reader->setShouldCancelParsing(false);
}

TEST_F(ExcelReaderTest, FuzzerFindingsReadWithoutCrashing) {
    // Inputs that once crashed fuzz/ExcelReaderFuzzer.cpp: packages (.xlsx) are opened as
    // they are, sheet XML (.xml) is packed with a workbook the way the fuzzer packs it.
    std::size_t files = 0;
    for (const auto& item : std::filesystem::directory_iterator(
             std::filesystem::path(PELKORA_TEST_DATA_DIR) / "xlsx")) {
        const auto name = item.path().filename().string();
        if (!name.starts_with("fuzz-")) continue;
        ++files;
        std::shared_ptr<ExcelReader> reader;
        if (item.path().extension() == ".xml") {
            reader = handMade({{"xl/workbook.xml", workbookXml(R"(<workbookPr date1904="1"/>)")},
                               {"xl/styles.xml", kStyles},
                               {"xl/worksheets/sheet1.xml", test::readFile(item.path())}});
        } else {
            reader = std::make_shared<ExcelReader>(item.path());
        }
        for (std::size_t sheet = 0; sheet < reader->sheets().size(); ++sheet) parse(reader, sheet);
    }
    EXPECT_GE(files, 1u);
}

// --- The pull scanner ---------------------------------------------------------------------

// Reads a document through the scanner with a stream that hands out a few bytes at a time,
// so every token straddles a refill, and describes the tokens.
std::string scanned(const std::string& document, std::size_t readSize) {
    xml::XmlPullScanner scanner(InputStream::fromMemory(document, readSize));
    std::string result;
    while (true) {
        const auto token = scanner.next();
        if (token == xml::XmlPullScanner::Token::endOfDocument) return result;
        if (token == xml::XmlPullScanner::Token::error)
            return result + "!" + scanner.errorMessage();
        if (token == xml::XmlPullScanner::Token::startElement) {
            result += "<" + std::string(scanner.localName());
            for (const auto& attribute : scanner.attributes()) {
                std::string value;
                xml::appendDecodedText(attribute.rawValue, value);
                result += " " + std::string(attribute.qualifiedName) + "=" + value;
            }
            result += ">";
        } else if (token == xml::XmlPullScanner::Token::endElement) {
            result += "</" + std::to_string(scanner.depth()) + ">";
        } else {
            std::string text;
            scanner.appendText(text);
            result += "[" + text + "]";
        }
    }
}

TEST(XmlPullScannerTest, TokensAreTheSameWhateverTheReadSize) {
    const std::string document =
        "<?xml version=\"1.0\"?>\r\n<!DOCTYPE x [<!ENTITY e \"no\">]><!-- c --><x:a q='1>2' "
        "b=\"&lt;&#233;\"><b/>t&amp;u\r\nv<![CDATA[&raw;]]><?pi x?></x:a>\n";
    const std::string expected = "<a q=1>2 b=<é><b></2>[t&u\nv][&raw;]</1>";
    // Bytes that are not UTF-8 become U+FFFD, in text and in character data alike; the
    // accented letters stay.
    EXPECT_EQ(
        scanned("<a>Zo\xC3|\xC3\xAB|\xFF<![CDATA[\xED\xA0\x80]]></a>", 2),
        "<a>[Zo\xEF\xBF\xBD|\xC3\xAB|\xEF\xBF\xBD][\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD]</1>");
    for (const std::size_t readSize : {1, 2, 3, 7, 64, 100000}) {
        EXPECT_EQ(scanned(document, readSize), expected) << readSize;
        EXPECT_EQ(scanned("\xEF\xBB\xBF" + document, readSize), expected) << readSize;
    }
    // Only at the very start.
    EXPECT_NE(scanned("<a/>\xEF\xBB\xBF", 100).find('!'), std::string::npos);
}

// Gives the pieces in turn, each repeated as often as it says, without holding more than one
// piece: a document of gigabytes costs no memory.
class RepeatingStream final : public InputStream {
  public:
    explicit RepeatingStream(std::vector<std::pair<std::string, std::size_t>> pieces)
        : pieces_(std::move(pieces)) {}
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        std::size_t count = 0;
        while (count < capacity && piece_ < pieces_.size()) {
            const auto& [text, repeats] = pieces_[piece_];
            if (repeat_ == repeats || text.empty()) {
                ++piece_;
                repeat_ = 0;
                offset_ = 0;
                continue;
            }
            buffer[count++] = static_cast<std::uint8_t>(text[offset_]);
            if (++offset_ == text.size()) {
                offset_ = 0;
                ++repeat_;
            }
        }
        return count;
    }
    bool hasBytesAvailable() const override { return piece_ < pieces_.size(); }

  private:
    std::vector<std::pair<std::string, std::size_t>> pieces_;
    std::size_t piece_ = 0;
    std::size_t repeat_ = 0;
    std::size_t offset_ = 0;
};

TEST(XmlPullScannerTest, WhiteSpaceBetweenElementsIsSkippedNotHeld) {
    // White space far beyond the largest token the scanner may hold (1 MiB here) before,
    // inside and after the root: it is layout and is skipped as it is read. Short white
    // space stays text, as a cell of spaces needs.
    constexpr std::size_t maximumToken = std::size_t{1} << 20;
    constexpr std::size_t run = std::size_t{8} << 20;
    xml::XmlPullScanner scanner(
        std::make_unique<RepeatingStream>(
            std::vector<std::pair<std::string, std::size_t>>{{"\n", run},
                                                             {"<sst><si><t>", 1},
                                                             {" \r\n\t", run / 4},
                                                             {"</t></si><si><t>  </t></si>", 1},
                                                             {" ", run},
                                                             {"<si><t>", 1},
                                                             {" ", run},
                                                             {"Ann</t></si></sst>", 1},
                                                             {"\n", run}}),
        0, maximumToken);
    std::vector<std::string> texts;
    while (true) {
        const auto token = scanner.next();
        ASSERT_NE(token, xml::XmlPullScanner::Token::error) << scanner.errorMessage();
        if (token == xml::XmlPullScanner::Token::endOfDocument) break;
        if (token != xml::XmlPullScanner::Token::text) continue;
        std::string text;
        scanner.appendText(text);
        texts.push_back(std::move(text));
    }
    // A text that goes on after a long run of white space keeps at most the run's last
    // kLongestKeptWhiteSpace bytes.
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "  ");
    EXPECT_TRUE(texts[1].ends_with(" Ann"));
    EXPECT_LE(texts[1].size(), xml::XmlPullScanner::kLongestKeptWhiteSpace + 3);
    EXPECT_EQ(scanner.byteOffset(), 5 * run + 64);
}

TEST(XmlPullScannerTest, LongTextsComeInPiecesThatJoinToTheWhole) {
    // Texts and character data far beyond the largest tag the scanner may hold: they come as
    // consecutive text tokens, never splitting a character, a reference or a line end, and
    // joined they are the whole text.
    constexpr std::size_t maximumToken = std::size_t{4} << 20;
    constexpr std::size_t repeats = std::size_t{1} << 19;
    const std::string text = "Zo\xC3\xAB &amp; Ann\r\n&#233;\xE2\x82\xAC|";
    const std::string literal = "Zo\xC3\xAB]]\r\n&amp;\xF0\x9F\x98\x80";
    xml::XmlPullScanner scanner(
        std::make_unique<RepeatingStream>(
            std::vector<std::pair<std::string, std::size_t>>{{"<a><b>", 1},
                                                             {text, repeats},
                                                             {"</b><c><![CDATA[", 1},
                                                             {literal, repeats},
                                                             {"]]></c></a>", 1}}),
        0, maximumToken);
    std::string joined[2];
    std::size_t pieces[2] = {0, 0};
    std::size_t element = 0;
    while (true) {
        const auto token = scanner.next();
        ASSERT_NE(token, xml::XmlPullScanner::Token::error) << scanner.errorMessage();
        if (token == xml::XmlPullScanner::Token::endOfDocument) break;
        if (token == xml::XmlPullScanner::Token::startElement && scanner.depth() == 2)
            element = scanner.localName() == "b" ? 0 : 1;
        if (token != xml::XmlPullScanner::Token::text) continue;
        EXPECT_LE(scanner.rawText().size(), xml::XmlPullScanner::kLongestTextPiece);
        EXPECT_EQ(scanner.isLiteralText(), element == 1);
        ASSERT_TRUE(scanner.appendText(joined[element]));
        ++pieces[element];
    }
    std::string expectedText, expectedLiteral;
    for (std::size_t index = 0; index < repeats; ++index) {
        expectedText += "Zo\xC3\xAB & Ann\n\xC3\xA9\xE2\x82\xAC|";
        expectedLiteral += literal;
    }
    EXPECT_GT(pieces[0], 4u);
    EXPECT_GT(pieces[1], 4u);
    EXPECT_TRUE(joined[0] == expectedText) << joined[0].size() << " " << expectedText.size();
    EXPECT_TRUE(joined[1] == expectedLiteral) << joined[1].size() << " " << expectedLiteral.size();
}

TEST(XmlPullScannerTest, MalformedDocumentsAreErrors) {
    for (const std::string document :
         {"", "<a>", "<a></b>", "<a/><b/>", "text<a/>", "<a b></a>", "<a b=c></a>", "<a b='c></a>",
          "<a><b></a></b>", "<a>&#0;</a>", "<a></a>trailing", "<a", "<a><!-- open", "</a>"}) {
        auto result = scanned(document, 3);
        if (document == "<a>&#0;</a>") {
            xml::XmlPullScanner scanner(std::span<const char>(document.data(), document.size()));
            ASSERT_EQ(scanner.next(), xml::XmlPullScanner::Token::startElement);
            ASSERT_EQ(scanner.next(), xml::XmlPullScanner::Token::text);
            std::string text;
            EXPECT_FALSE(scanner.appendText(text));
            continue;
        }
        EXPECT_NE(result.find('!'), std::string::npos) << document << " gave " << result;
    }
}

}  // namespace
}  // namespace pelkora
