#include "mapping/ContactPropertyCatalogue.h"

#include "addressbook/ContactKeys.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

using namespace pelkora::contacts;

std::vector<CatalogueEntry> buildCatalogue() {
    std::vector<CatalogueEntry> entries;
    auto separator = [&] { entries.emplace_back(CatalogueSeparator{}); };
    auto targets = [&](std::initializer_list<std::string_view> keys) {
        for (auto key : keys) entries.emplace_back(SuggestedContactProperty::target(key));
    };
    auto subKeys = [&](std::string_view key, std::initializer_list<std::string_view> subKeyList) {
        for (auto subKey : subKeyList)
            entries.emplace_back(SuggestedContactProperty::target(key, subKey));
    };

    entries.emplace_back(CatalogueIgnore{});
    separator();
    targets({CustomPropertyKeys::FullName, ContactKey::namePrefix, ContactKey::givenName,
             ContactKey::middleName, ContactKey::familyName, ContactKey::previousFamilyName,
             ContactKey::nameSuffix, ContactKey::nickname, ContactKey::phoneticGivenName,
             ContactKey::phoneticMiddleName, ContactKey::phoneticFamilyName});
    separator();
    targets({ContactKey::organizationName, ContactKey::departmentName, ContactKey::jobTitle,
             ContactKey::phoneticOrganizationName});
    separator();
    targets({ContactKey::birthday, ContactKey::nonGregorianBirthday, ContactKey::dates});
    separator();
    targets({ContactKey::phoneNumbers, ContactKey::emailAddresses, ContactKey::urlAddresses});
    separator();
    subKeys(ContactKey::postalAddresses,
            {PostalAddressKey::street, CustomPropertyKeys::Addition, PostalAddressKey::city,
             PostalAddressKey::postalCode, PostalAddressKey::state, PostalAddressKey::country,
             PostalAddressKey::isoCountryCode});
    separator();
    targets({ContactKey::contactRelations});
    separator();
    subKeys(ContactKey::socialProfiles,
            {SocialProfileService::facebook, SocialProfileService::flickr,
             SocialProfileService::gameCenter, SocialProfileService::linkedIn,
             SocialProfileService::mySpace, SocialProfileService::sinaWeibo,
             SocialProfileService::tencentWeibo, SocialProfileService::twitter,
             SocialProfileService::yelp});
    separator();
    subKeys(
        ContactKey::instantMessageAddresses,
        {InstantMessageService::aim, InstantMessageService::facebook,
         InstantMessageService::gaduGadu, InstantMessageService::googleTalk,
         InstantMessageService::icq, InstantMessageService::jabber, InstantMessageService::msn,
         InstantMessageService::qq, InstantMessageService::skype, InstantMessageService::yahoo});
    separator();
    targets({ContactKey::note, CustomPropertyKeys::AdditionalNote, ContactKey::imageData,
             ContactKey::contactType, CustomPropertyKeys::UID});
    separator();
    targets({CustomPropertyKeys::Group});
    return entries;
}

}  // namespace

const std::vector<CatalogueEntry>& contactPropertyCatalogue() {
    static const std::vector<CatalogueEntry> catalogue = buildCatalogue();
    return catalogue;
}

std::vector<TargetMenuItem> makeTargetMenu(bool showIcons) {
    std::vector<TargetMenuItem> menu;
    menu.push_back(TargetMenuItem{});
    int nextTag = kFirstTargetMenuTag;
    for (const auto& entry : contactPropertyCatalogue()) {
        TargetMenuItem item;
        if (std::holds_alternative<CatalogueSeparator>(entry)) {
            item.kind = TargetMenuItem::Kind::separator;
        } else if (std::holds_alternative<CatalogueIgnore>(entry)) {
            item.kind = TargetMenuItem::Kind::ignore;
            item.tag = kIgnoreMenuTag;
            item.title = localizedString("Ignore");
            item.representedString = std::string(kIgnoreMarker);
        } else {
            const auto& target = std::get<SuggestedContactProperty>(entry);
            item.kind = TargetMenuItem::Kind::property;
            item.tag = nextTag++;
            item.title = target.formattedContactProperty().value_or(localizedString("Undefined"));
            item.representedEntry = target;
            if (showIcons) item.imageName = std::string(target.image());
        }
        menu.push_back(std::move(item));
    }
    return menu;
}

}  // namespace pelkora
