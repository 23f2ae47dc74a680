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

#include "input/TextReader.h"

namespace {

constexpr std::size_t kGeneratedSize = 20 * 1000 * 1000;
constexpr double kMiB = 1024.0 * 1024.0;

std::filesystem::path gFile;
std::uintmax_t gFileSize = 0;

// A fixed linear congruential generator, so every generated file holds the same bytes.
class Random {
  public:
    std::uint32_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    template <typename T, std::size_t N>
    const T& pick(const std::array<T, N>& choices) {
        return choices[next() % N];
    }

  private:
    std::uint64_t state_ = 0x5EED;
};

constexpr std::array<std::string_view, 12> kFirstNames = {"Anna",      "Jürgen",  "Zoë",   "Łukasz",
                                                          "Mohammed",  "Siobhán", "Chloé", "Björn",
                                                          "Ana María", "Nguyễn",  "Olga",  "John"};
constexpr std::array<std::string_view, 10> kLastNames = {
    "Müller", "O'Brien",  "García Márquez", "Smith",        "Dvořák",
    "Åberg",  "Nakamura", "Kowalski",       "van der Berg", "Brown"};
constexpr std::array<std::string_view, 6> kCompanies = {
    "Acme Corp", "\"Müller & Söhne, GmbH\"",    "Globex", "\"Initech, Inc.\"",
    "Umbrella",  "\"The \"\"Best\"\" Widgets\""};
constexpr std::array<std::string_view, 6> kCities = {
    "10115,Berlin,Germany", "80331,München,Germany",      "10001,New York,United States",
    "30-001,Kraków,Poland", "01310-100,São Paulo,Brazil", "8001,Zürich,Switzerland"};
constexpr std::array<std::string_view, 4> kGroups = {"Friends", "Work", "\"Friends, Work\"", ""};
constexpr std::array<std::string_view, 5> kNotes = {
    "", "\"Met at the fair, booth 12.\r\nCall back in \"\"Q3\"\".\"", "Prefers e-mail",
    "\"Line one\r\nLine two, with comma\r\nLine three\"",
    "\"VIP; birthday card \"\"every year\"\"\""};

// The same columns as bench/generate-contacts-csv.py writes, with fewer variants.
std::string generateContacts(std::size_t targetSize) {
    Random random;
    std::string csv =
        "First Name,Last Name,Company,Job Title,E-mail Address,E-mail 2 Address,Business "
        "Phone,Mobile Phone,Business Street,Business Postal Code,Business City,Business "
        "Country,Birthday,Anniversary,Categories,Notes,Nickname,Department,Web Page,Customer "
        "ID\r\n";
    csv.reserve(targetSize + 4096);
    for (std::uint32_t row = 1; csv.size() < targetSize; ++row) {
        const std::string_view first = random.pick(kFirstNames);
        const std::string id = std::to_string(row);
        const std::string number = std::to_string(1'000'000 + random.next() % 9'000'000);
        const std::string day = std::to_string(10 + row % 18);
        const std::string month = std::to_string(10 + row % 3);
        const std::string year = std::to_string(1940 + row % 65);
        csv.append(first).append(",").append(random.pick(kLastNames)).append(",");
        csv.append(random.pick(kCompanies)).append(",Sales Manager,");
        csv.append("contact").append(id).append("@example.com,,");
        csv.append("+49 30 ").append(number).append(",+1 (555) ").append(number).append(",");
        csv.append("\"Hauptstraße ").append(std::to_string(row % 250)).append(", Hof 2\",");
        csv.append(random.pick(kCities)).append(",");
        csv.append(year).append("-").append(month).append("-").append(day).append(",");
        csv.append(day).append(".").append(month).append(".").append(year).append(",");
        csv.append(random.pick(kGroups)).append(",").append(random.pick(kNotes)).append(",");
        csv.append(first).append(",Vertrieb,https://example.com/people/").append(id);
        csv.append(",C-").append(id).append("\r\n");
    }
    return csv;
}

std::filesystem::path generatedFile() {
    const auto path = std::filesystem::temp_directory_path() / "pelkora-bench-text-reader.csv";
    const std::string csv = generateContacts(kGeneratedSize);
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
