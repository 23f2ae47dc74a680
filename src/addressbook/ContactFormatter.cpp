#include "addressbook/ContactFormatter.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "addressbook/ContactText_p.h"

namespace pelkora::contacts {

namespace {

using detail::foldedCase;
using detail::trimmedText;

struct LanguageNameOrder {
    std::string_view language;
    NameOrder order;
};

// Languages that write the family name first; all others write it last.
constexpr std::array<LanguageNameOrder, 5> kFamilyNameFirstLanguages = {{
    {"zh", NameOrder::familyMiddleGiven},
    {"ja", NameOrder::familyMiddleGiven},
    {"ko", NameOrder::familyMiddleGiven},
    {"vi", NameOrder::familyMiddleGiven},
    {"hu", NameOrder::familyGivenMiddle},
}};

std::string languageOfLocale(std::string_view localeIdentifier) {
    char language[ULOC_LANG_CAPACITY] = {};
    UErrorCode error = U_ZERO_ERROR;
    // ICU reads POSIX locale names ("de_AT.UTF-8@euro") as well as BCP 47 tags ("de-AT").
    uloc_getLanguage(std::string(localeIdentifier).c_str(), language, sizeof language, &error);
    return U_SUCCESS(error) ? std::string(language) : std::string();
}

bool isCJKScript(UScriptCode script) {
    return script == USCRIPT_HAN || script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA ||
           script == USCRIPT_HANGUL || script == USCRIPT_BOPOMOFO;
}

// A name is written as a CJK name when every part it has is CJK text.
bool isCJKName(std::initializer_list<std::string_view> parts) {
    bool any = false;
    for (std::string_view part : parts) {
        if (part.empty()) continue;
        if (!isCJKText(part)) return false;
        any = true;
    }
    return any;
}

// Joins the non-empty parts with a space, or with nothing between two CJK parts.
std::string joinedNameParts(const std::vector<std::string_view>& parts) {
    std::string result;
    std::string_view previous;
    for (std::string_view part : parts) {
        if (part.empty()) continue;
        if (!result.empty() && !(isCJKText(previous) && isCJKText(part))) result += ' ';
        result += part;
        previous = part;
    }
    return result;
}

std::string personName(std::string_view prefix, std::string_view given, std::string_view middle,
                       std::string_view family, std::string_view suffix, NameOrder order) {
    if (isCJKName({given, middle, family}) && order == NameOrder::givenMiddleFamily) {
        order = NameOrder::familyMiddleGiven;
    }
    switch (order) {
        case NameOrder::familyMiddleGiven:
            return joinedNameParts({prefix, family, middle, given, suffix});
        case NameOrder::familyGivenMiddle:
            return joinedNameParts({prefix, family, given, middle, suffix});
        case NameOrder::givenMiddleFamily:
            break;
    }
    return joinedNameParts({prefix, given, middle, family, suffix});
}

std::string formattedName(const Contact& contact, ContactFormatterStyle style, NameOrder order) {
    const bool phonetic = style == ContactFormatterStyle::phoneticFullName;
    if (contact.contactType == ContactType::organization) {
        return std::string(
            trimmedText(phonetic ? contact.phoneticOrganizationName : contact.organizationName));
    }
    if (phonetic) {
        return personName({}, trimmedText(contact.phoneticGivenName),
                          trimmedText(contact.phoneticMiddleName),
                          trimmedText(contact.phoneticFamilyName), {}, order);
    }
    return personName(trimmedText(contact.namePrefix), trimmedText(contact.givenName),
                      trimmedText(contact.middleName), trimmedText(contact.familyName),
                      trimmedText(contact.nameSuffix), order);
}

// ---- Taking a full name apart ----------------------------------------------------------

// Honorifics written before a name, case-folded, as people abbreviate them.
constexpr std::string_view kNamePrefixes[] = {
    "mr",    "mr.",      "mrs",   "mrs.",  "ms",    "ms.",      "miss", "mx",         "mx.",
    "dr",    "dr.",      "prof",  "prof.", "sir",   "dame",     "lord", "lady",       "rev",
    "rev.",  "fr.",      "herr",  "hr.",   "frau",  "fräulein", "med.", "dipl.-ing.", "ing.",
    "mag.",  "m.",       "mme",   "mme.",  "mlle",  "mlle.",    "me",   "pr",         "pr.",
    "sr.",   "sra.",     "srta.", "don",   "doña",  "dña.",     "sig.", "sig.ra",     "sig.na",
    "dott.", "dott.ssa", "avv.",  "dhr.",  "mevr.", "pan",      "pani", "hr",         "fru"};

// Generational and academic suffixes written after a name, case-folded.
constexpr std::string_view kNameSuffixes[] = {
    "jr", "jr.",  "jun.", "sr",   "sr.", "sen.", "ii",    "iii", "iv",    "phd", "ph.d.",
    "md", "m.d.", "esq",  "esq.", "mba", "msc",  "m.sc.", "bsc", "b.sc.", "dds", "d.d.s."};

// Words that belong to the family name after them ("van der Berg", "de la Cruz").
constexpr std::string_view kFamilyNameParticles[] = {
    "van", "von", "der", "den", "de",  "del", "della", "di", "da", "dos", "das", "du", "la",
    "le",  "ten", "ter", "zu",  "vom", "zum", "zur",   "af", "av", "bin", "ibn", "al"};

// Endings of Russian patronymics (-ович, -евич, -ьич, -овна, -евна, -ична).
constexpr std::string_view kPatronymicEndings[] = {"вич", "ьич", "вна", "ична"};

template <std::size_t N>
bool isListed(const std::string_view (&list)[N], std::string_view word) {
    const std::string folded = foldedCase(word);
    return std::find(std::begin(list), std::end(list), folded) != std::end(list);
}

// The words of the text, split at Unicode white space (the ideographic space included).
std::vector<std::string> nameWords(std::string_view text) {
    std::vector<std::string> words;
    std::string current;
    std::int32_t offset = 0;
    const auto length = static_cast<std::int32_t>(text.size());
    while (offset < length) {
        const std::int32_t start = offset;
        UChar32 codePoint = 0;
        U8_NEXT(text.data(), offset, length, codePoint);
        if (codePoint >= 0 && u_isUWhiteSpace(codePoint)) {
            if (!current.empty()) words.push_back(std::move(current));
            current.clear();
        } else {
            current.append(text.substr(static_cast<std::size_t>(start),
                                       static_cast<std::size_t>(offset - start)));
        }
    }
    if (!current.empty()) words.push_back(std::move(current));
    return words;
}

std::string joinedWords(const std::vector<std::string>& words, std::size_t from, std::size_t to,
                        std::string_view separator = " ") {
    std::string result;
    for (std::size_t at = from; at < to; ++at) {
        if (!result.empty()) result += separator;
        result += words[at];
    }
    return result;
}

bool isCyrillicWord(std::string_view word) {
    std::int32_t offset = 0;
    const auto length = static_cast<std::int32_t>(word.size());
    bool sawLetter = false;
    while (offset < length) {
        UChar32 codePoint = 0;
        U8_NEXT(word.data(), offset, length, codePoint);
        if (codePoint < 0) return false;
        UErrorCode error = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(codePoint, &error);
        if (U_FAILURE(error) || script == USCRIPT_COMMON || script == USCRIPT_INHERITED) continue;
        if (script != USCRIPT_CYRILLIC) return false;
        sawLetter = true;
    }
    return sawLetter;
}

bool isPatronymic(std::string_view word) {
    const std::string folded = foldedCase(word);
    return std::any_of(std::begin(kPatronymicEndings), std::end(kPatronymicEndings),
                       [&](std::string_view ending) { return folded.ends_with(ending); });
}

// Moves the trailing suffix words of the words into suffixes; at least one word stays.
void takeSuffixWords(std::vector<std::string>& words, std::vector<std::string>& suffixes) {
    std::size_t end = words.size();
    while (end > 1 && isListed(kNameSuffixes, words[end - 1])) --end;
    if (end == words.size()) return;
    suffixes.insert(suffixes.begin(), joinedWords(words, end, words.size()));
    words.resize(end);
}

// Removes the leading honorifics of the words (at least one word stays) and returns them.
std::string takePrefixWords(std::vector<std::string>& words) {
    std::size_t first = 0;
    while (first + 1 < words.size() && isListed(kNamePrefixes, words[first])) ++first;
    std::string prefix = joinedWords(words, 0, first);
    words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(first));
    return prefix;
}

bool startsLowerCase(std::string_view word) {
    return !word.empty() && word.front() >= 'a' && word.front() <= 'z';
}

// Steps 3 and 4 for the words of a name written given name first.
void readGivenNameFirst(std::vector<std::string> words, NameComponents& parts) {
    parts.namePrefix = takePrefixWords(words);
    if (words.empty()) return;
    if (words.size() == 1) {
        (parts.namePrefix.empty() ? parts.givenName : parts.familyName) = words.front();
        return;
    }
    if (words.size() == 3 && std::all_of(words.begin(), words.end(), isCyrillicWord) &&
        isPatronymic(words[2]) && !isPatronymic(words[1])) {
        parts.familyName = words[0];
        parts.givenName = words[1];
        parts.middleName = words[2];
        return;
    }
    // Particles join the family name; a name that starts with one ("van der Berg") is all
    // family name, while a capitalised first word is a given name ("Al Gore").
    const std::size_t last = words.size() - 1;
    const bool allParticles =
        std::all_of(words.begin(), words.begin() + last,
                    [](const std::string& word) { return isListed(kFamilyNameParticles, word); });
    if (allParticles && startsLowerCase(words.front())) {
        parts.familyName = joinedWords(words, 0, words.size());
        return;
    }
    std::size_t family = last;
    while (family > 1 && isListed(kFamilyNameParticles, words[family - 1])) --family;
    parts.givenName = words[0];
    parts.middleName = joinedWords(words, 1, family);
    parts.familyName = joinedWords(words, family, words.size());
}

}  // namespace

NameComponents nameComponentsFromString(std::string_view fullName) {
    NameComponents parts;
    // The comma-separated pieces, white space made single blanks; empty pieces dropped.
    std::vector<std::string> pieces;
    for (std::size_t start = 0; start <= fullName.size();) {
        const auto comma = std::min(fullName.find(',', start), fullName.size());
        const auto words = nameWords(fullName.substr(start, comma - start));
        if (!words.empty()) pieces.push_back(joinedWords(words, 0, words.size()));
        start = comma + 1;
    }
    if (pieces.empty()) return parts;

    // Step 1: pieces made of suffixes only, then suffix words at the end of the name.
    std::vector<std::string> suffixes;
    while (pieces.size() > 1) {
        const auto words = nameWords(pieces.back());
        if (!std::all_of(words.begin(), words.end(),
                         [](const std::string& word) { return isListed(kNameSuffixes, word); }))
            break;
        suffixes.insert(suffixes.begin(), pieces.back());
        pieces.pop_back();
    }
    std::vector<std::string> leading = nameWords(pieces.front());
    std::vector<std::string> following = nameWords(joinedWords(pieces, 1, pieces.size()));
    takeSuffixWords(pieces.size() > 1 ? following : leading, suffixes);
    parts.nameSuffix = joinedWords(suffixes, 0, suffixes.size(), ", ");

    if (pieces.size() > 1) {
        // Step 2: "Family, Given Middle"; whatever follows the comma is given and middle
        // names.
        parts.namePrefix = takePrefixWords(leading);
        parts.familyName = joinedWords(leading, 0, leading.size());
        std::string prefix = takePrefixWords(following);
        if (parts.namePrefix.empty()) parts.namePrefix = std::move(prefix);
        parts.givenName = following.front();
        parts.middleName = joinedWords(following, 1, following.size());
        return parts;
    }
    if (isCJKText(pieces.front())) {
        if (leading.size() == 1) {
            parts.givenName = leading.front();
        } else {
            parts.familyName = leading.front();
            parts.givenName = joinedWords(leading, 1, leading.size());
        }
        return parts;
    }
    readGivenNameFirst(std::move(leading), parts);
    return parts;
}

NameOrder nameOrderForLocale(std::string_view localeIdentifier) {
    const std::string language = languageOfLocale(localeIdentifier);
    const auto found =
        std::find_if(kFamilyNameFirstLanguages.begin(), kFamilyNameFirstLanguages.end(),
                     [&](const LanguageNameOrder& entry) { return entry.language == language; });
    return found == kFamilyNameFirstLanguages.end() ? NameOrder::givenMiddleFamily : found->order;
}

std::string stringFromContact(const Contact& contact, ContactFormatterStyle style) {
    // ICU's default locale follows the user's language settings (LC_ALL, LC_MESSAGES, LANG).
    return formattedName(contact, style, nameOrderForLocale(icu::Locale::getDefault().getName()));
}

std::string stringFromContact(const Contact& contact, ContactFormatterStyle style,
                              std::string_view localeIdentifier) {
    return formattedName(contact, style, nameOrderForLocale(localeIdentifier));
}

bool isCJKText(std::string_view text) {
    bool sawCJK = false;
    std::int32_t offset = 0;
    const auto length = static_cast<std::int32_t>(text.size());
    while (offset < length) {
        UChar32 codePoint = 0;
        U8_NEXT(text.data(), offset, length, codePoint);
        if (codePoint < 0) return false;
        UErrorCode error = U_ZERO_ERROR;
        const UScriptCode script = uscript_getScript(codePoint, &error);
        if (U_FAILURE(error) || script == USCRIPT_COMMON || script == USCRIPT_INHERITED) continue;
        if (!isCJKScript(script)) return false;
        sawCJK = true;
    }
    return sawCJK;
}

}  // namespace pelkora::contacts
