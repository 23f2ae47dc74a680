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
    targets({CNContactNamePrefixKey, CNContactGivenNameKey, CNContactMiddleNameKey,
             CNContactFamilyNameKey, CNContactPreviousFamilyNameKey, CNContactNameSuffixKey,
             CNContactNicknameKey, CNContactPhoneticGivenNameKey, CNContactPhoneticMiddleNameKey,
             CNContactPhoneticFamilyNameKey});
    separator();
    targets({CNContactOrganizationNameKey, CNContactDepartmentNameKey, CNContactJobTitleKey,
             CNContactPhoneticOrganizationNameKey});
    separator();
    targets({CNContactBirthdayKey, CNContactNonGregorianBirthdayKey, CNContactDatesKey});
    separator();
    targets({CNContactPhoneNumbersKey, CNContactEmailAddressesKey, CNContactUrlAddressesKey});
    separator();
    subKeys(CNContactPostalAddressesKey,
            {CNPostalAddressStreetKey, CustomPropertyKeys::Addition, CNPostalAddressCityKey,
             CNPostalAddressPostalCodeKey, CNPostalAddressStateKey, CNPostalAddressCountryKey,
             CNPostalAddressISOCountryCodeKey});
    separator();
    targets({CNContactRelationsKey});
    separator();
    subKeys(CNContactSocialProfilesKey,
            {CNSocialProfileServiceFacebook, CNSocialProfileServiceFlickr,
             CNSocialProfileServiceGameCenter, CNSocialProfileServiceLinkedIn,
             CNSocialProfileServiceMySpace, CNSocialProfileServiceSinaWeibo,
             CNSocialProfileServiceTencentWeibo, CNSocialProfileServiceTwitter,
             CNSocialProfileServiceYelp});
    separator();
    subKeys(
        CNContactInstantMessageAddressesKey,
        {CNInstantMessageServiceAIM, CNInstantMessageServiceFacebook,
         CNInstantMessageServiceGaduGadu, CNInstantMessageServiceGoogleTalk,
         CNInstantMessageServiceICQ, CNInstantMessageServiceJabber, CNInstantMessageServiceMSN,
         CNInstantMessageServiceQQ, CNInstantMessageServiceSkype, CNInstantMessageServiceYahoo});
    separator();
    targets({CNContactNoteKey, CustomPropertyKeys::AdditionalNote, CNContactImageDataKey,
             CNContactTypeKey, CustomPropertyKeys::UID});
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
