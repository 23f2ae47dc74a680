#pragma once

// Text made safe for where it goes: markup (XML and HTML character data and attribute values)
// and names or fields that must not hold certain bytes (percent-encoding), and a short
// fingerprint of a text for file names.

#include <cstdint>
#include <string>
#include <string_view>

namespace pelkora {

// "&", "<", ">", '"' and "'" as entities.
std::string markupEscaped(std::string_view text);

// "%XX" for "%", the control characters (C0 and DEL), the bytes in `special` and, with
// `leadingDot`, a "." that starts the text; every other byte as it is.
std::string percentEncoded(std::string_view text, std::string_view special = {},
                           bool leadingDot = false);
// Every "%XX" as its byte; a "%" without two hexadecimal digits after it stays.
std::string percentDecoded(std::string_view text);

// The 64-bit FNV-1a hash of the text, and a number as 16 hexadecimal digits (lowest first).
std::uint64_t fnv1a(std::string_view text);
std::string hexDigits(std::uint64_t value);

}  // namespace pelkora
