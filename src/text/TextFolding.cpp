#include "text/TextFolding.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <memory>

namespace pelkora {

std::string foldedForSearch(std::string_view text) {
    // Building a transliterator parses its rules, so each thread keeps one.
    thread_local std::unique_ptr<icu::Transliterator> folding = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> transliterator(icu::Transliterator::createInstance(
            "NFD; [:Nonspacing Mark:] Remove; Lower; NFC", UTRANS_FORWARD, status));
        return U_SUCCESS(status) ? std::move(transliterator) : nullptr;
    }();
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    if (folding) {
        folding->transliterate(unicode);
    } else {
        unicode.toLower();
    }
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

bool containsIgnoringCaseAndDiacritics(std::string_view text, std::string_view wanted) {
    if (wanted.empty()) return true;
    return foldedForSearch(text).find(foldedForSearch(wanted)) != std::string::npos;
}

}  // namespace pelkora
