#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/TextPlausibility_p.h"

namespace pelkora::detail {

namespace {

// Scores, per telling character.
constexpr double kGarbage = -5;        // control, unassigned, private use, U+FFFD
constexpr double kSymbolInWord = -2;   // "Stra§e"
constexpr double kScriptClash = -1.5;  // "Hйlиne"
constexpr double kMixedCase = -1;      // "MŠdchen"
constexpr double kStrayMark = -1;      // a combining mark after no letter
constexpr double kNotAWord = -1;       // "Èâàí": Cyrillic read as Western
constexpr double kRareSymbol = -0.5;   // "¤", "¸", "ˆ" standing alone, "…ffnung"
constexpr double kJoinerInWord = 0.5;  // "l’été"
constexpr double kPunctuation = 0.6;   // quotes, dashes, currency: ordinary, but not letters
constexpr double kLoneLetterFactor = 0.5;
constexpr double kIncoherence = 1;  // taken from the mean times the share of stray accents  // for
                                    // a non-ASCII letter standing alone as a word

// Characters that legitimately join the letters of one word.
constexpr std::array<UChar32, 9> kWordJoiners = {
    0x2019,  // right single quotation mark, the typographic apostrophe
    0x02BC,  // modifier letter apostrophe
    0x2010,  // hyphen
    0x2011,  // non-breaking hyphen
    0x00B7,  // middle dot (Catalan "l·l")
    0x2027,  // hyphenation point
    0x30FB,  // katakana middle dot
    0x00AD,  // soft hyphen
    0x0027,  // apostrophe (ASCII, listed for completeness)
};

// Symbols that stand alone in ordinary contact notes without looking odd.
constexpr std::array<UChar32, 17> kCommonSymbols = {
    0x00B0, 0x00A9, 0x00AE, 0x2122, 0x2022, 0x2026, 0x00A7, 0x00B6, 0x00B1,
    0x00D7, 0x00F7, 0x00B5, 0x00BD, 0x00BC, 0x00B2, 0x00B3, 0x2116,
};

template <std::size_t N>
bool contains(const std::array<UChar32, N>& table, UChar32 c) {
    return std::find(table.begin(), table.end(), c) != table.end();
}

bool isGarbage(UChar32 c) {
    switch (u_charType(c)) {
        case U_CONTROL_CHAR:
            return c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v';
        case U_PRIVATE_USE_CHAR:
        case U_SURROGATE:
        case U_UNASSIGNED:
            return true;
        default:
            return c == 0xFFFD || u_hasBinaryProperty(c, UCHAR_NONCHARACTER_CODE_POINT);
    }
}

// Letters and combining marks make words. The spacing modifier letters ("ˆ", "ˇ") are
// letters to Unicode but accents standing alone to a reader, and they are what a wrong
// Western encoding typically produces, so they count as symbols.
bool isWordCharacter(UChar32 c) {
    if (c < 0x80) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    }
    const std::int8_t type = u_charType(c);
    if (type == U_MODIFIER_LETTER) {
        return c < 0x02B0 || c > 0x02FF;
    }
    return type == U_UPPERCASE_LETTER || type == U_LOWERCASE_LETTER || type == U_TITLECASE_LETTER ||
           type == U_OTHER_LETTER || type == U_NON_SPACING_MARK ||
           type == U_COMBINING_SPACING_MARK || type == U_ENCLOSING_MARK;
}

bool isMark(UChar32 c) {
    const std::int8_t type = u_charType(c);
    return type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK ||
           type == U_ENCLOSING_MARK;
}

double latinLetterWeight(UChar32 c) {
    if (c == 0xAA || c == 0xBA) {
        return 0.5;  // ordinal indicators, as in "2º"
    }
    if (c == 0xD0 || c == 0xF0 || c == 0xDE || c == 0xFE) {
        return 0.6;  // eth and thorn: Icelandic only
    }
    if (c >= 0xC0 && c <= 0xFF) {
        return 1.0;  // the accented letters of the Western European languages
    }
    if (c == 0x152 || c == 0x153) {
        return 1.0;  // Œ œ
    }
    if (c >= 0x100 && c <= 0x17F) {
        return 0.7;  // Central European, Baltic, Turkish
    }
    if (c >= 0xFF21 && c <= 0xFF5A) {
        return 0.5;  // fullwidth Latin in East Asian text
    }
    return 0.2;  // Latin Extended-B, IPA and further: rare in names and addresses
}

// The accented letters of the languages written in Latin script, lowercase. Text in a
// wrong Latin encoding keeps its letters accented but mixes alphabets: Czech "ř", "č",
// "ě" read as Windows Latin 1 become the Nordic "ø", the French "è", the Italian "ì".
constexpr std::array<std::u16string_view, 28> kLatinAlphabets = {
    u"äöüßé",                    // German
    u"àâæçéèêëîïôœùûüÿ",         // French
    u"áéíóúñü",                  // Spanish
    u"áâãàçéêíóôõúü",            // Portuguese
    u"àèéìíîòóùú",               // Italian
    u"áéèëïóöüíú",               // Dutch
    u"æøåéó",                    // Danish, Norwegian
    u"åäöé",                     // Swedish
    u"äöåšž",                    // Finnish
    u"áðéíóúýþæö",               // Icelandic
    u"àçéèíïóòúü",               // Catalan
    u"ąćęłńóśźż",                // Polish
    u"áčďéěíňóřšťúůýž",          // Czech
    u"áäčďéíĺľňóôŕšťúýž",        // Slovak
    u"áéíóöőúüű",                // Hungarian
    u"čćđšž",                    // Slovene, Croatian, Bosnian
    u"ăâîșțşţ",                  // Romanian
    u"çğıöşüâîû",                // Turkish
    u"ąčęėįšųūž",                // Lithuanian
    u"āčēģīķļņšūž",              // Latvian
    u"äõöüšž",                   // Estonian
    u"çë",                       // Albanian
    u"ċġħżàèìòù",                // Maltese
    u"ĉĝĥĵŝŭ",                   // Esperanto
    u"áéíóú",                    // Irish
    u"âêîôûŵŷáéíóúàèìòùäëïöüÿ",  // Welsh
    u"ãẽĩõũñ",                   // Guarani
    u"åäö",                      // Swedish names in Finnish text
};

// Counts of the accented Latin letters U+00C0 to U+017F, case folded.
struct AccentCounts {
    static constexpr UChar32 kFirst = 0xC0;
    static constexpr UChar32 kLast = 0x17F;
    std::array<std::size_t, kLast - kFirst + 1> counts{};
    std::size_t total = 0;

    void add(UChar32 c) {
        const UChar32 lower = u_tolower(c);
        if (lower >= kFirst && lower <= kLast) {
            ++counts[static_cast<std::size_t>(lower - kFirst)];
            ++total;
        }
    }

    double coherence() const {
        if (total == 0) {
            return 1;
        }
        std::size_t best = 0;
        for (std::u16string_view alphabet : kLatinAlphabets) {
            std::size_t covered = 0;
            for (char16_t letter : alphabet) {
                if (letter >= kFirst && letter <= kLast) {
                    covered += counts[static_cast<std::size_t>(letter - kFirst)];
                }
            }
            best = std::max(best, covered);
        }
        return static_cast<double>(best) / static_cast<double>(total);
    }
};

constexpr UChar32 kUnifiedHanFirst = 0x4E00;
constexpr UChar32 kUnifiedHanLast = 0x9FFF;

struct HanLevel {
    const char* converter;
    std::uint8_t firstLead;
    std::uint8_t lastLead;
    bool lowTrails;  // trail bytes 0x40–0x7E as well as 0xA1–0xFE
};

// The first levels of the national standards hold the commonly used characters, kept
// apart from the rare ones: GB 2312 level 1, JIS X 0208 level 1, Big5's frequently used
// characters. A wrong East Asian decoding lands mostly outside them.
constexpr std::array kCommonHanLevels = {
    HanLevel{"gb18030", 0xB0, 0xD7, false},
    HanLevel{"EUC-JP", 0xB0, 0xCF, false},
    HanLevel{"Big5", 0xA4, 0xC5, true},
};

// Which unified Han characters are common, built once by decoding those levels.
const std::vector<bool>& commonHan() {
    static const std::vector<bool> table = [] {
        std::vector<bool> common(kUnifiedHanLast - kUnifiedHanFirst + 1);
        for (const HanLevel& level : kCommonHanLevels) {
            std::string bytes;
            for (int lead = level.firstLead; lead <= level.lastLead; ++lead) {
                for (int trail = level.lowTrails ? 0x40 : 0xA1; trail <= 0xFE; ++trail) {
                    if (trail > 0x7E && trail < 0xA1) continue;
                    bytes += static_cast<char>(lead);
                    bytes += static_cast<char>(trail);
                }
            }
            UErrorCode error = U_ZERO_ERROR;
            UConverter* converter = ucnv_open(level.converter, &error);
            // The gaps in a level are skipped rather than substituted.
            ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_SKIP, nullptr, nullptr, nullptr,
                                &error);
            std::vector<UChar> units(bytes.size() + 1);
            const std::int32_t length =
                ucnv_toUChars(converter, units.data(), static_cast<std::int32_t>(units.size()),
                              bytes.data(), static_cast<std::int32_t>(bytes.size()), &error);
            ucnv_close(converter);
            if (U_FAILURE(error)) continue;
            for (std::int32_t i = 0; i < length; ++i) {
                if (units[i] >= kUnifiedHanFirst && units[i] <= kUnifiedHanLast) {
                    common[units[i] - kUnifiedHanFirst] = true;
                }
            }
        }
        return common;
    }();
    return table;
}

// How common a letter is in the text people keep in contact lists, from 1 down to 0.1.
// The weights only need to rank a right decoding above a wrong one of the same bytes.
double letterWeight(UChar32 c, UScriptCode script) {
    switch (script) {
        case USCRIPT_LATIN:
            return latinLetterWeight(c);
        case USCRIPT_GREEK:
            return c >= 0x370 && c <= 0x3FF ? 0.8 : 0.3;
        case USCRIPT_CYRILLIC:
            return c >= 0x400 && c <= 0x45F ? 0.8 : 0.3;
        case USCRIPT_HEBREW:
        case USCRIPT_ARABIC:
            // Presentation forms are for display, not for storing text.
            return c >= 0xFB00 ? 0.2 : 0.8;
        case USCRIPT_HAN:
            if (c >= kUnifiedHanFirst && c <= kUnifiedHanLast) {
                return commonHan()[static_cast<std::size_t>(c - kUnifiedHanFirst)] ? 0.9 : 0.5;
            }
            return c >= 0x3400 && c <= 0x4DBF ? 0.2 : 0.1;
        case USCRIPT_HIRAGANA:
            return 0.8;
        case USCRIPT_KATAKANA:
            return c >= 0xFF66 && c <= 0xFF9F ? 0.3 : 0.8;  // halfwidth forms are rare today
        case USCRIPT_HANGUL:
            return c >= 0xAC00 && c <= 0xD7A3 ? 0.8 : 0.2;
        case USCRIPT_ARMENIAN:
        case USCRIPT_GEORGIAN:
        case USCRIPT_THAI:
        case USCRIPT_LAO:
        case USCRIPT_DEVANAGARI:
        case USCRIPT_BENGALI:
        case USCRIPT_GURMUKHI:
        case USCRIPT_GUJARATI:
        case USCRIPT_ORIYA:
        case USCRIPT_TAMIL:
        case USCRIPT_TELUGU:
        case USCRIPT_KANNADA:
        case USCRIPT_MALAYALAM:
            return 0.8;
        case USCRIPT_COMMON:
        case USCRIPT_INHERITED:
            return 0.5;
        default:
            return 0.1;
    }
}

// Scripts that may meet inside one word.
int scriptFamily(UScriptCode script) {
    switch (script) {
        case USCRIPT_HAN:
        case USCRIPT_HIRAGANA:
        case USCRIPT_KATAKANA:
        case USCRIPT_BOPOMOFO:
            return USCRIPT_HAN;
        default:
            return script;
    }
}

bool scriptsClash(UScriptCode a, UScriptCode b) {
    if (a == USCRIPT_COMMON || a == USCRIPT_INHERITED || b == USCRIPT_COMMON ||
        b == USCRIPT_INHERITED) {
        return false;
    }
    return scriptFamily(a) != scriptFamily(b);
}

struct Letter {
    UChar32 c;
    UScriptCode script;
};

UScriptCode scriptOf(UChar32 c) {
    if (c < 0x80) {
        return USCRIPT_LATIN;
    }
    UErrorCode error = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(c, &error);
    return U_SUCCESS(error) ? script : USCRIPT_UNKNOWN;
}

// Natural words are lowercase, capitalised or all capitals.
bool hasMixedCase(const std::vector<Letter>& word) {
    std::size_t cased = 0;
    std::size_t upper = 0;
    bool firstUpper = false;
    for (const Letter& letter : word) {
        const bool isUpper = u_isUUppercase(letter.c);
        if (!isUpper && !u_isULowercase(letter.c)) {
            continue;
        }
        if (cased == 0) {
            firstUpper = isUpper;
        }
        ++cased;
        upper += isUpper ? 1 : 0;
    }
    if (upper == 0 || upper == cased) {
        return false;
    }
    return !(firstUpper && upper == 1);
}

// Western words have mostly unaccented letters; a run of accented ones is text of another
// script read in a Western encoding.
bool isImplausibleLatinWord(const std::vector<Letter>& word) {
    std::size_t latin = 0;
    std::size_t accented = 0;
    for (const Letter& letter : word) {
        if (letter.script == USCRIPT_LATIN && !isMark(letter.c)) {
            ++latin;
            accented += letter.c >= 0x80 ? 1 : 0;
        }
    }
    return (latin >= 3 && accented == latin) || (latin >= 5 && accented * 5 > latin * 3);
}

void scoreWord(const std::vector<Letter>& word, Plausibility& result, AccentCounts& accents) {
    const bool telling =
        std::any_of(word.begin(), word.end(), [](const Letter& l) { return l.c >= 0x80; });
    if (!telling) {
        return;
    }
    const bool mixedCase = hasMixedCase(word);
    const bool notAWord = isImplausibleLatinWord(word);
    for (std::size_t i = 0; i < word.size(); ++i) {
        const Letter& letter = word[i];
        if (letter.c < 0x80 || isMark(letter.c)) {
            continue;
        }
        double score = letterWeight(letter.c, letter.script);
        if (word.size() == 1) {
            score *= kLoneLetterFactor;
        }
        if (notAWord && letter.script == USCRIPT_LATIN) {
            score = kNotAWord;
        }
        if (mixedCase && (u_isUUppercase(letter.c) || u_isULowercase(letter.c))) {
            score = kMixedCase;
        }
        const bool clashBefore = i > 0 && scriptsClash(word[i - 1].script, letter.script);
        const bool clashAfter =
            i + 1 < word.size() && scriptsClash(letter.script, word[i + 1].script);
        if (clashBefore || clashAfter) {
            score = kScriptClash;
        }
        result.total += score;
        ++result.characters;
        if (letter.script == USCRIPT_LATIN) {
            ++result.latinLetters;
            accents.add(letter.c);
        } else {
            ++result.otherLetters;
        }
    }
}

bool isOpeningMark(UChar32 c) {
    const std::int8_t type = u_charType(c);
    // German opens quotes with „ and », Spanish questions with ¿.
    return type == U_START_PUNCTUATION || type == U_INITIAL_PUNCTUATION ||
           type == U_FINAL_PUNCTUATION || c == 0xBF || c == 0xA1;
}

bool isOrdinaryPunctuation(UChar32 c) {
    if (contains(kCommonSymbols, c)) {
        return true;
    }
    switch (u_charType(c)) {
        case U_DASH_PUNCTUATION:
        case U_START_PUNCTUATION:
        case U_END_PUNCTUATION:
        case U_INITIAL_PUNCTUATION:
        case U_FINAL_PUNCTUATION:
        case U_OTHER_PUNCTUATION:
        case U_CONNECTOR_PUNCTUATION:
        case U_SPACE_SEPARATOR:
        case U_DECIMAL_DIGIT_NUMBER:
            return true;
        case U_CURRENCY_SYMBOL:
            return c != 0xA4;  // "¤" is a placeholder, not a currency
        default:
            return false;
    }
}

double symbolScore(UChar32 c, bool letterBefore, bool letterAfter) {
    if (isGarbage(c)) {
        return kGarbage;
    }
    if (letterBefore && letterAfter) {
        return contains(kWordJoiners, c) ? kJoinerInWord : kSymbolInWord;
    }
    if (isMark(c)) {
        return kStrayMark;
    }
    if (letterAfter && !isOpeningMark(c)) {
        return kRareSymbol;  // "…ffnung", "†bersicht": a mark glued to the start of a word
    }
    return isOrdinaryPunctuation(c) ? kPunctuation : kRareSymbol;
}

}  // namespace

double Plausibility::score() const {
    const double mean = characters == 0 ? 0 : total / static_cast<double>(characters);
    return mean - kIncoherence * (1 - latinCoherence);
}

Plausibility scorePlausibility(std::string_view text) {
    Plausibility result;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::int32_t length = static_cast<std::int32_t>(text.size());
    std::vector<Letter> word;
    AccentCounts accents;
    bool letterBefore = false;

    std::int32_t i = 0;
    auto next = [&](std::int32_t& position) {
        UChar32 c;
        U8_NEXT(bytes, position, length, c);
        return c < 0 ? 0xFFFD : c;
    };
    while (i < length) {
        const UChar32 c = next(i);
        if (isWordCharacter(c)) {
            word.push_back({c, scriptOf(c)});
            letterBefore = true;
            continue;
        }
        scoreWord(word, result, accents);
        word.clear();
        if (c < 0x80 && !isGarbage(c)) {
            letterBefore = false;
            continue;
        }
        std::int32_t peek = i;
        const bool letterAfter = peek < length && isWordCharacter(next(peek));
        result.total += symbolScore(c, letterBefore, letterAfter);
        ++result.characters;
        letterBefore = false;
    }
    scoreWord(word, result, accents);
    result.latinCoherence = accents.coherence();
    return result;
}

}  // namespace pelkora::detail
