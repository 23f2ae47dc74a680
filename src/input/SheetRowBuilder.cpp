#include <algorithm>
#include <cmath>

#include "input/SheetRowBuilder_p.h"
#include "input/WorkbookValues_p.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {

using excel::CellFault;
using excel::CellType;

namespace {

// The cell problems of one sheet listed one by one; the rest are only counted. A damaged
// sheet may have a problem in each of a million cells, and a log of a million lines helps no
// one and costs memory.
constexpr std::uint64_t kListedCellProblems = 1000;

}  // namespace

ExcelReader::SheetRowBuilder::SheetRowBuilder(ExcelReader& reader, std::uint64_t partSize)
    : reader_(reader), partSize_(partSize) {}

// Progress is reported every hundred rows of the expected count rather than for every row.
void ExcelReader::SheetRowBuilder::sheetDidDeclareRowCount(std::uint64_t rowCount) {
    reader_.setProposedRowCount(rowCount);
    if (reader_.delegate()) reader_.postDidBeginParsingOnce();
    // Room for the rows at once, so the list is not copied as it grows. The count is only a
    // claim: no more rows than the part could hold ("<row/>" takes 6 bytes) are reserved.
    reader_.reserveDataRows(
        static_cast<std::size_t>(std::min<std::uint64_t>(rowCount, partSize_ / 6)));
}

void ExcelReader::SheetRowBuilder::sheetDataDidBegin() {
    if (reader_.delegate()) reader_.postDidBeginParsingOnce();
}

bool ExcelReader::SheetRowBuilder::shouldStopBeforeRow() {
    return reader_.shouldCancelParsing();
}

void ExcelReader::SheetRowBuilder::rowDidBegin(std::int64_t rowNumber) {
    row_ = &reader_.beginDataRow(rowNumber);
    rowNumber_ = rowNumber;
}

void ExcelReader::SheetRowBuilder::cellDidEnd(const excel::SheetCell& cell) {
    if (cell.fault == CellFault::beyondLastCell) {
        reportCellProblem(cell, ParseLogSeverity::error, [] {
            return localizedString(
                "the reference lies beyond the last cell of a sheet, XFD1048576; the cell is left "
                "out");
        });
        return;
    }
    if (cell.fault == CellFault::textCut) {
        reportCellProblem(cell, ParseLogSeverity::warning, [] {
            return formatMessage(
                localizedString("the text is longer than %@ bytes; the rest is left out"),
                std::to_string(excel::kMaximumCellTextSize));
        });
    }
    switch (cell.type) {
        case CellType::boolean:
            row_->add(DataCell(cell.columnIndex, excel::integerValue(cell.value) != 0));
            break;
        case CellType::date: {
            const auto date = excel::dateFromText(cell.value);
            row_->add(date ? DataCell(cell.columnIndex, *date) : DataCell(cell.columnIndex));
            break;
        }
        case CellType::error:
        case CellType::formulaString:
            row_->addText(cell.columnIndex, cell.value);
            break;
        case CellType::inlineString:
            row_->addText(cell.columnIndex, cell.inlineText);
            break;
        case CellType::sharedString:
            addSharedString(cell);
            break;
        case CellType::number:
            addNumberOrDate(cell.columnIndex, cell.styleIndex, cell.value);
            break;
    }
}

void ExcelReader::SheetRowBuilder::rowDidEnd(std::int64_t rowNumber) {
    reader_.attachPictures(*row_);
    row_->sortCellsByColumnIndex();
    row_ = nullptr;
    reader_.finishCurrentDataRow();
    // The package's pages already inflated are not needed again; dropping them now and then
    // keeps them from adding the compressed sheet to the resident set.
    if (rowNumber % 4096 == 0) reader_.releaseReadPages();
    if (reader_.delegate()) reader_.notifyRecordParsed(static_cast<std::uint64_t>(rowNumber));
}

// An index past the table (a damaged or missing shared strings part) leaves the cell empty
// and is listed as a problem: a marker text in the cell would be imported as a name.
void ExcelReader::SheetRowBuilder::addSharedString(const excel::SheetCell& cell) {
    const std::int64_t index = excel::integerValue(cell.value);
    const std::size_t count = reader_.sharedStringCount();
    if (index >= 0 && static_cast<std::uint64_t>(index) < count) {
        row_->addText(cell.columnIndex, reader_.sharedString(static_cast<std::size_t>(index)));
        return;
    }
    reportCellProblem(cell, ParseLogSeverity::error, [&] {
        return formatMessage(
            localizedPlural("the shared string %1$@ is not in the workbook, which has %2$@ shared "
                            "string; the cell is left empty",
                            "the shared string %1$@ is not in the workbook, which has %2$@ shared "
                            "strings; the cell is left empty",
                            count),
            std::to_string(index), std::to_string(count));
    });
    row_->add(DataCell(cell.columnIndex));
}

void ExcelReader::SheetRowBuilder::reportCellProblem(const excel::SheetCell& cell,
                                                     ParseLogSeverity severity,
                                                     const std::function<std::string()>& problem) {
    if (++cellProblems_ > kListedCellProblems) return;
    const std::string name = cell.reference.empty()
                                 ? formattedColumnIndex(cell.columnIndex, kColumnIndexStyleLetters)
                                 : std::string(cell.reference);
    std::string message = formatMessage(
        localizedString("Row %1$@, column %2$@ (cell %3$@): %4$@.",
                        "A problem of a cell of a spreadsheet, in its parse log"),
        std::to_string(rowNumber_),
        formattedColumnIndex(cell.columnIndex, kColumnIndexStyleLetters), name, problem());
    writeLog(LogType::error, "%{public}@", message);
    reader_.appendParseLogEntry({severity, std::move(message)});
}

void ExcelReader::SheetRowBuilder::finishProblems() {
    if (cellProblems_ <= kListedCellProblems) return;
    const std::uint64_t unlisted = cellProblems_ - kListedCellProblems;
    std::string message =
        formatMessage(localizedPlural("%@ more cell with problems is not listed.",
                                      "%@ more cells with problems are not listed.", unlisted),
                      std::to_string(unlisted));
    writeLog(LogType::error, "%{public}@", message);
    reader_.appendParseLogEntry({ParseLogSeverity::error, std::move(message)});
    cellProblems_ = 0;
}

// A number cell without a known format or a readable value is an empty text.
void ExcelReader::SheetRowBuilder::addNumberOrDate(std::int64_t columnIndex,
                                                   std::int64_t styleIndex,
                                                   std::string_view value) {
    if (styleIndex < 0 || static_cast<std::uint64_t>(styleIndex) >= reader_.cellFormats_.size() ||
        value.empty()) {
        row_->addText(columnIndex, "");
    } else if (reader_.cellFormatIsDate_[static_cast<std::size_t>(styleIndex)]) {
        const auto serial = excel::doubleValue(value);
        const auto date = serial ? dateFromSerial(*serial) : std::nullopt;
        if (date) {
            row_->add(DataCell(columnIndex, *date));
        } else {
            row_->addText(columnIndex, "");
        }
    } else if (const auto number = excel::doubleValue(value)) {
        row_->add(DataCell(columnIndex, *number));
    } else {
        row_->addText(columnIndex, "");
    }
}

std::optional<CellDate> ExcelReader::SheetRowBuilder::dateFromSerial(double serial) {
    const double days = std::floor(serial);
    if (days != lastDays_) {
        lastDate_ = reader_.dateFromSerial(serial);
        lastDays_ = days;
    }
    return lastDate_;
}

}  // namespace pelkora
