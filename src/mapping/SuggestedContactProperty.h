#pragma once

// A target in the contact record that a column is assigned to: a property key, for some
// properties a sub-key (a postal component, a social-profile or instant-message service),
// and for multi-valued properties a label. The same record is an entry of the column-title
// vocabularies, where localizedString is the title it stands for.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora {

// The program's own keys, which are not properties of the address book.
namespace CustomPropertyKeys {
inline constexpr std::string_view AdditionalNote =
    "CustomPropertyKey.AdditionalNote";                               // appended to the note
inline constexpr std::string_view Group = "CustomPropertyKey.Group";  // group names
inline constexpr std::string_view UID = "CustomPropertyKey.UID";      // an identifier column
inline constexpr std::string_view Addition =
    "CustomPropertyKey.Addition";  // postal: street addition
// A whole name ("Dr. Anna Berg"): contact assembly divides it into the name parts.
inline constexpr std::string_view FullName = "CustomPropertyKey.FullName";
}  // namespace CustomPropertyKeys

// A custom label that tells contact assembly to take the label from the cell text.
inline constexpr std::string_view kExtractLabelMarker = "<!ZUB-ExtractLabelFromValue!>";
// The target menu's Ignore choice.
inline constexpr std::string_view kIgnoreMarker = "--DO-NOT-IMPORT--";

class SuggestedContactProperty {
  public:
    std::string framework = "Contacts";  // only "Contacts" entries take part in matching
    std::string type = "Property";       // "Property", "Label", or "Undefined" when cleared
    std::optional<std::string> localizedString;
    std::optional<std::string> propertyKey;
    std::optional<std::string> propertySubKey;
    std::string ISOLanguageCode = "en";
    bool isVendorCustomMapping = false;
    bool isUserCustomMapping = false;
    std::optional<std::string> systemLabel;
    std::optional<std::string> customLabel;

    bool operator==(const SuggestedContactProperty&) const = default;

    // A property target, e.g. SuggestedContactProperty::target(ContactKey::phoneNumbers).
    static SuggestedContactProperty target(std::string_view key,
                                           std::optional<std::string_view> subKey = std::nullopt);

    // The effective label: systemLabel when present, else customLabel; none when empty.
    std::optional<std::string> label() const;
    // Sets a label from a constant, from a constant's display text (ignoring case), or as a
    // custom text; none or empty changes nothing.
    void setLabel(std::optional<std::string_view> text);
    // Sets the sub-key and, for postal components and services, the key it belongs to.
    void setPropertySubKey(std::optional<std::string_view> subKey);

    bool hasCustomLabel() const;
    bool canHaveLabel() const;
    bool canHaveSubKey() const;
    // The labels the key knows, in menu order; empty without a key.
    std::vector<std::string_view> systemLabels() const;
    // The labels a label menu offers for the key: the known ones but those named after one
    // maker's devices (contacts::deviceLabels), unless the target has that label already.
    std::vector<std::string_view> offeredLabels() const;
    // The extended relations.
    static std::vector<std::string_view> extendedRelevantRelationships();
    std::optional<std::string> preferredLabel() const;
    // Whether a column with this target is imported.
    bool isValid() const;
    // Whether several columns may map to this target.
    bool allowsDuplicates() const;
    // Whether the target holds one value only, so that of several columns mapped to it
    // contact assembly keeps the first value and puts the others into the note: the name
    // parts, the full name, the nickname, the organization's names, department, job title
    // and birthday. The note is not one: note columns are appended to each other.
    bool isSingleValued() const;

    std::optional<std::string> localizedPropertyKey() const;
    std::optional<std::string> localizedPropertySubKey() const;
    std::optional<std::string> formattedContactLabel() const;
    // The target's title in menus and tables ("Phone", "Street", "Skype IM User name").
    std::optional<std::string> formattedContactProperty() const;
    // The name of the target's menu icon.
    std::string_view image() const;

    // Turns the entry into the Ignore choice.
    void clearAll();

    // Whether a label menu puts a separator after this label.
    static bool isSeparatingLabel(std::string_view label);

    // Whether the text is a postal component key or a service of the catalogue.
    static bool isPropertySubKey(std::string_view text);
    // The key a sub-key belongs to; none for "CustomPropertyKey.Addition" and other texts.
    static std::optional<std::string_view> parentKeyOfSubKey(std::string_view subKey);
};

}  // namespace pelkora
