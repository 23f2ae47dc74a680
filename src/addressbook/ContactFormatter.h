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

// The parts of a person's name, as a full name gives them.
struct NameComponents {
    std::string namePrefix;
    std::string givenName;
    std::string middleName;
    std::string familyName;
    std::string nameSuffix;
    bool operator==(const NameComponents&) const = default;
};

// A name written as one text ("Dr. Anna Maria Berg", "Berg, Anna", "Anna Berg Jr.") taken
// apart into its parts, the reverse of stringFromContact for the usual ways people write
// a name. The words are separated by white space; in order:
//   1. Trailing generational and academic suffixes ("Jr.", "III", "PhD"), with or without
//      a comma before them, are the suffix.
//   2. A comma left after that means the inverted form "Family, Given Middle": the text
//      before it is the family name, the text after it is read as in steps 3 and 4.
//   3. Leading honorifics ("Dr.", "Prof.", "Mr.", "Frau", "Mme", …) are the prefix.
//   4. Of the words left, the first is the given name and the last the family name,
//      together with the particles written before it ("van der Berg", "de la Cruz",
//      "von Stein"); the words between are the middle name. One word alone is the given
//      name, or the family name after an honorific ("Dr. Berg"); particles and a word
//      alone ("van der Berg") are a family name.
// Two exceptions to the given-name-first order: three Cyrillic words whose last is a
// patronymic ("Иванов Иван Иванович") are family name, given name and patronymic (taken
// as the middle name), the order of Russian lists; CJK text is family name first
// ("山田 太郎"), and without a space between the parts it cannot be divided and is all
// given name, as are single words elsewhere. Empty text gives empty parts.
NameComponents nameComponentsFromString(std::string_view fullName);

// True when the text has Han, Hiragana, Katakana, Bopomofo or Hangul letters and no letters
// of another script; such texts are joined without spaces.
bool isCJKText(std::string_view text);

}  // namespace pelkora::contacts
