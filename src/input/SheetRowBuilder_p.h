#pragma once

// The meaning of a sheet's cells: receives the rows and cells the sheet parser finds and turns
// them into the reader's rows. A cell's value comes from its type: shared strings are looked
// up, numbers are read, and the serial numbers of cells whose format shows a date become
// dates. Each row gets the pictures anchored over it and its cells in column order. A cell
// that cannot be read as written (a reference beyond the sheet's last cell, a shared string
// that is not there, text cut at the length limit) is listed in the reader's log with its row
// and column.

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "input/ExcelReader.h"
#include "input/ParseLog.h"
#include "input/SheetParser_p.h"

namespace pelkora {

class ExcelReader::SheetRowBuilder final : public excel::SheetReceiver {
  public:
    // Fills the reader's rows; partSize is the sheet part's size, which bounds how many rows
    // are reserved. The reader must outlive the builder.
    SheetRowBuilder(ExcelReader& reader, std::uint64_t partSize);

    void sheetDidDeclareRowCount(std::uint64_t rowCount) override;
    void sheetDataDidBegin() override;
    bool shouldStopBeforeRow() override;
    void rowDidBegin(std::int64_t rowNumber) override;
    void cellDidEnd(const excel::SheetCell& cell) override;
    void rowDidEnd(std::int64_t rowNumber) override;

    // Adds the count of the cell problems not listed one by one to the reader's log; called
    // once when the parse ends, however it ends.
    void finishProblems();

  private:
    void addNumberOrDate(std::int64_t columnIndex, std::int64_t styleIndex, std::string_view value);
    void addSharedString(const excel::SheetCell& cell);
    // Lists a problem of a cell of the current row in the reader's log (and the runtime
    // log), until kListedCellProblems are listed; the rest are counted. The problem's text
    // (in the user's language) is only asked for when it is listed.
    void reportCellProblem(const excel::SheetCell& cell, ParseLogSeverity severity,
                           const std::function<std::string()>& problem);
    // Returns the date of a serial number, reusing the last one for the same day.
    std::optional<CellDate> dateFromSerial(double serial);

    ExcelReader& reader_;
    std::uint64_t partSize_;
    DataRow* row_ = nullptr;
    // The last day a serial number was turned into, since a column of dates repeats days.
    double lastDays_ = std::numeric_limits<double>::quiet_NaN();
    std::optional<CellDate> lastDate_;
    std::int64_t rowNumber_ = 0;
    std::uint64_t cellProblems_ = 0;
};

}  // namespace pelkora
