#pragma once

// Text helpers shared by the contact vocabularies and formatters.

#include <string>
#include <string_view>

namespace pelkora::contacts::detail {

// The text without the ASCII white space around it.
inline std::string_view trimmedText(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\f\v";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// The text with ASCII capitals made small; enough for country codes and stored names,
// which are ASCII.
inline std::string asciiLowercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

// The text with full Unicode case folding, for comparing texts people typed without regard
// to case ("STRASSE" and "straße" fold alike). Defined in ContactLocalization.cpp.
std::string foldedCase(std::string_view text);

}  // namespace pelkora::contacts::detail
