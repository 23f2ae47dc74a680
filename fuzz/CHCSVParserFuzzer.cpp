// Feeds arbitrary bytes to the delimited-text parser, a few bytes per read, with the encoding
// sniffed: it must never crash, read out of range or hang. The first byte picks the delimiter
// and read size, the second the options (all on unless its top two bits are set).

#include <cstddef>
#include <cstdint>
#include <string>

#include "input/CHCSVParser.h"

namespace {

// Cancels after a bounded number of events so that every input finishes quickly.
struct BoundedDelegate : pelkora::CHCSVParserDelegate {
    void count(pelkora::CHCSVParser& parser) {
        if (++events > 100'000) parser.cancelParsing();
    }
    void parserDidBeginLine(pelkora::CHCSVParser& parser, std::uint64_t) override { count(parser); }
    void parserDidReadField(pelkora::CHCSVParser& parser, std::string_view,
                            std::uint64_t) override {
        count(parser);
    }
    void parserDidReadComment(pelkora::CHCSVParser& parser, std::string_view) override {
        count(parser);
    }
    std::size_t events = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    constexpr char32_t kDelimiters[] = {',', ';', '\t', '|', U'§', U'；', ' ', '\\', '#', '='};
    const char32_t delimiter = kDelimiters[(data[0] & 0x0F) % std::size(kDelimiters)];
    const std::uint8_t options = data[1] >= 0xC0 ? data[1] : 0x1F;
    pelkora::CHCSVParser parser(
        pelkora::InputStream::fromMemory(std::string(data + 2, data + size), 1 + (data[0] >> 4)),
        nullptr, delimiter);
    parser.setSanitizesFields(options & 1);
    parser.setTrimsWhitespace(options & 2);
    parser.setRecognizesBackslashesAsEscapes((options & 4) && delimiter != '\\');
    parser.setRecognizesComments((options & 8) && delimiter != '#');
    parser.setRecognizesLeadingEqualSign((options & 16) && delimiter != '=');
    BoundedDelegate delegate;
    parser.setDelegate(&delegate);
    parser.parse();
    return 0;
}
