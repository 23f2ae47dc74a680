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

// The largest picture decoded, in pixels (8192 × 8192): decoded as RGBA it takes 256 MiB,
// and no contact photo comes near it (a 48-megapixel phone photo is 8000 × 6000).
inline constexpr std::uint64_t maximumImagePixels = std::uint64_t{8192} * 8192;
// The largest picture file read, in bytes (32 MiB): a phone camera's JPEG is 3 to 12 MB and
// a lossless PNG of a 12-megapixel photo about 25 MB; a picture file larger than that is no
// contact photo, and a workbook could anchor it over thousands of cells.
inline constexpr std::uint64_t maximumImageBytes = std::uint64_t{32} << 20;
// The longer side of a contact photo, in pixels: what the address book shows is far smaller,
// and at 1024 × 1024 a PNG stays within a few megabytes per contact.
inline constexpr int contactPhotoSide = 1024;

// The width and height a picture declares, when the bytes are an image format we read and
// the size is within maximumImagePixels.
struct ImageSize {
    int width = 0;
    int height = 0;
};
std::optional<ImageSize> imageSize(std::span<const std::uint8_t> bytes);
// The width and height the picture's header declares, whatever their size: only the header
// is read, so the caller can refuse a picture too large to decode without decoding it.
std::optional<ImageSize> declaredImageSize(std::span<const std::uint8_t> bytes);

// Whether the bytes start like a JPEG file (FF D8 FF).
bool isJpegData(std::span<const std::uint8_t> bytes);

// The picture centred on a transparent square whose side is the larger of its width and
// height, as PNG. A maximum side above 0 first scales a larger picture down (averaging the
// pixels each new pixel covers) so that its longer side is that long. None when the bytes
// cannot be decoded or encoding fails.
std::optional<std::vector<std::uint8_t>> squaredPngRepresentation(
    std::span<const std::uint8_t> bytes, int maximumSide = 0);

// The picture as JPEG with the compression factor (0 smallest … 1 best quality).
// Transparent parts are laid over white, as JPEG has no transparency. None when the bytes
// cannot be decoded or encoding fails.
std::optional<std::vector<std::uint8_t>> jpegRepresentation(std::span<const std::uint8_t> bytes,
                                                            double compressionFactor);

}  // namespace pelkora
