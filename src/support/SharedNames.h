#pragma once

// The keys of the user's settings and the names that several modules share. The
// strings are stored in the user's settings file and in saved files, so they never
// change. The defaults are registered by the session (session/SettingsKeys.h).

#include <string_view>

namespace pelkora {

namespace UserDefaultsKeys {
// Registered with a default at every launch, in this order (see registerDefaults).
inline constexpr std::string_view FirstLaunch = "FirstLaunch";
inline constexpr std::string_view TerminatedProperly = "TerminatedProperly";
inline constexpr std::string_view NumberOfCrashes = "NumberOfCrashes";
inline constexpr std::string_view NumberOfLaunches = "NumberOfLaunches";
inline constexpr std::string_view TreatUnknownFileTypesAsText = "TreatUnknownFileTypesAsText";
inline constexpr std::string_view TrustBOMs = "TrustBOMs";
inline constexpr std::string_view DetectCustomLabels = "DetectCustomLabels";
inline constexpr std::string_view IgnoreCustomMappings = "IgnoreCustomMappings";
inline constexpr std::string_view AppendUnmappedFieldsToNotes = "AppendUnmappedFieldsToNotes";
inline constexpr std::string_view ShowMenuIcons = "ShowMenuIcons";
inline constexpr std::string_view ShowMappingHint = "ShowMappingHint";
inline constexpr std::string_view ShowShouldQuitContactsAppHint = "ShowShouldQuitContactsAppHint";
inline constexpr std::string_view AddTextToNotes = "AddTextToNotes";
inline constexpr std::string_view TextToNotesTokens = "TextToNotesTokens";
inline constexpr std::string_view ImportMode = "ImportMode";
inline constexpr std::string_view VCardFormat = "VCardFormat";
inline constexpr std::string_view RemoveGroups = "RemoveGroups";
inline constexpr std::string_view DetectDuplicates = "DetectDuplicates";
inline constexpr std::string_view DetectNewDuplicates = "DetectNewDuplicates";
inline constexpr std::string_view CompanyTerms = "CompanyTerms";
inline constexpr std::string_view CustomDateFormats = "CustomDateFormats";
inline constexpr std::string_view UseNativeContactPreview = "UseNativeContactPreview";
inline constexpr std::string_view ShareMappings = "ShareMappings";
inline constexpr std::string_view FieldNameInNotesAddExtraLinefeed =
    "FieldNameInNotesAddExtraLinefeed";
inline constexpr std::string_view FieldNameInNotesPrependFieldTitle =
    "FieldNameInNotesPrependFieldTitle";
inline constexpr std::string_view FieldNameInNotesSortByFieldTitle =
    "FieldNameInNotesSortByFieldTitle";
inline constexpr std::string_view FieldNameInNotesAddLinefeedAfterFieldTitle =
    "FieldNameInNotesAddLinefeedAfterFieldTitle";
inline constexpr std::string_view FieldNameInNotesAllCaps = "FieldNameInNotesAllCaps";

// Written or read without a registered default: absent until first stored.
inline constexpr std::string_view MostRecentDocumentFileURL = "MostRecentDocumentFileURL";
inline constexpr std::string_view SelectedContainerID = "SelectedContainerID";
inline constexpr std::string_view showExtendedRelevantRelationships =
    "showExtendedRelevantRelationships";
// The user's country (ISO 3166 code) when it should not come from the locale; it picks
// postal-address layouts and the width of numeric postal codes.
inline constexpr std::string_view DefaultCountryCode = "DefaultCountryCode";
}  // namespace UserDefaultsKeys

namespace PageNames {
inline constexpr std::string_view NoAccessPage = "NoAccessViewController";
inline constexpr std::string_view RestrictedAccessPage = "RestrictedAccessViewController";
inline constexpr std::string_view AuthStatusNotDeterminedPage =
    "AuthStatusNotDeterminedViewController";
inline constexpr std::string_view InitialPage = "InitialViewController";
inline constexpr std::string_view SetTextEncodingPage = "SetTextEncodingViewController";
inline constexpr std::string_view FieldMappingPage = "FieldMappingViewController";
inline constexpr std::string_view ImportPage = "ImportViewController";
inline constexpr std::string_view VCFScanPage = "VCFScanViewController";
}  // namespace PageNames

namespace ImportModeNames {
inline constexpr std::string_view Contacts = "Contacts";  // save into the address book
inline constexpr std::string_view vCard = "vCard";        // write vCard files
}  // namespace ImportModeNames

namespace VCardFormatNames {
inline constexpr std::string_view Group = "Group";            // one file for all contacts
inline constexpr std::string_view Individual = "Individual";  // one file per contact
}  // namespace VCardFormatNames

namespace NoteTokens {
inline constexpr std::string_view TRANSNUM = "TRANSNUM";
inline constexpr std::string_view DATE = "DATE";
inline constexpr std::string_view TIME = "TIME";
inline constexpr std::string_view FILE = "FILE";
}  // namespace NoteTokens

namespace NotificationNames {
inline constexpr std::string_view MappingStoreRefreshed = "MappingStoreRefreshed";
}  // namespace NotificationNames

namespace FileNames {
inline constexpr std::string_view CustomStringMap = "CustomStringMap.map";
inline constexpr std::string_view SavedMappings = "SavedMappings";
inline constexpr std::string_view ContactPropertyStrings = "ContactPropertyStrings";
}  // namespace FileNames

namespace AutoSaveNames {
inline constexpr std::string_view MappingTableView = "MappingTableView";
inline constexpr std::string_view MappingSplitView = "MappingSplitView";
}  // namespace AutoSaveNames

namespace AssetNames {
inline constexpr std::string_view LightBackgroundColor = "LightBackgroundColor";
}  // namespace AssetNames

}  // namespace pelkora
