#pragma once

// The problems a reader met and survived while parsing, kept in order on the reader.

#include <optional>
#include <string>

namespace pelkora {

// How serious a parse problem is; the raw values are fixed because they are stored and shown.
enum class ParseLogSeverity : int { info = 0, warning = 1, error = 2 };

// Returns the severity with the given raw value, or nothing for any other value.
constexpr std::optional<ParseLogSeverity> parseLogSeverityFromRawValue(int rawValue) {
    switch (rawValue) {
        case 0:
            return ParseLogSeverity::info;
        case 1:
            return ParseLogSeverity::warning;
        case 2:
            return ParseLogSeverity::error;
        default:
            return std::nullopt;
    }
}

// One problem the reader met: how serious it is and the text that describes it.
struct ParseLogEntry {
    ParseLogSeverity severity = ParseLogSeverity::info;
    std::string message;

    bool operator==(const ParseLogEntry&) const = default;
};

}  // namespace pelkora
