#include "session/SettingsKeys.h"

#include "platform/SettingsStore.h"
#include "propertylist/PropertyList.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {
namespace {

PropertyValue stringList(std::initializer_list<std::string_view> items) {
    std::vector<PropertyValue> list;
    for (auto item : items) list.emplace_back(std::string(item));
    return PropertyValue(std::move(list));
}

}  // namespace

void registerDefaults(SettingsStore& settings) {
    namespace Key = UserDefaultsKeys;
    auto flag = [](bool value) { return PropertyValue(value); };
    auto integer = [](std::int64_t value) { return PropertyValue(value); };
    auto text = [](std::string_view value) { return PropertyValue(std::string(value)); };

    const std::vector<std::pair<std::string, PropertyValue>> defaults = {
        {std::string(Key::FirstLaunch), flag(true)},
        {std::string(Key::TerminatedProperly), flag(false)},
        {std::string(Key::NumberOfCrashes), integer(0)},
        {std::string(Key::NumberOfLaunches), integer(0)},
        {std::string(Key::TreatUnknownFileTypesAsText), flag(false)},
        {std::string(Key::TrustBOMs), flag(true)},
        {std::string(Key::DetectCustomLabels), flag(true)},
        {std::string(Key::IgnoreCustomMappings), flag(false)},
        {std::string(Key::AppendUnmappedFieldsToNotes), flag(true)},
        {std::string(Key::ShowMenuIcons), flag(true)},
        {std::string(Key::ShowMappingHint), flag(true)},
        {std::string(Key::ShowShouldQuitContactsAppHint), flag(true)},
        {std::string(Key::AddTextToNotes), flag(true)},
        {std::string(Key::TextToNotesTokens),
         stringList({"Import# ", NoteTokens::TRANSNUM, " (", NoteTokens::DATE, NoteTokens::TIME,
                     "/", NoteTokens::FILE, ")"})},
        {std::string(Key::ImportMode), text(ImportModeNames::Contacts)},
        {std::string(Key::VCardFormat), text(VCardFormatNames::Group)},
        {std::string(Key::RemoveGroups), flag(false)},
        {std::string(Key::DetectDuplicates), flag(true)},
        {std::string(Key::DetectNewDuplicates), flag(true)},
        {std::string(Key::CompanyTerms),
         text(localizedString("Company, Organization", "Default words that mark a company"))},
        {std::string(Key::CustomDateFormats), PropertyValue(std::vector<PropertyValue>{})},
        {std::string(Key::UseNativeContactPreview), flag(false)},
        {std::string(Key::ShareMappings), flag(false)},
        {std::string(Key::FieldNameInNotesAddExtraLinefeed), flag(true)},
        {std::string(Key::FieldNameInNotesPrependFieldTitle), flag(true)},
        {std::string(Key::FieldNameInNotesSortByFieldTitle), flag(true)},
        {std::string(Key::FieldNameInNotesAddLinefeedAfterFieldTitle), flag(true)},
        {std::string(Key::FieldNameInNotesAllCaps), flag(true)},
    };
    settings.registerDefaults(defaults);
    if (auto written = settings.synchronize(); !written) {
        qvLog(LogType::error, "Failed to synchronize the user's preferences!");
        qvLog(LogType::error, "%{public}@", written.error().message());
    }
}

}  // namespace pelkora
