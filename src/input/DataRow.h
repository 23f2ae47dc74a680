#pragma once

// One row of tabular input: the record number the reader gave it and its cells in the order
// they were added.
//
// A reader keeps every row of a file in memory (a million rows is an ordinary contact
// export), so a row keeps all its cells in a single heap block instead of one object per
// cell. The block is a two-ended buffer:
//
//   [ cell bytes ->          free          <- cell entries ]
//
// The front holds the cells' texts and picture bytes back to back. The back holds one entry
// per cell, cell 0 nearest the end, growing towards the front. An entry comes in one of
// three widths, whichever is the smallest that fits the row:
//
//   - 2 bytes: the end offset of the cell's text, while every cell is text, the columns run
//     0, 1, 2, ... in order and the texts take less than 64 KiB (the common delimited-text row);
//   - 4 bytes: the same for longer rows;
//   - 16 bytes: column index, kind and either offset and length of the bytes, a number, a
//     flag or a date, for anything else (sparse workbook rows, absent values, pictures).
//
// The row switches to a wider entry the first time a cell needs it. The row object itself is
// 32 bytes; a copy of a row is sized exactly, and DataRow::shrinkToFit gives back the slack
// left by growing.
//
// Lifetime of views: a DataCellView's text and picture bytes point into the block, which
// stays where it is when the row object is moved (a vector of rows growing included), so
// they stay valid until the row is next modified (add, addText, sort, clear, reserve,
// shrinkToFit, assignment) or destroyed. A view's row() is the address of the row object it
// was taken from, so after the row object moves, take the view again before calling row().

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "input/DataCell.h"

namespace pelkora {

class DataRow {
  public:
    // Iterates over the cells in insertion order, yielding DataCellView by value.
    class Iterator {
      public:
        using iterator_concept = std::forward_iterator_tag;
        using iterator_category = std::input_iterator_tag;
        using value_type = DataCellView;
        using reference = DataCellView;
        using difference_type = std::ptrdiff_t;

        Iterator() = default;
        Iterator(const DataRow& row, std::size_t index) : row_(&row), index_(index) {}

        DataCellView operator*() const { return row_->cell(index_); }
        Iterator& operator++() {
            ++index_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++index_;
            return before;
        }
        bool operator==(const Iterator&) const = default;

      private:
        const DataRow* row_ = nullptr;
        std::size_t index_ = 0;
    };

    // Makes an empty row with record number 0.
    DataRow() = default;
    // Makes an empty row with the given record number.
    explicit DataRow(std::int64_t rowIndex) : rowIndex_(rowIndex) {}
    // Copies the cells into a block of exactly the size they need.
    DataRow(const DataRow& other);
    // Copies the cells, reusing this row's block when it is large enough.
    DataRow& operator=(const DataRow& other);
    // Takes over the other row's block; the other row is left empty with no cells.
    DataRow(DataRow&& other) noexcept;
    DataRow& operator=(DataRow&& other) noexcept;
    ~DataRow() = default;

    // Returns the record number the reader gave the row (1 for a text file's first record,
    // the running row number in a sheet).
    std::int64_t rowIndex() const { return rowIndex_; }
    // Sets the record number.
    void setRowIndex(std::int64_t rowIndex) { rowIndex_ = rowIndex; }

    // Returns whether the row has no content: true until a cell with a non-empty text or any
    // other present value is added. A row of empty texts has cells and is still empty;
    // cellCount() tells whether there are cells.
    bool empty() const { return empty_; }
    // Returns the number of cells.
    std::size_t cellCount() const { return cellCount_; }
    // Returns the cell at the position in insertion order; throws std::out_of_range past the
    // last cell.
    DataCellView cell(std::size_t position) const;
    // Returns the first cell added for the column, or nothing when the row has none.
    std::optional<DataCellView> cellForColumn(std::int64_t columnIndex) const;
    Iterator begin() const { return Iterator(*this, 0); }
    Iterator end() const { return Iterator(*this, cellCount_); }

    // Appends a copy of the cell; a non-empty text or any other present value makes the row
    // non-empty. Throws std::out_of_range for a column index outside 32 bits and
    // std::length_error when the row's bytes would pass 4 GiB.
    void add(const DataCell& cell);
    // Appends a text cell without building a DataCell: the readers' fast path. The text may
    // point into this row.
    void addText(std::int64_t columnIndex, std::string_view text);
    // Puts the cells in ascending column order, keeping the insertion order of equal columns.
    void sortCellsByColumnIndex();

    // Removes all cells and makes the row empty again; keeps the block for reuse.
    void clear();
    // Makes room for this many text cells with this many bytes of text in all, so a reader
    // that knows a row's size fills it without growing the block.
    void reserve(std::size_t cellCount, std::size_t textBytes);
    // Gives back the slack at the middle of the block.
    void shrinkToFit();
    // Returns the size of the row's heap block in bytes.
    std::size_t allocatedBytes() const { return capacity_; }

    // Returns "DataRow(rowIndex: <index>, cells: <cells' debug descriptions joined by
    // "\n\t- ">)".
    std::string debugDescription() const;

    // Rows are equal when record number, empty flag and cells are equal, whatever the layout.
    bool operator==(const DataRow& other) const;

  private:
    enum class Layout : std::uint8_t { denseText16, denseText32, general };
    struct Entry;

    static std::size_t entrySize(Layout layout);
    std::size_t entryBytes() const { return cellCount_ * entrySize(layout_); }
    std::byte* entryAddress(Layout layout, std::size_t position) const;
    std::uint32_t textEnd(Layout layout, std::size_t position) const;
    Entry readEntry(Layout layout, std::size_t position) const;
    void writeEntry(Layout layout, std::size_t position, const Entry& entry);
    Entry entry(std::size_t position) const;
    DataCellView view(const Entry& entry) const;
    bool pointsIntoPayload(const char* address) const;
    std::size_t grownCapacity(std::size_t needed) const;
    void reallocate(std::size_t capacity);
    void makeRoom(std::size_t payloadBytes, std::size_t newEntryBytes);
    void changeLayout(Layout layout);
    void appendDenseText(std::string_view text);
    void appendValue(std::int64_t columnIndex, CellKind kind, std::uint64_t payload);
    void appendBytes(std::int64_t columnIndex, CellKind kind, const void* data, std::size_t size);

    std::unique_ptr<std::byte[]> storage_;
    std::int64_t rowIndex_ = 0;
    std::uint32_t capacity_ = 0;
    std::uint32_t payloadSize_ = 0;
    std::uint32_t cellCount_ = 0;
    Layout layout_ = Layout::denseText16;
    bool empty_ = true;
    // Whether the column indices never decrease, so a column can be found by bisection.
    bool ascendingColumns_ = true;
};

}  // namespace pelkora
