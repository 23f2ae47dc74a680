#include "support/Format.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

#include "support/Utf8.h"

namespace pelkora {
namespace {

// Widths and precisions are clamped so that a malformed format such as "%999999999d" cannot
// make the formatter allocate gigabytes; no log text needs fields this wide.
constexpr std::size_t kMaximumFieldLength = 4096;

constexpr std::string_view kMissingArgumentText = "(null)";

// One parsed placeholder: "%" [qualifier] [position "$"] [qualifier] flags [width]
// ["." precision] [length] conversion.
struct Placeholder {
    std::optional<std::size_t> position;  // 1-based, from "%2$@"
    bool leftAlign = false;
    bool plusSign = false;
    bool spaceSign = false;
    bool alternateForm = false;
    bool zeroPad = false;
    std::size_t width = 0;
    std::optional<std::size_t> precision;
    // Bits of the integer the length modifier names; used to show negative numbers in hex
    // and octal the way printf would.
    int integerBits = 32;
    char conversion = '\0';
};

bool isDigit(char character) {
    return character >= '0' && character <= '9';
}

void toUpperCase(std::string& text) {
    for (char& character : text) {
        if (character >= 'a' && character <= 'z')
            character = static_cast<char>(character - 'a' + 'A');
    }
}

// Reads a run of decimal digits, saturating at kMaximumFieldLength.
std::size_t readNumber(std::string_view format, std::size_t& index) {
    std::size_t number = 0;
    while (index < format.size() && isDigit(format[index])) {
        number = std::min(number * 10 + static_cast<std::size_t>(format[index] - '0'),
                          kMaximumFieldLength);
        ++index;
    }
    return number;
}

// Skips a privacy qualifier such as "{public}"; false when the brace is never closed.
bool skipQualifier(std::string_view format, std::size_t& index) {
    if (index >= format.size() || format[index] != '{') return true;
    const std::size_t close = format.find('}', index);
    if (close == std::string_view::npos) return false;
    index = close + 1;
    return true;
}

void readFlags(std::string_view format, std::size_t& index, Placeholder& placeholder) {
    for (; index < format.size(); ++index) {
        switch (format[index]) {
            case '-':
                placeholder.leftAlign = true;
                break;
            case '+':
                placeholder.plusSign = true;
                break;
            case ' ':
                placeholder.spaceSign = true;
                break;
            case '#':
                placeholder.alternateForm = true;
                break;
            case '0':
                placeholder.zeroPad = true;
                break;
            case '\'':
                break;  // digit grouping is not applied in log texts
            default:
                return;
        }
    }
}

void readLengthModifier(std::string_view format, std::size_t& index, Placeholder& placeholder) {
    const auto next = [&](char expected) {
        if (index < format.size() && format[index] == expected) {
            ++index;
            return true;
        }
        return false;
    };
    if (next('h')) {
        placeholder.integerBits = next('h') ? 8 : 16;
    } else if (next('l')) {
        next('l');
        placeholder.integerBits = 64;
    } else if (next('q') || next('j') || next('z') || next('t') || next('L')) {
        placeholder.integerBits = 64;
    }
}

constexpr std::string_view kConversions = "diuxXocCsS@fFeEgGaA%";

// Parses the placeholder whose '%' is at index; on success index is moved past it.
std::optional<Placeholder> parsePlaceholder(std::string_view format, std::size_t& index) {
    std::size_t cursor = index + 1;
    Placeholder placeholder;
    if (!skipQualifier(format, cursor)) return std::nullopt;

    // "%2$@": a run of digits is a position only when a '$' follows; otherwise it is
    // read again below as flags and width.
    std::size_t positionEnd = cursor;
    const std::size_t position = readNumber(format, positionEnd);
    if (positionEnd > cursor && positionEnd < format.size() && format[positionEnd] == '$') {
        placeholder.position = position;
        cursor = positionEnd + 1;
        if (!skipQualifier(format, cursor)) return std::nullopt;
    }

    readFlags(format, cursor, placeholder);
    placeholder.width = readNumber(format, cursor);
    if (cursor < format.size() && format[cursor] == '.') {
        ++cursor;
        placeholder.precision = readNumber(format, cursor);
    }
    readLengthModifier(format, cursor, placeholder);

    if (cursor >= format.size() || kConversions.find(format[cursor]) == std::string_view::npos) {
        return std::nullopt;
    }
    placeholder.conversion = format[cursor];
    index = cursor + 1;
    return placeholder;
}

template <typename Number>
std::string decimalText(Number number) {
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
    return std::string(buffer.data(), result.ptr);
}

std::string shortestText(double number) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
    return std::string(buffer.data(), result.ptr);
}

// The value as "%@" shows it: text as is, numbers in their shortest exact form.
std::string naturalText(const FormatArgument::Value& value) {
    struct Visitor {
        std::string operator()(const std::string& text) const { return text; }
        std::string operator()(std::int64_t number) const { return decimalText(number); }
        std::string operator()(std::uint64_t number) const { return decimalText(number); }
        std::string operator()(double number) const { return shortestText(number); }
        std::string operator()(bool truth) const { return truth ? "true" : "false"; }
    };
    return std::visit(Visitor{}, value);
}

// Pads to the width with spaces; widths count code points so that names line up.
void appendPadded(std::string& output, std::string_view text, const Placeholder& placeholder) {
    const std::size_t length = utf8::codePointCount(text);
    const std::size_t padding = placeholder.width > length ? placeholder.width - length : 0;
    if (!placeholder.leftAlign) output.append(padding, ' ');
    output.append(text);
    if (placeholder.leftAlign) output.append(padding, ' ');
}

// Pads a number made of sign, prefix ("0x") and digits; zero padding goes between the
// prefix and the digits, as printf does.
void appendNumber(std::string& output, std::string_view sign, std::string_view prefix,
                  std::string_view digits, const Placeholder& placeholder, bool mayZeroPad) {
    const std::size_t length = sign.size() + prefix.size() + digits.size();
    if (mayZeroPad && placeholder.zeroPad && !placeholder.leftAlign && placeholder.width > length) {
        output.append(sign).append(prefix);
        output.append(placeholder.width - length, '0');
        output.append(digits);
        return;
    }
    std::string number;
    number.append(sign).append(prefix).append(digits);
    appendPadded(output, number, placeholder);
}

std::string_view signFor(bool negative, const Placeholder& placeholder) {
    if (negative) return "-";
    if (placeholder.plusSign) return "+";
    if (placeholder.spaceSign) return " ";
    return "";
}

void appendInteger(std::string& output, bool negative, std::uint64_t magnitude,
                   const Placeholder& placeholder) {
    const char conversion = placeholder.conversion;
    const bool isSigned = conversion == 'd' || conversion == 'i';
    int base = 10;
    if (conversion == 'x' || conversion == 'X') base = 16;
    if (conversion == 'o') base = 8;

    // Hex and octal have no minus sign: a negative number shows its two's complement in the
    // width the length modifier names, as printf would.
    if (negative && base != 10) {
        magnitude = std::uint64_t{0} - magnitude;
        if (placeholder.integerBits < 64) {
            magnitude &= (std::uint64_t{1} << placeholder.integerBits) - 1;
        }
        negative = false;
    }

    std::array<char, 24> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, base);
    std::string digits(buffer.data(), result.ptr);
    if (conversion == 'X') toUpperCase(digits);
    if (placeholder.precision) {
        if (*placeholder.precision == 0 && magnitude == 0) digits.clear();
        if (digits.size() < *placeholder.precision) {
            digits.insert(0, *placeholder.precision - digits.size(), '0');
        }
    }

    std::string_view prefix;
    if (placeholder.alternateForm && magnitude != 0) {
        if (conversion == 'x') prefix = "0x";
        if (conversion == 'X') prefix = "0X";
        if (conversion == 'o' && (digits.empty() || digits.front() != '0')) prefix = "0";
    }
    const std::string_view sign =
        isSigned ? signFor(negative, placeholder) : std::string_view(negative ? "-" : "");
    appendNumber(output, sign, prefix, digits, placeholder, !placeholder.precision);
}

void appendFloatingPoint(std::string& output, double number, const Placeholder& placeholder) {
    const char conversion = placeholder.conversion;
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(conversion)));
    std::chars_format style = std::chars_format::fixed;
    if (lower == 'e') style = std::chars_format::scientific;
    if (lower == 'g') style = std::chars_format::general;
    if (lower == 'a') style = std::chars_format::hex;

    const bool negative = std::signbit(number);
    const double magnitude = std::fabs(number);
    // Room for the 309 integer digits of the largest double, the point and the precision.
    std::string digits(330 + placeholder.precision.value_or(6), '\0');
    std::to_chars_result result;
    if (lower == 'a' && !placeholder.precision) {
        result = std::to_chars(digits.data(), digits.data() + digits.size(), magnitude, style);
    } else {
        const int precision = static_cast<int>(placeholder.precision.value_or(6));
        result = std::to_chars(digits.data(), digits.data() + digits.size(), magnitude, style,
                               precision);
    }
    if (result.ec != std::errc()) {
        appendPadded(output, shortestText(number), placeholder);
        return;
    }
    digits.resize(static_cast<std::size_t>(result.ptr - digits.data()));
    if (conversion != lower) toUpperCase(digits);

    const bool finite = std::isfinite(number);
    std::string_view prefix;
    if (lower == 'a' && finite) prefix = conversion == 'A' ? "0X" : "0x";
    appendNumber(output, signFor(negative, placeholder), prefix, digits, placeholder, finite);
}

// Encodes a code point as UTF-8; anything outside Unicode scalar values becomes U+FFFD.
std::string codePointText(std::uint64_t codePoint) {
    if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        codePoint = 0xFFFD;
    }
    std::string text;
    const auto byte = [](std::uint64_t bits) { return static_cast<char>(bits); };
    if (codePoint < 0x80) {
        text += byte(codePoint);
    } else if (codePoint < 0x800) {
        text += byte(0xC0 | (codePoint >> 6));
        text += byte(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += byte(0xE0 | (codePoint >> 12));
        text += byte(0x80 | ((codePoint >> 6) & 0x3F));
        text += byte(0x80 | (codePoint & 0x3F));
    } else {
        text += byte(0xF0 | (codePoint >> 18));
        text += byte(0x80 | ((codePoint >> 12) & 0x3F));
        text += byte(0x80 | ((codePoint >> 6) & 0x3F));
        text += byte(0x80 | (codePoint & 0x3F));
    }
    return text;
}

bool isTextConversion(char conversion) {
    return conversion == 's' || conversion == 'S' || conversion == '@';
}

bool isIntegerConversion(char conversion) {
    return std::string_view("diuxXo").find(conversion) != std::string_view::npos;
}

bool isFloatingPointConversion(char conversion) {
    return std::string_view("fFeEgGaA").find(conversion) != std::string_view::npos;
}

// Writes one argument as the placeholder asks. A value that does not suit the conversion is
// written in its natural form rather than reinterpreted, so a wrong argument shows up in the
// log as what it is.
void appendArgument(std::string& output, const FormatArgument::Value& value,
                    const Placeholder& placeholder) {
    const char conversion = placeholder.conversion;
    if (const auto* text = std::get_if<std::string>(&value)) {
        const bool truncate = placeholder.precision && isTextConversion(conversion);
        appendPadded(output,
                     truncate ? utf8::firstCodePoints(*text, *placeholder.precision) : *text,
                     placeholder);
        return;
    }
    std::optional<std::int64_t> signedNumber;
    std::optional<std::uint64_t> unsignedNumber;
    if (const auto* number = std::get_if<std::int64_t>(&value)) signedNumber = *number;
    if (const auto* number = std::get_if<std::uint64_t>(&value)) unsignedNumber = *number;
    const bool numericConversion =
        isIntegerConversion(conversion) || isFloatingPointConversion(conversion);
    if (const auto* truth = std::get_if<bool>(&value); truth && numericConversion) {
        signedNumber = *truth ? 1 : 0;
    }
    const bool isInteger = signedNumber || unsignedNumber;

    if (isInteger && isIntegerConversion(conversion)) {
        const bool negative = signedNumber && *signedNumber < 0;
        // The magnitude of INT64_MIN does not fit in int64, so negate in unsigned arithmetic.
        const std::uint64_t magnitude =
            signedNumber ? (negative ? std::uint64_t{0} - static_cast<std::uint64_t>(*signedNumber)
                                     : static_cast<std::uint64_t>(*signedNumber))
                         : *unsignedNumber;
        appendInteger(output, negative, magnitude, placeholder);
    } else if (isInteger && (conversion == 'c' || conversion == 'C')) {
        const bool negative = signedNumber && *signedNumber < 0;
        const std::uint64_t codePoint =
            negative ? 0xFFFD
                     : (signedNumber ? static_cast<std::uint64_t>(*signedNumber) : *unsignedNumber);
        appendPadded(output, codePointText(codePoint), placeholder);
    } else if (isFloatingPointConversion(conversion)) {
        double number = 0;
        if (const auto* floating = std::get_if<double>(&value)) number = *floating;
        if (signedNumber) number = static_cast<double>(*signedNumber);
        if (unsignedNumber) number = static_cast<double>(*unsignedNumber);
        appendFloatingPoint(output, number, placeholder);
    } else {
        appendPadded(output, naturalText(value), placeholder);
    }
}

}  // namespace

std::string formatString(std::string_view format, std::span<const FormatArgument> arguments) {
    std::string output;
    output.reserve(format.size() + 16 * arguments.size());
    std::size_t nextArgument = 0;
    std::size_t index = 0;
    while (index < format.size()) {
        const std::size_t percent = format.find('%', index);
        output.append(format.substr(index, percent - index));
        if (percent == std::string_view::npos) break;

        index = percent;
        const std::optional<Placeholder> placeholder = parsePlaceholder(format, index);
        if (!placeholder) {
            // Unknown or cut-off conversion: copy the '%' and read on, so the rest of the
            // placeholder is copied as plain text.
            output += '%';
            index = percent + 1;
            continue;
        }
        if (placeholder->conversion == '%') {
            output += '%';
            continue;
        }

        std::size_t argumentIndex = 0;
        if (placeholder->position) {
            // Position 0 does not name any argument; it counts as missing.
            argumentIndex =
                *placeholder->position == 0 ? arguments.size() : *placeholder->position - 1;
        } else {
            argumentIndex = nextArgument++;
        }
        if (argumentIndex < arguments.size()) {
            appendArgument(output, arguments[argumentIndex].value(), *placeholder);
        } else {
            appendPadded(output, kMissingArgumentText, *placeholder);
        }
    }
    return output;
}

}  // namespace pelkora
