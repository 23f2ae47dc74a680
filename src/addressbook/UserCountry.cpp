#include "addressbook/UserCountry.h"

#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
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

// Besides English, country names are recognised in the languages of the countries whose
// addresses have a layout of their own, since files exported there name countries so.
constexpr std::array<const char*, 7> kCountryNameLanguages = {"de", "fr", "it", "es",
                                                              "nl", "ja", "zh"};

struct CountryAlias {
    std::string_view name;
    std::string_view countryCode;
};

// Names in common use that are not ICU's display names.
constexpr std::array<CountryAlias, 17> kCountryAliases = {{
    {"USA", "us"},
    {"U.S.A.", "us"},
    {"U.S.", "us"},
    {"United States of America", "us"},
    {"America", "us"},
    {"UK", "gb"},
    {"U.K.", "gb"},
    {"Great Britain", "gb"},
    {"England", "gb"},
    {"Scotland", "gb"},
    {"Wales", "gb"},
    {"Northern Ireland", "gb"},
    {"Holland", "nl"},
    {"The Netherlands", "nl"},
    {"Czech Republic", "cz"},
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

// Folded country names to codes, made once from ICU's data: the English names first, so
// that they win should a name in another language coincide with one.
const std::unordered_map<std::string, std::string>& countryCodesByFoldedName() {
    static const std::unordered_map<std::string, std::string> codes = [] {
        std::unordered_map<std::string, std::string> result;
        std::vector<const char*> countries;
        for (const char* const* country = uloc_getISOCountries(); *country != nullptr; ++country) {
            countries.push_back(*country);
        }
        const auto addNames = [&](const icu::Locale& language) {
            for (const char* country : countries) {
                icu::UnicodeString name;
                icu::Locale("", country).getDisplayCountry(language, name);
                result.emplace(foldedCase(utf8(name)), asciiLowercased(country));
            }
        };
        addNames(icu::Locale::getEnglish());
        for (const char* language : kCountryNameLanguages) addNames(icu::Locale(language));
        for (const CountryAlias& alias : kCountryAliases) {
            result.emplace(foldedCase(alias.name), std::string(alias.countryCode));
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

std::optional<std::string> countryCodeForName(std::string_view name) {
    const std::string_view text = trimmedText(name);
    if (text.empty()) return std::nullopt;
    if (isTwoLetterCode(text) && isKnownCountryCode(text)) return asciiLowercased(text);
    const auto& codes = countryCodesByFoldedName();
    const auto found = codes.find(foldedCase(text));
    if (found == codes.end()) return std::nullopt;
    return found->second;
}

}  // namespace pelkora::contacts
