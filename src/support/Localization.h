#pragma once

// Every user-visible text goes through localizedString, so that it is shown in the
// user's language: the English text is the key and the default. Catalogues are
// gettext's, in the "pelkora" domain (po/ in the source tree); a text with no
// translation stays English.

#include <cstdint>
#include <string>
#include <string_view>

namespace pelkora {

// The gettext domain of every catalogue.
inline constexpr const char* kTextDomain = "pelkora";

// Marks a text in a table for extraction; the table's user translates it when shown.
constexpr const char* N_(const char* english) {
    return english;
}

// The text in the user's language; the comment tells translators where it appears.
std::string localizedString(std::string_view english, std::string_view comment = {});

// The form of a counted text for `count` in the user's language ("1 contact",
// "2 contacts"); English has two forms, other languages may have more or fewer.
std::string localizedPlural(std::string_view singular, std::string_view plural,
                            std::uint64_t count);

// Makes the programs follow the desktop's language (LANG, LC_MESSAGES, LANGUAGE):
// called once by each front end before it shows anything. Only the messages category
// is taken from the environment, so numbers the core writes keep their C form.
void adoptUserLanguage();

// The folder the catalogues are read from: PELKORA_LOCALE_DIR when set, else the
// installed share/locale beside the program, else the build tree's.
std::string catalogueDirectory();

// The language the catalogues answer in ("de", "fr"), empty for English.
std::string catalogueLanguage();

}  // namespace pelkora
