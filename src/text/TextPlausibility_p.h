#pragma once

// How much decoded text looks like something a person wrote, to tell the right one of
// several encodings that all decode the same bytes.
//
// A wrong single-byte encoding does not fail; it produces the wrong characters, and
// those betray themselves in context: control characters, symbols in the middle of
// words ("Stra§e", "M‰dchen"), capitals inside lowercase words ("MŠdchen", KOI8-R read
// as Windows-1251 gives "иВАН"), letters of two scripts in one word ("Hйlиne"), and
// letters rarely used anywhere. Only the telling characters count: everything but
// printable ASCII.

#include <cstddef>
#include <string_view>

namespace pelkora::detail {

struct Plausibility {
    double total = 0;              // sum of the telling characters' scores
    std::size_t characters = 0;    // how many telling characters there were
    std::size_t latinLetters = 0;  // non-ASCII letters of the Latin script
    std::size_t otherLetters = 0;  // non-ASCII letters of other scripts
    // The share of the accented Latin letters that one language's alphabet holds, at best:
    // 1 for French text, less for Czech read as Windows Latin 1 ("Dvoøák", "Èerný").
    double latinCoherence = 1;

    // The mean score of the telling characters, less a penalty for incoherent accents:
    // from about -5 (garbage) to 1 (common letters only); 0 without evidence.
    double score() const;
    bool mostlyLatin() const { return latinLetters > otherLetters; }
};

// Scores UTF-8 text.
Plausibility scorePlausibility(std::string_view text);

}  // namespace pelkora::detail
