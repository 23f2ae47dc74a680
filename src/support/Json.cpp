#include "support/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "support/Utf8.h"

namespace pelkora::json {
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
        const std::size_t length = utf8::wellFormedSequenceLength(text.substr(index));
        if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[index + 1]) < 0xA0) {
            // A C1 control (U+0080 to U+009F): escaped like the C0 controls, so that no
            // terminal showing the JSON acts on it.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X",
                          static_cast<unsigned char>(text[index + 1]));
            out += escaped;
            index += 2;
        } else if (length == 0) {
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
