#include <gtest/gtest.h>

#include <limits>

#include "mapping/PostalCodeFormatter.h"

namespace pelkora {
namespace {

std::optional<std::string> postalCode(double number, std::string countryCode) {
    PostalCodeFormatter formatter(NumberFormatter{}, std::move(countryCode));
    return formatter.string(number);
}

TEST(PostalCodeFormatter, PadsToTheCountrysWidthWithLeadingZeros) {
    EXPECT_EQ(postalCode(1234, "de"), "01234");
    EXPECT_EQ(postalCode(1234, "at"), "1234");
    EXPECT_EQ(postalCode(1234, "cn"), "001234");
    EXPECT_EQ(postalCode(501, "us"), "00501");
    EXPECT_EQ(postalCode(7, "ch"), "0007");
}

TEST(PostalCodeFormatter, PaddingNeverCutsDigits) {
    EXPECT_EQ(postalCode(12345, "ch"), "12345");
    EXPECT_EQ(postalCode(1234567, "ru"), "1234567");
}

TEST(PostalCodeFormatter, CountryCodeIsReadInAnyCase) {
    EXPECT_EQ(postalCode(1234, "DE"), "01234");
    EXPECT_EQ(postalCode(1234, "Cn"), "001234");
}

TEST(PostalCodeFormatter, CountryOutsideTheTableGivesPlainDigits) {
    EXPECT_EQ(postalCode(1234, "gb"), "1234");
    EXPECT_EQ(postalCode(1234, ""), "1234");
    EXPECT_EQ(postalCode(1234567, "gb"), "1234567");
}

TEST(PostalCodeFormatter, DigitsOnlyWithoutGroupingOrFraction) {
    EXPECT_EQ(postalCode(1234567, "de"), "1234567");
    EXPECT_EQ(postalCode(1234.4, "de"), "01234");
    EXPECT_EQ(postalCode(1234.6, "de"), "01235");
}

TEST(PostalCodeFormatter, ZerosStandBetweenSignAndDigits) {
    EXPECT_EQ(postalCode(-12, "de"), "-0012");
}

TEST(PostalCodeFormatter, NumberThatIsNotFiniteGivesNoText) {
    EXPECT_EQ(postalCode(std::numeric_limits<double>::quiet_NaN(), "de"), std::nullopt);
    EXPECT_EQ(postalCode(std::numeric_limits<double>::infinity(), "gb"), std::nullopt);
}

TEST(PostalCodeFormatter, EveryTableEntryHasItsWidth) {
    for (std::string_view code :
         {"au", "at", "be", "bg", "dk", "hu", "li", "lu", "nz", "no", "py", "ph", "za", "ch"}) {
        EXPECT_EQ(postalCodeWidth(code), 4) << code;
    }
    for (std::string_view code : {"de", "hr", "eg", "fi", "fr", "id", "it", "kr", "my", "mx", "pk",
                                  "es", "th", "tr", "ua", "us", "va"}) {
        EXPECT_EQ(postalCodeWidth(code), 5) << code;
    }
    for (std::string_view code : {"by", "cn", "co", "ec", "in", "ro", "ru", "sg", "vn"}) {
        EXPECT_EQ(postalCodeWidth(code), 6) << code;
    }
    EXPECT_EQ(postalCodeWidth("gb"), std::nullopt);
    EXPECT_EQ(postalCodeWidth("DE"), std::nullopt);
}

TEST(PostalCodeFormatter, OtherCountryLeavesTheFormatterAsItIs) {
    NumberFormatter padded;
    padded.setFormatWidth(3);
    padded.setPaddingCharacter("*");
    PostalCodeFormatter formatter(padded, "gb");
    EXPECT_EQ(formatter.string(7), "**7");
}

}  // namespace
}  // namespace pelkora
