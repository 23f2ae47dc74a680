#include <array>

#include "text/TextEncoding.h"
#include "vcard/VCardValue_p.h"

namespace pelkora::contacts::detail {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string normalizedLineEnds(std::string text) {
    if (text.find('\r') == std::string::npos) return text;
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            result += text[i];
            continue;
        }
        result += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    }
    return result;
}

bool isAscii(std::string_view bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

int digitsValue(std::string_view digits) {
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int daysInMonth(int month) {
    constexpr std::array<int, 12> kDays = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return kDays[static_cast<std::size_t>(month - 1)];
}

bool validMonth(const std::optional<int>& month) {
    return month && *month >= 1 && *month <= 12;
}

bool validDay(const std::optional<int>& day) {
    return day && *day >= 1 && *day <= 31;
}

bool validYear(const std::optional<int>& year) {
    return year && *year >= 0 && *year <= 9999;
}

}  // namespace

std::string decodeQuotedPrintable(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=') {
            if (i + 1 == text.size()) break;
            if (i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
                bytes += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
                i += 2;
                continue;
            }
        }
        bytes += text[i];
    }
    return bytes;
}

std::string decodeCharacters(std::string_view bytes, std::string_view charset) {
    // ASCII reads the same in every character set vCards are written in; skipping the
    // converter keeps the common case fast. UTF-16 and the ISO-2022 sets are the exceptions.
    const std::string name = asciiUppercase(charset);
    bool asciiCompatible = true;
    for (std::string_view wide : {"UTF-16", "UTF-32", "UCS", "2022", "UTF-7"}) {
        if (name.find(wide) != std::string::npos) asciiCompatible = false;
    }
    if (asciiCompatible && isAscii(bytes)) return normalizedLineEnds(std::string(bytes));
    if (!charset.empty()) {
        if (auto encoding = TextEncoding::named(charset)) {
            if (auto text = decodeStrictly(bytesOf(bytes), *encoding)) {
                return normalizedLineEnds(std::move(*text));
            }
        }
    }
    for (const auto& fallback :
         {TextEncoding::utf8(), TextEncoding::windowsLatin1(), TextEncoding::isoLatin1()}) {
        if (auto text = decodeStrictly(bytesOf(bytes), fallback)) {
            return normalizedLineEnds(std::move(*text));
        }
    }
    return {};  // unreachable: ISO Latin 1 decodes every byte
}

std::optional<std::string> decodedText(const ContentLine& line) {
    const std::string_view encoding = line.parameter("ENCODING");
    std::string bytes;
    if (equalsIgnoringCase(encoding, "QUOTED-PRINTABLE")) {
        bytes = decodeQuotedPrintable(line.value);
    } else if (equalsIgnoringCase(encoding, "BASE64") || equalsIgnoringCase(encoding, "B")) {
        auto decoded = decodeBase64(line.value);
        if (!decoded) return std::nullopt;
        bytes.assign(decoded->begin(), decoded->end());
    } else {
        bytes = line.value;
    }
    return decodeCharacters(bytes, line.parameter("CHARSET"));
}

std::string unescapeText(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A NUL is no character of any text (the writer leaves it out too).
        if (text[i] == '\0') continue;
        if (text[i] != '\\' || i + 1 == text.size()) {
            result += text[i];
            continue;
        }
        const char next = text[i + 1];
        if (next == 'n' || next == 'N') {
            result += '\n';
            ++i;
        } else if (next == '\\' || next == ';' || next == ',' || next == ':') {
            result += next;
            ++i;
        } else {
            result += '\\';
        }
    }
    return result;
}

std::vector<std::string_view> splitEscaped(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (text[i] == separator) {
            pieces.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    pieces.push_back(text.substr(std::min(start, text.size())));
    return pieces;
}

void appendEscapedText(std::string& out, std::string_view text) {
    // Runs of plain characters are copied whole; only the few special ones are looked at.
    static constexpr auto special = [] {
        std::array<bool, 256> table{};
        for (const unsigned char c : {'\\', ',', ';', '\r', '\n', '\0'}) table[c] = true;
        return table;
    }();
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!special[static_cast<unsigned char>(c)]) continue;
        out.append(text.data() + runStart, i - runStart);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case ',':
                out += "\\,";
                break;
            case ';':
                out += "\\;";
                break;
            case '\0':  // no reader takes a NUL for text; a cell may hold one
                break;
            case '\r':
                out += "\\n";
                if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
                break;
            default:  // '\n'
                out += "\\n";
        }
        runStart = i + 1;
    }
    out.append(text.data() + runStart, text.size() - runStart);
}

std::string escapeText(std::string_view text) {
    std::string result;
    result.reserve(text.size() + text.size() / 8);
    appendEscapedText(result, text);
    return result;
}

std::string parameterText(std::string_view value) {
    return decodeCharacters(value, {});
}

std::optional<DateComponents> parseDate(std::string_view text) {
    if (const auto time = text.find_first_of("Tt"); time != std::string_view::npos) {
        text = text.substr(0, time);
    }
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);

    DateComponents date;
    const auto number = [](std::string_view digits) -> std::optional<int> {
        const int value = digitsValue(digits);
        if (digits.empty() || value < 0) return std::nullopt;
        return value;
    };
    if (text.starts_with("---")) {
        if (text.size() != 5) return std::nullopt;
        date.day = number(text.substr(3, 2));
    } else if (text.starts_with("--")) {
        if (text.size() == 4) {
            date.month = number(text.substr(2, 2));
        } else if (text.size() == 6) {
            date.month = number(text.substr(2, 2));
            date.day = number(text.substr(4, 2));
            if (!date.day) return std::nullopt;
        } else if (text.size() == 7 && text[4] == '-') {
            date.month = number(text.substr(2, 2));
            date.day = number(text.substr(5, 2));
            if (!date.day) return std::nullopt;
        } else {
            return std::nullopt;
        }
        if (!date.month) return std::nullopt;
    } else if (text.size() == 4) {
        date.year = number(text);
    } else if (text.size() == 7 && text[4] == '-') {
        date.year = number(text.substr(0, 4));
        date.month = number(text.substr(5, 2));
        if (!date.month) return std::nullopt;
    } else if (text.size() == 8) {
        date.year = number(text.substr(0, 4));
        date.month = number(text.substr(4, 2));
        date.day = number(text.substr(6, 2));
        if (!date.month || !date.day) return std::nullopt;
    } else if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
        date.year = number(text.substr(0, 4));
        date.month = number(text.substr(5, 2));
        date.day = number(text.substr(8, 2));
        if (!date.month || !date.day) return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (!date.year && !date.month && !date.day) return std::nullopt;
    if (text.size() >= 4 && !text.starts_with("-") && !date.year) return std::nullopt;
    if (date.month && !validMonth(date.month)) return std::nullopt;
    if (date.day && (!validDay(date.day) || (date.month && *date.day > daysInMonth(*date.month)))) {
        return std::nullopt;
    }
    return date;
}

namespace {

// Appends a number of 0…9999 with zeros in front up to the width.
void appendPadded(std::string& out, int value, int width) {
    char digits[4];
    for (int at = width - 1; at >= 0; --at) {
        digits[at] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

std::string formatDate(const DateComponents& date) {
    const bool year = validYear(date.year);
    const bool month = validMonth(date.month);
    const bool day = validDay(date.day) && (!month || *date.day <= daysInMonth(*date.month));
    std::string text;
    if (year) {
        appendPadded(text, *date.year, 4);
        if (month) {
            text += '-';
            appendPadded(text, *date.month, 2);
            if (day) {
                text += '-';
                appendPadded(text, *date.day, 2);
            }
        }
    } else if (month) {
        text += "--";
        appendPadded(text, *date.month, 2);
        if (day) appendPadded(text, *date.day, 2);
    } else if (day) {
        text += "---";
        appendPadded(text, *date.day, 2);
    }
    return text;
}

}  // namespace pelkora::contacts::detail
