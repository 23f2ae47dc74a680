#pragma once

// Postal addresses in mailing style: the lines as they go on an envelope, in the layout of
// the address's country.
//
// The countries with a layout of their own are the rows of the table in
// PostalAddressFormatter.cpp (United States, Canada, United Kingdom, Germany, Austria,
// Switzerland, France, Italy, Spain, the Netherlands, Belgium, Japan, China). Every other
// country gets the international layout, which puts the postal code before the city as
// most countries do:
//
//   street
//   sub-locality
//   postal code city
//   state
//   country
//
// A layout shows only the parts that the country's post uses (a German address shows no
// state). The country line is the address's country text and is always the last line.

#include <string>
#include <string_view>
#include <vector>

#include "addressbook/Contact.h"

namespace pelkora::contacts {

// The address as lines separated by "\n", leaving out empty parts and empty lines, in the
// layout of postalAddressLayoutCountryCode. Empty for an empty address.
std::string formatPostalAddress(const PostalAddress& address, std::string_view countryCode = {});

// The lower-case country code whose layout formatPostalAddress uses for the address: the
// address's own country (countryCodeOfAddress: its ISO code, else its country name in any
// of the languages countryCodeForName knows), else its ISO code as it stands when that is
// no known country's (which gives the international layout), else countryCode, else the
// user's country (defaultCountryCode()). A country name that is not recognised counts as
// none.
std::string postalAddressLayoutCountryCode(const PostalAddress& address,
                                           std::string_view countryCode = {});

// The name of the layout used for addresses of the country ("de" → "Germany", any case; an
// empty code means the user's country); "International" for a country without a layout of
// its own.
std::string postalAddressFormatName(std::string_view countryCode);

// The lower-case codes of the countries with a layout of their own.
std::vector<std::string_view> postalAddressLayoutCountryCodes();

}  // namespace pelkora::contacts
