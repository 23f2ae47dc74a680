#include "mapping/PostalCodeFormatter.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace pelkora {
namespace {

struct PostalCodeWidth {
    std::string_view countryCode;
    int width;
};

constexpr std::array<PostalCodeWidth, 40> postalCodeWidths{{
    {"au", 4}, {"at", 4}, {"be", 4}, {"bg", 4}, {"dk", 4}, {"hu", 4}, {"li", 4}, {"lu", 4},
    {"nz", 4}, {"no", 4}, {"py", 4}, {"ph", 4}, {"za", 4}, {"ch", 4}, {"de", 5}, {"hr", 5},
    {"eg", 5}, {"fi", 5}, {"fr", 5}, {"id", 5}, {"it", 5}, {"kr", 5}, {"my", 5}, {"mx", 5},
    {"pk", 5}, {"es", 5}, {"th", 5}, {"tr", 5}, {"ua", 5}, {"us", 5}, {"va", 5}, {"by", 6},
    {"cn", 6}, {"co", 6}, {"ec", 6}, {"in", 6}, {"ro", 6}, {"ru", 6}, {"sg", 6}, {"vn", 6},
}};

std::string lowercasedAscii(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

}  // namespace

std::optional<int> postalCodeWidth(std::string_view lowerCaseCountryCode) {
    for (const auto& entry : postalCodeWidths) {
        if (entry.countryCode == lowerCaseCountryCode) return entry.width;
    }
    return std::nullopt;
}

PostalCodeFormatter::PostalCodeFormatter(NumberFormatter numberFormatter,
                                         std::string ISOCountryCode)
    : numberFormatter_(std::move(numberFormatter)), ISOCountryCode_(std::move(ISOCountryCode)) {}

std::optional<std::string> PostalCodeFormatter::string(double number) {
    if (auto width = postalCodeWidth(lowercasedAscii(ISOCountryCode_))) {
        numberFormatter_.setFormatWidth(*width);
        numberFormatter_.setPaddingCharacter("0");
        // After the prefix, so that the zeros stand between a sign and the digits.
        numberFormatter_.setPaddingPosition(PaddingPosition::afterPrefix);
    }
    return numberFormatter_.string(number);
}

}  // namespace pelkora
