#include "input/ExcelReader.h"

#include <algorithm>
#include <stdexcept>

#include "input/Drawings_p.h"
#include "input/PackageParts_p.h"
#include "input/SharedStrings_p.h"
#include "input/SheetParser_p.h"
#include "input/SheetRowBuilder_p.h"
#include "input/WorkbookPackage_p.h"
#include "input/WorkbookValues_p.h"
#include "input/XmlPullScanner_p.h"
#include "input/zip/ZipArchive.h"
#include "platform/MappedFile.h"
#include "support/Error.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {

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
//     8. stream the rows and their cells (SheetParser.cpp) into the reader's rows, giving each
//        cell its value and each row its pictures (SheetRowBuilder.cpp),
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
        writeLog(
            LogType::error,
            "Could not determine if the file is a valid Office Open XML Spreadsheet: %{public}@",
            archive.error().message);
        return false;
    }
    return excel::entryNamed(**archive, "[Content_Types].xml") != nullptr;
}

bool ExcelReader::isOfficeOpenXMLSpreadsheetData(std::vector<std::uint8_t> packageBytes) {
    auto archive = ZipArchive::archiveWithData(std::move(packageBytes));
    if (!archive) {
        writeLog(
            LogType::error,
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
        writeLog(LogType::error, "Error initializing excel reader: '%{public}@'",
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
            writeLog(LogType::error, "Could not examine workbook: '%{public}@'", workbook.error());
        }
    } else {
        examinationError_ = "The package " + archive_->displayName() + " has no workbook part.";
        writeLog(LogType::error, "Could not examine workbook: '%{public}@'", *examinationError_);
    }
    if (const auto* entry = excel::entryEndingWith(*archive_, "sharedStrings.xml", name)) {
        auto strings = excel::readSharedStrings(*entry, name);
        sharedStringBytes_ = std::move(strings.bytes);
        sharedStringEnds_ = std::move(strings.ends);
        if (strings.failure) {
            const std::string message =
                "Could not build shared strings table: '" + *strings.failure + "'";
            writeLog(LogType::error, "%{public}@", message);
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
    } catch (...) {
        // A row too large to hold (pictures of gigabytes anchored on one row, say) or memory
        // running out: the parse fails instead of taking the application down.
        const std::string reason = currentExceptionText();
        writeLog(LogType::error, "Error while parsing sheet '%{public}@': %{public}@",
                 sheet.displayName, reason);
        appendParseLogEntry({ParseLogSeverity::error, reason});
        if (delegate()) {
            postDidBeginParsingOnce();
            postDidFail(ReaderError{{ReaderErrorKind::internalFailure,
                                     localizedString("The sheet “") + sheet.displayName +
                                         localizedString("” could not be read: ") + reason,
                                     fileURL()},
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
        writeLog(LogType::error, "Error while parsing sheet '%{public}@': %{public}@",
                 sheet.displayName, reason);
        appendParseLogEntry({ParseLogSeverity::error, reason});
        if (delegate()) {
            postDidBeginParsingOnce();
            postDidFail(ReaderError{{ReaderErrorKind::malformedContent,
                                     localizedString("The sheet “") + sheet.displayName +
                                         localizedString("” could not be read: ") + reason,
                                     fileURL()},
                                    std::string(kExcelReaderErrorDomain),
                                    code});
        }
    };
    const ZipArchiveEntry* entry =
        archive_ ? excel::entryNamed(*archive_, sheet.pathInPackage) : nullptr;
    if (!entry) {
        writeLog(LogType::error, "Could not determine archive entry for sheet '%{public}@'",
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

    xml::XmlPullScanner scanner(std::move(*stream), entry->uncompressedSize());
    SheetRowBuilder builder(*this, entry->uncompressedSize());
    const auto end = excel::SheetParser(scanner, builder, sheet.pathInPackage).parse();
    if (!end) return failWith(kExcelReaderErrorMalformedSheet, end.error());
    if (*end == excel::SheetParseEnd::stoppedBeforeRow) backgroundQueue_.cancelAllOperations();
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
            writeLog(LogType::error, "An error occurred while retrieving image data for '%@': %@",
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
