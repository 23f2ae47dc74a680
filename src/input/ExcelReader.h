#pragma once

// The reader of Office Open XML spreadsheet workbooks (.xlsx): a zip package of XML parts
// turned into the rows and cells of TabularDataReader, pictures anchored over cells
// included.
//
// At creation the reader examines the workbook once: its relationships, the date system, the
// sheets in workbook order, the shared strings and the cell formats. The session then picks
// a sheet and asks for it to be parsed; another sheet can be parsed later with the same
// tables. Nothing here raises an alert: examination problems go to the runtime log and the
// reader keeps what it could read (a workbook that could not be examined has no sheets); a
// sheet that cannot be read ends its parse with readerDidFailWithError.
//
// Threads: examination runs in the constructor on the caller's thread; a sheet is parsed on
// the thread that calls parseSheet (the session uses backgroundQueue()). The tables are
// written only during examination. Every delegate event is posted to the main queue.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/TabularDataReader.h"
#include "platform/OperationQueue.h"

namespace pelkora {

class ZipArchive;
namespace excel {
class InflationBudget;
}

// The workbook reader's own errors, reported with readerDidFailWithError.
inline constexpr std::string_view kExcelReaderErrorDomain = "org.pelkora.ExcelReader";
// The sheet's part is not in the package.
inline constexpr std::int64_t kExcelReaderErrorSheetNotFound = 1;
// The sheet's part could not be read from the package (damaged or unsupported entry).
inline constexpr std::int64_t kExcelReaderErrorSheetUnreadable = 2;
// The sheet's part is not well-formed XML (truncated, damaged).
inline constexpr std::int64_t kExcelReaderErrorMalformedSheet = 3;

// Which day serial number 0 stands for.
enum class DateSystem { windows1900, mac1904 };

// A number format of the styles part.
struct NumberFormat {
    std::string numberFormatId;
    std::string numberFormatCode;
    bool isDate = false;

    bool operator==(const NumberFormat&) const = default;
};

// A cell format of the styles part; a cell's style index points at one.
struct CellFormat {
    std::string numberFormatId;

    bool operator==(const CellFormat&) const = default;
};

// A relationship of the workbook part.
struct WorkbookRelationship {
    std::string id;
    std::string type;
    std::string target;
    // The package path of the relationships part it came from.
    std::string pathInPackage;

    bool operator==(const WorkbookRelationship&) const = default;
};

// A relationship of a drawing part to a picture.
struct ImageRelationship {
    std::string id;
    std::string type;
    std::string target;
    std::string sheetId;

    bool operator==(const ImageRelationship&) const = default;
};

// A sheet of the workbook as the session offers it for choice.
struct Sheet {
    std::string displayName;
    // The sheet part's path in the package, or "undefined" when no relationship names it.
    std::string pathInPackage;
    // The workbook's number for the sheet; 0 when it is missing or not a number.
    std::int64_t sheetId = 0;
    std::string relationshipId;

    bool operator==(const Sheet&) const = default;
};

// A picture anchored over a cell of the sheet being parsed.
struct AnchoredImage {
    std::string relationshipId;
    // The picture's path in the package.
    std::string pathInPackage;
    // The anchor's top-left cell, 1-based.
    std::int64_t row = 0;
    std::int64_t column = 0;

    bool operator==(const AnchoredImage&) const = default;
};

// A cell reference such as "B3", read leniently: letters give the column, digits the row,
// anything else is ignored, and each is at least 1.
struct CellReference {
    std::string stringRepresentation;
    std::int64_t row = 1;
    std::int64_t column = 1;

    // Reads a reference; lower-case letters count as upper-case. Numbers too large to hold
    // stop growing at 2^31 - 1.
    static CellReference fromString(std::string_view text);

    bool operator==(const CellReference&) const = default;
};

// Returns whether a custom number format code shows a date or time: the colour names are
// removed, and the code is a date when one of d, m, y, h, s (lower case) remains.
bool isDateFormatCode(std::string_view formatCode);

// Returns whether the number format id is one of the built-in ids that always mean a date.
bool isBuiltinDateNumberFormatId(std::string_view numberFormatId);

// The 31 built-in number format ids that always mean a date, in the order Excel lists them.
const std::vector<std::string>& builtinDateNumberFormatIds();

class ExcelReader final : public TabularDataReader {
  public:
    // Opens the workbook at the path and examines it at once. Never fails: problems go to
    // the log, and a workbook that could not be examined has no sheets.
    explicit ExcelReader(std::filesystem::path fileURL);
    // The same over a package already in memory; fileURL only names it in messages.
    ExcelReader(std::filesystem::path fileURL, std::vector<std::uint8_t> packageBytes);
    ~ExcelReader() override;

    // Returns whether the file is an Office Open XML package: a zip archive with an entry
    // named exactly "[Content_Types].xml". Logs why when the archive cannot be opened.
    static bool isOfficeOpenXMLSpreadsheet(const std::filesystem::path& fileURL);
    // The same for a package in memory.
    static bool isOfficeOpenXMLSpreadsheetData(std::vector<std::uint8_t> packageBytes);

    std::string readerClassName() const override { return "ExcelReader"; }

    // Parses the sheet's rows into dataRows() on the calling thread, attaching the pictures
    // anchored over them, and chooses the header row. Posts begin, record notifications and
    // then end (also after a cancel) or failure. The cancel flag is not cleared here: the
    // session clears it when it starts a parse. Any sheet of sheets() may be parsed, one
    // after another; each parse starts from an empty list of rows.
    void parseSheet(const Sheet& sheet);
    // Parses the first sheet whose sheetId is the given one, as the sheet chooser asks;
    // returns false (and parses nothing) when there is none.
    bool parseSheetWithId(std::int64_t sheetId);
    // The display name of the sheet the rows come from; empty before a parse. Read it on the
    // main thread after the parse ended.
    const std::string& parsedSheetName() const { return parsedSheetName_; }

    // Whether examination ran (it always has once the reader exists).
    bool workbookExamined() const { return workbookExamined_; }
    // Why the package could not be opened or its workbook or shared strings part read; none
    // when they were. A workbook with this set is damaged and not to be imported.
    const std::optional<std::string>& examinationError() const { return examinationError_; }

    DateSystem dateSystem() const { return dateSystem_; }
    // Midnight of 30 December 1899 and of 1 January 1904 in the current time zone.
    CellDate baseDateWindows1900() const { return baseDateWindows1900_; }
    CellDate baseDateMac1904() const { return baseDateMac1904_; }

    // The sheets in workbook order.
    const std::vector<Sheet>& sheets() const { return sheets_; }
    const std::vector<WorkbookRelationship>& workbookRelationships() const {
        return workbookRelationships_;
    }
    const std::vector<NumberFormat>& numberFormats() const { return numberFormats_; }
    const std::vector<CellFormat>& cellFormats() const { return cellFormats_; }
    // The shared strings; kept back to back in one block, since a workbook may have
    // millions of them.
    std::size_t sharedStringCount() const { return sharedStringEnds_.size(); }
    // Returns the shared string at the index, which must be below sharedStringCount().
    std::string_view sharedString(std::size_t index) const;
    // The image relationships and anchored pictures of the sheet parsed last.
    const std::vector<ImageRelationship>& imageRelationships() const { return imageRelationships_; }
    const std::vector<AnchoredImage>& anchoredImages() const { return anchoredImages_; }

    // Converts a day serial number of the workbook's date system to midnight of that day in
    // the current time zone (the time of day is dropped); none when it has no date.
    std::optional<CellDate> dateFromSerial(double serial) const;

    // A multi-line dump of the file, date system, formats, sheets and shared strings.
    std::string description() const;

    OperationQueue& backgroundQueue() { return backgroundQueue_; }

  private:
    // Turns the cells the sheet parser finds into the rows of the reader.
    class SheetRowBuilder;

    void examineWorkbook();
    void parseSheetRows(const Sheet& sheet);
    // Posts the begin event unless this parse has posted it already.
    void postDidBeginParsingOnce();
    void attachPictures(DataRow& row);
    // The bytes the picture part gives a cell, read once per parse; null when the part is
    // missing or too large (reported in the parse log).
    const PictureBytes* pictureOfPart(const std::string& pathInPackage);
    // The size of the package's bytes, which its inflation limit is relative to.
    std::uint64_t packageSize() const;
    void chooseHeaderRow();
    // Lets the system drop the resident pages of a package mapped from its file.
    void releaseReadPages() const;

    std::unique_ptr<ZipArchive> archive_;
    bool workbookExamined_ = false;
    std::optional<std::string> examinationError_;
    DateSystem dateSystem_ = DateSystem::windows1900;
    CellDate baseDateWindows1900_;
    CellDate baseDateMac1904_;
    std::vector<NumberFormat> numberFormats_;
    std::vector<CellFormat> cellFormats_;
    // For each cell format, whether its number format shows a date (looked up once).
    std::vector<bool> cellFormatIsDate_;
    std::string sharedStringBytes_;
    std::vector<std::uint32_t> sharedStringEnds_;
    std::vector<WorkbookRelationship> workbookRelationships_;
    std::vector<ImageRelationship> imageRelationships_;
    std::vector<Sheet> sheets_;
    std::vector<AnchoredImage> anchoredImages_;
    // What the examination inflated (the shared strings), counted again by each parse.
    std::uint64_t examinedInflatedBytes_ = 0;
    // The package's inflation budget during a parse.
    std::unique_ptr<excel::InflationBudget> parseInflation_;
    // Each picture part's cell bytes for the parse under way, by part; null for a part left
    // out. Many anchors may show one picture: it is read, checked and scaled once.
    std::map<std::string, std::shared_ptr<const PictureBytes>> pictures_;
    // Declared last so that it is destroyed first: its destructor waits for a running parse,
    // which still uses the fields above.
    std::string parsedSheetName_;
    bool beginPosted_ = false;  // touched by the parsing thread only
    OperationQueue backgroundQueue_;
};

}  // namespace pelkora
