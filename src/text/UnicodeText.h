#pragma once

// Unicode-aware text operations on UTF-8 strings, for comparing and tidying column titles
// written in any language.

#include <string>
#include <string_view>

namespace pelkora {

// Returns the text in lower case by the Unicode rules of no particular language ("STRASSE"
// → "strasse", "ÉTÉ" → "été"). Invalid bytes become U+FFFD.
std::string lowercased(std::string_view text);

// Returns the text with the first letter of every word in upper case and the other letters
// in lower case, by the rules of the user's locale ("car phone" → "Car Phone").
std::string capitalized(std::string_view text);

// Returns the text decoded into code points; invalid bytes become U+FFFD.
std::u32string codePoints(std::string_view text);

// Returns the text without the characters at either end that are neither letters, digits,
// combining marks nor characters with a canonical decomposition ("(car)" → "car").
std::string trimmedToWordCharacters(std::string_view text);

// Returns the text without white space at either end.
std::string trimmedWhiteSpace(std::string_view text);

// The text with every occurrence of `from` replaced by `to`, left to right; an empty `from`
// changes nothing.
std::string replacedAll(std::string text, std::string_view from, std::string_view to);

}  // namespace pelkora
