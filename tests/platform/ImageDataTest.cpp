#include <gtest/gtest.h>
#include <stb_image.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ImageData.h"

namespace pelkora {
namespace {

std::vector<std::uint8_t> readImage(const char* name) {
    std::ifstream in(std::filesystem::path(PELKORA_TEST_DATA_DIR) / "images" / name,
                     std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
    std::array<int, 4> at(int x, int y) const {
        const auto* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
};

Decoded decode(const std::vector<std::uint8_t>& bytes) {
    Decoded decoded;
    int channels = 0;
    unsigned char* pixels = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                                  &decoded.width, &decoded.height, &channels, 4);
    if (pixels) {
        decoded.rgba.assign(pixels,
                            pixels + static_cast<std::size_t>(decoded.width) * decoded.height * 4);
        stbi_image_free(pixels);
    }
    return decoded;
}

TEST(ImageData, SquaresWidePictureOnTransparentCanvasKeepingEveryPixel) {
    for (const char* name : {"wide-3x2.png", "wide-3x2.gif"}) {
        SCOPED_TRACE(name);
        const auto png = squaredPngRepresentation(readImage(name));
        ASSERT_TRUE(png);
        const Decoded square = decode(*png);
        ASSERT_EQ(square.width, 3);
        ASSERT_EQ(square.height, 3);
        // One row of canvas is left over; the picture sits in the upper rows (offset 0 of 1)
        // and the bottom row stays transparent.
        EXPECT_EQ(square.at(0, 0), (std::array<int, 4>{255, 0, 0, 255}));
        EXPECT_EQ(square.at(2, 0), (std::array<int, 4>{0, 0, 255, 255}));
        EXPECT_EQ(square.at(2, 1), (std::array<int, 4>{0, 0, 0, 255}));
        for (int x = 0; x < 3; ++x) EXPECT_EQ(square.at(x, 2)[3], 0);
    }
    // The PNG keeps partial transparency exactly.
    EXPECT_EQ(decode(*squaredPngRepresentation(readImage("wide-3x2.png"))).at(1, 1),
              (std::array<int, 4>{255, 255, 255, 128}));
}

TEST(ImageData, SquaresTallJpegCentredHorizontally) {
    const auto png = squaredPngRepresentation(readImage("tall-4x9.jpg"));
    ASSERT_TRUE(png);
    const Decoded square = decode(*png);
    ASSERT_EQ(square.width, 9);
    ASSERT_EQ(square.height, 9);
    // (9 − 4) / 2 = 2 transparent columns on the left, 3 on the right.
    EXPECT_EQ(square.at(1, 4)[3], 0);
    EXPECT_EQ(square.at(2, 4)[3], 255);
    EXPECT_EQ(square.at(5, 4)[3], 255);
    EXPECT_EQ(square.at(6, 4)[3], 0);
    EXPECT_NEAR(square.at(3, 4)[0], 200, 6);
}

TEST(ImageData, JpegLaysTransparencyOverWhite) {
    const auto jpeg = jpegRepresentation(readImage("transparent-2x2.png"), 0.9);
    ASSERT_TRUE(jpeg);
    EXPECT_TRUE(isJpegData(*jpeg));
    const Decoded decoded = decode(*jpeg);
    ASSERT_EQ(decoded.width, 2);
    EXPECT_GE(decoded.at(0, 0)[0], 250);
    EXPECT_FALSE(isJpegData(readImage("wide-3x2.png")));
    EXPECT_TRUE(isJpegData(readImage("tall-4x9.jpg")));
}

TEST(ImageData, RefusesWhatIsNotAPictureOrTooLarge) {
    const std::vector<std::uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_FALSE(imageSize(text));
    EXPECT_FALSE(squaredPngRepresentation(text));
    EXPECT_FALSE(jpegRepresentation(text, 0.9));
    EXPECT_FALSE(squaredPngRepresentation({}));
    // The header survives, the pixel data does not.
    EXPECT_TRUE(imageSize(readImage("truncated.png")));
    EXPECT_FALSE(squaredPngRepresentation(readImage("truncated.png")));

    // A PNG header declaring 100,000 × 100,000 pixels is refused before any decoding.
    std::vector<std::uint8_t> huge = readImage("wide-3x2.png");
    const std::uint32_t side = 100000;
    for (int i = 0; i < 4; ++i) {
        huge[16 + i] = static_cast<std::uint8_t>(side >> (24 - 8 * i));
        huge[20 + i] = static_cast<std::uint8_t>(side >> (24 - 8 * i));
    }
    EXPECT_FALSE(imageSize(huge));
    EXPECT_FALSE(squaredPngRepresentation(huge));
    // Its declared size is still known, so a caller can say why it is refused.
    const auto declared = declaredImageSize(huge);
    ASSERT_TRUE(declared);
    EXPECT_EQ(declared->width, 100000);
    EXPECT_EQ(declared->height, 100000);
}

TEST(ImageData, MaximumSideScalesLargerPicturesDownOnly) {
    struct Case {
        const char* name;
        int maximumSide;
        int expectedSide;
    };
    for (const auto& [name, maximumSide, expectedSide] :
         {Case{"tall-4x9.jpg", 3, 3}, Case{"tall-4x9.jpg", 9, 9}, Case{"tall-4x9.jpg", 100, 9},
          Case{"wide-3x2.png", 1, 1}, Case{"wide-3x2.png", 2, 2}}) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(maximumSide));
        const auto png = squaredPngRepresentation(readImage(name), maximumSide);
        ASSERT_TRUE(png);
        const Decoded square = decode(*png);
        EXPECT_EQ(square.width, expectedSide);
        EXPECT_EQ(square.height, expectedSide);
    }
    // Not larger: the same pixels as without a maximum.
    EXPECT_EQ(squaredPngRepresentation(readImage("wide-3x2.png"), 3),
              squaredPngRepresentation(readImage("wide-3x2.png")));
    // One pixel for all six: the opacities averaged, the colours weighted by them, so the
    // half-transparent white counts half (red 255·(255 + 255 + 128) / 1403 = 116).
    const auto one = squaredPngRepresentation(readImage("wide-3x2.png"), 1);
    ASSERT_TRUE(one);
    EXPECT_EQ(decode(*one).at(0, 0), (std::array<int, 4>{116, 116, 70, 234}));
}

}  // namespace
}  // namespace pelkora
