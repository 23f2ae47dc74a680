#include "input/ExcelReader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "input/Drawings_p.h"
#include "input/PackageParts_p.h"
#include "input/SharedStrings_p.h"
#include "input/WorkbookPackage_p.h"
#include "input/WorkbookValues_p.h"
#include "input/XmlPullScanner_p.h"
#include "input/zip/ZipArchive.h"
#include "platform/MappedFile.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {
namespace {

using xml::XmlPullScanner;

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

}  // namespace

// Reading a workbook, each step in a file of its own:
//   At creation (examineWorkbook), once:
//     1. the base dates of both date systems (WorkbookValues.cpp),
//     2. the workbook relationships (WorkbookPackage.cpp),
//     3. the workbook part: date system and sheets with their paths (WorkbookPackage.cpp),
//     4. the shared strings (SharedStrings.cpp),
//     5. the styles: number formats and cell formats (WorkbookPackage.cpp).
//     A part that cannot be read is logged and leaves its table empty; the rest still runs.
//   For each sheet asked for (parseSheet):
//     6. find the sheet's part,
//     7. read the pictures anchored in its drawings (Drawings.cpp),
//     8. stream the rows and their cells, attaching the pictures of each row,
//     9. choose the header and example rows.

ExcelReader::ExcelReader(std::filesystem::path fileURL)
    : TabularDataReader(std::move(fileURL)), backgroundQueue_("Excel reader") {
    auto archive = ZipArchive::archiveWithURL(this->fileURL());
    if (archive) {
        archive_ = std::move(*archive);
    } else {
        examinationError_ = archive.error().message;
    }
    examineWorkbook();
}

ExcelReader::ExcelReader(std::filesystem::path fileURL, std::vector<std::uint8_t> packageBytes)
    : TabularDataReader(std::move(fileURL)), backgroundQueue_("Excel reader") {
    auto archive = ZipArchive::archiveWithData(std::move(packageBytes));
    if (archive) {
        archive_ = std::move(*archive);
    } else {
        examinationError_ = archive.error().message;
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
    return excel::entryNamed(**archive, "[Content_Types].xml") != nullptr;
}

bool ExcelReader::isOfficeOpenXMLSpreadsheetData(std::vector<std::uint8_t> packageBytes) {
    auto archive = ZipArchive::archiveWithData(std::move(packageBytes));
    if (!archive) {
        qvLog(LogType::error,
              "Could not determine if the file is a valid Office Open XML Spreadsheet: %{public}@",
              archive.error().message);
        return false;
    }
    return excel::entryNamed(**archive, "[Content_Types].xml") != nullptr;
}

std::string_view ExcelReader::sharedString(std::size_t index) const {
    const std::size_t start = index == 0 ? 0 : sharedStringEnds_[index - 1];
    return std::string_view(sharedStringBytes_).substr(start, sharedStringEnds_[index] - start);
}

void ExcelReader::examineWorkbook() {
    baseDateWindows1900_ = excel::localDate(1899, 12, 30).value_or(CellDate{});
    baseDateMac1904_ = excel::localDate(1904, 1, 1).value_or(CellDate{});
    workbookExamined_ = true;
    if (!archive_) {
        qvLog(LogType::error, "Error initializing excel reader: '%{public}@'",
              examinationError_.value_or(""));
        return;
    }
    std::string name;
    if (excel::entryEndingWith(*archive_, "_rels/workbook.xml.rels", name))
        workbookRelationships_ = excel::readWorkbookRelationships(*archive_, name);
    if (excel::entryEndingWith(*archive_, "workbook.xml", name)) {
        if (auto workbook = excel::readWorkbook(*archive_, name, workbookRelationships_)) {
            dateSystem_ = workbook->dateSystem;
            sheets_ = std::move(workbook->sheets);
        } else {
            examinationError_ = workbook.error();
            qvLog(LogType::error, "Could not examine workbook: '%{public}@'", workbook.error());
        }
    } else {
        examinationError_ = "The package " + archive_->displayName() + " has no workbook part.";
        qvLog(LogType::error, "Could not examine workbook: '%{public}@'", *examinationError_);
    }
    if (const auto* entry = excel::entryEndingWith(*archive_, "sharedStrings.xml", name)) {
        auto strings = excel::readSharedStrings(*entry, name);
        sharedStringBytes_ = std::move(strings.bytes);
        sharedStringEnds_ = std::move(strings.ends);
        if (strings.failure) {
            const std::string message =
                "Could not build shared strings table: '" + *strings.failure + "'";
            qvLog(LogType::error, "%{public}@", message);
            appendParseLogEntry({ParseLogSeverity::error, message});
        }
    }
    if (excel::entryEndingWith(*archive_, "styles.xml", name)) {
        auto styles = excel::readStyles(*archive_, name);
        numberFormats_ = std::move(styles.numberFormats);
        cellFormats_ = std::move(styles.cellFormats);
        cellFormatIsDate_ = std::move(styles.cellFormatIsDate);
    }
    releaseReadPages();
}

void ExcelReader::releaseReadPages() const {
    // Only a package mapped from its file: the bytes of one in memory have no file to come
    // back from.
    if (archive_ && archive_->URL() && archive_->contents())
        releaseResidentPages(*archive_->contents());
}

std::optional<CellDate> ExcelReader::dateFromSerial(double serial) const {
    return excel::dateFromSerial(serial, dateSystem_);
}

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
    const ZipArchiveEntry* entry =
        archive_ ? excel::entryNamed(*archive_, sheet.pathInPackage) : nullptr;
    if (!entry) {
        qvLog(LogType::error, "Could not determine archive entry for sheet '%{public}@'",
              sheet.displayName);
        failWith(kExcelReaderErrorSheetNotFound,
                 "the workbook has no part “" + sheet.pathInPackage + "” for it.");
        return;
    }
    auto drawings = excel::readSheetDrawings(*archive_, sheet);
    imageRelationships_ = std::move(drawings.imageRelationships);
    anchoredImages_ = std::move(drawings.anchoredImages);
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
            row->add(DataCell(columnIndex, excel::integerValue(value) != 0));
        } else if (type == CellType::date) {
            const auto date = excel::dateFromText(value);
            row->add(date ? DataCell(columnIndex, *date) : DataCell(columnIndex));
        } else if (type == CellType::error || type == CellType::formulaString) {
            row->addText(columnIndex, value);
        } else if (type == CellType::inlineString) {
            row->addText(columnIndex, inlineText);
        } else if (type == CellType::sharedString) {
            const std::int64_t index = excel::integerValue(value);
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
            const auto serial = excel::doubleValue(value);
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
        } else if (const auto number = excel::doubleValue(value)) {
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
                        styleIndex = excel::integerValue(attribute.rawValue);
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
                    reference ? excel::columnOfReference(*reference) - 1 : previousColumnIndex + 1;
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
