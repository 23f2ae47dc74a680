#pragma once

// Names and addresses as people write them.

#include <string>
#include <string_view>

#include "addressbook/Contact.h"

namespace pelkora::contacts {

enum class ContactFormatterStyle { fullName, phoneticFullName };

// The order of a person's given, middle and family name.
enum class NameOrder { givenMiddleFamily, familyMiddleGiven, familyGivenMiddle };

// The contact's name for lists, previews and duplicate detection, in the order of the
// user's language (see the overload with a locale). For a person: prefix, given, middle
// and family name and suffix; for an organization its name; the phonetic style uses the
// phonetic parts. Empty when those parts are empty: there is no fallback to the
// nickname, the organization of a person or the person of an organization.
std::string stringFromContact(const Contact& contact,
                              ContactFormatterStyle style = ContactFormatterStyle::fullName);

// The contact's name in the order of the locale ("ja_JP", "hu-HU", "de_AT.UTF-8"): family
// name first for Chinese, Japanese, Korean, Hungarian and Vietnamese, given name first
// otherwise; the prefix always leads and the suffix always ends. A name written wholly in
// Chinese, Japanese or Korean script is written family name first in every locale, and its
// parts are joined without spaces ("山田太郎").
std::string stringFromContact(const Contact& contact, ContactFormatterStyle style,
                              std::string_view localeIdentifier);

// The usual order of a person's names in the locale's language: a Vietnamese middle name
// stands between family and given name ("Nguyễn Văn An"), a Hungarian second given name
// after the given name ("Nagy János Péter").
NameOrder nameOrderForLocale(std::string_view localeIdentifier);

// True when the text has Han, Hiragana, Katakana, Bopomofo or Hangul letters and no letters
// of another script; such texts are joined without spaces.
bool isCJKText(std::string_view text);

}  // namespace pelkora::contacts
