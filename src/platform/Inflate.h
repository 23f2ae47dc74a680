#pragma once

// Inflating raw deflate data (RFC 1951, no zlib or gzip wrapper), as zip entries hold it:
// all at once into a buffer of known size, or on demand as a stream; and the CRC-32 that
// zip entries are checked with.

#include <cstdint>
#include <memory>
#include <span>

#include "platform/InputStream.h"

namespace pelkora {

// Inflates the whole input into output in one step. Returns true only when the deflate data
// ends exactly within output's size; corrupt data, truncated input and data that would
// produce more than output.size() bytes all return false. output's content is then undefined.
bool inflateRawDeflate(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

// A stream of the inflated bytes of upstream's raw deflate data, read from upstream in chunks
// of 16,384 bytes as the reader asks for more. It ends when the deflate data ends; corrupt
// data ends it with illegal_byte_sequence, a failed upstream read with upstream's error.
std::unique_ptr<InputStream> makeInflatingStream(std::unique_ptr<InputStream> upstream);

// The CRC-32 (reflected polynomial 0xEDB88320, as zip and gzip use it) of crc's bytes followed
// by bytes; start with crc 0.
std::uint32_t updateCrc32(std::uint32_t crc, std::span<const std::uint8_t> bytes);

}  // namespace pelkora
