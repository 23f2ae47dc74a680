#pragma once

// The names that several modules share: page names, the values of some settings, note tokens,
// file and notification names. The strings are stored in the user's settings file and in saved
// files, so they never change. The settings themselves are the table in support/Settings.h.

#include <string_view>

namespace pelkora {

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
