// Speed and memory of the text reader on a whole contact file, the way the import session uses
// it: examine the head, then parse every row into memory.
//
// The file is the first argument left after Google Benchmark's own flags, or the path in
// PELKORA_BENCH_CSV; bench/generate-contacts-csv.py writes realistic ones of any size and in
// UTF-16LE. Without either, a 20 MB contact file is generated in the temporary folder so the
// benchmark always runs.
//
// Benchmarks:
//   - BM_ExamineFile: examination alone (reads at most 512 KiB, whatever the file size);
//   - BM_ExamineAndParseFile: examination and a full parse, every row held until the
//     iteration ends. A parse of a large file holds all its rows, so it runs only a few
//     iterations (PELKORA_BENCH_PARSE_ITERATIONS, default 2) and the reader is destroyed
//     outside the timed part.
//
// Counters: bytes_per_second (the examined bytes, or the file size for a parse), rows, fields,
// textBytes (the UTF-8 bytes of all cells), peakRSS_MiB (getrusage's maximum resident set of
// the process so far), heldRSS_MiB (resident set while the parsed rows are held) and
// peakRSSPerFileByte. The peak is also printed at exit with the resident set before the first
// benchmark, because it is a property of the process, not of one benchmark: run one file per
// process when comparing peaks.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ContactCsv.h"
#include "input/TextReader.h"

namespace {

constexpr std::size_t kGeneratedSize = 20 * 1000 * 1000;
constexpr double kMiB = 1024.0 * 1024.0;

std::filesystem::path gFile;
std::uintmax_t gFileSize = 0;

std::filesystem::path generatedFile() {
    const auto path = std::filesystem::temp_directory_path() / "pelkora-bench-text-reader.csv";
    const std::string csv = pelkora::bench::generateContactsCsv(kGeneratedSize);
    std::error_code error;
    if (std::filesystem::file_size(path, error) != csv.size()) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(csv.data(), static_cast<std::streamsize>(csv.size()));
    }
    return path;
}

double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    // Linux reports the maximum resident set in KiB.
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double currentRssMiB() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t sizePages = 0;
    std::uint64_t residentPages = 0;
    statm >> sizePages >> residentPages;
    return static_cast<double>(residentPages) * static_cast<double>(sysconf(_SC_PAGESIZE)) / kMiB;
}

void setMemoryCounters(benchmark::State& state) {
    const double peak = peakRssMiB();
    state.counters["peakRSS_MiB"] = peak;
    state.counters["peakRSSPerFileByte"] = peak * kMiB / static_cast<double>(gFileSize);
}

void BM_ExamineFile(benchmark::State& state) {
    std::size_t examined = 0;
    std::string label;
    for (auto _ : state) {
        auto reader = std::make_shared<pelkora::TextReader>(gFile);
        benchmark::DoNotOptimize(reader->examineFile());
        examined = reader->dataToAnalyze() ? reader->dataToAnalyze()->size() : 0;
        label =
            reader->stringEncoding().ianaName() + ", delimiter '" + reader->fieldDelimiter() + "'";
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(examined) * state.iterations());
    state.SetLabel(label);
    setMemoryCounters(state);
}

void BM_ExamineAndParseFile(benchmark::State& state) {
    std::size_t rows = 0;
    std::size_t fields = 0;
    std::size_t textBytes = 0;
    double heldRss = 0;
    std::string label;
    for (auto _ : state) {
        auto reader = std::make_shared<pelkora::TextReader>(gFile);
        reader->examineFile();
        reader->parse(true);
        state.PauseTiming();
        rows = reader->dataRows().size();
        fields = 0;
        textBytes = 0;
        for (const auto& row : reader->dataRows()) {
            for (const auto cell : row) {
                ++fields;
                textBytes += cell.text().size();
            }
        }
        heldRss = currentRssMiB();
        label = reader->stringEncoding().ianaName();
        reader.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(gFileSize) * state.iterations());
    state.SetLabel(label);
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["fields"] = static_cast<double>(fields);
    state.counters["textBytes"] = static_cast<double>(textBytes);
    state.counters["heldRSS_MiB"] = heldRss;
    setMemoryCounters(state);
}

int parseIterations() {
    const char* text = std::getenv("PELKORA_BENCH_PARSE_ITERATIONS");
    const int iterations = text ? std::atoi(text) : 2;
    return iterations > 0 ? iterations : 2;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [benchmark flags] [contact-file.csv]\n", argv[0]);
        return 2;
    }
    if (argc == 2) {
        gFile = argv[1];
    } else if (const char* path = std::getenv("PELKORA_BENCH_CSV"); path && *path) {
        gFile = path;
    } else {
        gFile = generatedFile();
    }
    std::error_code error;
    gFileSize = std::filesystem::file_size(gFile, error);
    if (error || gFileSize == 0) {
        std::fprintf(stderr, "%s: cannot read '%s'\n", argv[0], gFile.c_str());
        return 1;
    }
    const double baselineRss = currentRssMiB();
    std::fprintf(stderr, "file: %s (%.1f MB), resident set before the benchmarks: %.1f MiB\n",
                 gFile.c_str(), static_cast<double>(gFileSize) / 1e6, baselineRss);

    benchmark::RegisterBenchmark("BM_ExamineFile", BM_ExamineFile)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_ExamineAndParseFile", BM_ExamineAndParseFile)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(parseIterations());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double peak = peakRssMiB();
    std::fprintf(stderr, "peak RSS: %.1f MiB, %.2f x the file size\n", peak,
                 peak * kMiB / static_cast<double>(gFileSize));
    return 0;
}
