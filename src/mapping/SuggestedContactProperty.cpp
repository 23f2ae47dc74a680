#include "mapping/SuggestedContactProperty.h"

#include <algorithm>
#include <array>

#include "addressbook/ContactKeys.h"
#include "addressbook/ContactLocalization.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;

constexpr std::array<std::string_view, 4> kBaseLabels = {CNLabelWork, CNLabelHome, CNLabelSchool,
                                                         CNLabelOther};

constexpr std::array<std::string_view, 8> kPostalComponentKeys = {
    CNPostalAddressStreetKey,
    CNPostalAddressCityKey,
    CNPostalAddressPostalCodeKey,
    CNPostalAddressStateKey,
    CNPostalAddressCountryKey,
    CNPostalAddressISOCountryCodeKey,
    CNPostalAddressSubAdministrativeAreaKey,
    CNPostalAddressSubLocalityKey,
};

constexpr std::array<std::string_view, 9> kSocialProfileServices = {
    CNSocialProfileServiceFacebook,     CNSocialProfileServiceFlickr,
    CNSocialProfileServiceGameCenter,   CNSocialProfileServiceLinkedIn,
    CNSocialProfileServiceMySpace,      CNSocialProfileServiceSinaWeibo,
    CNSocialProfileServiceTencentWeibo, CNSocialProfileServiceTwitter,
    CNSocialProfileServiceYelp,
};

constexpr std::array<std::string_view, 10> kInstantMessageServices = {
    CNInstantMessageServiceAIM,      CNInstantMessageServiceFacebook,
    CNInstantMessageServiceGaduGadu, CNInstantMessageServiceGoogleTalk,
    CNInstantMessageServiceICQ,      CNInstantMessageServiceJabber,
    CNInstantMessageServiceMSN,      CNInstantMessageServiceQQ,
    CNInstantMessageServiceSkype,    CNInstantMessageServiceYahoo,
};

constexpr std::array<std::string_view, 7> kLabelledKeys = {
    CNContactInstantMessageAddressesKey,
    CNContactDatesKey,
    CNContactRelationsKey,
    CNContactPhoneNumbersKey,
    CNContactUrlAddressesKey,
    CNContactEmailAddressesKey,
    CNContactPostalAddressesKey,
};

struct PropertyImageName {
    std::string_view key;
    std::string_view image;
};

// One icon per group of targets, named after what it shows.
constexpr PropertyImageName kPropertyImages[] = {
    {CNContactNamePrefixKey, "person"},
    {CNContactGivenNameKey, "person"},
    {CNContactMiddleNameKey, "person"},
    {CNContactFamilyNameKey, "person"},
    {CNContactPreviousFamilyNameKey, "person"},
    {CNContactNameSuffixKey, "person"},
    {CNContactNicknameKey, "person"},
    {CNContactPhoneticGivenNameKey, "person"},
    {CNContactPhoneticMiddleNameKey, "person"},
    {CNContactPhoneticFamilyNameKey, "person"},
    {CNContactOrganizationNameKey, "building"},
    {CNContactDepartmentNameKey, "building"},
    {CNContactJobTitleKey, "building"},
    {CNContactPhoneticOrganizationNameKey, "building"},
    {CNContactBirthdayKey, "calendar"},
    {CNContactNonGregorianBirthdayKey, "calendar"},
    {CNContactDatesKey, "calendar"},
    {CNContactPhoneNumbersKey, "phone"},
    {CNContactEmailAddressesKey, "envelope"},
    {CNContactUrlAddressesKey, "link"},
    {CNContactPostalAddressesKey, "house"},
    {CNContactRelationsKey, "people"},
    {CNContactSocialProfilesKey, "bubbles"},
    {CNContactInstantMessageAddressesKey, "message"},
    {CNContactNoteKey, "note"},
    {CustomPropertyKeys::AdditionalNote, "note"},
    {CNContactImageDataKey, "photo"},
    {CNContactTypeKey, "kind"},
    {CustomPropertyKeys::UID, "identifier"},
    {CustomPropertyKeys::Group, "group"},
};

// Label menus put a separator after each of these, dividing the long relation list into
// families (siblings, grandparents, in-laws, cousins …).
constexpr std::string_view kSeparatingLabels[] = {
    CNLabelOther,
    CNLabelContactRelationTeacher,
    CNLabelContactRelationElderSibling,
    CNLabelContactRelationEldestSister,
    CNLabelContactRelationEldestBrother,
    CNLabelContactRelationFemaleFriend,
    CNLabelContactRelationHusband,
    CNLabelContactRelationBoyfriend,
    CNLabelContactRelationFather,
    CNLabelContactRelationSon,
    CNLabelContactRelationGrandfatherFathersFather,
    CNLabelContactRelationGreatGrandfather,
    CNLabelContactRelationGrandsonSonsSon,
    CNLabelContactRelationGreatGrandson,
    CNLabelContactRelationFatherInLawHusbandsFather,
    CNLabelContactRelationCoFatherInLaw,
    CNLabelContactRelationElderSiblingInLaw,
    CNLabelContactRelationSisterInLawElderBrothersWife,
    CNLabelContactRelationBrotherInLawElderSistersHusband,
    CNLabelContactRelationBrotherInLawHusbandsSistersHusband,
    CNLabelContactRelationCoBrotherInLaw,
    CNLabelContactRelationSonInLaw,
    CNLabelContactRelationElderCousinParentsSiblingsDaughter,
    CNLabelContactRelationElderCousinMothersBrothersSon,
    CNLabelContactRelationElderCousinFathersBrothersSon,
    CNLabelContactRelationCousinGrandparentsSiblingsSon,
    CNLabelContactRelationElderCousinMothersSiblingsDaughterOrFathersSistersDaughter,
    CNLabelContactRelationParentsElderSibling,
    CNLabelContactRelationParentsSiblingMothersElderSibling,
    CNLabelContactRelationParentsSiblingFathersElderSibling,
    CNLabelContactRelationAuntMothersBrothersWife,
    CNLabelContactRelationGrandaunt,
    CNLabelContactRelationUncleFathersElderSistersHusband,
    CNLabelContactRelationGranduncle,
    CNLabelContactRelationNephewSistersSonOrWifesSiblingsSon,
    CNLabelContactRelationGrandnephewBrothersGrandson,
    CNLabelContactRelationStepsister,
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
    return propertyKey && (*propertyKey == CNContactInstantMessageAddressesKey ||
                           *propertyKey == CNContactSocialProfilesKey ||
                           *propertyKey == CNContactPostalAddressesKey);
}

std::vector<std::string_view> SuggestedContactProperty::systemLabels() const {
    if (!propertyKey) return {};
    const std::string_view key = *propertyKey;
    std::vector<std::string_view> labels;
    if (key == CNContactDatesKey) return {CNLabelDateAnniversary, CNLabelOther};
    if (key == CNContactRelationsKey) {
        labels.push_back(CNLabelOther);
        labels.insert(labels.end(), kRelationLabels.begin(), kRelationLabels.end());
        labels.insert(labels.end(), kExtendedRelationLabels.begin(), kExtendedRelationLabels.end());
        return labels;
    }
    labels.assign(kBaseLabels.begin(), kBaseLabels.end());
    if (key == CNContactPhoneNumbersKey) {
        labels.insert(labels.end(), {CNLabelPhoneNumberWorkFax, CNLabelPhoneNumberHomeFax,
                                     CNLabelPhoneNumberOtherFax, CNLabelPhoneNumberiPhone,
                                     CNLabelPhoneNumberMobile, CNLabelPhoneNumberMain,
                                     CNLabelPhoneNumberPager, CNLabelPhoneNumberAppleWatch});
    } else if (key == CNContactUrlAddressesKey) {
        labels.push_back(CNLabelURLAddressHomePage);
    } else if (key == CNContactEmailAddressesKey) {
        labels.push_back(CNLabelEmailiCloud);
    }
    return labels;
}

std::vector<std::string_view> SuggestedContactProperty::extendedRelevantRelationships() {
    return {kExtendedRelationLabels.begin(), kExtendedRelationLabels.end()};
}

std::optional<std::string> SuggestedContactProperty::preferredLabel() const {
    if (!propertyKey || !canHaveLabel()) return std::nullopt;
    if (*propertyKey == CNContactUrlAddressesKey) return std::string(CNLabelURLAddressHomePage);
    return std::string(CNLabelOther);
}

bool SuggestedContactProperty::isValid() const {
    if (!propertyKey) return false;
    const std::string_view key = *propertyKey;
    const bool labelled = label().has_value();
    const bool hasSubKey = propertySubKey && !propertySubKey->empty();
    if (key == CNContactDatesKey || key == CNContactRelationsKey ||
        key == CNContactPhoneNumbersKey || key == CNContactEmailAddressesKey ||
        key == CNContactUrlAddressesKey) {
        return labelled;
    }
    if (key == CNContactSocialProfilesKey) return hasSubKey;
    if (key == CNContactPostalAddressesKey || key == CNContactInstantMessageAddressesKey) {
        return labelled && hasSubKey;
    }
    return true;
}

bool SuggestedContactProperty::allowsDuplicates() const {
    return canHaveLabel() || (propertyKey && (*propertyKey == CNContactSocialProfilesKey ||
                                              *propertyKey == CustomPropertyKeys::AdditionalNote));
}

std::optional<std::string> SuggestedContactProperty::localizedPropertyKey() const {
    if (!propertyKey) return std::nullopt;
    if (*propertyKey == CustomPropertyKeys::Group) return ::pelkora::localizedString("Groups");
    if (*propertyKey == CustomPropertyKeys::AdditionalNote)
        return ::pelkora::localizedString("Additional Note");
    if (*propertyKey == CustomPropertyKeys::UID)
        return ::pelkora::localizedString("UID (read-only)", "UID: unique identifier");
    return nonEmpty(localizedStringForKey(*propertyKey));
}

std::optional<std::string> SuggestedContactProperty::localizedPropertySubKey() const {
    if (!propertySubKey || propertySubKey->empty()) return std::nullopt;
    const std::string_view subKey = *propertySubKey;
    if (subKey == CustomPropertyKeys::Addition) {
        return localizedStringForKey(CNPostalAddressStreetKey) + " " +
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
    if (key == CNContactPostalAddressesKey) {
        if (auto subKey = localizedPropertySubKey()) return subKey;
        return localizedPropertyKey();
    }
    if (key == CNContactInstantMessageAddressesKey) {
        if (!propertySubKey || propertySubKey->empty()) return std::nullopt;
        auto service = localizedStringForInstantMessageService(*propertySubKey);
        if (service.empty()) service = *propertySubKey;
        return service + " IM " + localizedStringForKey(CNInstantMessageAddressUsernameKey);
    }
    if (key == CNContactSocialProfilesKey) {
        if (!propertySubKey || propertySubKey->empty()) return localizedPropertyKey();
        auto service = localizedStringForSocialProfileService(*propertySubKey);
        if (service.empty()) service = *propertySubKey;
        return service + " " + localizedStringForKey(CNSocialProfileUsernameKey);
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
    if (contains(kPostalComponentKeys, subKey)) return CNContactPostalAddressesKey;
    if (contains(kSocialProfileServices, subKey)) return CNContactSocialProfilesKey;
    if (contains(kInstantMessageServices, subKey)) return CNContactInstantMessageAddressesKey;
    return std::nullopt;
}

}  // namespace pelkora
