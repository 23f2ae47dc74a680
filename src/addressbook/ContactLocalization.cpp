#include "addressbook/ContactLocalization.h"

#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "addressbook/ContactKeys.h"
#include "addressbook/ContactText_p.h"
#include "support/Localization.h"

namespace pelkora::contacts {

namespace detail {

std::string foldedCase(std::string_view text) {
    std::string result;
    icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())))
        .foldCase()
        .toUTF8String(result);
    return result;
}

}  // namespace detail

namespace {

using detail::asciiLowercased;
using detail::foldedCase;
using detail::trimmedText;

struct DisplayName {
    std::string_view name;     // the stored key, label or service
    std::string_view english;  // what people see, before translation
};

constexpr std::array<DisplayName, 41> kKeyNames = {{
    {ContactKey::identifier, N_("Identifier")},
    {ContactKey::contactType, N_("Kind")},
    {ContactKey::namePrefix, N_("Prefix")},
    {ContactKey::givenName, N_("First name")},
    {ContactKey::middleName, N_("Middle name")},
    {ContactKey::familyName, N_("Last name")},
    {ContactKey::previousFamilyName, N_("Maiden name")},
    {ContactKey::nameSuffix, N_("Suffix")},
    {ContactKey::nickname, N_("Nickname")},
    {ContactKey::phoneticGivenName, N_("Phonetic first name")},
    {ContactKey::phoneticMiddleName, N_("Phonetic middle name")},
    {ContactKey::phoneticFamilyName, N_("Phonetic last name")},
    {ContactKey::organizationName, N_("Company")},
    {ContactKey::departmentName, N_("Department")},
    {ContactKey::jobTitle, N_("Job title")},
    {ContactKey::phoneticOrganizationName, N_("Phonetic company name")},
    {ContactKey::birthday, N_("Birthday")},
    {ContactKey::nonGregorianBirthday, N_("Birthday (other calendar)")},
    {ContactKey::dates, N_("Dates")},
    {ContactKey::note, N_("Note")},
    {ContactKey::imageData, N_("Image")},
    {ContactKey::thumbnailImageData, N_("Thumbnail")},
    {ContactKey::phoneNumbers, N_("Phone")},
    {ContactKey::emailAddresses, N_("Email")},
    {ContactKey::postalAddresses, N_("Address")},
    {ContactKey::urlAddresses, N_("URL")},
    {ContactKey::contactRelations, N_("Related name")},
    {ContactKey::socialProfiles, N_("Social profile")},
    {ContactKey::instantMessageAddresses, N_("Instant message")},
    {PostalAddressKey::street, N_("Street")},
    {PostalAddressKey::subLocality, N_("Sub-locality")},
    {PostalAddressKey::city, N_("City")},
    {PostalAddressKey::subAdministrativeArea, N_("Sub-administrative area")},
    {PostalAddressKey::state, N_("State")},
    {PostalAddressKey::postalCode, N_("Postal code")},
    {PostalAddressKey::country, N_("Country")},
    {PostalAddressKey::isoCountryCode, N_("Country code")},
    // An instant-message address names its fields with the same key strings.
    {SocialProfileKey::urlString, N_("Profile URL")},
    {SocialProfileKey::username, N_("User name")},
    {SocialProfileKey::userIdentifier, N_("User ID")},
    {SocialProfileKey::service, N_("Service")},
}};

// The labels that are not relations. Relation labels get their text from their names.
constexpr std::array<DisplayName, 15> kGenericLabelNames = {{
    {Label::home, N_("home")},
    {Label::work, N_("work")},
    {Label::school, N_("school")},
    {Label::other, N_("other")},
    {Label::iCloud, N_("iCloud")},
    {Label::homePage, N_("homepage")},
    {Label::anniversary, N_("anniversary")},
    {Label::iPhone, N_("iPhone")},
    {Label::appleWatch, N_("Apple Watch")},
    {Label::mobile, N_("mobile")},
    {Label::main, N_("main")},
    {Label::homeFax, N_("home fax")},
    {Label::workFax, N_("work fax")},
    {Label::otherFax, N_("other fax")},
    {Label::pager, N_("pager")},
}};

constexpr std::array<DisplayName, 9> kSocialProfileServiceNames = {{
    {SocialProfileService::facebook, N_("Facebook")},
    {SocialProfileService::flickr, N_("Flickr")},
    {SocialProfileService::gameCenter, N_("Game Center")},
    {SocialProfileService::linkedIn, N_("LinkedIn")},
    {SocialProfileService::mySpace, N_("MySpace")},
    {SocialProfileService::sinaWeibo, N_("Sina Weibo")},
    {SocialProfileService::tencentWeibo, N_("Tencent Weibo")},
    {SocialProfileService::twitter, N_("Twitter")},
    {SocialProfileService::yelp, N_("Yelp")},
}};

constexpr std::array<DisplayName, 10> kInstantMessageServiceNames = {{
    {InstantMessageService::aim, N_("AIM")},
    {InstantMessageService::facebook, N_("Facebook Messenger")},
    {InstantMessageService::gaduGadu, N_("Gadu-Gadu")},
    {InstantMessageService::googleTalk, N_("Google Talk")},
    {InstantMessageService::icq, N_("ICQ")},
    {InstantMessageService::jabber, N_("Jabber")},
    {InstantMessageService::msn, N_("MSN")},
    {InstantMessageService::qq, N_("QQ")},
    {InstantMessageService::skype, N_("Skype")},
    {InstantMessageService::yahoo, N_("Yahoo!")},
}};

// Relation texts that the rules in relationText would word less naturally.
constexpr std::array<DisplayName, 2> kRelationTextOverrides = {{
    {RelationLabel::grandaunt, N_("great-aunt")},
    {RelationLabel::granduncle, N_("great-uncle")},
}};

constexpr std::string_view kLabelOpening = "_$!<";
constexpr std::string_view kLabelClosing = ">!$_";

// Words that qualify a relation by age or sex rather than name a relative.
constexpr std::array<std::string_view, 6> kRelationModifiers = {
    "younger", "youngest", "elder", "eldest", "male", "female",
};

const DisplayName* findName(std::span<const DisplayName> table, std::string_view name) {
    const auto found = std::find_if(table.begin(), table.end(),
                                    [&](const DisplayName& entry) { return entry.name == name; });
    return found == table.end() ? nullptr : &*found;
}

// The CamelCase name inside a built-in label's markers ("_$!<YoungerSister>!$_" → "YoungerSister").
std::string_view labelName(std::string_view label) {
    if (label.size() <= kLabelOpening.size() + kLabelClosing.size() ||
        !label.starts_with(kLabelOpening) || !label.ends_with(kLabelClosing)) {
        return {};
    }
    return label.substr(kLabelOpening.size(),
                        label.size() - kLabelOpening.size() - kLabelClosing.size());
}

std::vector<std::string_view> camelCaseWords(std::string_view name) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (std::size_t i = 1; i <= name.size(); ++i) {
        if (i == name.size() || (name[i] >= 'A' && name[i] <= 'Z')) {
            words.push_back(name.substr(start, i - start));
            start = i;
        }
    }
    return words;
}

bool isModifier(std::string_view word) {
    return std::find(kRelationModifiers.begin(), kRelationModifiers.end(), word) !=
           kRelationModifiers.end();
}

// No relative's name ends in "s", so a word that does is a possessive ("Wifes" → "wife's").
bool isPossessive(std::string_view word) {
    return word.ends_with('s');
}

// A phrase names one relative: its last word is a noun, the words before it are modifiers
// and possessives ("mother's younger sister").
struct Phrase {
    std::vector<std::string> words;
    bool hasModifier = false;
    bool startsWithPossessive = false;

    std::string text() const {
        std::string result;
        for (const std::string& word : words) {
            if (!result.empty()) result += ' ';
            result += isPossessive(word) ? word.substr(0, word.size() - 1) + "'s" : word;
        }
        return result;
    }
};

// One reading of a relation: the relative it names, then the ways that relative is
// reached ("cousin" reached as "mother's sister's son").
struct Reading {
    Phrase relative;
    std::vector<std::string> paths;
};

// Step 1 of relationText: the lower-case words of the name, with "Co", "Great" and "InLaw"
// joined to their noun.
std::vector<std::string> relationWords(std::string_view name) {
    std::vector<std::string> words;
    std::string prefix;
    const std::vector<std::string_view> parts = camelCaseWords(name);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == "Co" || parts[i] == "Great") {
            prefix += asciiLowercased(parts[i]) + "-";
        } else if (parts[i] == "In" && i + 1 < parts.size() && parts[i + 1] == "Law" &&
                   !words.empty()) {
            words.back() += "-in-law";
            ++i;
        } else {
            words.push_back(prefix + asciiLowercased(parts[i]));
            prefix.clear();
        }
    }
    return words;
}

// Step 2 of relationText: the readings, each the relative's phrase and its path phrases.
std::vector<Reading> relationReadings(const std::vector<std::string>& words) {
    std::vector<std::vector<Phrase>> alternatives(1);
    Phrase phrase;
    for (const std::string& word : words) {
        if (word == "or") {
            alternatives.emplace_back();
            continue;
        }
        if (phrase.words.empty()) phrase.startsWithPossessive = isPossessive(word);
        phrase.hasModifier = phrase.hasModifier || isModifier(word);
        phrase.words.push_back(word);
        if (!isModifier(word) && !isPossessive(word)) {
            alternatives.back().push_back(std::move(phrase));
            phrase = Phrase{};
        }
    }

    std::vector<Reading> readings;
    for (const std::vector<Phrase>& phrases : alternatives) {
        if (phrases.empty()) continue;
        if (phrases.size() == 1 && phrases.front().startsWithPossessive && !readings.empty() &&
            !readings.back().paths.empty()) {
            readings.back().paths.push_back(phrases.front().text());
            continue;
        }
        Reading reading{phrases.front(), {}};
        for (std::size_t i = 1; i < phrases.size(); ++i) reading.paths.push_back(phrases[i].text());
        readings.push_back(std::move(reading));
    }
    return readings;
}

std::string joinedWithOr(const std::vector<std::string>& texts) {
    std::string result;
    for (const std::string& text : texts) {
        if (!result.empty()) result += " or ";
        result += text;
    }
    return result;
}

// Step 3 of relationText.
std::string readingText(const Reading& reading) {
    if (reading.paths.empty()) return reading.relative.text();
    if (reading.relative.hasModifier) {
        return reading.relative.text() + " (" + joinedWithOr(reading.paths) + ")";
    }
    return joinedWithOr(reading.paths);
}

// The English text of a relation label, made from its name by these steps:
//   1. split the CamelCase name into words, joining "Co", "Great" and "InLaw" to their
//      noun ("CoMotherInLaw" → "co-mother-in-law", "GreatGrandson" → "great-grandson");
//   2. cut the words into phrases, each ending in a noun, and the phrases into readings
//      at each "Or"; a reading that is only a path continues the paths of the reading
//      before it ("NieceSistersDaughterOrWifesSiblingsDaughter");
//   3. a reading with paths shows them alone, since they name the relative exactly
//      ("GrandmotherMothersMother" → "mother's mother"), but keeps an age of the relative
//      that the paths do not tell ("younger cousin (mother's sister's son)").
std::string relationText(std::string_view name) {
    std::vector<std::string> texts;
    for (const Reading& reading : relationReadings(relationWords(name))) {
        texts.push_back(readingText(reading));
    }
    return joinedWithOr(texts);
}

struct RelationName {
    std::string_view label;
    std::string english;
};

const std::vector<RelationName>& relationNames() {
    static const std::vector<RelationName> names = [] {
        std::vector<RelationName> result;
        const auto add = [&](std::span<const std::string_view> labels) {
            for (std::string_view label : labels) {
                const DisplayName* fixed = findName(kRelationTextOverrides, label);
                result.push_back(
                    {label, fixed ? std::string(fixed->english) : relationText(labelName(label))});
            }
        };
        add(relationLabels);
        add(extendedRelationLabels);
        return result;
    }();
    return names;
}

struct FoldedName {
    std::string_view name;
    std::string foldedText;
};

}  // namespace

std::optional<std::string_view> englishTextForLabel(std::string_view label) {
    if (const DisplayName* entry = findName(kGenericLabelNames, label)) return entry->english;
    const std::vector<RelationName>& relations = relationNames();
    const auto found =
        std::find_if(relations.begin(), relations.end(),
                     [&](const RelationName& entry) { return entry.label == label; });
    if (found != relations.end()) return std::string_view(found->english);
    return std::nullopt;
}

namespace {

// The folded display texts of the labels, made once: the reverse lookup runs for every
// label cell of an import.
const std::vector<FoldedName>& foldedLabelTexts() {
    static const std::vector<FoldedName> texts = [] {
        std::vector<FoldedName> result;
        for (std::string_view label : labelConstants()) {
            result.push_back({label, foldedCase(localizedStringForLabel(label))});
        }
        return result;
    }();
    return texts;
}

// The same for the English texts, which files written for other programs hold.
const std::vector<FoldedName>& foldedEnglishLabelTexts() {
    static const std::vector<FoldedName> texts = [] {
        std::vector<FoldedName> result;
        for (std::string_view label : labelConstants()) {
            result.push_back({label, foldedCase(englishTextForLabel(label).value_or(label))});
        }
        return result;
    }();
    return texts;
}

std::optional<std::string_view> labelForFoldedText(const std::vector<FoldedName>& texts,
                                                   std::string_view text) {
    const std::string wanted = foldedCase(trimmedText(text));
    if (wanted.empty()) return std::nullopt;
    for (const FoldedName& entry : texts) {
        if (entry.foldedText == wanted) return entry.name;
    }
    return std::nullopt;
}

std::string localizedService(std::span<const DisplayName> table, std::string_view service,
                             std::string_view comment) {
    const DisplayName* entry = findName(table, service);
    if (entry == nullptr) {
        const auto found =
            std::find_if(table.begin(), table.end(), [&](const DisplayName& candidate) {
                return asciiLowercased(candidate.name) == asciiLowercased(service);
            });
        if (found != table.end()) entry = &*found;
    }
    return entry ? localizedString(entry->english, comment) : std::string(service);
}

// Matches the display names first, then the constants themselves: files name services
// either way ("Facebook Messenger", "GaduGadu").
std::optional<std::string_view> serviceForText(std::span<const DisplayName> table,
                                               std::string_view text, std::string_view comment) {
    const std::string wanted = foldedCase(trimmedText(text));
    if (wanted.empty()) return std::nullopt;
    for (const DisplayName& entry : table) {
        if (foldedCase(localizedString(entry.english, comment)) == wanted) return entry.name;
    }
    for (const DisplayName& entry : table) {
        if (foldedCase(entry.name) == wanted) return entry.name;
    }
    return std::nullopt;
}

std::vector<std::string_view> namesOf(std::span<const DisplayName> table) {
    std::vector<std::string_view> names;
    for (const DisplayName& entry : table) names.push_back(entry.name);
    return names;
}

constexpr std::string_view kLabelComment = "Label of a phone number, address, date or related name";
constexpr std::string_view kSocialProfileComment = "Name of a social network";
constexpr std::string_view kInstantMessageComment = "Name of an instant-messaging service";

}  // namespace

std::string localizedStringForKey(std::string_view key) {
    const DisplayName* entry = findName(kKeyNames, key);
    return entry ? localizedString(entry->english, "Name of a contact field") : std::string();
}

std::string localizedStringForLabel(std::string_view label) {
    const std::optional<std::string_view> english = englishTextForLabel(label);
    return english ? localizedString(*english, kLabelComment) : std::string(label);
}

std::optional<std::string_view> labelForLocalizedString(std::string_view text) {
    return labelForFoldedText(foldedLabelTexts(), text);
}

std::optional<std::string_view> labelForEnglishText(std::string_view text) {
    return labelForFoldedText(foldedEnglishLabelTexts(), text);
}

bool isLabelConstant(std::string_view label) {
    return englishTextForLabel(label).has_value();
}

std::vector<std::string_view> labelConstants() {
    std::vector<std::string_view> labels = namesOf(kGenericLabelNames);
    labels.insert(labels.end(), relationLabels.begin(), relationLabels.end());
    labels.insert(labels.end(), extendedRelationLabels.begin(), extendedRelationLabels.end());
    return labels;
}

std::string localizedStringForSocialProfileService(std::string_view service) {
    return localizedService(kSocialProfileServiceNames, service, kSocialProfileComment);
}

std::string localizedStringForInstantMessageService(std::string_view service) {
    return localizedService(kInstantMessageServiceNames, service, kInstantMessageComment);
}

std::optional<std::string_view> socialProfileServiceForLocalizedString(std::string_view text) {
    return serviceForText(kSocialProfileServiceNames, text, kSocialProfileComment);
}

std::optional<std::string_view> instantMessageServiceForLocalizedString(std::string_view text) {
    return serviceForText(kInstantMessageServiceNames, text, kInstantMessageComment);
}

std::vector<std::string_view> socialProfileServices() {
    return namesOf(kSocialProfileServiceNames);
}

std::vector<std::string_view> instantMessageServices() {
    return namesOf(kInstantMessageServiceNames);
}

std::vector<std::string_view> localizedKeys() {
    return namesOf(kKeyNames);
}

}  // namespace pelkora::contacts
