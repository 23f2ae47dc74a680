// Feeds arbitrary bytes to the workbook reader the way the import session uses it: examine the
// package, then parse every sheet into rows. Whatever the bytes, it must not crash, read out
// of range or hang.
//
// A zip archive is a poor place to mutate XML (most parts are deflated), so input that does
// not begin like a zip archive is taken as the XML of a sheet and packed, uncompressed,
// with a fixed workbook, shared strings, styles and a drawing around it; the seeds from
// tests/data/xlsx cover the packages themselves.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "input/ExcelReader.h"
#include "support/Logger.h"

namespace {

void put16(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::uint32_t crc32Of(std::string_view bytes) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char byte : bytes) {
        crc ^= static_cast<std::uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A zip archive of stored entries with their CRC-32, which the reader checks.
std::string storedZip(const std::vector<std::pair<std::string_view, std::string_view>>& entries) {
    std::string archive;
    std::string central;
    for (const auto& [name, content] : entries) {
        const auto offset = static_cast<std::uint32_t>(archive.size());
        const auto size = static_cast<std::uint32_t>(content.size());
        const auto nameSize = static_cast<std::uint32_t>(name.size());
        const std::uint32_t crc = crc32Of(content);
        put32(archive, 0x04034B50);
        for (const std::uint32_t field : {20u, 0x0800u, 0u}) put16(archive, field);
        put32(archive, 0);
        for (const std::uint32_t field : {crc, size, size}) put32(archive, field);
        put16(archive, nameSize);
        put16(archive, 0);
        archive += name;
        archive += content;
        put32(central, 0x02014B50);
        for (const std::uint32_t field : {20u, 20u, 0x0800u, 0u}) put16(central, field);
        put32(central, 0);
        for (const std::uint32_t field : {crc, size, size}) put32(central, field);
        for (const std::uint32_t field : {nameSize, 0u, 0u, 0u, 0u}) put16(central, field);
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

constexpr std::string_view kRelationships =
    R"(<Relationships><Relationship Id="rId1" Type="x/worksheet" Target="worksheets/sheet1.xml"/></Relationships>)";
constexpr std::string_view kWorkbook =
    R"(<workbook xmlns:r="r"><workbookPr date1904="1"/><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>)";
constexpr std::string_view kSharedStrings =
    R"(<sst><si><t>a</t></si><si><r><t>b</t></r></si></sst>)";
constexpr std::string_view kStyles =
    R"(<styleSheet><numFmts><numFmt numFmtId="164" formatCode="yyyy"/></numFmts><cellXfs><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="164"/></cellXfs></styleSheet>)";
constexpr std::string_view kSheetRelationships =
    R"(<Relationships><Relationship Id="rId1" Type="x/drawing" Target="../drawings/drawing1.xml"/></Relationships>)";
constexpr std::string_view kDrawingRelationships =
    R"(<Relationships><Relationship Id="rId1" Type="x/image" Target="../media/image1.png"/></Relationships>)";
constexpr std::string_view kDrawing =
    R"(<wsDr xmlns:r="r"><twoCellAnchor><from><col>1</col><row>2</row></from><pic><blipFill><blip r:embed="rId1"/></blipFill></pic></twoCellAnchor></wsDr>)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Damaged input logs on almost every run; echoing it to the terminal would be most of the
    // time spent. The entries still go to the log file.
    static const bool quiet = [] {
        pelkora::Logger::shared().setEcho({});
        return true;
    }();
    (void)quiet;
    if (size > (1u << 20)) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> package;
    if (bytes.starts_with("PK")) {
        package.assign(data, data + size);
    } else {
        const std::string zip =
            storedZip({{"[Content_Types].xml", "<Types/>"},
                       {"xl/_rels/workbook.xml.rels", kRelationships},
                       {"xl/workbook.xml", kWorkbook},
                       {"xl/sharedStrings.xml", kSharedStrings},
                       {"xl/styles.xml", kStyles},
                       {"xl/worksheets/sheet1.xml", bytes},
                       {"xl/worksheets/_rels/sheet1.xml.rels", kSheetRelationships},
                       {"xl/drawings/drawing1.xml", kDrawing},
                       {"xl/drawings/_rels/drawing1.xml.rels", kDrawingRelationships},
                       {"xl/media/image1.png", "png"}});
        package.assign(zip.begin(), zip.end());
    }
    auto reader = std::make_shared<pelkora::ExcelReader>("fuzz.xlsx", std::move(package));
    (void)reader->description();
    const auto sheets = reader->sheets();
    std::size_t parsed = 0;
    for (const auto& sheet : sheets) {
        if (++parsed > 4) break;
        reader->parseSheet(sheet);
        std::size_t cells = 0;
        for (const auto& row : reader->dataRows()) {
            for (const auto cell : row) cells += cell.hasValue();
        }
        (void)cells;
    }
    return 0;
}
