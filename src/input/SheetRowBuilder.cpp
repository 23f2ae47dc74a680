#include <algorithm>
#include <cmath>

#include "input/SheetRowBuilder_p.h"
#include "input/WorkbookValues_p.h"

namespace pelkora {

using excel::CellType;

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
}

void ExcelReader::SheetRowBuilder::cellDidEnd(const excel::SheetCell& cell) {
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
            addSharedString(cell.columnIndex, cell.value);
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

// An index past the table shows a marker in the cell itself, so the user sees it in the
// preview.
void ExcelReader::SheetRowBuilder::addSharedString(std::int64_t columnIndex,
                                                   std::string_view value) {
    const std::int64_t index = excel::integerValue(value);
    const std::size_t count = reader_.sharedStringCount();
    if (index >= 0 && static_cast<std::uint64_t>(index) < count) {
        row_->addText(columnIndex, reader_.sharedString(static_cast<std::size_t>(index)));
        return;
    }
    marker_ = "<EXCEL ERROR - SHARED STRING INDEX OUT OF BOUNDS: " + std::to_string(index) +
              " >= " + std::to_string(count) + ">";
    row_->addText(columnIndex, marker_);
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
