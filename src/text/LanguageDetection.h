#pragma once

// Recognising the language of a short text, such as the column titles of a header row, so
// that titles are matched against the vocabulary of that language.

#include <optional>
#include <string>
#include <string_view>

namespace pelkora {

// Returns the language of the UTF-8 text as a lower-case ISO 639-1 code ("en", "de", "nb",
// "zh"), or an ISO 639-2 code for a language that has no two-letter code; none when the
// language cannot be told (digits only, an unknown script, too little text). Any thread.
std::optional<std::string> detectLanguage(std::string_view text);

}  // namespace pelkora
