#include "addressbook/UserCountry.h"

#include <unicode/locdspnm.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "addressbook/ContactText_p.h"

namespace pelkora::contacts {

namespace {

using detail::asciiLowercased;
using detail::foldedCase;
using detail::trimmedText;

constexpr std::string_view kFallbackCountryCode = "us";

// Besides English, country names are recognised in every language of the column-title
// vocabulary, since a file whose titles are in one of them names its countries so too.
// Traditional Chinese writes many names differently from Simplified.
constexpr std::array<const char*, 16> kCountryNameLanguages = {
    "de", "fr", "es", "it", "nl", "pt", "sv", "da",
    "nb", "fi", "pl", "cs", "ru", "ja", "zh", "zh_Hant"};

struct CountryAlias {
    std::string_view name;
    std::string_view countryCode;
};

// Names in common use that are not ICU's display names, mostly official long forms, former
// names and the parts of a country that people write as one. "USA" and "UK" are ICU's short
// forms too, but are listed since nothing must depend on that.
constexpr std::array<CountryAlias, 36> kCountryAliases = {{
    {"USA", "us"},
    {"UK", "gb"},
    {"United States of America", "us"},
    {"America", "us"},
    {"Vereinigte Staaten von Amerika", "us"},
    {"Great Britain", "gb"},
    {"Britain", "gb"},
    {"England", "gb"},
    {"Scotland", "gb"},
    {"Wales", "gb"},
    {"Northern Ireland", "gb"},
    {"Grossbritannien", "gb"},
    {"Angleterre", "gb"},
    {"Bundesrepublik Deutschland", "de"},
    {"BRD", "de"},
    {"Federal Republic of Germany", "de"},
    {"Republik Österreich", "at"},
    {"Schweizerische Eidgenossenschaft", "ch"},
    {"Confédération suisse", "ch"},
    {"Confederazione Svizzera", "ch"},
    {"Holland", "nl"},
    {"The Netherlands", "nl"},
    {"Czech Republic", "cz"},
    {"Tschechische Republik", "cz"},
    {"Republic of Korea", "kr"},
    {"Korea", "kr"},
    {"Russian Federation", "ru"},
    {"Turkey", "tr"},
    {"Türkiye", "tr"},
    {"Ivory Coast", "ci"},
    {"Vatican", "va"},
    {"Macedonia", "mk"},
    {"Swaziland", "sz"},
    {"Burma", "mm"},
    {"中华人民共和国", "cn"},
    {"Nippon", "jp"},
}};

std::mutex& overrideMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<std::string>& countryCodeOverride() {
    static std::optional<std::string> code;
    return code;
}

std::string uppercased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

bool isTwoLetterCode(std::string_view code) {
    return code.size() == 2 && std::all_of(code.begin(), code.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
           });
}

std::string utf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

// The two-letter territory of a POSIX locale name or BCP 47 tag; empty when it names none
// ("C.UTF-8", "en") or a region that is not a country ("es_419").
std::string territoryOfLocale(const char* locale) {
    char country[ULOC_COUNTRY_CAPACITY] = {};
    UErrorCode error = U_ZERO_ERROR;
    uloc_getCountry(locale, country, sizeof country, &error);
    if (U_FAILURE(error) || !isTwoLetterCode(country)) return {};
    return asciiLowercased(country);
}

// The form in which country names are compared: case folded, without diacritics, full stops
// or repeated white space ("Österreich" and "OSTERREICH", "U.S.A." and "USA" are alike).
std::string foldedCountryName(std::string_view name) {
    UErrorCode error = U_ZERO_ERROR;
    const icu::Normalizer2* decomposition = icu::Normalizer2::getNFDInstance(error);
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(name.data(), static_cast<std::int32_t>(name.size())));
    if (U_SUCCESS(error)) text = decomposition->normalize(text, error);
    if (U_FAILURE(error)) return foldedCase(name);
    icu::UnicodeString kept;
    bool pendingSpace = false;
    for (std::int32_t index = 0; index < text.length(); index = text.moveIndex32(index, 1)) {
        const UChar32 c = text.char32At(index);
        if (u_charType(c) == U_NON_SPACING_MARK || c == '.') continue;
        if (u_isUWhiteSpace(c)) {
            pendingSpace = !kept.isEmpty();
            continue;
        }
        if (pendingSpace) kept.append(UChar32(' '));
        pendingSpace = false;
        kept.append(c);
    }
    return utf8(kept.foldCase());
}

// Folded country names to codes, made once from ICU's data on first use (a static local, so
// the first caller builds it and concurrent callers wait for it). Each language gives its
// full names and its short forms ("UK", "Hong Kong"); English comes first, so that its
// names win should a name in another language coincide with one, then the other languages
// in the order of the list (the few names two of them give to different countries, such
// as "Kongo", go to the first), the aliases, and last the three-letter codes ("DEU").
const std::unordered_map<std::string, std::string>& countryCodesByFoldedName() {
    static const std::unordered_map<std::string, std::string> codes = [] {
        std::unordered_map<std::string, std::string> result;
        std::vector<const char*> countries;
        for (const char* const* country = uloc_getISOCountries(); *country != nullptr; ++country) {
            countries.push_back(*country);
        }
        const auto addNames = [&](const icu::Locale& language, UDisplayContext length) {
            UDisplayContext context = length;
            const std::unique_ptr<icu::LocaleDisplayNames> names(
                icu::LocaleDisplayNames::createInstance(language, &context, 1));
            if (names == nullptr) return;
            for (const char* country : countries) {
                icu::UnicodeString name;
                names->regionDisplayName(country, name);
                // ICU answers with the code itself when the language has no name for it.
                if (name.isEmpty() || name == icu::UnicodeString(country)) continue;
                result.emplace(foldedCountryName(utf8(name)), asciiLowercased(country));
            }
        };
        for (const UDisplayContext length : {UDISPCTX_LENGTH_FULL, UDISPCTX_LENGTH_SHORT}) {
            addNames(icu::Locale::getEnglish(), length);
        }
        for (const char* language : kCountryNameLanguages) {
            for (const UDisplayContext length : {UDISPCTX_LENGTH_FULL, UDISPCTX_LENGTH_SHORT}) {
                addNames(icu::Locale(language), length);
            }
        }
        for (const CountryAlias& alias : kCountryAliases) {
            result.emplace(foldedCountryName(alias.name), std::string(alias.countryCode));
        }
        for (const char* country : countries) {
            const char* threeLetterCode = uloc_getISO3Country(("_" + std::string(country)).c_str());
            if (threeLetterCode != nullptr && *threeLetterCode != '\0') {
                result.emplace(foldedCountryName(threeLetterCode), asciiLowercased(country));
            }
        }
        return result;
    }();
    return codes;
}

bool isKnownCountryCode(std::string_view code) {
    const std::string wanted = uppercased(code);
    for (const char* const* country = uloc_getISOCountries(); *country != nullptr; ++country) {
        if (wanted == *country) return true;
    }
    return false;
}

}  // namespace

std::string defaultCountryCode() {
    {
        std::lock_guard lock(overrideMutex());
        if (countryCodeOverride()) return *countryCodeOverride();
    }
    // The first variable that names a territory wins rather than the first that is set:
    // LC_ALL=C.UTF-8 is often set to fix the character set only, and says nothing about
    // where the user lives.
    for (const char* variable : {"LC_ALL", "LC_ADDRESS", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        std::string territory = territoryOfLocale(value);
        if (!territory.empty()) return territory;
    }
    return std::string(kFallbackCountryCode);
}

void setCountryCodeOverride(std::optional<std::string> countryCode) {
    std::lock_guard lock(overrideMutex());
    if (countryCode && !trimmedText(*countryCode).empty()) {
        countryCodeOverride() = asciiLowercased(trimmedText(*countryCode));
    } else {
        countryCodeOverride().reset();
    }
}

std::string countryNameForCode(std::string_view countryCode) {
    if (countryCode.empty()) return {};
    icu::UnicodeString name;
    icu::Locale("", uppercased(countryCode).c_str())
        .getDisplayCountry(icu::Locale::getEnglish(), name);
    const std::string result = utf8(name);
    // ICU answers with the code, in upper case, when it has no name.
    if (result.empty() || result == uppercased(countryCode)) return std::string(countryCode);
    return result;
}

std::optional<std::string> countryCodeOfAddress(const PostalAddress& address) {
    if (!trimmedText(address.isoCountryCode).empty()) {
        if (auto code = countryCodeForName(address.isoCountryCode)) return code;
    }
    return countryCodeForName(address.country);
}

std::optional<std::string> countryCodeForName(std::string_view name) {
    const std::string_view text = trimmedText(name);
    if (text.empty()) return std::nullopt;
    if (isTwoLetterCode(text) && isKnownCountryCode(text)) return asciiLowercased(text);
    const auto& codes = countryCodesByFoldedName();
    const auto found = codes.find(foldedCountryName(text));
    if (found == codes.end()) return std::nullopt;
    return found->second;
}

}  // namespace pelkora::contacts
