#include "support/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace pelkora::json {
namespace {

// Length of the valid UTF-8 sequence at the start of text, 0 when it is invalid.
std::size_t validSequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    char32_t codePoint = lead & (0x7F >> (length + 1));
    for (std::size_t index = 1; index < length; ++index) {
        const auto next = static_cast<unsigned char>(text[index]);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

void appendString(std::string& out, std::string_view text) {
    out += '"';
    std::size_t index = 0;
    while (index < text.size()) {
        const auto byte = static_cast<unsigned char>(text[index]);
        if (byte < 0x80) {
            switch (byte) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (byte < 0x20 || byte == 0x7F) {
                        char escaped[8];
                        std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
                        out += escaped;
                    } else {
                        out += static_cast<char>(byte);
                    }
            }
            ++index;
            continue;
        }
        const std::size_t length = validSequenceLength(text.substr(index));
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++index;
        } else {
            out.append(text.substr(index, length));
            index += length;
        }
    }
    out += '"';
}

std::string number(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

}  // namespace pelkora::json
