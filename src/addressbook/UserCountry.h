#pragma once

// The user's country, and country names to and from ISO 3166 codes.
//
// The country decides how addresses without a country of their own are laid out, and
// which country an imported address belongs to when the file leaves it out.

#include <optional>
#include <string>
#include <string_view>

namespace pelkora::contacts {

// The user's country as a lower-case ISO 3166 code: the override when one is set, else the
// territory of the first of LC_ALL, LC_ADDRESS and LANG that names one ("de_AT.UTF-8" →
// "at"), else "us".
std::string defaultCountryCode();

// Sets or, with none or an empty code, clears the country the user chose in the settings;
// it takes precedence over the environment.
void setCountryCodeOverride(std::optional<std::string> countryCode);

// The English name of a country ("de" → "Germany", any case); the code itself when there
// is no name for it, empty for an empty code.
std::string countryNameForCode(std::string_view countryCode);

// The lower-case ISO 3166 code of a country name, ignoring case and surrounding white
// space: the English name, the name in German, French, Italian, Spanish, Dutch, Japanese
// or Chinese ("Deutschland", "Suisse", "España", "日本"), a common short form ("USA",
// "UK") or the two-letter code itself; none for anything else.
std::optional<std::string> countryCodeForName(std::string_view name);

}  // namespace pelkora::contacts
