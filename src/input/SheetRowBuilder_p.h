#pragma once

// The meaning of a sheet's cells: receives the rows and cells the sheet parser finds and turns
// them into the reader's rows. A cell's value comes from its type: shared strings are looked
// up, numbers are read, and the serial numbers of cells whose format shows a date become
// dates. Each row gets the pictures anchored over it and its cells in column order.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "input/ExcelReader.h"
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

  private:
    void addNumberOrDate(std::int64_t columnIndex, std::int64_t styleIndex, std::string_view value);
    void addSharedString(std::int64_t columnIndex, std::string_view value);
    // Returns the date of a serial number, reusing the last one for the same day.
    std::optional<CellDate> dateFromSerial(double serial);

    ExcelReader& reader_;
    std::uint64_t partSize_;
    DataRow* row_ = nullptr;
    // The last day a serial number was turned into, since a column of dates repeats days.
    double lastDays_ = std::numeric_limits<double>::quiet_NaN();
    std::optional<CellDate> lastDate_;
    // The out-of-bounds marker text, kept so that its room is reused.
    std::string marker_;
};

}  // namespace pelkora
