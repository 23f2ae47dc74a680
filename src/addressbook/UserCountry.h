#pragma once

// The user's country, and country names to and from ISO 3166 codes.
//
// An address belongs to the country it names (its ISO code or its country name in one of
// many languages); the user's country stands in for addresses that name none, deciding
// their layout and the digit count of their postal codes.

#include <optional>
#include <string>
#include <string_view>

#include "addressbook/Contact.h"

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

// The lower-case ISO 3166 code of a country name, ignoring case, diacritics, full stops and
// the white space around and inside it: the English name, the name in a language of the
// column-title vocabulary ("Deutschland", "Suisse", "Svizzera", "España", "Niemcy", "日本"),
// a short form ("USA", "UK"), a common other name ("Holland", "Great Britain"), the
// two-letter code or the three-letter code ("DEU"); none for anything else. The table of
// names is built from ICU's data on first use, once for all threads.
std::optional<std::string> countryCodeForName(std::string_view name);

// The address's own country as a lower-case ISO 3166 code: its ISO country code (read
// like a name, so "DE", "DEU" and "Deutschland" all give "de"), else its country name;
// none when neither names a known country.
std::optional<std::string> countryCodeOfAddress(const PostalAddress& address);

}  // namespace pelkora::contacts
