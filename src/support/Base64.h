#pragma once

// Base64 (RFC 4648's standard alphabet), both ways.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora {

// The bytes of Base64 text, white space ignored and padding optional; none when the text holds
// any other character or stops in the middle of a byte.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text);
// Base64 with padding, on one line.
std::string encodeBase64(std::span<const std::uint8_t> bytes);

}  // namespace pelkora
