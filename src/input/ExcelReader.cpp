#include "input/ExcelReader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <ctime>
#include <numeric>
#include <pugixml.hpp>
#include <stdexcept>

#include "input/XmlPullScanner_p.h"
#include "input/zip/ZipArchive.h"
#include "platform/MappedFile.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {
namespace {

using xml::XmlPullScanner;

// Reads the leading integer of a text the way a lenient number reading does: white space,
// an optional sign, then digits; 0 when there are none. Saturates instead of overflowing.
std::int64_t integerValue(std::string_view text) {
    std::size_t index = 0;
    while (index < text.size() && (text[index] == ' ' || text[index] == '\t' ||
                                   text[index] == '\n' || text[index] == '\r')) {
        ++index;
    }
    bool negative = false;
    if (index < text.size() && (text[index] == '-' || text[index] == '+')) {
        negative = text[index] == '-';
        ++index;
    }
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 10 - 1;
    std::int64_t value = 0;
    for (; index < text.size() && text[index] >= '0' && text[index] <= '9'; ++index) {
        if (value < limit) value = value * 10 + (text[index] - '0');
    }
    return negative ? -value : value;
}

// Reads a whole text as a decimal floating-point number (white space around it allowed);
// none when anything else is in it or it is not finite.
std::optional<double> doubleValue(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Midnight plus the time of day of a calendar day, in the current time zone; none when the
// components make no valid date.
std::optional<CellDate> localDate(std::int64_t year, std::int64_t month, std::int64_t day,
                                  std::int64_t hour = 0, std::int64_t minute = 0,
                                  std::int64_t second = 0) {
    if (year < -9999 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(year)),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) return std::nullopt;
    std::tm parts{};
    parts.tm_year = static_cast<int>(year - 1900);
    parts.tm_mon = static_cast<int>(month - 1);
    parts.tm_mday = static_cast<int>(day);
    parts.tm_hour = static_cast<int>(hour);
    parts.tm_min = static_cast<int>(minute);
    parts.tm_sec = static_cast<int>(second);
    parts.tm_isdst = -1;
    const std::time_t time = std::mktime(&parts);
    if (time == static_cast<std::time_t>(-1) && parts.tm_year != year - 1900) return std::nullopt;
    // A cell date counts nanoseconds in 64 bits: about the years 1678 to 2261. Beyond them
    // the value cannot be held, so the cell has no date rather than a wrapped-around one.
    constexpr auto limit =
        std::chrono::duration_cast<std::chrono::seconds>(CellDate::duration::max()).count() - 1;
    if (time > limit || time < -limit) return std::nullopt;
    return std::chrono::system_clock::from_time_t(time);
}

// Splits at every occurrence of the separator, empty pieces included.
std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const auto found = text.find(separator, start);
        pieces.push_back(text.substr(start, found - start));
        if (found == std::string_view::npos) return pieces;
        start = found + 1;
    }
}

// A "d" cell: a date and time written as text, "2024-03-05T10:20:30", "2024-03-05" or
// "10:20". A time alone falls on 1 January 1904.
std::optional<CellDate> dateFromText(std::string_view text) {
    const auto pieces = split(text, 'T');
    std::string_view datePart;
    std::string_view timePart;
    if (pieces.size() == 2) {
        datePart = pieces[0];
        timePart = pieces[1];
    } else if (pieces.size() == 1) {
        if (text.find('-') != std::string_view::npos) datePart = text;
        if (text.find(':') != std::string_view::npos) timePart = text;
    }
    std::int64_t year = 1904, month = 1, day = 1;
    if (const auto date = split(datePart, '-'); date.size() == 3) {
        year = integerValue(date[0]);
        month = integerValue(date[1]);
        day = integerValue(date[2]);
    }
    std::array<std::int64_t, 3> time{};
    if (!timePart.empty()) {
        const auto pieces = split(timePart, ':');
        for (std::size_t index = 0; index < std::min<std::size_t>(3, pieces.size()); ++index)
            time[index] = integerValue(pieces[index]);
    }
    return localDate(year, month, day, time[0], time[1], time[2]);
}

// The column of a cell reference such as "AB12" without building a CellReference: the hot
// path of a sheet's cells.
std::int64_t columnOfReference(std::string_view text) {
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    std::int64_t column = 0;
    for (const char c : text) {
        std::int64_t letter = 0;
        if (c >= 'A' && c <= 'Z') {
            letter = c - 'A' + 1;
        } else if (c >= 'a' && c <= 'z') {
            letter = c - 'a' + 1;
        } else {
            continue;
        }
        column = std::min(limit, column * 26 + letter);
    }
    return std::max<std::int64_t>(column, 1);
}

// A cell's "t" attribute; any type not named here is read as a number.
enum class CellType { number, boolean, date, error, formulaString, inlineString, sharedString };

CellType cellTypeOf(std::string_view type) {
    if (type == "s") return CellType::sharedString;
    if (type == "str") return CellType::formulaString;
    if (type == "inlineStr") return CellType::inlineString;
    if (type == "b") return CellType::boolean;
    if (type == "d") return CellType::date;
    if (type == "e") return CellType::error;
    return CellType::number;
}

// Whether an element's local name is the given one; names are a few bytes long, so a loop
// beats the call of memcmp.
bool nameIs(std::string_view name, std::string_view wanted) {
    if (name.size() != wanted.size()) return false;
    for (std::size_t index = 0; index < name.size(); ++index) {
        if (name[index] != wanted[index]) return false;
    }
    return true;
}

// The first attribute with this exact name, or none.
std::optional<std::string_view> attributeNamed(const std::vector<xml::XmlAttribute>& attributes,
                                               std::string_view name) {
    for (const auto& attribute : attributes) {
        if (attribute.qualifiedName == name) return attribute.rawValue;
    }
    return std::nullopt;
}

// A package path for a relationship target: targets are relative to the "xl/" folder, and
// one beginning with "../" climbs out of a sub-folder of it. A target starting with "/" is
// already a package path.
std::string resolvedTarget(std::string_view target) {
    if (target.starts_with("/")) return std::string(target.substr(1));
    if (target.starts_with("../")) return "xl/" + std::string(target.substr(3));
    return std::string(target);
}

// The relationships part of a part: "xl/worksheets/sheet1.xml" has
// "xl/worksheets/_rels/sheet1.xml.rels".
std::string relationshipsPathOf(std::string_view partPath) {
    const auto slash = partPath.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : partPath.substr(0, slash + 1);
    const std::string_view file =
        slash == std::string_view::npos ? partPath : partPath.substr(slash + 1);
    return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

// XPath steps that match an element by its local name, so that a part written with prefixes
// (x:worksheet) reads like one without.
std::string step(std::string_view localName) {
    return "*[local-name()='" + std::string(localName) + "']";
}

// An attribute's value by its exact name; empty when absent.
std::optional<std::string> attributeValue(const pugi::xml_node& node, const char* name) {
    const auto attribute = node.attribute(name);
    if (!attribute) return std::nullopt;
    return std::string(attribute.value());
}

// The value of a relationship id attribute ("r:id", "r:embed"), whatever prefix the part
// binds to the relationships namespace.
std::optional<std::string> relationshipAttribute(const pugi::xml_node& node,
                                                 std::string_view localName) {
    for (const auto& attribute : node.attributes()) {
        const std::string_view name = attribute.name();
        if (name.find(':') != std::string_view::npos && xml::localNameOf(name) == localName)
            return std::string(attribute.value());
    }
    return std::nullopt;
}

const std::array<std::string_view, 31> kBuiltinDateNumberFormatIds = {
    "14", "15", "16", "17", "18", "19", "20", "21", "22", "45", "46", "47", "27", "28", "29", "30",
    "31", "32", "33", "34", "35", "36", "50", "51", "52", "53", "54", "55", "56", "57", "58"};

// An in-memory XML part as a document; the error text when it is not well-formed.
Expected<std::unique_ptr<pugi::xml_document>, std::string> parsePart(const ZipArchive& archive,
                                                                     std::string_view name) {
    auto contents = archive.contentsOfEntry(name);
    if (!contents) return Unexpected(contents.error().message);
    auto document = std::make_unique<pugi::xml_document>();
    const auto result = document->load_buffer(contents->data(), contents->size());
    if (!result) {
        return Unexpected("The part “" + std::string(name) + "” is not well-formed XML: " +
                          result.description() + " at byte " + std::to_string(result.offset) + ".");
    }
    return document;
}

const ZipArchiveEntry* entryEndingWith(const ZipArchive& archive, std::string_view suffix,
                                       std::string& name) {
    for (const auto& entry : archive.entries()) {
        auto entryName = entry->fileName();
        if (std::string_view(entryName).ends_with(suffix)) {
            name = std::move(entryName);
            return entry.get();
        }
    }
    return nullptr;
}

const ZipArchiveEntry* entryNamed(const ZipArchive& archive, std::string_view name) {
    for (const auto& entry : archive.entries()) {
        if (entry->fileName() == name) return entry.get();
    }
    return nullptr;
}

std::string describeError(const ZipError& error) {
    return error.message;
}

}  // namespace

CellReference CellReference::fromString(std::string_view text) {
    CellReference reference;
    reference.stringRepresentation = std::string(text);
    reference.column = columnOfReference(text);
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    std::int64_t row = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') row = std::min(limit, row * 10 + (c - '0'));
    }
    reference.row = std::max<std::int64_t>(row, 1);
    return reference;
}

bool isDateFormatCode(std::string_view formatCode) {
    static constexpr std::array<std::string_view, 9> colours = {"[Color", "[Black]", "[Blue]",
                                                                "[Cyan]", "[Green]", "[Magenta]",
                                                                "[Red]",  "[White]", "[Yellow]"};
    std::string code(formatCode);
    for (const auto colour : colours) {
        for (auto found = code.find(colour); found != std::string::npos;
             found = code.find(colour, found)) {
            code.erase(found, colour.size());
        }
    }
    return code.find_first_of("dmyhs") != std::string::npos;
}

bool isBuiltinDateNumberFormatId(std::string_view numberFormatId) {
    return std::find(kBuiltinDateNumberFormatIds.begin(), kBuiltinDateNumberFormatIds.end(),
                     numberFormatId) != kBuiltinDateNumberFormatIds.end();
}

const std::vector<std::string>& builtinDateNumberFormatIds() {
    static const std::vector<std::string> ids(kBuiltinDateNumberFormatIds.begin(),
                                              kBuiltinDateNumberFormatIds.end());
    return ids;
}

ExcelReader::ExcelReader(std::filesystem::path fileURL)
    : TabularDataReader(std::move(fileURL)), backgroundQueue_("Excel reader") {
    auto archive = ZipArchive::archiveWithURL(this->fileURL());
    if (archive) {
        archive_ = std::move(*archive);
    } else {
        examinationError_ = describeError(archive.error());
    }
    examineWorkbook();
}

ExcelReader::ExcelReader(std::filesystem::path fileURL, std::vector<std::uint8_t> packageBytes)
    : TabularDataReader(std::move(fileURL)), backgroundQueue_("Excel reader") {
    auto archive = ZipArchive::archiveWithData(std::move(packageBytes));
    if (archive) {
        archive_ = std::move(*archive);
    } else {
        examinationError_ = describeError(archive.error());
    }
    examineWorkbook();
}

ExcelReader::~ExcelReader() {
    // Stop a parse under way; the queue's destructor then waits for it.
    setShouldCancelParsing(true);
}

bool ExcelReader::isOfficeOpenXMLSpreadsheet(const std::filesystem::path& fileURL) {
    auto archive = ZipArchive::archiveWithURL(fileURL);
    if (!archive) {
        qvLog(LogType::error,
              "Could not determine if the file is a valid Office Open XML Spreadsheet: %{public}@",
              archive.error().message);
        return false;
    }
    return entryNamed(**archive, "[Content_Types].xml") != nullptr;
}

bool ExcelReader::isOfficeOpenXMLSpreadsheetData(std::vector<std::uint8_t> packageBytes) {
    auto archive = ZipArchive::archiveWithData(std::move(packageBytes));
    if (!archive) {
        qvLog(LogType::error,
              "Could not determine if the file is a valid Office Open XML Spreadsheet: %{public}@",
              archive.error().message);
        return false;
    }
    return entryNamed(**archive, "[Content_Types].xml") != nullptr;
}

std::string_view ExcelReader::sharedString(std::size_t index) const {
    const std::size_t start = index == 0 ? 0 : sharedStringEnds_[index - 1];
    return std::string_view(sharedStringBytes_).substr(start, sharedStringEnds_[index] - start);
}

// Examination, once at creation:
//   1. the base dates of both date systems,
//   2. the workbook relationships,
//   3. the workbook part: date system and sheets with their paths,
//   4. the shared strings,
//   5. the styles: number formats and cell formats.
// A part that cannot be read is logged and leaves its table empty; the rest still runs.
void ExcelReader::examineWorkbook() {
    baseDateWindows1900_ = localDate(1899, 12, 30).value_or(CellDate{});
    baseDateMac1904_ = localDate(1904, 1, 1).value_or(CellDate{});
    workbookExamined_ = true;
    if (!archive_) {
        qvLog(LogType::error, "Error initializing excel reader: '%{public}@'",
              examinationError_.value_or(""));
        return;
    }
    std::string name;
    if (entryEndingWith(*archive_, "_rels/workbook.xml.rels", name))
        readWorkbookRelationships(name);
    if (entryEndingWith(*archive_, "workbook.xml", name)) {
        readWorkbook(name);
    } else {
        examinationError_ = "The package " + archive_->displayName() + " has no workbook part.";
        qvLog(LogType::error, "Could not examine workbook: '%{public}@'", *examinationError_);
    }
    if (entryEndingWith(*archive_, "sharedStrings.xml", name)) readSharedStrings(name);
    if (entryEndingWith(*archive_, "styles.xml", name)) readStyles(name);
    releaseReadPages();
}

void ExcelReader::releaseReadPages() const {
    // Only a package mapped from its file: the bytes of one in memory have no file to come
    // back from.
    if (archive_ && archive_->URL() && archive_->contents())
        releaseResidentPages(*archive_->contents());
}

void ExcelReader::readWorkbookRelationships(std::string_view entryName) {
    auto document = parsePart(*archive_, entryName);
    if (!document) {
        qvLog(LogType::error, "Error initializing excel reader: '%{public}@'", document.error());
        return;
    }
    const std::string query = "/" + step("Relationships") + "/" + step("Relationship");
    for (const auto& found : (*document)->select_nodes(query.c_str())) {
        const auto node = found.node();
        auto id = attributeValue(node, "Id");
        auto type = attributeValue(node, "Type");
        auto target = attributeValue(node, "Target");
        if (!id || !type || !target) continue;
        workbookRelationships_.push_back(
            {std::move(*id), std::move(*type), std::move(*target), std::string(entryName)});
    }
}

void ExcelReader::readWorkbook(std::string_view entryName) {
    auto document = parsePart(*archive_, entryName);
    if (!document) {
        examinationError_ = document.error();
        qvLog(LogType::error, "Could not examine workbook: '%{public}@'", document.error());
        return;
    }
    const std::string properties = "/" + step("workbook") + "/" + step("workbookPr");
    for (const auto& found : (*document)->select_nodes(properties.c_str())) {
        if (std::string_view(found.node().attribute("date1904").value()) == "1")
            dateSystem_ = DateSystem::mac1904;
    }
    const std::string sheetsQuery =
        "/" + step("workbook") + "/" + step("sheets") + "/" + step("sheet");
    for (const auto& found : (*document)->select_nodes(sheetsQuery.c_str())) {
        const auto node = found.node();
        Sheet sheet;
        sheet.displayName = attributeValue(node, "name").value_or("undefined");
        sheet.sheetId = integerValue(node.attribute("sheetId").value());
        sheet.relationshipId = relationshipAttribute(node, "id").value_or("undefined");
        const auto relationship = std::find_if(
            workbookRelationships_.begin(), workbookRelationships_.end(),
            [&](const auto& candidate) { return candidate.id == sheet.relationshipId; });
        if (relationship == workbookRelationships_.end()) {
            qvLog(LogType::error,
                  "Could not find a workbook relationship whose id is '%{public}@'.",
                  sheet.relationshipId);
            std::string list;
            for (const auto& candidate : workbookRelationships_) {
                list += "\n\tid: " + candidate.id + ", type: " + candidate.type +
                        ", target: " + candidate.target + ", path: " + candidate.pathInPackage;
            }
            qvLog(LogType::error, "Workbook relationships: %{public}@",
                  list.empty() ? "none" : list);
            sheet.pathInPackage = "undefined";
        } else if (relationship->target.starts_with("/")) {
            sheet.pathInPackage = resolvedTarget(relationship->target);
        } else if (relationship->pathInPackage.starts_with("xl/")) {
            sheet.pathInPackage = "xl/" + relationship->target;
        } else {
            sheet.pathInPackage = relationship->target;
        }
        sheets_.push_back(std::move(sheet));
    }
}

// Shared strings are streamed: a workbook of contacts may hold millions of them. Each "si"
// gives the text of its "t" elements, rich-text runs joined; phonetic readings ("rPh") are
// not part of the text.
void ExcelReader::readSharedStrings(std::string_view entryName) {
    const auto fail = [&](const std::string& reason) {
        const std::string message = "Could not build shared strings table: '" + reason + "'";
        qvLog(LogType::error, "%{public}@", message);
        appendParseLogEntry({ParseLogSeverity::error, message});
    };
    const ZipArchiveEntry* entry = entryNamed(*archive_, entryName);
    auto stream = entry->newStream();
    if (!stream) return fail(stream.error().message);
    XmlPullScanner scanner(std::move(*stream), entry->uncompressedSize());
    bool inTable = false;
    std::size_t textDepth = 0;
    std::size_t phoneticDepth = 0;
    bool inItem = false;
    while (true) {
        const auto token = scanner.next();
        if (token == XmlPullScanner::Token::endOfDocument) break;
        if (token == XmlPullScanner::Token::error) {
            return fail("The part “" + std::string(entryName) +
                        "” is not well-formed XML: " + scanner.errorMessage() + ".");
        }
        const std::size_t depth = scanner.depth();
        if (token == XmlPullScanner::Token::startElement) {
            const auto name = scanner.localName();
            if (depth == 1) {
                inTable = name == "sst";
            } else if (depth == 2 && inTable && name == "si") {
                inItem = true;
            } else if (inItem && phoneticDepth == 0 && name == "rPh") {
                phoneticDepth = depth;
            } else if (inItem && phoneticDepth == 0 && textDepth == 0 && name == "t") {
                textDepth = depth;
            }
        } else if (token == XmlPullScanner::Token::endElement) {
            if (depth == textDepth) textDepth = 0;
            if (depth == phoneticDepth) phoneticDepth = 0;
            if (depth == 2 && inItem) {
                inItem = false;
                if (sharedStringBytes_.size() > std::numeric_limits<std::uint32_t>::max())
                    return fail("The shared strings are larger than 4 GiB.");
                sharedStringEnds_.push_back(static_cast<std::uint32_t>(sharedStringBytes_.size()));
            }
        } else if (textDepth != 0 && phoneticDepth == 0) {
            if (!scanner.appendText(sharedStringBytes_)) {
                return fail("The part “" + std::string(entryName) +
                            "” holds a character reference to no character.");
            }
        }
    }
    sharedStringEnds_.shrink_to_fit();
    sharedStringBytes_.shrink_to_fit();
}

void ExcelReader::readStyles(std::string_view entryName) {
    auto document = parsePart(*archive_, entryName);
    if (!document) {
        qvLog(LogType::error, "Could not build cell formats table: '%{public}@'", document.error());
        return;
    }
    const std::string formats =
        "/" + step("styleSheet") + "/" + step("numFmts") + "/" + step("numFmt");
    for (const auto& found : (*document)->select_nodes(formats.c_str())) {
        NumberFormat format;
        format.numberFormatId = found.node().attribute("numFmtId").value();
        format.numberFormatCode = found.node().attribute("formatCode").value();
        format.isDate = isDateFormatCode(format.numberFormatCode);
        numberFormats_.push_back(std::move(format));
    }
    const std::string cellFormats =
        "/" + step("styleSheet") + "/" + step("cellXfs") + "/" + step("xf");
    for (const auto& found : (*document)->select_nodes(cellFormats.c_str())) {
        cellFormats_.push_back({found.node().attribute("numFmtId").value()});
    }
    for (const auto& cellFormat : cellFormats_) {
        bool isDate = isBuiltinDateNumberFormatId(cellFormat.numberFormatId);
        if (!isDate) {
            const auto format = std::find_if(
                numberFormats_.begin(), numberFormats_.end(), [&](const auto& candidate) {
                    return candidate.numberFormatId == cellFormat.numberFormatId;
                });
            isDate = format != numberFormats_.end() && format->isDate;
        }
        cellFormatIsDate_.push_back(isDate);
    }
}

std::optional<CellDate> ExcelReader::dateFromSerial(double serial) const {
    if (!(std::fabs(serial) < 9223372036854775808.0)) return std::nullopt;
    const double days = std::floor(serial);
    // Beyond a few million days there is no calendar date to give (the year would pass 9999).
    if (std::fabs(days) > 2147483647.0) {
        qvLog(LogType::error,
              "Failed to assign serial date '%f' to a DateComponent's day property.", serial);
        return std::nullopt;
    }
    // Past about 8,000 years from the base the calendar has no year for it.
    if (std::fabs(days) > 3000000.0) return std::nullopt;
    using namespace std::chrono;
    const sys_days base = dateSystem_ == DateSystem::mac1904 ? sys_days(year(1904) / 1 / 1)
                                                             : sys_days(year(1899) / 12 / 30);
    const year_month_day date{base + std::chrono::days(static_cast<std::int64_t>(days))};
    if (!date.ok()) return std::nullopt;
    return localDate(static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                     static_cast<unsigned>(date.day()));
}

// Parsing a sheet:
//   1. find the sheet's part,
//   2. read the pictures anchored in its drawings,
//   3. stream the rows and their cells, attaching the pictures of each row,
//   4. choose the header and example rows.
void ExcelReader::parseSheet(const Sheet& sheet) {
    // What examination noted stays in the log; the parse adds its own entries after it. The
    // cancel flag is left to the session, which clears it when it starts a parse.
    auto examinationLog = parseLog();
    resetForParsing();
    parsedSheetName_ = sheet.displayName;
    setParseLog(std::move(examinationLog));
    setProposedRowCount(0);
    // The begin event goes out once the sheet's used range is known (or its rows start), so
    // the delegate reads the expected row count after it was set and never while it is set.
    beginPosted_ = false;
    try {
        parseSheetRows(sheet);
    } catch (const std::exception& error) {
        // A row too large to hold (pictures of gigabytes anchored on one row, say) or memory
        // running out: the parse fails instead of taking the application down.
        const std::string reason = error.what();
        qvLog(LogType::error, "Error while parsing sheet '%{public}@': %{public}@",
              sheet.displayName, reason);
        appendParseLogEntry({ParseLogSeverity::error, reason});
        if (delegate()) {
            postDidBeginParsingOnce();
            postDidFail(ReaderError{localizedString("The sheet “") + sheet.displayName +
                                        localizedString("” could not be read: ") + reason,
                                    std::string(kExcelReaderErrorDomain),
                                    kExcelReaderErrorSheetUnreadable});
        }
    }
}

bool ExcelReader::parseSheetWithId(std::int64_t sheetId) {
    const auto sheet = std::find_if(sheets_.begin(), sheets_.end(), [&](const Sheet& candidate) {
        return candidate.sheetId == sheetId;
    });
    if (sheet == sheets_.end()) return false;
    const Sheet chosen = *sheet;
    parseSheet(chosen);
    return true;
}

void ExcelReader::readAnchoredImages(const Sheet& sheet) {
    imageRelationships_.clear();
    anchoredImages_.clear();
    auto sheetRelationships = parsePart(*archive_, relationshipsPathOf(sheet.pathInPackage));
    if (!sheetRelationships) return;
    const std::string relationshipsQuery = "/" + step("Relationships") + "/" + step("Relationship");
    for (const auto& drawingFound :
         (*sheetRelationships)->select_nodes(relationshipsQuery.c_str())) {
        const auto relationship = drawingFound.node();
        if (!std::string_view(relationship.attribute("Type").value()).ends_with("/drawing"))
            continue;
        const std::string drawingPath = resolvedTarget(relationship.attribute("Target").value());
        std::vector<ImageRelationship> images;
        if (auto drawingRelationships = parsePart(*archive_, relationshipsPathOf(drawingPath))) {
            for (const auto& found :
                 (*drawingRelationships)->select_nodes(relationshipsQuery.c_str())) {
                const auto node = found.node();
                if (!std::string_view(node.attribute("Type").value()).ends_with("/image")) continue;
                images.push_back({node.attribute("Id").value(), node.attribute("Type").value(),
                                  node.attribute("Target").value(), std::to_string(sheet.sheetId)});
            }
        }
        imageRelationships_.insert(imageRelationships_.end(), images.begin(), images.end());
        auto drawing = parsePart(*archive_, drawingPath);
        if (!drawing) {
            qvLog(LogType::error, "Error while parsing sheet '%{public}@': %{public}@",
                  sheet.displayName, drawing.error());
            continue;
        }
        const std::string anchors =
            "*/*[local-name()='oneCellAnchor' or local-name()='twoCellAnchor']";
        for (const auto& found : (*drawing)->select_nodes(anchors.c_str())) {
            const auto anchor = found.node();
            const auto from = anchor.select_node(step("from").c_str()).node();
            const auto column = from.select_node(step("col").c_str()).node();
            const auto row = from.select_node(step("row").c_str()).node();
            const auto blip =
                anchor
                    .select_node(
                        (step("pic") + "/" + step("blipFill") + "/" + step("blip")).c_str())
                    .node();
            const auto embed = relationshipAttribute(blip, "embed");
            if (!from || !column || !row || !blip || !embed) continue;
            const auto image =
                std::find_if(images.begin(), images.end(),
                             [&](const auto& candidate) { return candidate.id == *embed; });
            if (image == images.end()) continue;
            AnchoredImage anchored;
            anchored.relationshipId = *embed;
            anchored.pathInPackage = resolvedTarget(image->target);
            const auto clamp = [](std::int64_t value) {
                return std::clamp<std::int64_t>(value, -1,
                                                std::numeric_limits<std::int32_t>::max() - 1);
            };
            anchored.row = clamp(integerValue(row.child_value())) + 1;
            anchored.column = clamp(integerValue(column.child_value())) + 1;
            anchoredImages_.push_back(std::move(anchored));
        }
    }
    std::stable_sort(anchoredImages_.begin(), anchoredImages_.end(),
                     [](const auto& left, const auto& right) { return left.row < right.row; });
}

void ExcelReader::parseSheetRows(const Sheet& sheet) {
    const auto failWith = [&](std::int64_t code, const std::string& reason) {
        qvLog(LogType::error, "Error while parsing sheet '%{public}@': %{public}@",
              sheet.displayName, reason);
        appendParseLogEntry({ParseLogSeverity::error, reason});
        if (delegate()) {
            postDidBeginParsingOnce();
            postDidFail(ReaderError{localizedString("The sheet “") + sheet.displayName +
                                        localizedString("” could not be read: ") + reason,
                                    std::string(kExcelReaderErrorDomain), code});
        }
    };
    const ZipArchiveEntry* entry = archive_ ? entryNamed(*archive_, sheet.pathInPackage) : nullptr;
    if (!entry) {
        qvLog(LogType::error, "Could not determine archive entry for sheet '%{public}@'",
              sheet.displayName);
        failWith(kExcelReaderErrorSheetNotFound,
                 "the workbook has no part “" + sheet.pathInPackage + "” for it.");
        return;
    }
    readAnchoredImages(sheet);
    auto stream = entry->newStream();
    if (!stream) return failWith(kExcelReaderErrorSheetUnreadable, stream.error().message);

    XmlPullScanner scanner(std::move(*stream), entry->uncompressedSize());
    using Token = XmlPullScanner::Token;
    bool inWorksheet = false;
    bool inSheetData = false;
    DataRow* row = nullptr;
    std::int64_t runningRowNumber = 0;

    // The cell being read.
    bool inCell = false;
    std::int64_t columnIndex = 0;
    std::int64_t previousColumnIndex = -1;
    CellType type = CellType::number;
    std::int64_t styleIndex = 0;
    bool valueSeen = false;
    bool inValue = false;
    bool inInlineString = false;
    std::size_t textDepth = 0;
    std::size_t phoneticDepth = 0;
    std::string value;
    std::string inlineText;
    std::string marker;
    // The last day a serial number was turned into, since a column of dates repeats days.
    double lastDays = std::numeric_limits<double>::quiet_NaN();
    std::optional<CellDate> lastDate;

    const auto finishCell = [&] {
        if (type == CellType::boolean) {
            row->add(DataCell(columnIndex, integerValue(value) != 0));
        } else if (type == CellType::date) {
            const auto date = dateFromText(value);
            row->add(date ? DataCell(columnIndex, *date) : DataCell(columnIndex));
        } else if (type == CellType::error || type == CellType::formulaString) {
            row->addText(columnIndex, value);
        } else if (type == CellType::inlineString) {
            row->addText(columnIndex, inlineText);
        } else if (type == CellType::sharedString) {
            const std::int64_t index = integerValue(value);
            if (index >= 0 && static_cast<std::uint64_t>(index) < sharedStringCount()) {
                row->addText(columnIndex, sharedString(static_cast<std::size_t>(index)));
            } else {
                marker =
                    "<EXCEL ERROR - SHARED STRING INDEX OUT OF BOUNDS: " + std::to_string(index) +
                    " >= " + std::to_string(sharedStringCount()) + ">";
                row->addText(columnIndex, marker);
            }
        } else if (styleIndex < 0 ||
                   static_cast<std::uint64_t>(styleIndex) >= cellFormats_.size() || value.empty()) {
            row->addText(columnIndex, "");
        } else if (cellFormatIsDate_[static_cast<std::size_t>(styleIndex)]) {
            const auto serial = doubleValue(value);
            std::optional<CellDate> date;
            if (serial) {
                const double days = std::floor(*serial);
                if (days == lastDays) {
                    date = lastDate;
                } else {
                    date = dateFromSerial(*serial);
                    lastDays = days;
                    lastDate = date;
                }
            }
            if (date) {
                row->add(DataCell(columnIndex, *date));
            } else {
                row->addText(columnIndex, "");
            }
        } else if (const auto number = doubleValue(value)) {
            row->add(DataCell(columnIndex, *number));
        } else {
            row->addText(columnIndex, "");
        }
    };

    while (true) {
        const Token token = scanner.next();
        if (token == Token::endOfDocument) break;
        if (token == Token::error) {
            failWith(kExcelReaderErrorMalformedSheet,
                     "the part “" + sheet.pathInPackage +
                         "” is not well-formed XML: " + scanner.errorMessage() + ".");
            return;
        }
        const std::size_t depth = scanner.depth();
        if (token == Token::text) {
            if (inValue) {
                if (!scanner.appendText(value)) {
                    failWith(kExcelReaderErrorMalformedSheet,
                             "the part “" + sheet.pathInPackage +
                                 "” holds a character reference to no character.");
                    return;
                }
            } else if (textDepth != 0 && phoneticDepth == 0) {
                if (!scanner.appendText(inlineText)) {
                    failWith(kExcelReaderErrorMalformedSheet,
                             "the part “" + sheet.pathInPackage +
                                 "” holds a character reference to no character.");
                    return;
                }
            }
            continue;
        }
        if (token == Token::startElement) {
            const std::string_view name = scanner.localName();
            if (depth == 5 && inCell) {
                if (nameIs(name, "v") && !valueSeen) {
                    valueSeen = true;
                    inValue = true;
                } else if (nameIs(name, "is")) {
                    inInlineString = true;
                }
            } else if (depth > 5 && inInlineString) {
                if (phoneticDepth == 0 && nameIs(name, "rPh")) {
                    phoneticDepth = depth;
                } else if (phoneticDepth == 0 && textDepth == 0 && nameIs(name, "t")) {
                    textDepth = depth;
                }
            } else if (depth == 4 && row && nameIs(name, "c")) {
                inCell = true;
                type = CellType::number;
                styleIndex = 0;
                valueSeen = false;
                value.clear();
                inlineText.clear();
                std::optional<std::string_view> reference;
                for (const auto& attribute : scanner.attributes()) {
                    if (nameIs(attribute.qualifiedName, "r")) {
                        reference = attribute.rawValue;
                    } else if (nameIs(attribute.qualifiedName, "t")) {
                        type = cellTypeOf(attribute.rawValue);
                    } else if (nameIs(attribute.qualifiedName, "s")) {
                        styleIndex = integerValue(attribute.rawValue);
                    } else {
                        qvLog(LogType::error, "Unhandled attribute in cell node: %{public}@",
                              std::string(attribute.qualifiedName) + "=\"" +
                                  std::string(attribute.rawValue) + "\"");
                    }
                }
                // A cell written without a reference follows the cell before it, as the file
                // format defines; taking every such cell for A1 would pile a row's cells into
                // one column.
                columnIndex =
                    reference ? columnOfReference(*reference) - 1 : previousColumnIndex + 1;
                previousColumnIndex = columnIndex;
            } else if (depth == 3 && inSheetData && nameIs(name, "row")) {
                if (shouldCancelParsing()) {
                    backgroundQueue_.cancelAllOperations();
                    break;
                }
                ++runningRowNumber;
                row = &beginDataRow(runningRowNumber);
                previousColumnIndex = -1;
            } else if (depth == 2 && inWorksheet) {
                if (nameIs(name, "sheetData")) {
                    inSheetData = true;
                    if (delegate()) postDidBeginParsingOnce();
                } else if (nameIs(name, "dimension")) {
                    // The used range ("A1:T1000") tells how many rows to expect, so progress
                    // is reported every hundred rows rather than for every row.
                    if (const auto range = attributeNamed(scanner.attributes(), "ref")) {
                        const auto colon = range->find(':');
                        const auto first = CellReference::fromString(range->substr(0, colon));
                        const auto last = colon == std::string_view::npos
                                              ? first
                                              : CellReference::fromString(range->substr(colon + 1));
                        if (last.row >= first.row) {
                            const auto rowCount =
                                static_cast<std::uint64_t>(last.row - first.row + 1);
                            setProposedRowCount(rowCount);
                            if (delegate()) postDidBeginParsingOnce();
                            // Room for the rows at once, so the list is not copied as it grows.
                            // The range is only a claim: no more rows than the part could hold
                            // ("<row/>" takes 6 bytes) are reserved.
                            reserveDataRows(static_cast<std::size_t>(
                                std::min<std::uint64_t>(rowCount, entry->uncompressedSize() / 6)));
                        }
                    }
                }
            } else if (depth == 1) {
                inWorksheet = nameIs(name, "worksheet");
            }
            continue;
        }
        // End of an element.
        if (inValue && depth == 5) {
            inValue = false;
        } else if (depth == textDepth) {
            textDepth = 0;
        } else if (depth == phoneticDepth) {
            phoneticDepth = 0;
        } else if (inInlineString && depth == 5) {
            inInlineString = false;
        } else if (inCell && depth == 4) {
            inCell = false;
            finishCell();
        } else if (row && depth == 3) {
            attachPictures(*row);
            row->sortCellsByColumnIndex();
            row = nullptr;
            finishCurrentDataRow();
            // The package's pages already inflated are not needed again; dropping them now
            // and then keeps them from adding the compressed sheet to the resident set.
            if (runningRowNumber % 4096 == 0) releaseReadPages();
            if (delegate()) notifyRecordParsed(static_cast<std::uint64_t>(runningRowNumber));
        } else if (inSheetData && depth == 2) {
            inSheetData = false;
        }
    }
    if (row) {
        // A cancel stopped the parse inside a row: keep what it holds.
        row->sortCellsByColumnIndex();
        finishCurrentDataRow();
    }
    releaseReadPages();
    chooseHeaderRow();
    if (delegate()) {
        postDidBeginParsingOnce();
        postDidEndParsing();
    }
}

void ExcelReader::postDidBeginParsingOnce() {
    if (beginPosted_) return;
    beginPosted_ = true;
    postDidBeginParsing();
}

void ExcelReader::attachPictures(DataRow& row) {
    const auto first = std::lower_bound(
        anchoredImages_.begin(), anchoredImages_.end(), row.rowIndex(),
        [](const AnchoredImage& image, std::int64_t rowIndex) { return image.row < rowIndex; });
    for (auto image = first; image != anchoredImages_.end() && image->row == row.rowIndex();
         ++image) {
        auto bytes = archive_->contentsOfEntry(image->pathInPackage);
        if (!bytes) {
            qvLog(LogType::error, "An error occurred while retrieving image data for '%@': %@",
                  image->pathInPackage, bytes.error().message);
            continue;
        }
        row.add(DataCell(image->column - 1, PictureBytes(bytes->begin(), bytes->end())));
    }
}

void ExcelReader::chooseHeaderRow() {
    const auto& rows = dataRows();
    if (rows.size() < 2) return;
    const std::size_t searched = std::min<std::size_t>(rows.size(), 50);
    for (std::size_t index = 0; index < searched; ++index) {
        std::size_t texts = 0;
        for (const auto cell : rows[index]) {
            if (cell.kind() == CellKind::text && !cell.text().empty()) ++texts;
        }
        if (texts <= 1) continue;
        setHeaderRowIndex(static_cast<std::int64_t>(index));
        if (index + 1 < rows.size()) setExampleDataRowIndex(static_cast<std::int64_t>(index + 1));
        return;
    }
}

std::string ExcelReader::description() const {
    std::string text = "       fileURL: " + fileURL().string() + "\n";
    text += "    dateSystem: ";
    text += dateSystem_ == DateSystem::mac1904 ? "mac1904" : "windows1900";
    text += "\n numberFormats: ";
    for (const auto& format : numberFormats_) {
        text += "\n\t" + format.numberFormatId + ": " + format.numberFormatCode +
                (format.isDate ? " (date)" : "");
    }
    text += "\n   cellFormats: ";
    for (std::size_t index = 0; index < cellFormats_.size(); ++index)
        text += "\n\t" + std::to_string(index) + ": " + cellFormats_[index].numberFormatId;
    text += "\n        sheets: ";
    for (const auto& sheet : sheets_) {
        text += "\n\t" + std::to_string(sheet.sheetId) + " " + sheet.displayName + " (" +
                sheet.pathInPackage + ", " + sheet.relationshipId + ")";
    }
    text += "\n sharedStrings: " + std::to_string(sharedStringCount());
    return text;
}

}  // namespace pelkora
