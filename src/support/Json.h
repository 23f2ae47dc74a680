#pragma once

// Just enough JSON writing for machine-readable command output.

#include <string>
#include <string_view>

namespace pelkora::json {

// Appends the text as a JSON string literal, quotes included. Invalid UTF-8 bytes become
// U+FFFD so the output always parses; control characters (C0, DEL and C1) are escaped as
// \u00XX, so that a terminal showing the JSON never acts on them.
void appendString(std::string& out, std::string_view text);

// The text as a JSON string literal.
inline std::string quoted(std::string_view text) {
    std::string out;
    appendString(out, text);
    return out;
}

// A finite number in the shortest form that reads back to the same double; null otherwise.
std::string number(double value);

}  // namespace pelkora::json
