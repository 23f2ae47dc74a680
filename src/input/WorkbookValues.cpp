#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "input/WorkbookValues_p.h"
#include "support/Logger.h"

namespace pelkora {
namespace excel {
namespace {

// Splits at every occurrence of the separator, empty pieces included.
std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const auto found = text.find(separator, start);
        pieces.push_back(text.substr(start, found - start));
        if (found == std::string_view::npos) return pieces;
        start = found + 1;
    }
}

}  // namespace

std::int64_t integerValue(std::string_view text) {
    std::size_t index = 0;
    while (index < text.size() && (text[index] == ' ' || text[index] == '\t' ||
                                   text[index] == '\n' || text[index] == '\r')) {
        ++index;
    }
    bool negative = false;
    if (index < text.size() && (text[index] == '-' || text[index] == '+')) {
        negative = text[index] == '-';
        ++index;
    }
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max() / 10 - 1;
    std::int64_t value = 0;
    for (; index < text.size() && text[index] >= '0' && text[index] <= '9'; ++index) {
        if (value < limit) value = value * 10 + (text[index] - '0');
    }
    return negative ? -value : value;
}

std::optional<double> doubleValue(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<CellDate> localDate(std::int64_t year, std::int64_t month, std::int64_t day,
                                  std::int64_t hour, std::int64_t minute, std::int64_t second) {
    if (year < -9999 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(year)),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) return std::nullopt;
    std::tm parts{};
    parts.tm_year = static_cast<int>(year - 1900);
    parts.tm_mon = static_cast<int>(month - 1);
    parts.tm_mday = static_cast<int>(day);
    parts.tm_hour = static_cast<int>(hour);
    parts.tm_min = static_cast<int>(minute);
    parts.tm_sec = static_cast<int>(second);
    parts.tm_isdst = -1;
    const std::time_t time = std::mktime(&parts);
    if (time == static_cast<std::time_t>(-1) && parts.tm_year != year - 1900) return std::nullopt;
    // A cell date counts nanoseconds in 64 bits: about the years 1678 to 2261. Beyond them
    // the value cannot be held, so the cell has no date rather than a wrapped-around one.
    constexpr auto limit =
        std::chrono::duration_cast<std::chrono::seconds>(CellDate::duration::max()).count() - 1;
    if (time > limit || time < -limit) return std::nullopt;
    return std::chrono::system_clock::from_time_t(time);
}

std::optional<CellDate> dateFromText(std::string_view text) {
    const auto pieces = split(text, 'T');
    std::string_view datePart;
    std::string_view timePart;
    if (pieces.size() == 2) {
        datePart = pieces[0];
        timePart = pieces[1];
    } else if (pieces.size() == 1) {
        if (text.find('-') != std::string_view::npos) datePart = text;
        if (text.find(':') != std::string_view::npos) timePart = text;
    }
    std::int64_t year = 1904, month = 1, day = 1;
    if (const auto date = split(datePart, '-'); date.size() == 3) {
        year = integerValue(date[0]);
        month = integerValue(date[1]);
        day = integerValue(date[2]);
    }
    std::array<std::int64_t, 3> time{};
    if (!timePart.empty()) {
        const auto pieces = split(timePart, ':');
        for (std::size_t index = 0; index < std::min<std::size_t>(3, pieces.size()); ++index)
            time[index] = integerValue(pieces[index]);
    }
    return localDate(year, month, day, time[0], time[1], time[2]);
}

std::optional<CellDate> dateFromSerial(double serial, DateSystem dateSystem) {
    if (!(std::fabs(serial) < 9223372036854775808.0)) return std::nullopt;
    const double days = std::floor(serial);
    // Beyond a few million days there is no calendar date to give (the year would pass 9999).
    if (std::fabs(days) > 2147483647.0) {
        writeLog(LogType::error,
                 "Failed to assign serial date '%f' to a DateComponent's day property.", serial);
        return std::nullopt;
    }
    // Past about 8,000 years from the base the calendar has no year for it.
    if (std::fabs(days) > 3000000.0) return std::nullopt;
    using namespace std::chrono;
    const sys_days base = dateSystem == DateSystem::mac1904 ? sys_days(year(1904) / 1 / 1)
                                                            : sys_days(year(1899) / 12 / 30);
    const year_month_day date{base + std::chrono::days(static_cast<std::int64_t>(days))};
    if (!date.ok()) return std::nullopt;
    return localDate(static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                     static_cast<unsigned>(date.day()));
}

std::int64_t columnOfReference(std::string_view text) {
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    std::int64_t column = 0;
    for (const char c : text) {
        std::int64_t letter = 0;
        if (c >= 'A' && c <= 'Z') {
            letter = c - 'A' + 1;
        } else if (c >= 'a' && c <= 'z') {
            letter = c - 'a' + 1;
        } else {
            continue;
        }
        column = std::min(limit, column * 26 + letter);
    }
    return std::max<std::int64_t>(column, 1);
}

std::int64_t rowOfReference(std::string_view text) {
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    std::int64_t row = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') row = std::min(limit, row * 10 + (c - '0'));
    }
    return row;
}

namespace {

// How much of an oversize text is decoded at a time.
constexpr std::size_t kTextChunkSize = std::size_t{1} << 16;
}  // namespace

LimitedTextResult appendLimitedText(const xml::XmlPullScanner& scanner, std::string& out,
                                    std::size_t limit) {
    std::string_view raw = scanner.rawText();
    const bool literal = scanner.isLiteralText();
    if (raw.size() <= kTextChunkSize && out.size() + raw.size() <= limit) {
        if (!scanner.appendText(out)) return LimitedTextResult::referenceToNoCharacter;
        // A byte that is no UTF-8 became three, so even a short text may end past the limit.
        raw = {};
    }
    while (!raw.empty() && out.size() < limit) {
        const std::size_t end = raw.size() <= kTextChunkSize
                                    ? raw.size()
                                    : xml::textPieceEnd(raw, kTextChunkSize, literal);
        if (literal) {
            xml::appendValidUtf8(raw.substr(0, end), out);
        } else if (!xml::appendDecodedText(raw.substr(0, end), out)) {
            return LimitedTextResult::referenceToNoCharacter;
        }
        raw.remove_prefix(end);
    }
    if (out.size() <= limit)
        return raw.empty() ? LimitedTextResult::appended : LimitedTextResult::cut;
    // The decoded text is well-formed UTF-8: back off from the limit to a character's start.
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    return LimitedTextResult::cut;
}

}  // namespace excel

CellReference CellReference::fromString(std::string_view text) {
    CellReference reference;
    reference.stringRepresentation = std::string(text);
    reference.column = excel::columnOfReference(text);
    reference.row = std::max<std::int64_t>(excel::rowOfReference(text), 1);
    return reference;
}

}  // namespace pelkora
