// Throughput of the delimited-text parser on a realistic contact export: about 50 MB, 20
// columns, quoted fields holding delimiters, doubled quotes and line breaks, CRLF records and
// non-ASCII names, read from a file with every option on as the text reader does. The same
// content is also measured as UTF-16LE with a byte-order mark, which goes through ICU.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "ContactCsv.h"
#include "input/CsvParser.h"
#include "platform/InputStream.h"

namespace {

using pelkora::CsvParser;

constexpr std::size_t kTargetSize = 50 * 1000 * 1000;

std::string generateContacts() {
    return pelkora::bench::generateContactsCsv(kTargetSize);
}

std::string utf16LittleEndianWithMark(std::string_view utf8) {
    std::string bytes = "\xFF\xFE";
    bytes.reserve(utf8.size() * 2 + 2);
    auto unit = [&bytes](std::uint32_t value) {
        bytes += static_cast<char>(value & 0xFF);
        bytes += static_cast<char>(value >> 8);
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<std::uint8_t>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (utf8[i + k] & 0x3F);
        i += length;
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return bytes;
}

// Counts what a row builder would see, touching each field's bytes once.
struct CountingDelegate : pelkora::CsvParserDelegate {
    void parserDidBeginLine(CsvParser&, std::uint64_t) override { ++records; }
    void parserDidReadField(CsvParser&, std::string_view field, std::uint64_t) override {
        ++fields;
        fieldBytes += field.size();
    }
    std::uint64_t records = 0;
    std::uint64_t fields = 0;
    std::uint64_t fieldBytes = 0;
};

// Writes the content to a temporary file once per process and returns its path.
std::filesystem::path contactsFile(bool utf16) {
    static const std::string utf8 = generateContacts();
    const auto path = std::filesystem::temp_directory_path() /
                      (utf16 ? "pelkora-bench-contacts-utf16.csv" : "pelkora-bench-contacts.csv");
    if (!std::filesystem::exists(path) ||
        std::filesystem::file_size(path) != (utf16 ? utf8.size() * 2 : utf8.size())) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        const std::string bytes = utf16 ? utf16LittleEndianWithMark(utf8) : utf8;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return path;
}

void parseContactsFile(benchmark::State& state, bool utf16) {
    const auto path = contactsFile(utf16);
    const auto fileSize = std::filesystem::file_size(path);
    CountingDelegate delegate;
    for (auto _ : state) {
        auto stream = pelkora::InputStream::openFile(path);
        if (!stream) {
            state.SkipWithError("cannot open the generated file");
            return;
        }
        std::optional<pelkora::TextEncoding> usedEncoding;
        CsvParser parser(std::move(*stream), &usedEncoding, ',');
        parser.setSanitizesFields(true);
        parser.setTrimsWhitespace(true);
        parser.setRecognizesBackslashesAsEscapes(true);
        parser.setRecognizesComments(true);
        parser.setRecognizesLeadingEqualSign(true);
        parser.setDelegate(&delegate);
        parser.parse();
        benchmark::DoNotOptimize(delegate.fieldBytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(fileSize) * state.iterations());
    state.counters["records"] = static_cast<double>(delegate.records / state.iterations());
    state.counters["fields"] = static_cast<double>(delegate.fields / state.iterations());
}

void BM_ParseContactsUtf8File(benchmark::State& state) {
    parseContactsFile(state, false);
}
void BM_ParseContactsUtf16LittleEndianFile(benchmark::State& state) {
    parseContactsFile(state, true);
}

BENCHMARK(BM_ParseContactsUtf8File)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ParseContactsUtf16LittleEndianFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
