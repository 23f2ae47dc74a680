#include "input/DataRow.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace pelkora {

// A cell in the general layout. Text and picture payloads are an offset into the front of
// the block (low 32 bits) and a length (high 32 bits); a number is the double's bits, a date
// the tick count of system_clock, a flag 0 or 1.
struct DataRow::Entry {
    std::int32_t columnIndex = 0;
    CellKind kind = CellKind::none;
    std::uint8_t unused[3] = {};
    std::uint64_t payload = 0;
};

namespace {

// Offsets and lengths are 32-bit, so one row's block stays below 4 GiB.
constexpr std::size_t kMaximumBlockSize = std::numeric_limits<std::uint32_t>::max();
// The first block of a row: enough for a short row without growing again.
constexpr std::size_t kMinimumBlockSize = 64;
constexpr std::size_t kLargestDenseText16Offset = std::numeric_limits<std::uint16_t>::max();

std::uint64_t packBytes(std::uint32_t offset, std::uint32_t length) {
    return offset | (static_cast<std::uint64_t>(length) << 32);
}
std::uint32_t bytesOffset(std::uint64_t payload) {
    return static_cast<std::uint32_t>(payload);
}
std::uint32_t bytesLength(std::uint64_t payload) {
    return static_cast<std::uint32_t>(payload >> 32);
}

std::int32_t checkedColumnIndex(std::int64_t columnIndex) {
    if (columnIndex < std::numeric_limits<std::int32_t>::min() ||
        columnIndex > std::numeric_limits<std::int32_t>::max()) {
        throw std::out_of_range("DataRow: column index " + std::to_string(columnIndex) +
                                " does not fit in 32 bits");
    }
    return static_cast<std::int32_t>(columnIndex);
}

bool sameValue(const CellValueView& left, const CellValueView& right) {
    if (left.index() != right.index()) return false;
    return std::visit(
        [&right]<typename T>(const T& value) {
            if constexpr (std::is_same_v<T, std::span<const std::uint8_t>>) {
                return std::ranges::equal(value, std::get<T>(right));
            } else {
                return value == std::get<T>(right);
            }
        },
        left);
}

}  // namespace

static_assert(sizeof(DataRow) == 32, "a row object is kept small: a file holds a million");
static_assert(std::forward_iterator<DataRow::Iterator>);

DataRow::DataRow(const DataRow& other)
    : rowIndex_(other.rowIndex_),
      payloadSize_(other.payloadSize_),
      cellCount_(other.cellCount_),
      layout_(other.layout_),
      empty_(other.empty_),
      ascendingColumns_(other.ascendingColumns_) {
    std::size_t entries = other.entryBytes();
    std::size_t used = payloadSize_ + entries;
    if (used == 0) return;
    storage_ = std::make_unique_for_overwrite<std::byte[]>(used);
    capacity_ = static_cast<std::uint32_t>(used);
    if (payloadSize_ > 0) std::memcpy(storage_.get(), other.storage_.get(), payloadSize_);
    if (entries > 0) {
        std::memcpy(storage_.get() + payloadSize_, other.storage_.get() + other.capacity_ - entries,
                    entries);
    }
}

DataRow& DataRow::operator=(const DataRow& other) {
    if (this == &other) return *this;
    std::size_t entries = other.entryBytes();
    if (other.payloadSize_ + entries > capacity_) return *this = DataRow(other);
    rowIndex_ = other.rowIndex_;
    payloadSize_ = other.payloadSize_;
    cellCount_ = other.cellCount_;
    layout_ = other.layout_;
    empty_ = other.empty_;
    ascendingColumns_ = other.ascendingColumns_;
    if (payloadSize_ > 0) std::memcpy(storage_.get(), other.storage_.get(), payloadSize_);
    if (entries > 0) {
        std::memcpy(storage_.get() + capacity_ - entries,
                    other.storage_.get() + other.capacity_ - entries, entries);
    }
    return *this;
}

DataRow::DataRow(DataRow&& other) noexcept
    : storage_(std::move(other.storage_)),
      rowIndex_(other.rowIndex_),
      capacity_(std::exchange(other.capacity_, 0)),
      payloadSize_(std::exchange(other.payloadSize_, 0)),
      cellCount_(std::exchange(other.cellCount_, 0)),
      layout_(std::exchange(other.layout_, Layout::denseText16)),
      empty_(std::exchange(other.empty_, true)),
      ascendingColumns_(std::exchange(other.ascendingColumns_, true)) {}

DataRow& DataRow::operator=(DataRow&& other) noexcept {
    if (this == &other) return *this;
    storage_ = std::move(other.storage_);
    rowIndex_ = other.rowIndex_;
    capacity_ = std::exchange(other.capacity_, 0);
    payloadSize_ = std::exchange(other.payloadSize_, 0);
    cellCount_ = std::exchange(other.cellCount_, 0);
    layout_ = std::exchange(other.layout_, Layout::denseText16);
    empty_ = std::exchange(other.empty_, true);
    ascendingColumns_ = std::exchange(other.ascendingColumns_, true);
    return *this;
}

std::size_t DataRow::entrySize(Layout layout) {
    switch (layout) {
        case Layout::denseText16:
            return sizeof(std::uint16_t);
        case Layout::denseText32:
            return sizeof(std::uint32_t);
        case Layout::general:
            break;
    }
    static_assert(sizeof(Entry) == 16);
    return sizeof(Entry);
}

std::byte* DataRow::entryAddress(Layout layout, std::size_t position) const {
    return storage_.get() + capacity_ - (position + 1) * entrySize(layout);
}

std::uint32_t DataRow::textEnd(Layout layout, std::size_t position) const {
    const std::byte* address = entryAddress(layout, position);
    if (layout == Layout::denseText16) {
        std::uint16_t end;
        std::memcpy(&end, address, sizeof end);
        return end;
    }
    std::uint32_t end;
    std::memcpy(&end, address, sizeof end);
    return end;
}

DataRow::Entry DataRow::readEntry(Layout layout, std::size_t position) const {
    Entry result;
    if (layout == Layout::general) {
        std::memcpy(&result, entryAddress(layout, position), sizeof result);
        return result;
    }
    std::uint32_t begin = position == 0 ? 0 : textEnd(layout, position - 1);
    std::uint32_t end = textEnd(layout, position);
    result.columnIndex = static_cast<std::int32_t>(position);
    result.kind = CellKind::text;
    result.payload = packBytes(begin, end - begin);
    return result;
}

DataRow::Entry DataRow::entry(std::size_t position) const {
    return readEntry(layout_, position);
}

void DataRow::writeEntry(Layout layout, std::size_t position, const Entry& entry) {
    std::byte* address = entryAddress(layout, position);
    switch (layout) {
        case Layout::denseText16: {
            auto end =
                static_cast<std::uint16_t>(bytesOffset(entry.payload) + bytesLength(entry.payload));
            std::memcpy(address, &end, sizeof end);
            break;
        }
        case Layout::denseText32: {
            std::uint32_t end = bytesOffset(entry.payload) + bytesLength(entry.payload);
            std::memcpy(address, &end, sizeof end);
            break;
        }
        case Layout::general:
            std::memcpy(address, &entry, sizeof entry);
            break;
    }
}

DataCellView DataRow::view(const Entry& entry) const {
    auto bytes = [this, &entry] { return storage_.get() + bytesOffset(entry.payload); };
    std::uint32_t length = bytesLength(entry.payload);
    switch (entry.kind) {
        case CellKind::text:
            return DataCellView(
                *this, entry.columnIndex,
                length == 0 ? std::string_view()
                            : std::string_view(reinterpret_cast<const char*>(bytes()), length));
        case CellKind::number:
            return DataCellView(*this, entry.columnIndex, std::bit_cast<double>(entry.payload));
        case CellKind::boolean:
            return DataCellView(*this, entry.columnIndex, entry.payload != 0);
        case CellKind::date:
            return DataCellView(
                *this, entry.columnIndex,
                CellDate(CellDate::duration(std::bit_cast<std::int64_t>(entry.payload))));
        case CellKind::picture:
            return DataCellView(*this, entry.columnIndex,
                                length == 0
                                    ? std::span<const std::uint8_t>()
                                    : std::span<const std::uint8_t>(
                                          reinterpret_cast<const std::uint8_t*>(bytes()), length));
        case CellKind::none:
            break;
    }
    return DataCellView(*this, entry.columnIndex, CellValueView());
}

DataCellView DataRow::cell(std::size_t position) const {
    if (position >= cellCount_) {
        throw std::out_of_range("DataRow: no cell at position " + std::to_string(position) +
                                " of " + std::to_string(cellCount_));
    }
    return view(entry(position));
}

std::optional<DataCellView> DataRow::cellForColumn(std::int64_t columnIndex) const {
    if (layout_ != Layout::general) {
        // Dense rows hold column i at position i.
        if (columnIndex < 0 || columnIndex >= static_cast<std::int64_t>(cellCount_)) {
            return std::nullopt;
        }
        return cell(static_cast<std::size_t>(columnIndex));
    }
    if (ascendingColumns_) {
        std::size_t low = 0;
        std::size_t high = cellCount_;
        while (low < high) {
            std::size_t middle = low + (high - low) / 2;
            if (entry(middle).columnIndex < columnIndex) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        if (low < cellCount_) {
            Entry found = entry(low);
            if (found.columnIndex == columnIndex) return view(found);
        }
        return std::nullopt;
    }
    for (std::size_t position = 0; position < cellCount_; ++position) {
        Entry candidate = entry(position);
        if (candidate.columnIndex == columnIndex) return view(candidate);
    }
    return std::nullopt;
}

bool DataRow::pointsIntoPayload(const char* address) const {
    const auto* byte = reinterpret_cast<const std::byte*>(address);
    std::less<const std::byte*> before;
    return storage_ && !before(byte, storage_.get()) && before(byte, storage_.get() + payloadSize_);
}

std::size_t DataRow::grownCapacity(std::size_t needed) const {
    if (needed > kMaximumBlockSize) {
        throw std::length_error("DataRow: a row cannot hold more than 4 GiB of cells");
    }
    return std::min(std::max({needed, std::size_t{capacity_} * 2, kMinimumBlockSize}),
                    kMaximumBlockSize);
}

void DataRow::reallocate(std::size_t capacity) {
    std::size_t entries = entryBytes();
    if (capacity == 0) {
        storage_.reset();
        capacity_ = 0;
        return;
    }
    auto block = std::make_unique_for_overwrite<std::byte[]>(capacity);
    if (payloadSize_ > 0) std::memcpy(block.get(), storage_.get(), payloadSize_);
    if (entries > 0) {
        std::memcpy(block.get() + capacity - entries, storage_.get() + capacity_ - entries,
                    entries);
    }
    storage_ = std::move(block);
    capacity_ = static_cast<std::uint32_t>(capacity);
}

void DataRow::makeRoom(std::size_t payloadBytes, std::size_t newEntryBytes) {
    std::size_t needed = payloadSize_ + entryBytes() + payloadBytes + newEntryBytes;
    if (needed > capacity_) reallocate(grownCapacity(needed));
}

void DataRow::changeLayout(Layout layout) {
    std::size_t needed = payloadSize_ + cellCount_ * entrySize(layout);
    if (needed > capacity_) reallocate(grownCapacity(needed));
    // Wider entries reach further towards the front. Converting from the last cell to the
    // first never overwrites an entry still to be read: the new entry of cell i ends where
    // the old entries of cells 0..i-1 have not begun.
    for (std::size_t position = cellCount_; position-- > 0;) {
        writeEntry(layout, position, readEntry(layout_, position));
    }
    layout_ = layout;
}

void DataRow::appendDenseText(std::string_view text) {
    std::size_t end = payloadSize_ + text.size();
    if (layout_ == Layout::denseText16 && end > kLargestDenseText16Offset) {
        changeLayout(Layout::denseText32);
    }
    makeRoom(text.size(), entrySize(layout_));
    if (!text.empty()) std::memcpy(storage_.get() + payloadSize_, text.data(), text.size());
    payloadSize_ = static_cast<std::uint32_t>(end);
    std::byte* address = entryAddress(layout_, cellCount_);
    if (layout_ == Layout::denseText16) {
        auto end16 = static_cast<std::uint16_t>(end);
        std::memcpy(address, &end16, sizeof end16);
    } else {
        auto end32 = static_cast<std::uint32_t>(end);
        std::memcpy(address, &end32, sizeof end32);
    }
    ++cellCount_;
}

void DataRow::appendValue(std::int64_t columnIndex, CellKind kind, std::uint64_t payload) {
    Entry added{.columnIndex = checkedColumnIndex(columnIndex), .kind = kind, .payload = payload};
    if (layout_ != Layout::general) changeLayout(Layout::general);
    makeRoom(0, sizeof(Entry));
    if (cellCount_ > 0 && added.columnIndex < entry(cellCount_ - 1).columnIndex) {
        ascendingColumns_ = false;
    }
    writeEntry(Layout::general, cellCount_, added);
    ++cellCount_;
}

void DataRow::appendBytes(std::int64_t columnIndex, CellKind kind, const void* data,
                          std::size_t size) {
    checkedColumnIndex(columnIndex);
    if (layout_ != Layout::general) changeLayout(Layout::general);
    // Room for the bytes and the entry together, so appendValue does not grow the block again.
    makeRoom(size, sizeof(Entry));
    std::uint32_t offset = payloadSize_;
    if (size > 0) std::memcpy(storage_.get() + offset, data, size);
    payloadSize_ += static_cast<std::uint32_t>(size);
    appendValue(columnIndex, kind, packBytes(offset, static_cast<std::uint32_t>(size)));
}

void DataRow::addText(std::int64_t columnIndex, std::string_view text) {
    if (!text.empty() && pointsIntoPayload(text.data())) {
        // Growing the block would pull the text from under us.
        std::string copy(text);
        addText(columnIndex, copy);
        return;
    }
    if (layout_ != Layout::general && columnIndex == static_cast<std::int64_t>(cellCount_)) {
        appendDenseText(text);
    } else {
        appendBytes(columnIndex, CellKind::text, text.data(), text.size());
    }
    if (!text.empty()) empty_ = false;
}

void DataRow::add(const DataCell& cell) {
    switch (cellKind(cell.value)) {
        case CellKind::none:
            appendValue(cell.columnIndex, CellKind::none, 0);
            return;
        case CellKind::text:
            addText(cell.columnIndex, std::get<std::string>(cell.value));
            return;
        case CellKind::number:
            appendValue(cell.columnIndex, CellKind::number,
                        std::bit_cast<std::uint64_t>(std::get<double>(cell.value)));
            break;
        case CellKind::boolean:
            appendValue(cell.columnIndex, CellKind::boolean, std::get<bool>(cell.value) ? 1 : 0);
            break;
        case CellKind::date:
            appendValue(cell.columnIndex, CellKind::date,
                        std::bit_cast<std::uint64_t>(static_cast<std::int64_t>(
                            std::get<CellDate>(cell.value).time_since_epoch().count())));
            break;
        case CellKind::picture: {
            const auto& bytes = std::get<PictureBytes>(cell.value);
            appendBytes(cell.columnIndex, CellKind::picture, bytes.data(), bytes.size());
            break;
        }
    }
    // Any present value other than text counts as content, even a zero or a picture of no
    // bytes.
    empty_ = false;
}

void DataRow::sortCellsByColumnIndex() {
    if (ascendingColumns_) return;
    std::vector<Entry> entries(cellCount_);
    for (std::size_t position = 0; position < cellCount_; ++position) {
        entries[position] = entry(position);
    }
    std::ranges::stable_sort(entries, {}, &Entry::columnIndex);
    for (std::size_t position = 0; position < cellCount_; ++position) {
        writeEntry(layout_, position, entries[position]);
    }
    ascendingColumns_ = true;
}

void DataRow::clear() {
    payloadSize_ = 0;
    cellCount_ = 0;
    layout_ = Layout::denseText16;
    empty_ = true;
    ascendingColumns_ = true;
}

void DataRow::reserve(std::size_t cellCount, std::size_t textBytes) {
    Layout layout = layout_;
    if (layout == Layout::denseText16 && textBytes > kLargestDenseText16Offset) {
        layout = Layout::denseText32;
    }
    std::size_t needed = std::max<std::size_t>(textBytes, payloadSize_) +
                         std::max<std::size_t>(cellCount, cellCount_) * entrySize(layout);
    if (needed <= capacity_) return;
    if (needed > kMaximumBlockSize) {
        throw std::length_error("DataRow: a row cannot hold more than 4 GiB of cells");
    }
    reallocate(needed);
}

void DataRow::shrinkToFit() {
    std::size_t used = payloadSize_ + entryBytes();
    if (used < capacity_) reallocate(used);
}

std::string DataRow::debugDescription() const {
    std::string description = "DataRow(rowIndex: " + std::to_string(rowIndex_) + ", cells: ";
    for (std::size_t position = 0; position < cellCount_; ++position) {
        if (position > 0) description += "\n\t- ";
        description += cell(position).debugDescription();
    }
    description += ")";
    return description;
}

bool DataRow::operator==(const DataRow& other) const {
    if (rowIndex_ != other.rowIndex_ || empty_ != other.empty_ || cellCount_ != other.cellCount_) {
        return false;
    }
    for (std::size_t position = 0; position < cellCount_; ++position) {
        DataCellView mine = cell(position);
        DataCellView theirs = other.cell(position);
        if (mine.columnIndex != theirs.columnIndex || !sameValue(mine.value, theirs.value)) {
            return false;
        }
    }
    return true;
}

}  // namespace pelkora
