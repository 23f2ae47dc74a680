#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "addressbook/ContactKeys.h"
#include "addressbook/ContactLocalization.h"

namespace pelkora::contacts {
namespace {

// Listed here rather than taken from the table, so that a key missing from the table fails.
// clang-format off
constexpr std::string_view kEveryKey[] = {
    ContactKey::identifier, ContactKey::contactType, ContactKey::namePrefix, ContactKey::givenName,
    ContactKey::middleName, ContactKey::familyName, ContactKey::previousFamilyName,
    ContactKey::nameSuffix, ContactKey::nickname, ContactKey::phoneticGivenName,
    ContactKey::phoneticMiddleName, ContactKey::phoneticFamilyName, ContactKey::organizationName,
    ContactKey::departmentName, ContactKey::jobTitle, ContactKey::phoneticOrganizationName,
    ContactKey::birthday, ContactKey::nonGregorianBirthday, ContactKey::dates, ContactKey::note,
    ContactKey::imageData, ContactKey::thumbnailImageData, ContactKey::phoneNumbers,
    ContactKey::emailAddresses, ContactKey::postalAddresses, ContactKey::urlAddresses,
    ContactKey::contactRelations, ContactKey::socialProfiles, ContactKey::instantMessageAddresses,
    PostalAddressKey::street, PostalAddressKey::subLocality, PostalAddressKey::city,
    PostalAddressKey::subAdministrativeArea, PostalAddressKey::state, PostalAddressKey::postalCode,
    PostalAddressKey::country, PostalAddressKey::isoCountryCode, SocialProfileKey::urlString,
    SocialProfileKey::username, SocialProfileKey::userIdentifier, SocialProfileKey::service,
    InstantMessageKey::username, InstantMessageKey::service};
// clang-format on

TEST(ContactLocalization, EveryKeyHasADisplayName) {
    for (std::string_view key : kEveryKey) EXPECT_FALSE(localizedStringForKey(key).empty()) << key;
    // The table lists the two instant-message field keys once, as they repeat social-profile ones.
    EXPECT_EQ(localizedKeys().size(), std::size(kEveryKey) - 2);
}

TEST(ContactLocalization, KeysShowTheNamesPeopleUse) {
    EXPECT_EQ(localizedStringForKey(ContactKey::givenName), "First name");
    EXPECT_EQ(localizedStringForKey(ContactKey::familyName), "Last name");
    EXPECT_EQ(localizedStringForKey(ContactKey::previousFamilyName), "Maiden name");
    EXPECT_EQ(localizedStringForKey(ContactKey::organizationName), "Company");
    EXPECT_EQ(localizedStringForKey(ContactKey::contactType), "Kind");
    EXPECT_EQ(localizedStringForKey(PostalAddressKey::postalCode), "Postal code");
    EXPECT_EQ(localizedStringForKey(PostalAddressKey::isoCountryCode), "Country code");
}

TEST(ContactLocalization, UnknownKeyHasNoDisplayName) {
    EXPECT_EQ(localizedStringForKey("shoeSize"), "");
    EXPECT_EQ(localizedStringForKey(""), "");
    EXPECT_EQ(localizedStringForKey("GivenName"), "");
}

TEST(ContactLocalization, LabelListHoldsTheGenericLabelsAndEveryRelation) {
    const std::vector<std::string_view> labels = labelConstants();
    EXPECT_EQ(labels.size(), 15 + relationLabels.size() + extendedRelationLabels.size());
    EXPECT_EQ(extendedRelationLabels.size(), 179u);
    const std::set<std::string_view> distinct(labels.begin(), labels.end());
    EXPECT_EQ(distinct.size(), labels.size());
    for (std::string_view label : extendedRelationLabels)
        EXPECT_TRUE(distinct.contains(label)) << label;
}

TEST(ContactLocalization, EveryLabelHasAReadableDisplayText) {
    for (std::string_view label : labelConstants()) {
        const std::string text = localizedStringForLabel(label);
        EXPECT_FALSE(text.empty()) << label;
        EXPECT_EQ(text.find("_$!<"), std::string::npos) << label;
        EXPECT_EQ(text.find("  "), std::string::npos) << label;
        EXPECT_TRUE(isLabelConstant(label)) << label;
    }
}

TEST(ContactLocalization, LabelDisplayTextsAreUniqueIgnoringCase) {
    std::set<std::string> seen;
    for (std::string_view label : labelConstants()) {
        std::string text = localizedStringForLabel(label);
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(seen.insert(text).second) << label << " repeats " << text;
    }
}

TEST(ContactLocalization, EveryLabelRoundTripsThroughItsDisplayText) {
    for (std::string_view label : labelConstants()) {
        EXPECT_EQ(labelForLocalizedString(localizedStringForLabel(label)), label) << label;
    }
}

TEST(ContactLocalization, GenericLabelsShowTheirUsualNames) {
    EXPECT_EQ(localizedStringForLabel(Label::home), "home");
    EXPECT_EQ(localizedStringForLabel(Label::homePage), "homepage");
    EXPECT_EQ(localizedStringForLabel(Label::iCloud), "iCloud");
    EXPECT_EQ(localizedStringForLabel(Label::appleWatch), "Apple Watch");
    EXPECT_EQ(localizedStringForLabel(Label::mobile), "mobile");
    EXPECT_EQ(localizedStringForLabel(Label::homeFax), "home fax");
    EXPECT_EQ(localizedStringForLabel(Label::anniversary), "anniversary");
}

TEST(ContactLocalization, RelationTextsAreMadeFromTheirNames) {
    EXPECT_EQ(localizedStringForLabel(RelationLabel::mother), "mother");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::youngerSister), "younger sister");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::girlfriendOrBoyfriend),
              "girlfriend or boyfriend");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::greatGrandfather), "great-grandfather");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::grandmotherMothersMother), "mother's mother");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::coMotherInLaw), "co-mother-in-law");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::sisterInLawYoungerBrothersWife),
              "younger brother's wife");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::sonInLawOrStepson), "son-in-law or stepson");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::cousinOrSiblingsChild),
              "cousin or sibling's child");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::parentsSiblingFathersElderSibling),
              "father's elder sibling");
    // Overridden texts.
    EXPECT_EQ(localizedStringForLabel(RelationLabel::grandaunt), "great-aunt");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::granduncle), "great-uncle");
}

TEST(ContactLocalization, RelationTextsKeepAnAgeThePathDoesNotTell) {
    EXPECT_EQ(localizedStringForLabel(RelationLabel::cousinMothersSistersSon),
              "mother's sister's son");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::youngerCousinMothersSistersSon),
              "younger cousin (mother's sister's son)");
    EXPECT_EQ(
        localizedStringForLabel(RelationLabel::elderCousinMothersSiblingsSonOrFathersSistersSon),
        "elder cousin (mother's sibling's son or father's sister's son)");
    EXPECT_EQ(localizedStringForLabel(RelationLabel::nieceSistersDaughterOrWifesSiblingsDaughter),
              "sister's daughter or wife's sibling's daughter");
}

TEST(ContactLocalization, CustomLabelIsReturnedUnchanged) {
    EXPECT_EQ(localizedStringForLabel("Car"), "Car");
    EXPECT_EQ(localizedStringForLabel("_$!<Car>!$_"), "_$!<Car>!$_");
    EXPECT_EQ(localizedStringForLabel(""), "");
    EXPECT_FALSE(isLabelConstant("Car"));
    EXPECT_FALSE(isLabelConstant("mobile"));
}

TEST(ContactLocalization, DisplayTextFindsItsLabelIgnoringCase) {
    EXPECT_EQ(labelForLocalizedString("MOBILE"), Label::mobile);
    EXPECT_EQ(labelForLocalizedString("Mother"), RelationLabel::mother);
    EXPECT_EQ(labelForLocalizedString("  Home Fax "), Label::homeFax);
    EXPECT_EQ(labelForLocalizedString("ICLOUD"), Label::iCloud);
    EXPECT_EQ(labelForLocalizedString("MOTHER'S MOTHER"), RelationLabel::grandmotherMothersMother);
}

TEST(ContactLocalization, TextOfNoLabelFindsNone) {
    EXPECT_EQ(labelForLocalizedString("Car"), std::nullopt);
    EXPECT_EQ(labelForLocalizedString(""), std::nullopt);
    EXPECT_EQ(labelForLocalizedString("   "), std::nullopt);
    EXPECT_EQ(labelForLocalizedString("mobil"), std::nullopt);
    EXPECT_EQ(labelForLocalizedString(Label::mobile), std::nullopt);
}

TEST(ContactLocalization, EveryServiceHasADistinctDisplayNameThatRoundTrips) {
    EXPECT_EQ(socialProfileServices().size(), 9u);
    EXPECT_EQ(instantMessageServices().size(), 10u);
    std::set<std::string> seen;
    for (std::string_view service : socialProfileServices()) {
        const std::string name = localizedStringForSocialProfileService(service);
        EXPECT_FALSE(name.empty()) << service;
        EXPECT_TRUE(seen.insert(name).second) << name;
        EXPECT_EQ(socialProfileServiceForLocalizedString(name), service);
    }
    seen.clear();
    for (std::string_view service : instantMessageServices()) {
        const std::string name = localizedStringForInstantMessageService(service);
        EXPECT_FALSE(name.empty()) << service;
        EXPECT_TRUE(seen.insert(name).second) << name;
        EXPECT_EQ(instantMessageServiceForLocalizedString(name), service);
    }
}

TEST(ContactLocalization, ServicesShowTheirBrandNames) {
    EXPECT_EQ(localizedStringForSocialProfileService(SocialProfileService::gameCenter),
              "Game Center");
    EXPECT_EQ(localizedStringForSocialProfileService(SocialProfileService::sinaWeibo),
              "Sina Weibo");
    EXPECT_EQ(localizedStringForSocialProfileService(SocialProfileService::linkedIn), "LinkedIn");
    EXPECT_EQ(localizedStringForInstantMessageService(InstantMessageService::facebook),
              "Facebook Messenger");
    EXPECT_EQ(localizedStringForInstantMessageService(InstantMessageService::gaduGadu),
              "Gadu-Gadu");
    EXPECT_EQ(localizedStringForInstantMessageService(InstantMessageService::yahoo), "Yahoo!");
}

TEST(ContactLocalization, ServiceConstantsMatchInAnyCaseAndOtherServicesStayAsTheyAre) {
    EXPECT_EQ(localizedStringForSocialProfileService("Twitter"), "Twitter");
    EXPECT_EQ(localizedStringForSocialProfileService("LINKEDIN"), "LinkedIn");
    EXPECT_EQ(localizedStringForSocialProfileService("Mastodon"), "Mastodon");
    EXPECT_EQ(localizedStringForInstantMessageService("gadugadu"), "Gadu-Gadu");
    EXPECT_EQ(localizedStringForInstantMessageService("Signal"), "Signal");
}

TEST(ContactLocalization, ServiceTextFindsItsConstantIgnoringCase) {
    EXPECT_EQ(socialProfileServiceForLocalizedString("sina weibo"),
              SocialProfileService::sinaWeibo);
    EXPECT_EQ(socialProfileServiceForLocalizedString("FACEBOOK"), SocialProfileService::facebook);
    EXPECT_EQ(instantMessageServiceForLocalizedString("facebook messenger"),
              InstantMessageService::facebook);
    EXPECT_EQ(instantMessageServiceForLocalizedString("Facebook"), InstantMessageService::facebook);
    EXPECT_EQ(instantMessageServiceForLocalizedString("yahoo"), InstantMessageService::yahoo);
    EXPECT_EQ(instantMessageServiceForLocalizedString("GoogleTalk"),
              InstantMessageService::googleTalk);
    EXPECT_EQ(instantMessageServiceForLocalizedString("Car"), std::nullopt);
    EXPECT_EQ(socialProfileServiceForLocalizedString("Skype"), std::nullopt);
    EXPECT_EQ(socialProfileServiceForLocalizedString(""), std::nullopt);
}

}  // namespace
}  // namespace pelkora::contacts
