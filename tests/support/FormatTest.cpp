#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "support/Format.h"

namespace pelkora {
namespace {

TEST(FormatTest, ObjectConversionPrintsEachValueInItsNaturalForm) {
    EXPECT_EQ(formatMessage("%@|%@|%@", std::string("Zoë"), std::string_view("sv"), "literal"),
              "Zoë|sv|literal");
    EXPECT_EQ(formatMessage("%@ %@", std::numeric_limits<std::int64_t>::min(),
                            std::numeric_limits<std::uint64_t>::max()),
              "-9223372036854775808 18446744073709551615");
    EXPECT_EQ(formatMessage("%@ %@ %@ %@", 1.5, 3.0, 0.1, 1e20), "1.5 3 0.1 1e+20");
    EXPECT_EQ(formatMessage("%@/%@", true, false), "true/false");
    EXPECT_EQ(formatMessage("%@", std::filesystem::path("/tmp/a b.csv")), "/tmp/a b.csv");
    EXPECT_EQ(formatMessage("%@", static_cast<const char*>(nullptr)), "(null)");
}

TEST(FormatTest, IntegerConversionsHonourBaseAndLengthModifier) {
    EXPECT_EQ(formatMessage("%d %i %ld %lld", -1, 2, -3L, 4LL), "-1 2 -3 4");
    EXPECT_EQ(formatMessage("%u %lu %llu %zu", 1u, 2UL, 3ULL, std::size_t{4}), "1 2 3 4");
    EXPECT_EQ(formatMessage("%x %X %lx %o", 255, 255, 0xABCDEF0123ULL, 8), "ff FF abcdef0123 10");
    EXPECT_EQ(formatMessage("%x %lx %hhx", -1, -1L, -1), "ffffffff ffffffffffffffff ff");
    EXPECT_EQ(formatMessage("%lx", std::numeric_limits<std::int64_t>::min()), "8000000000000000");
    EXPECT_EQ(formatMessage("%c%c", 'A', 0x1F539), "A\U0001F539");
}

TEST(FormatTest, FloatingPointConversionsUsePrecision) {
    EXPECT_EQ(formatMessage("%f", 2.5), "2.500000");
    EXPECT_EQ(formatMessage("%.2f %.0f %.3f", 3.14159, 2.5, -0.0005), "3.14 2 -0.001");
    EXPECT_EQ(formatMessage("%e %g %G", 12345.678, 0.0001, 1e-10), "1.234568e+04 0.0001 1E-10");
    EXPECT_EQ(formatMessage("%a", 1.0), "0x1p+0");
}

TEST(FormatTest, FlagsAndWidthPadLikePrintf) {
    EXPECT_EQ(formatMessage("[%5d][%-5d][%05d][%05d]", 42, 42, 42, -42),
              "[   42][42   ][00042][-0042]");
    EXPECT_EQ(formatMessage("[%+d][% d][%#x][%#o][%.4d]", 7, 7, 42, 8, 7),
              "[+7][ 7][0x2a][010][0007]");
    EXPECT_EQ(formatMessage("[%-10@][%8.3f][%08.2f]", "abc", 3.14159, -1.5),
              "[abc       ][   3.142][-0001.50]");
    EXPECT_EQ(formatMessage("[%5@][%.2s]", "Zoë", "Zoë"), "[  Zoë][Zo]");
    EXPECT_EQ(formatMessage("[%.3@]", "a\U0001F538bc"), "[a\U0001F538b]");
}

TEST(FormatTest, PercentSignsAndQualifiers) {
    EXPECT_EQ(formatMessage("100%% of %d", 3), "100% of 3");
    EXPECT_EQ(formatMessage("%{public}@ %{private}lu %{public}d", "file.csv", 12UL, -1),
              "file.csv 12 -1");
}

TEST(FormatTest, PositionalArgumentsPickTheirValue) {
    EXPECT_EQ(formatMessage("%2$@ before %1$@", "a", "b"), "b before a");
    EXPECT_EQ(formatMessage("%1$lu/%1$lu of %2$@", 5UL, "x"), "5/5 of x");
    EXPECT_EQ(formatMessage("%3$@ %0$@", "a"), "(null) (null)");
}

TEST(FormatTest, MissingArgumentsPrintNullAndExtraOnesAreIgnored) {
    EXPECT_EQ(formatMessage("%@ and %@ and %lu", "x"), "x and (null) and (null)");
    EXPECT_EQ(formatMessage("no placeholders", 1, "two"), "no placeholders");
}

TEST(FormatTest, MismatchedTypesPrintWhatIsThere) {
    EXPECT_EQ(formatMessage("%d %lu %x", "text", "more", "hex"), "text more hex");
    EXPECT_EQ(formatMessage("%@ %s", 42, 2.5), "42 2.5");
    EXPECT_EQ(formatMessage("%d %f %d", 2.5, 5, true), "2.5 5.000000 1");
    EXPECT_EQ(formatMessage("%u", -5), "-5");
}

TEST(FormatTest, MalformedPlaceholdersAreCopiedWithoutConsumingArguments) {
    EXPECT_EQ(formatMessage("%k %5k %n %@", "x"), "%k %5k %n x");
    EXPECT_EQ(formatMessage("50%"), "50%");
    EXPECT_EQ(formatMessage("%5"), "%5");
    EXPECT_EQ(formatMessage("%l"), "%l");
    EXPECT_EQ(formatMessage("%{public"), "%{public");
}

TEST(FormatTest, HugeWidthAndPrecisionAreBounded) {
    const std::string wide = formatMessage("%99999999999999999999d", 42);
    EXPECT_LT(wide.size(), 10000u);
    EXPECT_EQ(wide.substr(wide.size() - 3), " 42");
    EXPECT_LT(formatMessage("%.99999999999f", 1e308).size(), 10000u);
}

}  // namespace
}  // namespace pelkora
