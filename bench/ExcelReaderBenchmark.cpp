// Speed of the workbook reader on a contact workbook, the way the import session uses it:
// open and examine the package, then parse its sheet into rows held in memory.
//
// The workbook is the first argument left after Google Benchmark's own flags, or the path in
// PELKORA_BENCH_XLSX. Without either, a 100,000 × 20 workbook of shared strings is written
// with libxlsxwriter to the temporary folder (once; later runs reuse it).
//
// Benchmarks:
//   - BM_ExamineWorkbook: creation alone (relationships, sheets, shared strings, styles);
//   - BM_ParseSheet: a parse of the first sheet with an examined reader;
//   - BM_InflateSheet: inflating the sheet's part without reading it, the floor of a parse.
// Counters: cells_per_second and cells for the parse, bytes_per_second (inflated sheet bytes).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "ContactXlsx.h"
#include "input/ExcelReader.h"
#include "input/zip/ZipArchive.h"

namespace {

std::filesystem::path gFile;

std::filesystem::path generatedFile() {
    const auto path = std::filesystem::temp_directory_path() / "pelkora-bench-contacts-100k.xlsx";
    if (!std::filesystem::exists(path)) {
        const auto partial = path.string() + ".partial.xlsx";
        if (!pelkora::bench::writeContactsXlsx(partial, 100000)) std::abort();
        std::filesystem::rename(partial, path);
    }
    return path;
}

std::size_t cellCount(const pelkora::ExcelReader& reader) {
    std::size_t cells = 0;
    for (const auto& row : reader.dataRows()) cells += row.cellCount();
    return cells;
}

void BM_ExamineWorkbook(benchmark::State& state) {
    for (auto _ : state) {
        auto reader = std::make_shared<pelkora::ExcelReader>(gFile);
        benchmark::DoNotOptimize(reader->sharedStringCount());
    }
}
BENCHMARK(BM_ExamineWorkbook)->Unit(benchmark::kMillisecond);

void BM_ParseSheet(benchmark::State& state) {
    auto reader = std::make_shared<pelkora::ExcelReader>(gFile);
    if (reader->sheets().empty()) {
        state.SkipWithError("the workbook has no sheets");
        return;
    }
    std::size_t cells = 0;
    for (auto _ : state) {
        reader->parseSheet(reader->sheets()[0]);
        cells = cellCount(*reader);
    }
    state.counters["cells"] = static_cast<double>(cells);
    state.counters["cells_per_second"] =
        benchmark::Counter(static_cast<double>(cells) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseSheet)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_InflateSheet(benchmark::State& state) {
    auto archive = pelkora::ZipArchive::archiveWithURL(gFile);
    if (!archive) {
        state.SkipWithError("the workbook does not open");
        return;
    }
    auto reader = std::make_shared<pelkora::ExcelReader>(gFile);
    const std::string sheetPath = reader->sheets().empty() ? "" : reader->sheets()[0].pathInPackage;
    std::vector<std::uint8_t> buffer(1 << 18);
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& entry : (*archive)->entries()) {
            if (entry->fileName() != sheetPath) continue;
            auto stream = entry->newStream();
            if (!stream) continue;
            while (const auto count = (*stream)->read(buffer.data(), buffer.size())) bytes += count;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_InflateSheet)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) {
        gFile = argv[1];
    } else if (const char* path = std::getenv("PELKORA_BENCH_XLSX")) {
        gFile = path;
    } else {
        gFile = generatedFile();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
