#include "platform/ImageData.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace pelkora {

namespace {

struct StbFree {
    void operator()(unsigned char* pixels) const { stbi_image_free(pixels); }
};

// Decoded RGBA pixels, rows top to bottom.
struct Pixels {
    std::unique_ptr<unsigned char, StbFree> data;
    int width = 0;
    int height = 0;
};

bool fitsStb(std::span<const std::uint8_t> bytes) {
    return !bytes.empty() &&
           bytes.size() <= static_cast<std::size_t>(std::numeric_limits<int>::max());
}

std::optional<Pixels> decodeRgba(std::span<const std::uint8_t> bytes) {
    if (!imageSize(bytes)) return std::nullopt;
    Pixels pixels;
    int channels = 0;
    pixels.data.reset(stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()),
                                            &pixels.width, &pixels.height, &channels, 4));
    if (!pixels.data || pixels.width <= 0 || pixels.height <= 0) return std::nullopt;
    return pixels;
}

// The pixels scaled down so that the longer side is at most maximumSide; each new pixel is
// the average of the source pixels it covers, its colour weighted by their opacity.
Pixels scaledDown(Pixels source, int maximumSide) {
    const int longer = std::max(source.width, source.height);
    if (maximumSide <= 0 || longer <= maximumSide) return source;
    const auto scaledSide = [&](int side) {
        return std::max(1,
                        static_cast<int>(static_cast<std::int64_t>(side) * maximumSide / longer));
    };
    const int width = scaledSide(source.width);
    const int height = scaledSide(source.height);
    auto* out = static_cast<unsigned char*>(
        std::malloc(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4));
    Pixels scaled;
    // stbi_image_free is free(), as no allocator of stb's is configured.
    scaled.data.reset(out);
    if (!out) return scaled;
    scaled.width = width;
    scaled.height = height;
    const unsigned char* in = source.data.get();
    for (int y = 0; y < height; ++y) {
        const int top = static_cast<int>(static_cast<std::int64_t>(y) * source.height / height);
        const int bottom = std::max(
            top + 1, static_cast<int>(static_cast<std::int64_t>(y + 1) * source.height / height));
        for (int x = 0; x < width; ++x) {
            const int left = static_cast<int>(static_cast<std::int64_t>(x) * source.width / width);
            const int right = std::max(left + 1, static_cast<int>(static_cast<std::int64_t>(x + 1) *
                                                                  source.width / width));
            std::uint64_t colour[3] = {0, 0, 0};
            std::uint64_t alpha = 0;
            for (int sy = top; sy < bottom; ++sy) {
                const unsigned char* pixel =
                    in + (static_cast<std::size_t>(sy) * source.width + left) * 4;
                for (int sx = left; sx < right; ++sx, pixel += 4) {
                    for (int c = 0; c < 3; ++c) colour[c] += std::uint64_t{pixel[c]} * pixel[3];
                    alpha += pixel[3];
                }
            }
            const std::uint64_t count = static_cast<std::uint64_t>(bottom - top) * (right - left);
            unsigned char* target = out + (static_cast<std::size_t>(y) * width + x) * 4;
            for (int c = 0; c < 3; ++c)
                target[c] =
                    alpha == 0 ? 0 : static_cast<unsigned char>((colour[c] + alpha / 2) / alpha);
            target[3] = static_cast<unsigned char>((alpha + count / 2) / count);
        }
    }
    return scaled;
}

void appendToVector(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::optional<ImageSize> declaredImageSize(std::span<const std::uint8_t> bytes) {
    if (!fitsStb(bytes)) return std::nullopt;
    ImageSize size;
    int channels = 0;
    if (!stbi_info_from_memory(bytes.data(), static_cast<int>(bytes.size()), &size.width,
                               &size.height, &channels)) {
        // stb refuses the header of a PNG whose pixels would take more than a gigabyte; its
        // size is still what the header (IHDR, right after the signature) declares.
        static constexpr std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (bytes.size() < 24 ||
            !std::equal(std::begin(signature), std::end(signature), bytes.begin()))
            return std::nullopt;
        const auto bigEndian = [&](std::size_t offset) {
            return std::uint32_t{bytes[offset]} << 24 | std::uint32_t{bytes[offset + 1]} << 16 |
                   std::uint32_t{bytes[offset + 2]} << 8 | std::uint32_t{bytes[offset + 3]};
        };
        const auto width = bigEndian(16);
        const auto height = bigEndian(20);
        if (width > static_cast<std::uint32_t>(std::numeric_limits<int>::max()) ||
            height > static_cast<std::uint32_t>(std::numeric_limits<int>::max()))
            return std::nullopt;
        size.width = static_cast<int>(width);
        size.height = static_cast<int>(height);
    }
    if (size.width <= 0 || size.height <= 0) return std::nullopt;
    return size;
}

std::optional<ImageSize> imageSize(std::span<const std::uint8_t> bytes) {
    const auto size = declaredImageSize(bytes);
    if (!size) return std::nullopt;
    if (static_cast<std::uint64_t>(size->width) * static_cast<std::uint64_t>(size->height) >
        maximumImagePixels)
        return std::nullopt;
    return size;
}

bool isJpegData(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

std::optional<std::vector<std::uint8_t>> squaredPngRepresentation(
    std::span<const std::uint8_t> bytes, int maximumSide) {
    auto decoded = decodeRgba(bytes);
    if (!decoded) return std::nullopt;
    auto pixels = std::optional<Pixels>(scaledDown(std::move(*decoded), maximumSide));
    if (!pixels->data) return std::nullopt;
    const int side = std::max(pixels->width, pixels->height);
    const int left = (side - pixels->width) / 2;
    const int top = (side - pixels->height) / 2;
    // Zero bytes are transparent black, the canvas around the picture.
    std::vector<unsigned char> canvas(static_cast<std::size_t>(side) * side * 4, 0);
    const std::size_t rowBytes = static_cast<std::size_t>(pixels->width) * 4;
    for (int y = 0; y < pixels->height; ++y) {
        std::memcpy(canvas.data() + (static_cast<std::size_t>(top + y) * side + left) * 4,
                    pixels->data.get() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    }
    std::vector<std::uint8_t> png;
    if (!stbi_write_png_to_func(appendToVector, &png, side, side, 4, canvas.data(), side * 4) ||
        png.empty())
        return std::nullopt;
    return png;
}

std::optional<std::vector<std::uint8_t>> jpegRepresentation(std::span<const std::uint8_t> bytes,
                                                            double compressionFactor) {
    auto pixels = decodeRgba(bytes);
    if (!pixels) return std::nullopt;
    const std::size_t count = static_cast<std::size_t>(pixels->width) * pixels->height;
    std::vector<unsigned char> rgb(count * 3);
    const unsigned char* rgba = pixels->data.get();
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned alpha = rgba[i * 4 + 3];
        for (int c = 0; c < 3; ++c) {
            // Lay the pixel over white: c·a + 255·(1 − a), rounded.
            rgb[i * 3 + c] = static_cast<unsigned char>(
                (rgba[i * 4 + c] * alpha + 255 * (255 - alpha) + 127) / 255);
        }
    }
    const int quality =
        std::clamp(static_cast<int>(std::lround(compressionFactor * 100.0)), 1, 100);
    std::vector<std::uint8_t> jpeg;
    if (!stbi_write_jpg_to_func(appendToVector, &jpeg, pixels->width, pixels->height, 3, rgb.data(),
                                quality) ||
        jpeg.empty())
        return std::nullopt;
    return jpeg;
}

}  // namespace pelkora
