#include "mapping/SuggestedContactProperty.h"

#include <algorithm>
#include <array>

#include "addressbook/ContactKeys.h"
#include "addressbook/ContactLocalization.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;

constexpr std::array<std::string_view, 4> kBaseLabels = {Label::work, Label::home, Label::school,
                                                         Label::other};

constexpr std::array<std::string_view, 8> kPostalComponentKeys = {
    PostalAddressKey::street,
    PostalAddressKey::city,
    PostalAddressKey::postalCode,
    PostalAddressKey::state,
    PostalAddressKey::country,
    PostalAddressKey::isoCountryCode,
    PostalAddressKey::subAdministrativeArea,
    PostalAddressKey::subLocality,
};

constexpr std::array<std::string_view, 9> kSocialProfileServices = {
    SocialProfileService::facebook,     SocialProfileService::flickr,
    SocialProfileService::gameCenter,   SocialProfileService::linkedIn,
    SocialProfileService::mySpace,      SocialProfileService::sinaWeibo,
    SocialProfileService::tencentWeibo, SocialProfileService::twitter,
    SocialProfileService::yelp,
};

constexpr std::array<std::string_view, 10> kInstantMessageServices = {
    InstantMessageService::aim,      InstantMessageService::facebook,
    InstantMessageService::gaduGadu, InstantMessageService::googleTalk,
    InstantMessageService::icq,      InstantMessageService::jabber,
    InstantMessageService::msn,      InstantMessageService::qq,
    InstantMessageService::skype,    InstantMessageService::yahoo,
};

constexpr std::array<std::string_view, 7> kLabelledKeys = {
    ContactKey::instantMessageAddresses,
    ContactKey::dates,
    ContactKey::contactRelations,
    ContactKey::phoneNumbers,
    ContactKey::urlAddresses,
    ContactKey::emailAddresses,
    ContactKey::postalAddresses,
};

constexpr std::string_view kSingleValuedKeys[] = {
    CustomPropertyKeys::FullName,
    ContactKey::namePrefix,
    ContactKey::givenName,
    ContactKey::middleName,
    ContactKey::familyName,
    ContactKey::previousFamilyName,
    ContactKey::nameSuffix,
    ContactKey::nickname,
    ContactKey::phoneticGivenName,
    ContactKey::phoneticMiddleName,
    ContactKey::phoneticFamilyName,
    ContactKey::organizationName,
    ContactKey::phoneticOrganizationName,
    ContactKey::departmentName,
    ContactKey::jobTitle,
    ContactKey::birthday,
};

struct PropertyImageName {
    std::string_view key;
    std::string_view image;
};

// One icon per group of targets, named after what it shows.
constexpr PropertyImageName kPropertyImages[] = {
    {CustomPropertyKeys::FullName, "person"},
    {ContactKey::namePrefix, "person"},
    {ContactKey::givenName, "person"},
    {ContactKey::middleName, "person"},
    {ContactKey::familyName, "person"},
    {ContactKey::previousFamilyName, "person"},
    {ContactKey::nameSuffix, "person"},
    {ContactKey::nickname, "person"},
    {ContactKey::phoneticGivenName, "person"},
    {ContactKey::phoneticMiddleName, "person"},
    {ContactKey::phoneticFamilyName, "person"},
    {ContactKey::organizationName, "building"},
    {ContactKey::departmentName, "building"},
    {ContactKey::jobTitle, "building"},
    {ContactKey::phoneticOrganizationName, "building"},
    {ContactKey::birthday, "calendar"},
    {ContactKey::nonGregorianBirthday, "calendar"},
    {ContactKey::dates, "calendar"},
    {ContactKey::phoneNumbers, "phone"},
    {ContactKey::emailAddresses, "envelope"},
    {ContactKey::urlAddresses, "link"},
    {ContactKey::postalAddresses, "house"},
    {ContactKey::contactRelations, "people"},
    {ContactKey::socialProfiles, "bubbles"},
    {ContactKey::instantMessageAddresses, "message"},
    {ContactKey::note, "note"},
    {CustomPropertyKeys::AdditionalNote, "note"},
    {ContactKey::imageData, "photo"},
    {ContactKey::contactType, "kind"},
    {CustomPropertyKeys::UID, "identifier"},
    {CustomPropertyKeys::Group, "group"},
};

// Label menus put a separator after each of these, dividing the long relation list into
// families (siblings, grandparents, in-laws, cousins …).
constexpr std::string_view kSeparatingLabels[] = {
    Label::other,
    RelationLabel::teacher,
    RelationLabel::elderSibling,
    RelationLabel::eldestSister,
    RelationLabel::eldestBrother,
    RelationLabel::femaleFriend,
    RelationLabel::husband,
    RelationLabel::boyfriend,
    RelationLabel::father,
    RelationLabel::son,
    RelationLabel::grandfatherFathersFather,
    RelationLabel::greatGrandfather,
    RelationLabel::grandsonSonsSon,
    RelationLabel::greatGrandson,
    RelationLabel::fatherInLawHusbandsFather,
    RelationLabel::coFatherInLaw,
    RelationLabel::elderSiblingInLaw,
    RelationLabel::sisterInLawElderBrothersWife,
    RelationLabel::brotherInLawElderSistersHusband,
    RelationLabel::brotherInLawHusbandsSistersHusband,
    RelationLabel::coBrotherInLaw,
    RelationLabel::sonInLaw,
    RelationLabel::elderCousinParentsSiblingsDaughter,
    RelationLabel::elderCousinMothersBrothersSon,
    RelationLabel::elderCousinFathersBrothersSon,
    RelationLabel::cousinGrandparentsSiblingsSon,
    RelationLabel::elderCousinMothersSiblingsDaughterOrFathersSistersDaughter,
    RelationLabel::parentsElderSibling,
    RelationLabel::parentsSiblingMothersElderSibling,
    RelationLabel::parentsSiblingFathersElderSibling,
    RelationLabel::auntMothersBrothersWife,
    RelationLabel::grandaunt,
    RelationLabel::uncleFathersElderSistersHusband,
    RelationLabel::granduncle,
    RelationLabel::nephewSistersSonOrWifesSiblingsSon,
    RelationLabel::grandnephewBrothersGrandson,
    RelationLabel::stepsister,
};

template <typename List>
bool contains(const List& list, std::string_view text) {
    return std::find(std::begin(list), std::end(list), text) != std::end(list);
}

bool isPostalComponentKey(std::string_view text) {
    return contains(kPostalComponentKeys, text) || text == CustomPropertyKeys::Addition;
}

std::optional<std::string> nonEmpty(std::string text) {
    if (text.empty()) return std::nullopt;
    return text;
}

}  // namespace

SuggestedContactProperty SuggestedContactProperty::target(std::string_view key,
                                                          std::optional<std::string_view> subKey) {
    SuggestedContactProperty entry;
    entry.propertyKey = std::string(key);
    if (subKey) entry.propertySubKey = std::string(*subKey);
    return entry;
}

std::optional<std::string> SuggestedContactProperty::label() const {
    const auto& chosen = systemLabel ? systemLabel : customLabel;
    if (!chosen || chosen->empty()) return std::nullopt;
    return chosen;
}

void SuggestedContactProperty::setLabel(std::optional<std::string_view> text) {
    if (!text || text->empty()) return;
    const auto labels = systemLabels();
    if (contains(labels, *text)) {
        systemLabel = std::string(*text);
        customLabel.reset();
        return;
    }
    // A label typed in the user's words ("Mobil", "mobile") is the constant it displays as.
    if (auto constant = labelForLocalizedString(*text); constant && contains(labels, *constant)) {
        systemLabel = std::string(*constant);
        customLabel.reset();
        return;
    }
    customLabel = std::string(*text);
    systemLabel.reset();
}

void SuggestedContactProperty::setPropertySubKey(std::optional<std::string_view> subKey) {
    if (!subKey) {
        propertySubKey.reset();
        return;
    }
    propertySubKey = std::string(*subKey);
    if (auto parent = parentKeyOfSubKey(*subKey)) propertyKey = std::string(*parent);
}

bool SuggestedContactProperty::hasCustomLabel() const {
    const auto effective = label();
    return effective && !contains(systemLabels(), *effective);
}

bool SuggestedContactProperty::canHaveLabel() const {
    return propertyKey && contains(kLabelledKeys, *propertyKey);
}

bool SuggestedContactProperty::canHaveSubKey() const {
    return propertyKey && (*propertyKey == ContactKey::instantMessageAddresses ||
                           *propertyKey == ContactKey::socialProfiles ||
                           *propertyKey == ContactKey::postalAddresses);
}

std::vector<std::string_view> SuggestedContactProperty::systemLabels() const {
    if (!propertyKey) return {};
    const std::string_view key = *propertyKey;
    std::vector<std::string_view> labels;
    if (key == ContactKey::dates) return {Label::anniversary, Label::other};
    if (key == ContactKey::contactRelations) {
        labels.push_back(Label::other);
        labels.insert(labels.end(), relationLabels.begin(), relationLabels.end());
        labels.insert(labels.end(), extendedRelationLabels.begin(), extendedRelationLabels.end());
        return labels;
    }
    labels.assign(kBaseLabels.begin(), kBaseLabels.end());
    if (key == ContactKey::phoneNumbers) {
        labels.insert(labels.end(), {Label::workFax, Label::homeFax, Label::otherFax, Label::iPhone,
                                     Label::mobile, Label::main, Label::pager, Label::appleWatch});
    } else if (key == ContactKey::urlAddresses) {
        labels.push_back(Label::homePage);
    } else if (key == ContactKey::emailAddresses) {
        labels.push_back(Label::iCloud);
    }
    return labels;
}

std::vector<std::string_view> SuggestedContactProperty::offeredLabels() const {
    auto labels = systemLabels();
    const auto current = label();
    std::erase_if(labels, [&](std::string_view candidate) {
        return contains(contacts::deviceLabels, candidate) && candidate != current;
    });
    return labels;
}

std::vector<std::string_view> SuggestedContactProperty::extendedRelevantRelationships() {
    return {extendedRelationLabels.begin(), extendedRelationLabels.end()};
}

std::optional<std::string> SuggestedContactProperty::preferredLabel() const {
    if (!propertyKey || !canHaveLabel()) return std::nullopt;
    if (*propertyKey == ContactKey::urlAddresses) return std::string(Label::homePage);
    return std::string(Label::other);
}

bool SuggestedContactProperty::isValid() const {
    if (!propertyKey) return false;
    const std::string_view key = *propertyKey;
    const bool labelled = label().has_value();
    const bool hasSubKey = propertySubKey && !propertySubKey->empty();
    if (key == ContactKey::dates || key == ContactKey::contactRelations ||
        key == ContactKey::phoneNumbers || key == ContactKey::emailAddresses ||
        key == ContactKey::urlAddresses) {
        return labelled;
    }
    if (key == ContactKey::socialProfiles) return hasSubKey;
    if (key == ContactKey::postalAddresses || key == ContactKey::instantMessageAddresses) {
        return labelled && hasSubKey;
    }
    return true;
}

bool SuggestedContactProperty::allowsDuplicates() const {
    return canHaveLabel() || (propertyKey && (*propertyKey == ContactKey::socialProfiles ||
                                              *propertyKey == CustomPropertyKeys::AdditionalNote));
}

bool SuggestedContactProperty::isSingleValued() const {
    return propertyKey && contains(kSingleValuedKeys, *propertyKey);
}

std::optional<std::string> SuggestedContactProperty::localizedPropertyKey() const {
    if (!propertyKey) return std::nullopt;
    if (*propertyKey == CustomPropertyKeys::Group) return ::pelkora::localizedString("Groups");
    if (*propertyKey == CustomPropertyKeys::AdditionalNote)
        return ::pelkora::localizedString("Additional Note");
    if (*propertyKey == CustomPropertyKeys::UID)
        return ::pelkora::localizedString("UID (read-only)", "UID: unique identifier");
    if (*propertyKey == CustomPropertyKeys::FullName)
        return ::pelkora::localizedString("Full Name",
                                          "target: a whole name, divided into its parts");
    return nonEmpty(localizedStringForKey(*propertyKey));
}

std::optional<std::string> SuggestedContactProperty::localizedPropertySubKey() const {
    if (!propertySubKey || propertySubKey->empty()) return std::nullopt;
    const std::string_view subKey = *propertySubKey;
    if (subKey == CustomPropertyKeys::Addition) {
        return localizedStringForKey(PostalAddressKey::street) + " " +
               ::pelkora::localizedString("(Addition)");
    }
    if (isPostalComponentKey(subKey)) return nonEmpty(localizedStringForKey(subKey));
    if (contains(kSocialProfileServices, subKey))
        return nonEmpty(localizedStringForSocialProfileService(subKey));
    if (contains(kInstantMessageServices, subKey))
        return nonEmpty(localizedStringForInstantMessageService(subKey));
    return std::nullopt;
}

std::optional<std::string> SuggestedContactProperty::formattedContactLabel() const {
    const auto effective = label();
    if (!effective) return std::nullopt;
    if (*effective == kExtractLabelMarker) return ::pelkora::localizedString("Extract from field");
    auto text = localizedStringForLabel(*effective);
    return text.empty() ? *effective : text;
}

std::optional<std::string> SuggestedContactProperty::formattedContactProperty() const {
    if (!propertyKey) return std::nullopt;
    const std::string_view key = *propertyKey;
    if (key == ContactKey::postalAddresses) {
        if (auto subKey = localizedPropertySubKey()) return subKey;
        return localizedPropertyKey();
    }
    if (key == ContactKey::instantMessageAddresses) {
        if (!propertySubKey || propertySubKey->empty()) return std::nullopt;
        auto service = localizedStringForInstantMessageService(*propertySubKey);
        if (service.empty()) service = *propertySubKey;
        return service + " IM " + localizedStringForKey(InstantMessageKey::username);
    }
    if (key == ContactKey::socialProfiles) {
        if (!propertySubKey || propertySubKey->empty()) return localizedPropertyKey();
        auto service = localizedStringForSocialProfileService(*propertySubKey);
        if (service.empty()) service = *propertySubKey;
        return service + " " + localizedStringForKey(SocialProfileKey::username);
    }
    if (key == CustomPropertyKeys::Group) return localizedPropertyKey();
    auto title = localizedPropertyKey();
    if (!title) return std::nullopt;
    if (auto subKey = localizedPropertySubKey()) *title += " " + *subKey;
    return title;
}

std::string_view SuggestedContactProperty::image() const {
    if (!propertyKey) return "ignore";
    for (const auto& entry : kPropertyImages) {
        if (entry.key == *propertyKey) return entry.image;
    }
    return "property";
}

void SuggestedContactProperty::clearAll() {
    framework = "none";
    type = "Undefined";
    localizedString.reset();
    propertyKey.reset();
    propertySubKey.reset();
    systemLabel.reset();
    customLabel.reset();
    ISOLanguageCode = "xx";
    isVendorCustomMapping = true;
}

bool SuggestedContactProperty::isSeparatingLabel(std::string_view label) {
    return contains(kSeparatingLabels, label);
}

bool SuggestedContactProperty::isPropertySubKey(std::string_view text) {
    return contains(kPostalComponentKeys, text) || contains(kSocialProfileServices, text) ||
           contains(kInstantMessageServices, text);
}

std::optional<std::string_view> SuggestedContactProperty::parentKeyOfSubKey(
    std::string_view subKey) {
    if (contains(kPostalComponentKeys, subKey)) return ContactKey::postalAddresses;
    if (contains(kSocialProfileServices, subKey)) return ContactKey::socialProfiles;
    if (contains(kInstantMessageServices, subKey)) return ContactKey::instantMessageAddresses;
    return std::nullopt;
}

}  // namespace pelkora
