#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/Inflate.h"

namespace pelkora {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Crc32, GivesTheCheckValuesAndContinuesOverPieces) {
    struct Case {
        std::string_view text;
        std::uint32_t crc;
    };
    // The standard check value, and the CRC Python's zlib gives a CSV line.
    const Case cases[] = {
        {"", 0},
        {"123456789", 0xCBF43926},
        {"Ann,ann@example.org\n", 0x7887500C},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        const std::uint32_t whole = updateCrc32(0, bytesOf(test.text));
        EXPECT_EQ(whole, test.crc);
        for (std::size_t split = 0; split <= test.text.size(); ++split) {
            const std::uint32_t first = updateCrc32(0, bytesOf(test.text.substr(0, split)));
            EXPECT_EQ(updateCrc32(first, bytesOf(test.text.substr(split))), whole);
        }
    }
}

}  // namespace
}  // namespace pelkora
