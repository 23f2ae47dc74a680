#pragma once

// Small UTF-8 facts the modules share: counting characters, cutting text without splitting
// a sequence, and telling well-formed sequences from damaged ones.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pelkora::utf8 {

// The number of code points: every code point has exactly one byte that is not a
// continuation byte.
constexpr std::size_t codePointCount(std::string_view text) {
    std::size_t count = 0;
    for (const char byte : text) {
        if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) ++count;
    }
    return count;
}

// The text up to its first `count` code points, never cut inside a UTF-8 sequence.
constexpr std::string_view firstCodePoints(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        if ((static_cast<unsigned char>(text[index]) & 0xC0) != 0x80) {
            if (seen == count) return text.substr(0, index);
            ++seen;
        }
    }
    return text;
}

// The length of the well-formed UTF-8 sequence that starts the text (1 for ASCII), or 0.
// Overlong forms, surrogates and code points above U+10FFFF are not well-formed.
constexpr std::size_t wellFormedSequenceLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t index = 1; index < length; ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        if ((byte & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

// The first code point of the text, or none when it is empty or does not start with a
// well-formed sequence.
constexpr std::optional<char32_t> firstCodePoint(std::string_view text) {
    const std::size_t length = wellFormedSequenceLength(text);
    if (length == 0) return std::nullopt;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (length == 1) return lead;
    char32_t codePoint = lead & (0x7F >> (length + 1));
    for (std::size_t index = 1; index < length; ++index) {
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[index]) & 0x3F);
    }
    return codePoint;
}

// How a sequence starts: `length` is the lead byte and the continuation bytes it allows
// that follow it (at least one byte; for a damaged sequence, the bytes one replacement
// character stands for), `expected` the length a whole character with that lead byte has
// (1 for ASCII and for a byte that starts no character).
struct SequenceStart {
    std::size_t length = 0;
    std::size_t expected = 0;
};
constexpr SequenceStart sequenceStart(std::string_view text) {
    if (text.empty()) return {};
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t expected = lead >= 0xC2 && lead <= 0xDF   ? 2
                                 : lead >= 0xE0 && lead <= 0xEF ? 3
                                 : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                : 1;
    std::size_t length = 1;
    while (length < expected && length < text.size()) {
        const auto next = static_cast<unsigned char>(text[length]);
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (length == 1) {
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        if (next < low || next > high) break;
        ++length;
    }
    return {length, expected};
}

// Appends the code point's UTF-8 sequence (the caller passes a scalar value: no surrogate,
// nothing above U+10FFFF).
inline void appendCodePoint(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace pelkora::utf8
