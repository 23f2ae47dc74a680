#pragma once

// Comparing texts the way a search field does: without regard to case or diacritics.

#include <string>
#include <string_view>

namespace pelkora {

// The text lower-cased with its diacritics removed ("Müller" → "muller"), for matching.
std::string foldedForSearch(std::string_view text);

// Whether the text contains the wanted text, ignoring case and diacritics.
bool containsIgnoringCaseAndDiacritics(std::string_view text, std::string_view wanted);

}  // namespace pelkora
