#include "Terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "support/SharedNames.h"

namespace pelkora::cli {
namespace {

constexpr std::string_view kEllipsis = "…";

struct CodePoint {
    UChar32 value;  // negative for an ill-formed sequence
    std::size_t begin;
    std::size_t end;
};

// The code point at `offset`, or the ill-formed bytes there.
CodePoint nextCodePoint(std::string_view text, std::size_t offset) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    auto index = static_cast<std::int32_t>(offset);
    UChar32 value = 0;
    U8_NEXT(bytes, index, length, value);
    return {value, offset, static_cast<std::size_t>(index)};
}

bool isControl(UChar32 value) {
    return (value >= 0 && value < 0x20) || (value >= 0x7F && value <= 0x9F);
}

std::size_t codePointWidth(UChar32 value) {
    if (value < 0) return 1;
    if (value == 0) return 0;
    const auto category = u_charType(value);
    if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK || category == U_FORMAT_CHAR)
        return 0;
    // Hangul vowels and final consonants join the syllable before them.
    if (value >= 0x1160 && value <= 0x11FF) return 0;
    const auto eastAsianWidth = u_getIntPropertyValue(value, UCHAR_EAST_ASIAN_WIDTH);
    if (eastAsianWidth == U_EA_WIDE || eastAsianWidth == U_EA_FULLWIDTH) return 2;
    if (u_hasBinaryProperty(value, UCHAR_EMOJI_PRESENTATION)) return 2;
    return 1;
}

std::optional<std::size_t> windowColumns(int descriptor) {
    winsize size{};
    if (ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return std::nullopt;
}

OutputStream examine(int descriptor) {
    OutputStream stream;
    stream.isTerminal = isatty(descriptor) == 1;
    stream.colour = colourWanted(stream.isTerminal, std::getenv("NO_COLOR"));
    stream.columns = terminalColumns(stream.isTerminal ? windowColumns(descriptor) : std::nullopt,
                                     std::getenv("COLUMNS"));
    return stream;
}

}  // namespace

std::size_t displayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t offset = 0; offset < text.size();) {
        const auto point = nextCodePoint(text, offset);
        width += point.value < 0 ? point.end - point.begin : codePointWidth(point.value);
        offset = point.end;
    }
    return width;
}

std::string truncatedToWidth(std::string_view text, std::size_t width) {
    if (displayWidth(text) <= width) return std::string(text);
    if (width == 0) return {};
    const std::size_t room = width - 1;  // the ellipsis takes one column
    std::size_t used = 0;
    std::size_t cut = 0;
    for (std::size_t offset = 0; offset < text.size();) {
        const auto point = nextCodePoint(text, offset);
        const std::size_t pointWidth =
            point.value < 0 ? point.end - point.begin : codePointWidth(point.value);
        if (used + pointWidth > room) break;
        used += pointWidth;
        offset = cut = point.end;
    }
    return std::string(text.substr(0, cut)) + std::string(kEllipsis);
}

std::string fittedToWidth(std::string_view text, std::size_t width) {
    std::string fitted = truncatedToWidth(text, width);
    const std::size_t used = displayWidth(fitted);
    if (used < width) fitted.append(width - used, ' ');
    return fitted;
}

std::string escapedControls(std::string_view text, bool keepLineFeeds) {
    std::string result;
    result.reserve(text.size());
    auto hex = [&result](unsigned value) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", value & 0xFFU);
        result += escaped;
    };
    for (std::size_t offset = 0; offset < text.size();) {
        const auto point = nextCodePoint(text, offset);
        if (point.value < 0) {
            for (std::size_t index = point.begin; index < point.end; ++index)
                hex(static_cast<unsigned char>(text[index]));
        } else if (!isControl(point.value)) {
            result.append(text.substr(point.begin, point.end - point.begin));
        } else if (point.value == '\t') {
            result += "\\t";
        } else if (point.value == '\n') {
            result += keepLineFeeds ? "\n" : "\\n";
        } else if (point.value == '\r') {
            result += "\\r";
        } else {
            hex(static_cast<unsigned>(point.value));
        }
        offset = point.end;
    }
    return result;
}

std::vector<std::string> tableLines(const std::vector<std::vector<std::string>>& rows,
                                    std::optional<std::size_t> fitTo, std::string_view separator) {
    constexpr std::size_t kNarrowestColumn = 4;
    std::vector<std::vector<std::string>> cells;
    cells.reserve(rows.size());
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        auto& escaped = cells.emplace_back();
        for (std::size_t column = 0; column < row.size(); ++column) {
            escaped.push_back(escapedControls(row[column]));
            if (widths.size() <= column) widths.push_back(0);
            widths[column] = std::max(widths[column], displayWidth(escaped.back()));
        }
    }
    if (fitTo && !widths.empty()) {
        const std::size_t separators = displayWidth(separator) * (widths.size() - 1);
        std::size_t total = separators;
        for (auto width : widths) total += width;
        // Take a column from the widest column until the table fits or none can give more.
        while (total > *fitTo) {
            const auto widest = std::max_element(widths.begin(), widths.end());
            if (*widest <= kNarrowestColumn) break;
            --*widest;
            --total;
        }
    }
    std::vector<std::string> lines;
    lines.reserve(cells.size());
    for (const auto& row : cells) {
        std::string line;
        for (std::size_t column = 0; column < widths.size(); ++column) {
            if (column > 0) line += separator;
            const std::string_view cell =
                column < row.size() ? std::string_view(row[column]) : std::string_view();
            line += fittedToWidth(cell, widths[column]);
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (fitTo) line = truncatedToWidth(line, *fitTo);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> listingLines(const std::vector<std::vector<std::string>>& rows,
                                      const OutputStream& stream) {
    if (stream.isTerminal) return tableLines(rows, stream.columns);
    std::vector<std::string> lines;
    lines.reserve(rows.size());
    for (const auto& row : rows) {
        std::size_t count = row.size();
        while (count > 0 && row[count - 1].empty()) --count;
        std::string line;
        for (std::size_t column = 0; column < count; ++column) {
            if (column > 0) line += '\t';
            line += escapedControls(row[column]);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

void printListing(const std::vector<std::vector<std::string>>& rows) {
    for (const auto& line : listingLines(rows, standardOutput())) std::cout << line << '\n';
}

std::string progressLine(std::string_view description, std::optional<double> fraction,
                         std::string_view detail, std::size_t columns) {
    constexpr std::size_t kWidestBar = 30;
    constexpr std::size_t kNarrowestBar = 10;
    const std::string head = escapedControls(description);
    const std::string tail = escapedControls(detail);
    const std::size_t room = columns > 1 ? columns - 1 : 0;
    std::string line;
    if (fraction) {
        // " [" and "] " around the bar.
        const std::size_t texts = displayWidth(head) + displayWidth(tail) + 4;
        const std::size_t barWidth =
            texts + kWidestBar <= room
                ? kWidestBar
                : std::max(kNarrowestBar, room > texts ? room - texts : std::size_t{0});
        const auto filled =
            std::min(barWidth, static_cast<std::size_t>(*fraction * static_cast<double>(barWidth)));
        line = head + " [" + std::string(filled, '#') + std::string(barWidth - filled, ' ') + "] " +
               tail;
    } else {
        line = head + " " + tail;
    }
    return truncatedToWidth(line, room);
}

std::size_t terminalColumns(std::optional<std::size_t> fromTerminal, const char* columnsVariable) {
    if (fromTerminal && *fromTerminal > 0) return *fromTerminal;
    if (columnsVariable != nullptr) {
        const std::string_view text = columnsVariable;
        std::size_t columns = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), columns);
        if (error == std::errc() && end == text.data() + text.size() && columns > 0) return columns;
    }
    return 80;
}

bool colourWanted(bool isTerminal, const char* noColorVariable) {
    return isTerminal && (noColorVariable == nullptr || *noColorVariable == '\0');
}

const OutputStream& standardOutput() {
    static const OutputStream stream = examine(STDOUT_FILENO);
    return stream;
}

const OutputStream& standardError() {
    static const OutputStream stream = examine(STDERR_FILENO);
    return stream;
}

std::string coloured(std::string_view text, Colour colour, bool enabled) {
    if (!enabled) return std::string(text);
    std::string_view start;
    switch (colour) {
        case Colour::red:
            start = "\x1b[31m";
            break;
        case Colour::yellow:
            start = "\x1b[33m";
            break;
        case Colour::green:
            start = "\x1b[32m";
            break;
        case Colour::dim:
            start = "\x1b[2m";
            break;
    }
    return std::string(start) + std::string(text) + "\x1b[0m";
}

std::string pageTitle(std::string_view pageName) {
    struct Title {
        std::string_view page;
        std::string_view title;
    };
    static constexpr std::array kTitles = {
        Title{PageNames::NoAccessPage, "No access to the address book"},
        Title{PageNames::RestrictedAccessPage, "Access to the address book restricted"},
        Title{PageNames::AuthStatusNotDeterminedPage, "Asking for the address book"},
        Title{PageNames::InitialPage, "Start"},
        Title{PageNames::SetTextEncodingPage, "Text encoding"},
        Title{PageNames::FieldMappingPage, "Field mapping"},
        Title{PageNames::ImportPage, "Import"},
        Title{PageNames::VCFScanPage, "vCard scan"},
    };
    for (const auto& entry : kTitles) {
        if (entry.page == pageName) return std::string(entry.title);
    }
    return std::string(pageName);
}

std::optional<std::string> askPassword(const std::string& prompt) {
    if (!isatty(STDIN_FILENO)) return std::nullopt;
    std::cerr << prompt << std::flush;
    termios old{};
    const bool hidden = tcgetattr(STDIN_FILENO, &old) == 0;
    if (hidden) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string password;
    const bool read = static_cast<bool>(std::getline(std::cin, password));
    if (hidden) tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::cerr << '\n';
    if (!read) return std::nullopt;
    return password;
}

}  // namespace pelkora::cli
