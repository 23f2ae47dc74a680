#include "support/Base64.h"

#include <array>

namespace pelkora {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> base64Values() {
    std::array<std::int8_t, 256> values{};
    for (auto& value : values) value = -1;
    for (std::size_t i = 0; i < kBase64Alphabet.size(); ++i) {
        values[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
    }
    return values;
}

constexpr auto kBase64Values = base64Values();

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int bitCount = 0;
    std::size_t digits = 0;
    bool padding = false;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            padding = true;
            continue;
        }
        const int value = kBase64Values[static_cast<unsigned char>(c)];
        if (value < 0 || padding) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        bitCount += 6;
        ++digits;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> bitCount));
            bits &= (1u << bitCount) - 1;
        }
    }
    // One digit left over holds only 6 bits of a byte: the text was cut off.
    if (digits % 4 == 1) return std::nullopt;
    return bytes;
}

std::string encodeBase64(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) text += kBase64Alphabet[(group >> shift) & 63];
    }
    if (i + 1 == bytes.size()) {
        const std::uint32_t group = bytes[i] << 16;
        text += kBase64Alphabet[(group >> 18) & 63];
        text += kBase64Alphabet[(group >> 12) & 63];
        text += "==";
    } else if (i + 2 == bytes.size()) {
        const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8);
        text += kBase64Alphabet[(group >> 18) & 63];
        text += kBase64Alphabet[(group >> 12) & 63];
        text += kBase64Alphabet[(group >> 6) & 63];
        text += '=';
    }
    return text;
}

}  // namespace pelkora
