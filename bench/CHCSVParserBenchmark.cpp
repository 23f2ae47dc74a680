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

#include "input/CHCSVParser.h"
#include "platform/InputStream.h"

namespace {

using pelkora::CHCSVParser;

constexpr std::size_t kTargetSize = 50 * 1000 * 1000;

// A fixed linear congruential generator, so every run parses the same bytes.
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

constexpr std::array<std::string_view, 12> kFirstNames = {
    "Anna",  "Jürgen", "Zoë",       "Mohammed", "Siobhán", "Łukasz",
    "Chloé", "Björn",  "Ana María", "Nguyễn",   "Olga",    "John"};
constexpr std::array<std::string_view, 10> kLastNames = {
    "Müller", "O'Brien",  "García Márquez", "Smith",        "Dvořák",
    "Åberg",  "Nakamura", "Kowalski",       "van der Berg", "Brown"};
constexpr std::array<std::string_view, 6> kCompanies = {
    "Acme Corp", "\"Müller & Söhne, GmbH\"",    "Globex", "\"Initech, Inc.\"",
    "Umbrella",  "\"The \"\"Best\"\" Widgets\""};
constexpr std::array<std::string_view, 6> kCities = {"Berlin", "München",   "New York",
                                                     "Kraków", "São Paulo", "Zürich"};
constexpr std::array<std::string_view, 5> kNotes = {
    "", "\"Met at the fair, booth 12.\r\nCall back in \"\"Q3\"\".\"", "Prefers email",
    "\"Line one\r\nLine two, with comma\r\nLine three\"",
    "\"VIP; birthday card \"\"every year\"\"\""};

std::string generateContacts() {
    Random random;
    std::string csv =
        "First Name,Last Name,Company,Job Title,E-mail Address,Business Phone,Mobile Phone,"
        "Business Street,Business City,Business State,Business Postal Code,Business "
        "Country,Birthday,Web Page,Notes,Nickname,Department,E-mail 2 Address,Business "
        "Fax,Customer ID\r\n";
    csv.reserve(kTargetSize + 4096);
    for (std::uint32_t row = 0; csv.size() < kTargetSize; ++row) {
        const std::string_view first = random.pick(kFirstNames);
        const std::string_view last = random.pick(kLastNames);
        const std::string number = std::to_string(random.next() % 10'000'000);
        csv.append(first).append(",").append(last).append(",");
        csv.append(random.pick(kCompanies)).append(",Sales Manager,");
        csv.append("contact").append(std::to_string(row)).append("@example.com,");
        csv.append("+49 30 ").append(number).append(",\"+1 (555) ").append(number).append("\",");
        csv.append("\"Hauptstraße ").append(std::to_string(row % 200)).append(", Hof 2\",");
        csv.append(random.pick(kCities))
            .append(",BE,")
            .append(std::to_string(10'000 + row % 89'999));
        csv.append(",Germany,1980-0").append(std::to_string(1 + row % 9)).append("-15,");
        csv.append("https://example.com/").append(std::to_string(row)).append(",");
        csv.append(random.pick(kNotes)).append(",").append(first).append(",Vertrieb,");
        csv.append(",").append("+49 30 ").append(number).append("-9,=\"00");
        csv.append(std::to_string(row)).append("\"\r\n");
    }
    return csv;
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
struct CountingDelegate : pelkora::CHCSVParserDelegate {
    void parserDidBeginLine(CHCSVParser&, std::uint64_t) override { ++records; }
    void parserDidReadField(CHCSVParser&, std::string_view field, std::uint64_t) override {
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
        CHCSVParser parser(std::move(*stream), &usedEncoding, ',');
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
