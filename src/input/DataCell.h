#pragma once

// The value of one cell of tabular input.
//
// A reader builds a DataCell (which owns its value) and hands it to DataRow::add; the row
// copies the value into its own storage. Reading a row back yields DataCellView, a small
// view whose text and picture bytes point into the row (see DataRow.h for how long they
// stay valid).

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace pelkora {

class DataRow;

// A point in time held by a date cell (workbook dates; text cells never hold one).
using CellDate = std::chrono::system_clock::time_point;
// The encoded bytes of a picture anchored over a workbook cell.
using PictureBytes = std::vector<std::uint8_t>;

// What a cell holds. The enumerators follow the alternatives of CellValue and CellValueView,
// so a value's index() is its kind.
enum class CellKind : std::uint8_t { none, text, number, boolean, date, picture };

// An owned cell value; std::monostate is the absent value. Text is UTF-8.
using CellValue = std::variant<std::monostate, std::string, double, bool, CellDate, PictureBytes>;
// The same value borrowed from a row: text and picture bytes point into the row's storage.
using CellValueView = std::variant<std::monostate, std::string_view, double, bool, CellDate,
                                   std::span<const std::uint8_t>>;

// Returns what the value holds.
inline CellKind cellKind(const CellValue& value) {
    return static_cast<CellKind>(value.index());
}
// Returns what the viewed value holds.
inline CellKind cellKind(const CellValueView& value) {
    return static_cast<CellKind>(value.index());
}
// Returns a view of an owned value; the view borrows from it.
CellValueView viewOf(const CellValue& value);
// Returns an owned copy of a viewed value.
CellValue ownedCopy(const CellValueView& value);
// Describes the value the way an optional value describes itself: "nil" when absent, else
// Optional("text"), Optional(3.5), Optional(true), Optional(2020-01-31 12:00:00 +0000) or
// Optional(1234 bytes).
std::string describeCellValue(const CellValueView& value);

// Styles of formattedColumnIndex.
inline constexpr int kColumnIndexStyleZeroBased = 0;
inline constexpr int kColumnIndexStyleOneBased = 1;
inline constexpr int kColumnIndexStyleLetters = 2;
// The largest column index that has a letter label.
inline constexpr std::int64_t kLastLetteredColumnIndex = 65535;

// Returns a column's label for display. Style 0 is the 0-based index in decimal, style 1 the
// 1-based index in decimal, style 2 spreadsheet letters; an unknown style reads as style 0.
// Letters count in bijective base 26 (the digits are A..Z, there is no zero): 0 "A", 25 "Z",
// 26 "AA", 51 "AZ", 52 "BA", 701 "ZZ", 702 "AAA", 16383 "XFD" (a workbook's last column),
// 18278 "AAAA", up to 65535 "CRXP". Negative indices and indices above 65535 have no letters
// and read as in style 1.
std::string formattedColumnIndex(std::int64_t columnIndex, int style);

// One cell as a reader builds it: a 0-based column index and an owned value.
struct DataCell {
    // Makes a cell for the column; without a value the cell holds nothing.
    explicit DataCell(std::int64_t columnIndex, CellValue value = {})
        : columnIndex(columnIndex), value(std::move(value)) {}

    std::int64_t columnIndex;
    CellValue value;

    // Returns whether the cell holds a value (an empty text counts as a value).
    bool hasValue() const { return value.index() != 0; }
    // Returns the column's label for display (see the free function).
    std::string formattedColumnIndex(int style) const;
    // Returns "DataCell(columnIndex: <index>, value: <describeCellValue>)".
    std::string debugDescription() const;

    bool operator==(const DataCell&) const = default;
};

// One cell read back from a row. Cheap to copy; it owns nothing. Its text and picture bytes
// point into the row's storage, and row() refers to the row object it was taken from.
class DataCellView {
  public:
    // Makes a view of a cell of `row`; only DataRow has a reason to call this.
    DataCellView(const DataRow& row, std::int64_t columnIndex, CellValueView value)
        : columnIndex(columnIndex), value(value), row_(&row) {}

    std::int64_t columnIndex;
    CellValueView value;

    // Returns the row the cell belongs to; the row is not owned by the view.
    const DataRow& row() const { return *row_; }
    // Returns whether the cell holds a value (an empty text counts as a value).
    bool hasValue() const { return value.index() != 0; }
    // Returns what the cell holds.
    CellKind kind() const { return cellKind(value); }
    // Returns the cell's text, or an empty text when the cell holds no text.
    std::string_view text() const {
        const auto* text = std::get_if<std::string_view>(&value);
        return text ? *text : std::string_view();
    }
    // Returns an owned copy of the cell that outlives the row.
    DataCell toDataCell() const;
    // Returns the column's label for display (see the free function).
    std::string formattedColumnIndex(int style) const;
    // Returns "DataCell(columnIndex: <index>, value: <describeCellValue>)".
    std::string debugDescription() const;

  private:
    const DataRow* row_;
};

}  // namespace pelkora
