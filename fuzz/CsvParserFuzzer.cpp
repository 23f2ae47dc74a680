// Feeds arbitrary bytes to the delimited-text parser with the encoding sniffed: it must never
// crash, read out of range or hang, and three ways of parsing must give the same events, text
// for text: everything read at once and scanned 16 bytes at a time (the fast path), the same
// scanned byte by byte (the plain path), and a few bytes read at a time. The first byte picks the
// delimiter and the small read size, the second the options (all on unless its top two bits are
// set).

#include <cstddef>
#include <cstdint>
#include <string>

#include "input/CsvParser.h"

namespace {

// Hashes the events, and cancels after a bounded number so that every input ends quickly.
struct HashingDelegate : pelkora::CsvParserDelegate {
    void add(pelkora::CsvParser& parser, std::string_view text, std::uint64_t number) {
        for (char c : text) hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211u;
        hash = (hash ^ number) * 1099511628211u;
        if (++events > 100'000) parser.cancelParsing();
    }
    void parserDidBeginLine(pelkora::CsvParser& p, std::uint64_t line) override {
        add(p, "", line);
    }
    void parserDidReadField(pelkora::CsvParser& p, std::string_view field,
                            std::uint64_t index) override {
        add(p, field, index);
    }
    void parserDidReadComment(pelkora::CsvParser& p, std::string_view text) override {
        add(p, text, 0);
    }
    void parserDidFailWithError(pelkora::CsvParser& p, const pelkora::CsvError& e) override {
        add(p, e.message, 1);
    }
    std::uint64_t hash = 14695981039346656037u;
    std::size_t events = 0;
};

std::uint64_t parse(const uint8_t* data, size_t size, std::size_t readSize, bool sixteenAtATime) {
    constexpr char32_t kDelimiters[] = {',', ';', '\t', '|', U'§', U'；', ' ', '\\', '#', '='};
    const char32_t delimiter = kDelimiters[(data[0] & 0x0F) % std::size(kDelimiters)];
    const std::uint8_t options = data[1] >= 0xC0 ? data[1] : 0x1F;
    pelkora::CsvParser parser(
        pelkora::InputStream::fromMemory(std::string(data + 2, data + size), readSize), nullptr,
        delimiter);
    parser.setSanitizesFields(options & 1);
    parser.setTrimsWhitespace(options & 2);
    parser.setRecognizesBackslashesAsEscapes((options & 4) && delimiter != '\\');
    parser.setRecognizesComments((options & 8) && delimiter != '#');
    parser.setRecognizesLeadingEqualSign((options & 16) && delimiter != '=');
    parser.setScansSixteenBytesAtATime(sixteenAtATime);
    HashingDelegate delegate;
    parser.setDelegate(&delegate);
    parser.parse();
    return delegate.hash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::uint64_t fast = parse(data, size, size, true);
    if (parse(data, size, size, false) != fast) __builtin_trap();
    if (parse(data, size, 1 + (data[0] >> 4), true) != fast) __builtin_trap();
    return 0;
}
