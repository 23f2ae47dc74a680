#pragma once

// The vocabularies between vCard words and the labels and services of ContactKeys.h: TYPE
// values such as "CELL" or "WORK,FAX", instant-message properties and URI schemes, and the
// names of social-profile services.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora::contacts::detail {

// Which TYPE words a property's labels are written with.
enum class LabelVocabulary {
    phone,     // HOME, WORK, OTHER, CELL, IPHONE, MAIN, PAGER, FAX with HOME or WORK
    general,   // HOME, WORK, OTHER: e-mail, URL, postal and instant-message addresses
    relation,  // RFC 6350's relation types and every relation label's own name ("mother")
    none,      // no words: dates and social profiles, whose TYPE names the service
};

// The label the TYPE values stand for, or empty. PREF, VOICE, INTERNET and other words that are
// no label are passed over; an "X-Car" type (Android's custom labels) is the label "Car".
std::string labelForTypes(std::span<const std::string_view> types, LabelVocabulary vocabulary);

// How a label is written: TYPE words, and for a label the words cannot say on their own, the
// text of a grouped X-ABLabel line. Never a "_$!<…>!$_" token: other programs show X-ABLabel
// as it is.
struct LabelSpelling {
    std::vector<std::string_view> types;
    std::string labelText;  // empty when the TYPE words say it all
};

// The spelling of a label. A built-in label with words of its own is only words ("CELL",
// "HOME,FAX"); one without takes its English name as X-ABLabel, with the standard words that
// come nearest, so that programs without X-ABLabel still see a fitting kind (main: "VOICE",
// homepage: "HOME", Apple Watch: "CELL"); a custom label is its text. Relations always take
// X-ABLabel (but "other", which is TYPE=OTHER), as Apple writes them and others read them.
LabelSpelling spellingForLabel(std::string_view label, LabelVocabulary vocabulary);

// The label an X-ABLabel text stands for: the built-in label whose token, English name or
// token name it is, ignoring case ("mother", "Home Fax", "HomePage", "_$!<Mother>!$_"); any
// other text is a custom label and stays as it is.
std::string labelForText(std::string_view text);

// The label a related-name property of older programs stands for (X-SPOUSE → spouse,
// X-EVOLUTION-MANAGER → manager …); empty for any other property name (upper-case).
std::string_view relationLabelForProperty(std::string_view name);

// The service of an instant-message property ("X-AIM" → AIM, "X-SKYPE-USERNAME" → Skype); empty
// for any other property name (upper-case).
std::string_view instantMessageServiceForProperty(std::string_view name);
// The service a URI scheme stands for ("xmpp" → Jabber), empty for Apple's "x-apple"; none for
// a scheme that is no instant-message scheme.
std::optional<std::string_view> instantMessageServiceForScheme(std::string_view scheme);
// The URI scheme to write an address of the service with; "x-apple" for a service without one.
std::string_view instantMessageSchemeForService(std::string_view service);

// The service constant the name spells, ignoring case ("jabber" → "Jabber"); else the name.
std::string canonicalInstantMessageService(std::string_view name);
// The social-profile service constant the name spells, ignoring case ("Twitter" → "twitter",
// "gamecenter" → "GameCenter"); else the name.
std::string canonicalSocialProfileService(std::string_view name);

}  // namespace pelkora::contacts::detail
