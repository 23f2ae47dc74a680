#pragma once

// Contact pictures: reading the image formats a spreadsheet or vCard brings (PNG, JPEG, GIF,
// BMP) and writing the two the address book and vCards use (PNG, JPEG). Built on stb.
//
// The bytes are untrusted: a picture is decoded only when its header declares at most
// maximumImagePixels pixels, so a small file cannot make the decoder allocate gigabytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pelkora {

// The largest picture decoded, in pixels (8192 × 8192).
inline constexpr std::uint64_t maximumImagePixels = std::uint64_t{8192} * 8192;

// The width and height a picture declares, when the bytes are an image format we read and
// the size is within maximumImagePixels.
struct ImageSize {
    int width = 0;
    int height = 0;
};
std::optional<ImageSize> imageSize(std::span<const std::uint8_t> bytes);

// Whether the bytes start like a JPEG file (FF D8 FF).
bool isJpegData(std::span<const std::uint8_t> bytes);

// The picture centred on a transparent square whose side is the larger of its width and
// height, as PNG. None when the bytes cannot be decoded or encoding fails.
std::optional<std::vector<std::uint8_t>> squaredPngRepresentation(
    std::span<const std::uint8_t> bytes);

// The picture as JPEG with the compression factor (0 smallest … 1 best quality).
// Transparent parts are laid over white, as JPEG has no transparency. None when the bytes
// cannot be decoded or encoding fails.
std::optional<std::vector<std::uint8_t>> jpegRepresentation(std::span<const std::uint8_t> bytes,
                                                            double compressionFactor);

}  // namespace pelkora
