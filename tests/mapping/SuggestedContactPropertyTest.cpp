#include <gtest/gtest.h>

#include "mapping/ContactPropertyCatalogue.h"
#include "mapping/SuggestedContactProperty.h"
#include "addressbook/ContactKeys.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;
using Target = SuggestedContactProperty;

TEST(SuggestedContactProperty, FreshEntryIsAnUnmappedProperty) {
    Target entry;
    EXPECT_EQ(entry.framework, "Contacts");
    EXPECT_EQ(entry.type, "Property");
    EXPECT_EQ(entry.ISOLanguageCode, "en");
    EXPECT_FALSE(entry.propertyKey);
    EXPECT_FALSE(entry.isValid());
    EXPECT_TRUE(entry.systemLabels().empty());
    EXPECT_FALSE(entry.formattedContactProperty());

    entry.clearAll();
    EXPECT_EQ(entry.ISOLanguageCode, "xx");
    EXPECT_EQ(entry.type, "Undefined");
    EXPECT_EQ(entry.framework, "none");
    EXPECT_TRUE(entry.isVendorCustomMapping);
}

TEST(SuggestedContactProperty, LabelsAreSystemConstantsTheirDisplayTextsOrCustomTexts) {
    auto phone = Target::target(CNContactPhoneNumbersKey);
    EXPECT_FALSE(phone.isValid());  // a phone needs a label
    phone.setLabel("MOBILE");       // the display text of a system label, in any case
    EXPECT_EQ(phone.systemLabel, std::string(CNLabelPhoneNumberMobile));
    EXPECT_FALSE(phone.customLabel);
    EXPECT_TRUE(phone.isValid());
    EXPECT_FALSE(phone.hasCustomLabel());

    phone.setLabel(CNLabelHome);
    EXPECT_EQ(phone.label(), std::string(CNLabelHome));
    EXPECT_FALSE(phone.hasCustomLabel());

    phone.setLabel("Car");
    EXPECT_EQ(phone.customLabel, "Car");
    EXPECT_FALSE(phone.systemLabel);
    EXPECT_TRUE(phone.hasCustomLabel());
    EXPECT_EQ(phone.formattedContactLabel(), "Car");

    phone.setLabel("");  // nothing changes
    phone.setLabel(std::nullopt);
    EXPECT_EQ(phone.label(), "Car");

    // A label of another key's list is a custom text here.
    auto email = Target::target(CNContactEmailAddressesKey);
    email.setLabel(CNLabelPhoneNumberPager);
    EXPECT_TRUE(email.hasCustomLabel());

    phone.customLabel = std::string(kExtractLabelMarker);
    EXPECT_EQ(phone.formattedContactLabel(), "Extract from field");
    phone.customLabel = "";
    EXPECT_FALSE(phone.label());
}

TEST(SuggestedContactProperty, ValidityFollowsKeyLabelAndSubKey) {
    auto street = Target::target(CNContactPostalAddressesKey, CNPostalAddressStreetKey);
    EXPECT_FALSE(street.isValid());
    street.setLabel(CNLabelWork);
    EXPECT_TRUE(street.isValid());

    auto social = Target::target(CNContactSocialProfilesKey);
    EXPECT_FALSE(social.isValid());
    social.setPropertySubKey(CNSocialProfileServiceTwitter);
    EXPECT_TRUE(social.isValid());  // no label needed

    Target instant;
    instant.setPropertySubKey(CNInstantMessageServiceSkype);
    EXPECT_EQ(instant.propertyKey, std::string(CNContactInstantMessageAddressesKey));
    EXPECT_FALSE(instant.isValid());
    instant.setLabel(CNLabelHome);
    EXPECT_TRUE(instant.isValid());

    auto addition = Target::target(CNContactPostalAddressesKey);
    addition.setPropertySubKey(CustomPropertyKeys::Addition);
    EXPECT_EQ(addition.propertyKey, std::string(CNContactPostalAddressesKey));

    EXPECT_TRUE(Target::target(CNContactGivenNameKey).isValid());
    EXPECT_TRUE(Target::target(CustomPropertyKeys::Group).isValid());
}

TEST(SuggestedContactProperty, LabelListsAndPreferredLabelsPerKey) {
    const auto phone = Target::target(CNContactPhoneNumbersKey).systemLabels();
    ASSERT_EQ(phone.size(), 12u);
    EXPECT_EQ(phone.front(), CNLabelWork);
    EXPECT_EQ(phone[4], CNLabelPhoneNumberWorkFax);
    EXPECT_EQ(phone.back(), CNLabelPhoneNumberAppleWatch);
    EXPECT_EQ(Target::target(CNContactDatesKey).systemLabels(),
              (std::vector<std::string_view>{CNLabelDateAnniversary, CNLabelOther}));
    const auto relations = Target::target(CNContactRelationsKey).systemLabels();
    EXPECT_EQ(relations.size(), 1u + 35u + 179u);
    EXPECT_EQ(relations[1], CNLabelContactRelationAssistant);
    EXPECT_EQ(Target::target(CNContactUrlAddressesKey).systemLabels().back(),
              CNLabelURLAddressHomePage);
    EXPECT_EQ(Target::target(CNContactNoteKey).systemLabels().size(), 4u);

    EXPECT_EQ(Target::target(CNContactUrlAddressesKey).preferredLabel(),
              std::string(CNLabelURLAddressHomePage));
    EXPECT_EQ(Target::target(CNContactPhoneNumbersKey).preferredLabel(), std::string(CNLabelOther));
    EXPECT_FALSE(Target::target(CNContactNoteKey).preferredLabel());

    EXPECT_TRUE(Target::target(CNContactSocialProfilesKey).allowsDuplicates());
    EXPECT_TRUE(Target::target(CustomPropertyKeys::AdditionalNote).allowsDuplicates());
    EXPECT_TRUE(Target::target(CNContactEmailAddressesKey).allowsDuplicates());
    EXPECT_FALSE(Target::target(CNContactGivenNameKey).allowsDuplicates());
}

TEST(SuggestedContactProperty, TitlesOfTargets) {
    EXPECT_EQ(Target::target(CustomPropertyKeys::Group).formattedContactProperty(), "Groups");
    EXPECT_EQ(Target::target(CustomPropertyKeys::UID).formattedContactProperty(),
              "UID (read-only)");
    const auto addition = Target::target(CNContactPostalAddressesKey, CustomPropertyKeys::Addition);
    EXPECT_EQ(addition.formattedContactProperty(), addition.localizedPropertySubKey());
    EXPECT_NE(addition.formattedContactProperty()->find("(Addition)"), std::string::npos);
    const auto skype =
        Target::target(CNContactInstantMessageAddressesKey, CNInstantMessageServiceSkype);
    EXPECT_EQ(skype.formattedContactProperty()->rfind("Skype IM ", 0), 0u);
    EXPECT_FALSE(Target::target(CNContactInstantMessageAddressesKey).formattedContactProperty());
    const auto twitter = Target::target(CNContactSocialProfilesKey, CNSocialProfileServiceTwitter);
    EXPECT_EQ(twitter.formattedContactProperty()->rfind("Twitter ", 0), 0u);

    EXPECT_TRUE(Target::isSeparatingLabel(CNLabelOther));
    EXPECT_TRUE(Target::isSeparatingLabel(CNLabelContactRelationStepsister));
    EXPECT_FALSE(Target::isSeparatingLabel(CNLabelContactRelationMother));
    EXPECT_FALSE(Target::isSeparatingLabel(CNLabelHome));

    EXPECT_TRUE(Target::isPropertySubKey(CNPostalAddressSubLocalityKey));
    EXPECT_TRUE(Target::isPropertySubKey(CNInstantMessageServiceQQ));
    EXPECT_FALSE(Target::isPropertySubKey(CustomPropertyKeys::Addition));
    EXPECT_FALSE(Target::isPropertySubKey(CNContactGivenNameKey));
}

TEST(ContactPropertyCatalogue, SixtyFourEntriesAndTheTargetMenu) {
    const auto& catalogue = contactPropertyCatalogue();
    ASSERT_EQ(catalogue.size(), 64u);
    int separators = 0, targets = 0;
    for (const auto& entry : catalogue) {
        separators += std::holds_alternative<CatalogueSeparator>(entry);
        targets += std::holds_alternative<SuggestedContactProperty>(entry);
    }
    EXPECT_EQ(separators, 10);
    EXPECT_EQ(targets, 53);
    EXPECT_TRUE(std::holds_alternative<CatalogueIgnore>(catalogue.front()));
    EXPECT_EQ(std::get<SuggestedContactProperty>(catalogue.back()).propertyKey,
              std::string(CustomPropertyKeys::Group));

    const auto menu = makeTargetMenu(true);
    ASSERT_EQ(menu.size(), 65u);
    EXPECT_EQ(menu[0].kind, TargetMenuItem::Kind::separator);
    EXPECT_EQ(menu[1].kind, TargetMenuItem::Kind::ignore);
    EXPECT_EQ(menu[1].tag, kIgnoreMenuTag);
    EXPECT_EQ(menu[1].title, "Ignore");
    EXPECT_EQ(menu[1].representedString, kIgnoreMarker);
    EXPECT_EQ(menu[3].tag, 100);
    EXPECT_EQ(menu[3].representedEntry.propertyKey, std::string(CNContactNamePrefixKey));
    EXPECT_EQ(menu.back().tag, 152);
    for (const auto& item : menu) {
        if (item.kind != TargetMenuItem::Kind::property) continue;
        EXPECT_FALSE(item.title.empty()) << item.tag;
        EXPECT_NE(item.title, "Undefined") << item.tag;
        EXPECT_FALSE(item.imageName.empty()) << item.tag;
    }
    EXPECT_TRUE(makeTargetMenu(false)[3].imageName.empty());
}

}  // namespace
}  // namespace pelkora
