#pragma once

// Display names of the contact vocabulary: property keys, postal address components,
// labels and services, in the user's language.
//
// The label and service constants of ContactKeys.h are storage names ("_$!<Mobile>!$_",
// "GaduGadu"); people see "mobile" and "Gadu-Gadu". The reverse lookups let a label or
// service typed in a file ("MOBILE", "Mother") become the constant, so that the
// address book stores the built-in label rather than a custom one.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora::contacts {

// The display name of a contact property key, a postal address component key or a field
// of a social profile or instant-message address ("givenName" → "First name"); empty for
// an unknown key.
std::string localizedStringForKey(std::string_view key);

// The display text of a label constant ("_$!<Mobile>!$_" → "mobile"); a custom label is
// returned unchanged.
std::string localizedStringForLabel(std::string_view label);

// The label constant whose display text equals the text, ignoring case; none when no
// label has that text (a custom label such as "Car").
std::optional<std::string_view> labelForLocalizedString(std::string_view text);

// The English display text of a label constant ("_$!<Mother>!$_" → "mother"), never
// translated: files written for other programs, which show a label as it is, hold it. None for
// a custom label.
std::optional<std::string_view> englishTextForLabel(std::string_view label);

// The label constant whose English display text equals the text, ignoring case; none for
// any other text.
std::optional<std::string_view> labelForEnglishText(std::string_view text);

// True when the label is one of the label constants of ContactKeys.h.
bool isLabelConstant(std::string_view label);

// Every label constant: the generic and phone-number labels, then the relation labels
// and the extended relations in menu order.
std::vector<std::string_view> labelConstants();

// The display name of a social-profile service ("sinaweibo" → "Sina Weibo"). The constant
// is matched exactly, else without regard to ASCII case, since files spell service names
// freely ("Twitter", "LINKEDIN"); any other service name is returned unchanged.
std::string localizedStringForSocialProfileService(std::string_view service);

// The display name of an instant-message service ("GaduGadu" → "Gadu-Gadu"), matched like
// social-profile services; any other service name is returned unchanged.
std::string localizedStringForInstantMessageService(std::string_view service);

// The social-profile service constant whose display name equals the text, ignoring case.
std::optional<std::string_view> socialProfileServiceForLocalizedString(std::string_view text);

// The instant-message service constant whose display name equals the text, ignoring case.
std::optional<std::string_view> instantMessageServiceForLocalizedString(std::string_view text);

// Every social-profile service constant, in menu order.
std::vector<std::string_view> socialProfileServices();

// Every instant-message service constant, in menu order.
std::vector<std::string_view> instantMessageServices();

// Every property key, postal component key and social-profile or instant-message field key
// that has a display name.
std::vector<std::string_view> localizedKeys();

}  // namespace pelkora::contacts
