#include "input/DataCell.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

namespace pelkora {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// Quotes the text and escapes it as a string's debug description does, so that line breaks
// and quotes inside a cell stay visible on one log line.
std::string quoted(std::string_view text) {
    std::string result;
    result.reserve(text.size() + 2);
    result += '"';
    for (char c : text) {
        switch (c) {
            case '\0':
                result += "\\0";
                break;
            case '\t':
                result += "\\t";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\r':
                result += "\\r";
                break;
            case '"':
                result += "\\\"";
                break;
            case '\'':
                result += "\\'";
                break;
            case '\\':
                result += "\\\\";
                break;
            default: {
                auto byte = static_cast<unsigned char>(c);
                if (byte < 0x20 || byte == 0x7F) {
                    char escaped[12];
                    std::snprintf(escaped, sizeof escaped, "\\u{%x}", byte);
                    result += escaped;
                } else {
                    result += c;
                }
            }
        }
    }
    result += '"';
    return result;
}

// The shortest text that reads back as the same double: plain decimals with at least one
// fractional digit ("3.5", "1.0") for ordinary magnitudes, exponent form ("1e-05", "2e+20")
// for very small and very large ones, as a floating-point number describes itself.
std::string describeNumber(double number) {
    if (std::isnan(number)) return "nan";
    if (std::isinf(number)) return number < 0 ? "-inf" : "inf";
    double magnitude = std::fabs(number);
    bool exponentForm = magnitude != 0 && (magnitude < 1e-4 || magnitude > 0x1p54);
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, number,
                      exponentForm ? std::chars_format::scientific : std::chars_format::fixed);
    std::string text(buffer, error == std::errc() ? end : buffer);
    if (!exponentForm && text.find('.') == std::string::npos) text += ".0";
    return text;
}

// "yyyy-MM-dd HH:mm:ss +0000" in UTC; fractions of a second are dropped.
std::string describeDate(CellDate date) {
    using namespace std::chrono;
    auto seconds = floor<std::chrono::seconds>(date);
    auto day = floor<days>(seconds);
    year_month_day calendarDate{day};
    hh_mm_ss time{seconds - day};
    char buffer[64];
    std::snprintf(
        buffer, sizeof buffer, "%04d-%02u-%02u %02d:%02d:%02d +0000",
        static_cast<int>(calendarDate.year()), static_cast<unsigned>(calendarDate.month()),
        static_cast<unsigned>(calendarDate.day()), static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return buffer;
}

std::string describeCell(std::int64_t columnIndex, const CellValueView& value) {
    return "DataCell(columnIndex: " + std::to_string(columnIndex) +
           ", value: " + describeCellValue(value) + ")";
}

}  // namespace

CellValueView viewOf(const CellValue& value) {
    return std::visit(Overloaded{
                          [](const std::string& text) -> CellValueView { return text; },
                          [](const PictureBytes& bytes) -> CellValueView {
                              return std::span<const std::uint8_t>(bytes);
                          },
                          [](const auto& other) -> CellValueView { return other; },
                      },
                      value);
}

CellValue ownedCopy(const CellValueView& value) {
    return std::visit(Overloaded{
                          [](std::string_view text) -> CellValue { return std::string(text); },
                          [](std::span<const std::uint8_t> bytes) -> CellValue {
                              return PictureBytes(bytes.begin(), bytes.end());
                          },
                          [](const auto& other) -> CellValue { return other; },
                      },
                      value);
}

std::string describeCellValue(const CellValueView& value) {
    return std::visit(
        Overloaded{
            [](std::monostate) -> std::string { return "nil"; },
            [](std::string_view text) { return "Optional(" + quoted(text) + ")"; },
            [](double number) { return "Optional(" + describeNumber(number) + ")"; },
            [](bool flag) { return std::string(flag ? "Optional(true)" : "Optional(false)"); },
            [](CellDate date) { return "Optional(" + describeDate(date) + ")"; },
            [](std::span<const std::uint8_t> bytes) {
                return "Optional(" + std::to_string(bytes.size()) + " bytes)";
            },
        },
        value);
}

std::string formattedColumnIndex(std::int64_t columnIndex, int style) {
    auto oneBased = [columnIndex] {
        // Adding one in unsigned arithmetic keeps the largest index from overflowing.
        if (columnIndex < 0) return std::to_string(columnIndex + 1);
        return std::to_string(static_cast<std::uint64_t>(columnIndex) + 1);
    };
    switch (style) {
        case kColumnIndexStyleOneBased:
            return oneBased();
        case kColumnIndexStyleLetters: {
            if (columnIndex < 0 || columnIndex > kLastLetteredColumnIndex) return oneBased();
            std::string letters;
            for (auto remaining = columnIndex + 1; remaining > 0; remaining /= 26) {
                --remaining;
                letters += static_cast<char>('A' + remaining % 26);
            }
            std::reverse(letters.begin(), letters.end());
            return letters;
        }
        default:
            return std::to_string(columnIndex);
    }
}

std::string DataCell::formattedColumnIndex(int style) const {
    return pelkora::formattedColumnIndex(columnIndex, style);
}

std::string DataCell::debugDescription() const {
    return describeCell(columnIndex, viewOf(value));
}

DataCell DataCellView::toDataCell() const {
    return DataCell(columnIndex, ownedCopy(value));
}

std::string DataCellView::formattedColumnIndex(int style) const {
    return pelkora::formattedColumnIndex(columnIndex, style);
}

std::string DataCellView::debugDescription() const {
    return describeCell(columnIndex, value);
}

}  // namespace pelkora
