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
    CNContactIdentifierKey, CNContactTypeKey, CNContactNamePrefixKey, CNContactGivenNameKey,
    CNContactMiddleNameKey, CNContactFamilyNameKey, CNContactPreviousFamilyNameKey,
    CNContactNameSuffixKey, CNContactNicknameKey, CNContactPhoneticGivenNameKey,
    CNContactPhoneticMiddleNameKey, CNContactPhoneticFamilyNameKey, CNContactOrganizationNameKey,
    CNContactDepartmentNameKey, CNContactJobTitleKey, CNContactPhoneticOrganizationNameKey,
    CNContactBirthdayKey, CNContactNonGregorianBirthdayKey, CNContactDatesKey, CNContactNoteKey,
    CNContactImageDataKey, CNContactThumbnailImageDataKey, CNContactPhoneNumbersKey,
    CNContactEmailAddressesKey, CNContactPostalAddressesKey, CNContactUrlAddressesKey,
    CNContactRelationsKey, CNContactSocialProfilesKey, CNContactInstantMessageAddressesKey,
    CNPostalAddressStreetKey, CNPostalAddressSubLocalityKey, CNPostalAddressCityKey,
    CNPostalAddressSubAdministrativeAreaKey, CNPostalAddressStateKey, CNPostalAddressPostalCodeKey,
    CNPostalAddressCountryKey, CNPostalAddressISOCountryCodeKey, CNSocialProfileURLStringKey,
    CNSocialProfileUsernameKey, CNSocialProfileUserIdentifierKey, CNSocialProfileServiceKey,
    CNInstantMessageAddressUsernameKey, CNInstantMessageAddressServiceKey};
// clang-format on

TEST(ContactLocalization, EveryKeyHasADisplayName) {
    for (std::string_view key : kEveryKey) EXPECT_FALSE(localizedStringForKey(key).empty()) << key;
    // The table lists the two instant-message field keys once, as they repeat social-profile ones.
    EXPECT_EQ(localizedKeys().size(), std::size(kEveryKey) - 2);
}

TEST(ContactLocalization, KeysShowTheNamesPeopleUse) {
    EXPECT_EQ(localizedStringForKey(CNContactGivenNameKey), "First name");
    EXPECT_EQ(localizedStringForKey(CNContactFamilyNameKey), "Last name");
    EXPECT_EQ(localizedStringForKey(CNContactPreviousFamilyNameKey), "Maiden name");
    EXPECT_EQ(localizedStringForKey(CNContactOrganizationNameKey), "Company");
    EXPECT_EQ(localizedStringForKey(CNContactTypeKey), "Kind");
    EXPECT_EQ(localizedStringForKey(CNPostalAddressPostalCodeKey), "Postal code");
    EXPECT_EQ(localizedStringForKey(CNPostalAddressISOCountryCodeKey), "Country code");
}

TEST(ContactLocalization, UnknownKeyHasNoDisplayName) {
    EXPECT_EQ(localizedStringForKey("shoeSize"), "");
    EXPECT_EQ(localizedStringForKey(""), "");
    EXPECT_EQ(localizedStringForKey("GivenName"), "");
}

TEST(ContactLocalization, LabelListHoldsTheGenericLabelsAndEveryRelation) {
    const std::vector<std::string_view> labels = labelConstants();
    EXPECT_EQ(labels.size(), 15 + kRelationLabels.size() + kExtendedRelationLabels.size());
    EXPECT_EQ(kExtendedRelationLabels.size(), 179u);
    const std::set<std::string_view> distinct(labels.begin(), labels.end());
    EXPECT_EQ(distinct.size(), labels.size());
    for (std::string_view label : kExtendedRelationLabels)
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
    EXPECT_EQ(localizedStringForLabel(CNLabelHome), "home");
    EXPECT_EQ(localizedStringForLabel(CNLabelURLAddressHomePage), "homepage");
    EXPECT_EQ(localizedStringForLabel(CNLabelEmailiCloud), "iCloud");
    EXPECT_EQ(localizedStringForLabel(CNLabelPhoneNumberAppleWatch), "Apple Watch");
    EXPECT_EQ(localizedStringForLabel(CNLabelPhoneNumberMobile), "mobile");
    EXPECT_EQ(localizedStringForLabel(CNLabelPhoneNumberHomeFax), "home fax");
    EXPECT_EQ(localizedStringForLabel(CNLabelDateAnniversary), "anniversary");
}

TEST(ContactLocalization, RelationTextsAreMadeFromTheirNames) {
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationMother), "mother");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationYoungerSister), "younger sister");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationGirlfriendOrBoyfriend),
              "girlfriend or boyfriend");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationGreatGrandfather), "great-grandfather");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationGrandmotherMothersMother),
              "mother's mother");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationCoMotherInLaw), "co-mother-in-law");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationSisterInLawYoungerBrothersWife),
              "younger brother's wife");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationSonInLawOrStepson),
              "son-in-law or stepson");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationCousinOrSiblingsChild),
              "cousin or sibling's child");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationParentsSiblingFathersElderSibling),
              "father's elder sibling");
    // Overridden texts.
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationGrandaunt), "great-aunt");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationGranduncle), "great-uncle");
}

TEST(ContactLocalization, RelationTextsKeepAnAgeThePathDoesNotTell) {
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationCousinMothersSistersSon),
              "mother's sister's son");
    EXPECT_EQ(localizedStringForLabel(CNLabelContactRelationYoungerCousinMothersSistersSon),
              "younger cousin (mother's sister's son)");
    EXPECT_EQ(localizedStringForLabel(
                  CNLabelContactRelationElderCousinMothersSiblingsSonOrFathersSistersSon),
              "elder cousin (mother's sibling's son or father's sister's son)");
    EXPECT_EQ(
        localizedStringForLabel(CNLabelContactRelationNieceSistersDaughterOrWifesSiblingsDaughter),
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
    EXPECT_EQ(labelForLocalizedString("MOBILE"), CNLabelPhoneNumberMobile);
    EXPECT_EQ(labelForLocalizedString("Mother"), CNLabelContactRelationMother);
    EXPECT_EQ(labelForLocalizedString("  Home Fax "), CNLabelPhoneNumberHomeFax);
    EXPECT_EQ(labelForLocalizedString("ICLOUD"), CNLabelEmailiCloud);
    EXPECT_EQ(labelForLocalizedString("MOTHER'S MOTHER"),
              CNLabelContactRelationGrandmotherMothersMother);
}

TEST(ContactLocalization, TextOfNoLabelFindsNone) {
    EXPECT_EQ(labelForLocalizedString("Car"), std::nullopt);
    EXPECT_EQ(labelForLocalizedString(""), std::nullopt);
    EXPECT_EQ(labelForLocalizedString("   "), std::nullopt);
    EXPECT_EQ(labelForLocalizedString("mobil"), std::nullopt);
    EXPECT_EQ(labelForLocalizedString(CNLabelPhoneNumberMobile), std::nullopt);
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
    EXPECT_EQ(localizedStringForSocialProfileService(CNSocialProfileServiceGameCenter),
              "Game Center");
    EXPECT_EQ(localizedStringForSocialProfileService(CNSocialProfileServiceSinaWeibo),
              "Sina Weibo");
    EXPECT_EQ(localizedStringForSocialProfileService(CNSocialProfileServiceLinkedIn), "LinkedIn");
    EXPECT_EQ(localizedStringForInstantMessageService(CNInstantMessageServiceFacebook),
              "Facebook Messenger");
    EXPECT_EQ(localizedStringForInstantMessageService(CNInstantMessageServiceGaduGadu),
              "Gadu-Gadu");
    EXPECT_EQ(localizedStringForInstantMessageService(CNInstantMessageServiceYahoo), "Yahoo!");
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
              CNSocialProfileServiceSinaWeibo);
    EXPECT_EQ(socialProfileServiceForLocalizedString("FACEBOOK"), CNSocialProfileServiceFacebook);
    EXPECT_EQ(instantMessageServiceForLocalizedString("facebook messenger"),
              CNInstantMessageServiceFacebook);
    EXPECT_EQ(instantMessageServiceForLocalizedString("Facebook"), CNInstantMessageServiceFacebook);
    EXPECT_EQ(instantMessageServiceForLocalizedString("yahoo"), CNInstantMessageServiceYahoo);
    EXPECT_EQ(instantMessageServiceForLocalizedString("GoogleTalk"),
              CNInstantMessageServiceGoogleTalk);
    EXPECT_EQ(instantMessageServiceForLocalizedString("Car"), std::nullopt);
    EXPECT_EQ(socialProfileServiceForLocalizedString("Skype"), std::nullopt);
    EXPECT_EQ(socialProfileServiceForLocalizedString(""), std::nullopt);
}

}  // namespace
}  // namespace pelkora::contacts
