#include "addressbook/ContactFormatter.h"

#include <unicode/locid.h>
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

}  // namespace

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
