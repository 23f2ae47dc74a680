#include "text/LanguageDetection.h"

// compact_lang_det.h uses FILE without including its header.
#include <algorithm>
#include <climits>
#include <cstdio>

#include "internal/lang_script.h"
#include "public/compact_lang_det.h"
#include "public/encodings.h"

namespace pelkora {
namespace {

// CLD2 keeps a few codes that ISO 639-1 has since replaced, and names Norwegian by the
// macrolanguage; the vocabulary and the rest of the program use the current codes.
struct CodeReplacement {
    std::string_view detector;
    std::string_view iso;
};
constexpr CodeReplacement kCodeReplacements[] = {
    {"iw", "he"}, {"in", "id"}, {"ji", "yi"}, {"jw", "jv"}, {"no", "nb"},
};

std::optional<std::string> isoCode(std::string_view code) {
    // Script variants ("zh-Hant") are the same language for matching titles.
    code = code.substr(0, code.find('-'));
    // "un" is CLD2's unknown language; "xx" codes stand for scripts it recognises but
    // cannot name a language for.
    if (code.empty() || code == "un" || code == "xx" || code.starts_with("xx")) return std::nullopt;
    for (const auto& replacement : kCodeReplacements) {
        if (code == replacement.detector) return std::string(replacement.iso);
    }
    std::string lower(code);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

}  // namespace

std::optional<std::string> detectLanguage(std::string_view text) {
    if (text.empty()) return std::nullopt;
    CLD2::CLDHints hints{nullptr, nullptr, CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
    CLD2::Language language3[3];
    int percent3[3];
    double normalizedScore3[3];
    int textBytes = 0;
    bool isReliable = false;
    // Best effort: a header row is a handful of words, for which CLD2 otherwise answers
    // "unknown" about a third of the time although its best guess is usually right; the
    // caller falls back to a default language only when there is no guess at all.
    CLD2::ExtDetectLanguageSummary(text.data(),
                                   static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX)),
                                   true, &hints, CLD2::kCLDFlagBestEffort, language3, percent3,
                                   normalizedScore3, nullptr, &textBytes, &isReliable);
    // The language of most of the text. CLD2's own summary can name a runner-up instead when
    // the text is short and no language is reliable (a German header of 37 Thunderbird
    // columns, 69 % German, came out as Swedish).
    const CLD2::Language language = language3[0];
    if (language == CLD2::UNKNOWN_LANGUAGE) return std::nullopt;
    const char* code = CLD2::LanguageCode(language);
    if (code == nullptr) return std::nullopt;
    return isoCode(code);
}

}  // namespace pelkora
