#pragma once

// Postal codes read from number cells: a number has lost the leading zeros of its code (the
// German code 01234 arrives as 1234), so it is padded with zeros to the fixed digit count of
// the country's postal codes.

#include <optional>
#include <string>
#include <string_view>

#include "text/NumberFormatting.h"

namespace pelkora {

// The fixed digit count of a country's postal codes (lower-case ISO code); none for a
// country whose codes have no fixed count or that is not listed.
std::optional<int> postalCodeWidth(std::string_view lowerCaseCountryCode);

// Formats the postal code of one address.
class PostalCodeFormatter {
  public:
    // A formatter for an address of the country (an ISO code in any case).
    PostalCodeFormatter(NumberFormatter numberFormatter, std::string ISOCountryCode);

    // The postal code for a number; none when the number formatter gives no text. For a
    // listed country zeros go before the digits up to the country's width; digits are
    // never cut. For any other country the formatter formats the number as it is.
    std::optional<std::string> string(double number);

    const NumberFormatter& numberFormatter() const { return numberFormatter_; }
    const std::string& ISOCountryCode() const { return ISOCountryCode_; }

  private:
    NumberFormatter numberFormatter_;
    std::string ISOCountryCode_;
};

}  // namespace pelkora
