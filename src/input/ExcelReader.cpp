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
#include "platform/ImageData.h"
#include "platform/MappedFile.h"
#include "support/Error.h"
#include "support/Format.h"
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
//        cell its value and each row its pictures (SheetRowBuilder.cpp; each picture part is
//        read once, see pictureOfPart),
//     What the parts inflate to is limited per part and for the package (PackageParts_p.h):
//     the shared strings and the sheet stop with an error beyond it, a picture is left out.
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
        examinationError_ = formatMessage(localizedString("The package %@ has no workbook part."),
                                          archive_->displayName());
        writeLog(LogType::error, "Could not examine workbook: '%{public}@'", *examinationError_);
    }
    if (const auto* entry = excel::entryEndingWith(*archive_, "sharedStrings.xml", name)) {
        excel::InflationBudget inflation(packageSize());
        auto strings = excel::readSharedStrings(*entry, name, inflation);
        examinedInflatedBytes_ = inflation.used();
        sharedStringBytes_ = std::move(strings.bytes);
        sharedStringEnds_ = std::move(strings.ends);
        if (strings.failure) {
            const std::string message = formatMessage(
                localizedString("Could not build shared strings table: '%@'"), *strings.failure);
            writeLog(LogType::error, "%{public}@", message);
            appendParseLogEntry({ParseLogSeverity::error, message});
            // Without a single string every text cell would be lost: the workbook is damaged.
            // A part that breaks later keeps the strings before the break, and the cells that
            // refer past them are reported one by one as the sheet is read.
            if (strings.unreadable && !examinationError_)
                examinationError_ = formatMessage(
                    localizedString("The shared strings part “%1$@” could not be read: %2$@"), name,
                    *strings.failure);
        }
        const std::string cutStringText = localizedString(
            "The shared string %1$@ is longer than %2$@ bytes; the rest is left out.");
        for (const std::size_t index : strings.cutStrings) {
            appendParseLogEntry({ParseLogSeverity::warning,
                                 formatMessage(cutStringText, std::to_string(index),
                                               std::to_string(excel::kMaximumCellTextSize))});
        }
        if (!strings.cutStrings.empty()) {
            writeLog(LogType::error, "%{public}lu shared strings were cut to %{public}lu bytes",
                     strings.cutStrings.size(), excel::kMaximumCellTextSize);
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
            postDidFail(ReaderError{
                {ReaderErrorKind::internalFailure,
                 formatMessage(localizedString("The sheet “%1$@” could not be read: %2$@"),
                               sheet.displayName, reason),
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
            postDidFail(ReaderError{
                {ReaderErrorKind::malformedContent,
                 formatMessage(localizedString("The sheet “%1$@” could not be read: %2$@"),
                               sheet.displayName, reason),
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
                 formatMessage(localizedString("the workbook has no part “%@” for it."),
                               sheet.pathInPackage));
        return;
    }
    parseInflation_ = std::make_unique<excel::InflationBudget>(packageSize());
    parseInflation_->setUsed(examinedInflatedBytes_);
    auto drawings = excel::readSheetDrawings(*archive_, sheet, parseInflation_.get());
    imageRelationships_ = std::move(drawings.imageRelationships);
    anchoredImages_ = std::move(drawings.anchoredImages);
    pictures_.clear();
    auto stream = excel::openLimitedStream(*entry, parseInflation_.get());
    if (!stream) return failWith(kExcelReaderErrorSheetUnreadable, stream.error());

    const auto* limits = stream->limits;
    xml::XmlPullScanner scanner(std::move(stream->stream), entry->uncompressedSize());
    SheetRowBuilder builder(*this, entry->uncompressedSize());
    const auto end = excel::SheetParser(scanner, builder, sheet.pathInPackage).parse();
    // The pictures' bytes live in the rows now.
    pictures_.clear();
    builder.finishProblems();
    if (!end) {
        return failWith(kExcelReaderErrorMalformedSheet,
                        limits->failure() ? *limits->failure() : end.error());
    }
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
        if (const auto* bytes = pictureOfPart(image->pathInPackage))
            row.add(DataCell(image->column - 1, *bytes));
    }
}

// Each picture part is read once per parse, however many anchors show it:
//   1. its declared size must be within maximumImageBytes and the package's budget,
//   2. the pixels its header declares must be within maximumImagePixels (nothing decoded),
//   3. a picture whose longer side exceeds contactPhotoSide is decoded once and scaled down
//      to a square PNG of that side, the form a contact photo takes anyway.
// A picture left out is reported in the parse log once; it is never kept as raw bytes.
const PictureBytes* ExcelReader::pictureOfPart(const std::string& pathInPackage) {
    const auto cached = pictures_.find(pathInPackage);
    if (cached != pictures_.end()) return cached->second.get();
    auto& picture = pictures_[pathInPackage];
    const auto leaveOut = [&](const std::string& message) -> const PictureBytes* {
        writeLog(LogType::error, "%{public}@", message);
        appendParseLogEntry({ParseLogSeverity::warning, message});
        return nullptr;
    };
    const auto* entry = excel::entryNamed(*archive_, pathInPackage);
    if (!entry) {
        writeLog(LogType::error, "An error occurred while retrieving image data for '%@': %@",
                 pathInPackage, "no such part");
        return nullptr;
    }
    const std::uint64_t size = entry->uncompressedSize();
    if (size > maximumImageBytes) {
        return leaveOut(formatMessage(
            localizedString("The picture “%1$@” takes %2$@ bytes, more than the %3$@ a contact "
                            "photo may take; it was left out."),
            pathInPackage, std::to_string(size), std::to_string(maximumImageBytes)));
    }
    if (parseInflation_ && !parseInflation_->charge(size)) {
        return leaveOut(formatMessage(
            localizedString("The picture “%1$@” would take the package beyond the %2$@ bytes it "
                            "may inflate to; it was left out."),
            pathInPackage, std::to_string(parseInflation_->limit())));
    }
    auto bytes = archive_->contentsOfEntry(pathInPackage);
    if (!bytes) {
        writeLog(LogType::error, "An error occurred while retrieving image data for '%@': %@",
                 pathInPackage, bytes.error().message);
        return nullptr;
    }
    const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(bytes->data()),
                                             bytes->size());
    if (const auto declared = declaredImageSize(view)) {
        const auto pixels = static_cast<std::uint64_t>(declared->width) *
                            static_cast<std::uint64_t>(declared->height);
        if (pixels > maximumImagePixels) {
            return leaveOut(formatMessage(
                localizedString("The picture “%1$@” is %2$@ × %3$@ pixels, more than the %4$@ a "
                                "picture may have; it was left out."),
                pathInPackage, std::to_string(declared->width), std::to_string(declared->height),
                std::to_string(maximumImagePixels)));
        }
        if (std::max(declared->width, declared->height) > contactPhotoSide) {
            if (auto png = squaredPngRepresentation(view, contactPhotoSide)) {
                picture = std::make_shared<const PictureBytes>(std::move(*png));
                return picture.get();
            }
        }
    }
    // Pictures that cannot be decoded go on as the file gave them: the import reports them.
    picture = std::make_shared<const PictureBytes>(view.begin(), view.end());
    return picture.get();
}

std::uint64_t ExcelReader::packageSize() const {
    if (!archive_ || !archive_->contents()) return 0;
    return archive_->contents()->size();
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
