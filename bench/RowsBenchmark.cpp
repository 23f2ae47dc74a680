// How fast rows are built and read, and what they cost in memory, for a file of a million
// rows of twenty short text cells (a typical contact export).
//
// Counters:
//   - rows/s: rows built (or read) per second;
//   - overheadBytesPerCell: bytes held per cell beyond its text, counting the row objects and
//     the rows' blocks as the rows report them;
//   - heapBytesPerCell: the same measured from the allocator (chunk headers and rounding
//     included), the number that decides peak memory;
//   - heapPerFileByte: heap held by the rows per byte of the equivalent comma-separated file.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "input/DataRow.h"

namespace pelkora {
namespace {

constexpr std::size_t kRowCount = 1'000'000;
constexpr std::size_t kCellsPerRow = 20;

const std::array<std::string, kCellsPerRow> kTexts = {
    "Ada",
    "Lovelace",
    "",
    "Analyst",
    "Babbage & Co",
    "",
    "London",
    "",
    "W1 2AB",
    "United Kingdom",
    "+44 20 7946",
    "",
    "ada@ex.org",
    "",
    "1815-12-10",
    "Countess",
    "",
    "Friends",
    "",
    "Note text",
};

std::size_t textBytesPerRow() {
    std::size_t bytes = 0;
    for (const std::string& text : kTexts) bytes += text.size();
    return bytes;
}

std::size_t heapInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void reportMemory(benchmark::State& state, const std::vector<DataRow>& rows,
                  std::size_t heapBefore) {
    std::size_t heapHeld = heapInUse() - heapBefore;
    std::size_t reported = rows.capacity() * sizeof(DataRow);
    for (const DataRow& row : rows) reported += row.allocatedBytes();
    double cells = static_cast<double>(rows.size() * kCellsPerRow);
    double textBytes = static_cast<double>(rows.size() * textBytesPerRow());
    // Each row of the file ends in a line feed and has a comma between its cells.
    double fileBytes = textBytes + static_cast<double>(rows.size() * kCellsPerRow);
    state.counters["overheadBytesPerCell"] = (static_cast<double>(reported) - textBytes) / cells;
    state.counters["heapBytesPerCell"] = (static_cast<double>(heapHeld) - textBytes) / cells;
    state.counters["heapPerFileByte"] = static_cast<double>(heapHeld) / fileBytes;
}

// The way a reader fills rows: one scratch row whose block is reused, copied into an
// exactly sized row when complete.
void BM_BuildRowsWithAddText(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t heapBefore = heapInUse();
        std::vector<DataRow> rows;
        rows.reserve(kRowCount);
        DataRow scratch;
        for (std::size_t record = 1; record <= kRowCount; ++record) {
            scratch.clear();
            scratch.setRowIndex(static_cast<std::int64_t>(record));
            for (std::size_t column = 0; column < kCellsPerRow; ++column) {
                scratch.addText(static_cast<std::int64_t>(column), kTexts[column]);
            }
            rows.push_back(scratch);
        }
        benchmark::DoNotOptimize(rows.data());
        state.PauseTiming();
        reportMemory(state, rows, heapBefore);
        rows = {};
        state.ResumeTiming();
    }
    state.counters["rows/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kRowCount), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildRowsWithAddText)->Unit(benchmark::kMillisecond);

// The same rows built from owning cells, as a reader of typed values does.
void BM_BuildRowsWithDataCells(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t heapBefore = heapInUse();
        std::vector<DataRow> rows;
        rows.reserve(kRowCount);
        DataRow scratch;
        for (std::size_t record = 1; record <= kRowCount; ++record) {
            scratch.clear();
            scratch.setRowIndex(static_cast<std::int64_t>(record));
            for (std::size_t column = 0; column < kCellsPerRow; ++column) {
                scratch.add(DataCell(static_cast<std::int64_t>(column), kTexts[column]));
            }
            rows.push_back(scratch);
        }
        benchmark::DoNotOptimize(rows.data());
        state.PauseTiming();
        reportMemory(state, rows, heapBefore);
        rows = {};
        state.ResumeTiming();
    }
    state.counters["rows/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kRowCount), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildRowsWithDataCells)->Unit(benchmark::kMillisecond);

// Reading every cell back by column, as contact assembly does for each mapped column.
void BM_ReadCellsByColumn(benchmark::State& state) {
    std::vector<DataRow> rows;
    rows.reserve(kRowCount);
    DataRow scratch;
    for (std::size_t record = 1; record <= kRowCount; ++record) {
        scratch.clear();
        for (std::size_t column = 0; column < kCellsPerRow; ++column) {
            scratch.addText(static_cast<std::int64_t>(column), kTexts[column]);
        }
        rows.push_back(scratch);
    }
    for (auto _ : state) {
        std::size_t textBytes = 0;
        for (const DataRow& row : rows) {
            for (std::size_t column = 0; column < kCellsPerRow; ++column) {
                textBytes += row.cellForColumn(static_cast<std::int64_t>(column))->text().size();
            }
        }
        benchmark::DoNotOptimize(textBytes);
    }
    state.counters["rows/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kRowCount), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadCellsByColumn)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pelkora

BENCHMARK_MAIN();
