#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "text/NumberFormatting.h"

namespace pelkora {
namespace {

NumberFormatter padded(int width, std::string character, PaddingPosition position) {
    NumberFormatter formatter;
    formatter.setFormatWidth(width);
    formatter.setPaddingCharacter(std::move(character));
    formatter.setPaddingPosition(position);
    return formatter;
}

// Formatters with different settings, used in turn, each give their own result: the ICU
// formatters kept between calls must not mix up widths, padding characters or positions.
TEST(NumberFormattingTest, SettingsUsedInTurnKeepTheirOwnResults) {
    const NumberFormatter plain;
    const NumberFormatter zeros5 = padded(5, "0", PaddingPosition::afterPrefix);
    const NumberFormatter zeros4 = padded(4, "0", PaddingPosition::afterPrefix);
    const NumberFormatter stars5 = padded(5, "*", PaddingPosition::afterPrefix);
    const NumberFormatter zerosBefore = padded(5, "0", PaddingPosition::beforePrefix);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(plain.string(1067), "1067");
        EXPECT_EQ(zeros5.string(1067), "01067");
        EXPECT_EQ(zeros4.string(123), "0123");
        EXPECT_EQ(stars5.string(1067), "*1067");
        EXPECT_EQ(zeros5.string(-12), "-0012");
        EXPECT_EQ(zerosBefore.string(-12), "00-12");
        EXPECT_EQ(zeros5.string(123456), "123456") << "padding never cuts digits";
        EXPECT_EQ(plain.string(2.5), "2") << "half to even";
        EXPECT_EQ(plain.string(3.5), "4");
    }
    // A width without padding settings pads with blanks before the prefix.
    NumberFormatter blanks;
    blanks.setFormatWidth(6);
    EXPECT_EQ(blanks.string(42), "    42");
    EXPECT_EQ(plain.string(std::nan("")), std::nullopt);
}

TEST(NumberFormattingTest, EachThreadFormatsOnItsOwn) {
    const NumberFormatter zeros5 = padded(5, "0", PaddingPosition::afterPrefix);
    std::optional<std::string> other;
    std::thread thread([&] { other = zeros5.string(815); });
    const auto here = zeros5.string(816);
    thread.join();
    EXPECT_EQ(other, "00815");
    EXPECT_EQ(here, "00816");
}

}  // namespace
}  // namespace pelkora
