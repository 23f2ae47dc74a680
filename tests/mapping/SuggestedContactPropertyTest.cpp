#include <gtest/gtest.h>

#include "addressbook/ContactKeys.h"
#include "mapping/ContactPropertyCatalogue.h"
#include "mapping/SuggestedContactProperty.h"

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
    auto phone = Target::target(ContactKey::phoneNumbers);
    EXPECT_FALSE(phone.isValid());  // a phone needs a label
    phone.setLabel("MOBILE");       // the display text of a system label, in any case
    EXPECT_EQ(phone.systemLabel, std::string(Label::mobile));
    EXPECT_FALSE(phone.customLabel);
    EXPECT_TRUE(phone.isValid());
    EXPECT_FALSE(phone.hasCustomLabel());

    phone.setLabel(Label::home);
    EXPECT_EQ(phone.label(), std::string(Label::home));
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
    auto email = Target::target(ContactKey::emailAddresses);
    email.setLabel(Label::pager);
    EXPECT_TRUE(email.hasCustomLabel());

    phone.customLabel = std::string(kExtractLabelMarker);
    EXPECT_EQ(phone.formattedContactLabel(), "Extract from field");
    phone.customLabel = "";
    EXPECT_FALSE(phone.label());
}

TEST(SuggestedContactProperty, ValidityFollowsKeyLabelAndSubKey) {
    auto street = Target::target(ContactKey::postalAddresses, PostalAddressKey::street);
    EXPECT_FALSE(street.isValid());
    street.setLabel(Label::work);
    EXPECT_TRUE(street.isValid());

    auto social = Target::target(ContactKey::socialProfiles);
    EXPECT_FALSE(social.isValid());
    social.setPropertySubKey(SocialProfileService::twitter);
    EXPECT_TRUE(social.isValid());  // no label needed

    Target instant;
    instant.setPropertySubKey(InstantMessageService::skype);
    EXPECT_EQ(instant.propertyKey, std::string(ContactKey::instantMessageAddresses));
    EXPECT_FALSE(instant.isValid());
    instant.setLabel(Label::home);
    EXPECT_TRUE(instant.isValid());

    auto addition = Target::target(ContactKey::postalAddresses);
    addition.setPropertySubKey(CustomPropertyKeys::Addition);
    EXPECT_EQ(addition.propertyKey, std::string(ContactKey::postalAddresses));

    EXPECT_TRUE(Target::target(ContactKey::givenName).isValid());
    EXPECT_TRUE(Target::target(CustomPropertyKeys::Group).isValid());
}

// Device labels are known (a file's "iPhone" stays that label) but offered only where chosen.
TEST(SuggestedContactProperty, OfferedLabelsLeaveOutDeviceLabelsNotInUse) {
    const struct {
        std::string_view key;
        std::string_view deviceLabel;
    } cases[] = {
        {ContactKey::phoneNumbers, Label::iPhone},
        {ContactKey::phoneNumbers, Label::appleWatch},
        {ContactKey::emailAddresses, Label::iCloud},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.deviceLabel));
        auto target = Target::target(entry.key);
        const auto known = target.systemLabels();
        const auto offered = target.offeredLabels();
        EXPECT_NE(std::find(known.begin(), known.end(), entry.deviceLabel), known.end());
        EXPECT_EQ(std::find(offered.begin(), offered.end(), entry.deviceLabel), offered.end());
        EXPECT_EQ(offered.size() + (entry.key == ContactKey::phoneNumbers ? 2 : 1), known.size());

        target.setLabel(entry.deviceLabel);
        EXPECT_EQ(target.systemLabel, std::string(entry.deviceLabel));
        const auto withChosen = target.offeredLabels();
        EXPECT_NE(std::find(withChosen.begin(), withChosen.end(), entry.deviceLabel),
                  withChosen.end());
    }
}

TEST(SuggestedContactProperty, LabelListsAndPreferredLabelsPerKey) {
    const auto phone = Target::target(ContactKey::phoneNumbers).systemLabels();
    ASSERT_EQ(phone.size(), 12u);
    EXPECT_EQ(phone.front(), Label::work);
    EXPECT_EQ(phone[4], Label::workFax);
    EXPECT_EQ(phone.back(), Label::appleWatch);
    EXPECT_EQ(Target::target(ContactKey::dates).systemLabels(),
              (std::vector<std::string_view>{Label::anniversary, Label::other}));
    const auto relations = Target::target(ContactKey::contactRelations).systemLabels();
    EXPECT_EQ(relations.size(), 1u + 35u + 179u);
    EXPECT_EQ(relations[1], RelationLabel::assistant);
    EXPECT_EQ(Target::target(ContactKey::urlAddresses).systemLabels().back(), Label::homePage);
    EXPECT_EQ(Target::target(ContactKey::note).systemLabels().size(), 4u);

    EXPECT_EQ(Target::target(ContactKey::urlAddresses).preferredLabel(),
              std::string(Label::homePage));
    EXPECT_EQ(Target::target(ContactKey::phoneNumbers).preferredLabel(), std::string(Label::other));
    EXPECT_FALSE(Target::target(ContactKey::note).preferredLabel());

    EXPECT_TRUE(Target::target(ContactKey::socialProfiles).allowsDuplicates());
    EXPECT_TRUE(Target::target(CustomPropertyKeys::AdditionalNote).allowsDuplicates());
    EXPECT_TRUE(Target::target(ContactKey::emailAddresses).allowsDuplicates());
    EXPECT_FALSE(Target::target(ContactKey::givenName).allowsDuplicates());
}

TEST(SuggestedContactProperty, TitlesOfTargets) {
    EXPECT_EQ(Target::target(CustomPropertyKeys::Group).formattedContactProperty(), "Groups");
    EXPECT_EQ(Target::target(CustomPropertyKeys::UID).formattedContactProperty(),
              "UID (read-only)");
    const auto addition = Target::target(ContactKey::postalAddresses, CustomPropertyKeys::Addition);
    EXPECT_EQ(addition.formattedContactProperty(), addition.localizedPropertySubKey());
    EXPECT_NE(addition.formattedContactProperty()->find("(Addition)"), std::string::npos);
    const auto skype =
        Target::target(ContactKey::instantMessageAddresses, InstantMessageService::skype);
    EXPECT_EQ(skype.formattedContactProperty()->rfind("Skype IM ", 0), 0u);
    EXPECT_FALSE(Target::target(ContactKey::instantMessageAddresses).formattedContactProperty());
    const auto twitter = Target::target(ContactKey::socialProfiles, SocialProfileService::twitter);
    EXPECT_EQ(twitter.formattedContactProperty()->rfind("Twitter ", 0), 0u);

    EXPECT_TRUE(Target::isSeparatingLabel(Label::other));
    EXPECT_TRUE(Target::isSeparatingLabel(RelationLabel::stepsister));
    EXPECT_FALSE(Target::isSeparatingLabel(RelationLabel::mother));
    EXPECT_FALSE(Target::isSeparatingLabel(Label::home));

    EXPECT_TRUE(Target::isPropertySubKey(PostalAddressKey::subLocality));
    EXPECT_TRUE(Target::isPropertySubKey(InstantMessageService::qq));
    EXPECT_FALSE(Target::isPropertySubKey(CustomPropertyKeys::Addition));
    EXPECT_FALSE(Target::isPropertySubKey(ContactKey::givenName));
}

TEST(ContactPropertyCatalogue, SixtyFiveEntriesAndTheTargetMenu) {
    const auto& catalogue = contactPropertyCatalogue();
    ASSERT_EQ(catalogue.size(), 65u);
    int separators = 0, targets = 0;
    for (const auto& entry : catalogue) {
        separators += std::holds_alternative<CatalogueSeparator>(entry);
        targets += std::holds_alternative<SuggestedContactProperty>(entry);
    }
    EXPECT_EQ(separators, 10);
    EXPECT_EQ(targets, 54);
    EXPECT_TRUE(std::holds_alternative<CatalogueIgnore>(catalogue.front()));
    EXPECT_EQ(std::get<SuggestedContactProperty>(catalogue.back()).propertyKey,
              std::string(CustomPropertyKeys::Group));

    const auto menu = makeTargetMenu(true);
    ASSERT_EQ(menu.size(), 66u);
    EXPECT_EQ(menu[0].kind, TargetMenuItem::Kind::separator);
    EXPECT_EQ(menu[1].kind, TargetMenuItem::Kind::ignore);
    EXPECT_EQ(menu[1].tag, kIgnoreMenuTag);
    EXPECT_EQ(menu[1].title, "Ignore");
    EXPECT_EQ(menu[1].representedString, kIgnoreMarker);
    EXPECT_EQ(menu[3].tag, 100);
    EXPECT_EQ(menu[3].representedEntry.propertyKey, std::string(CustomPropertyKeys::FullName));
    EXPECT_EQ(menu[3].title, "Full Name");
    EXPECT_EQ(menu[4].representedEntry.propertyKey, std::string(ContactKey::namePrefix));
    EXPECT_EQ(menu.back().tag, 153);
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
