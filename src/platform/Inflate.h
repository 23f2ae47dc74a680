#pragma once

// Inflating raw deflate data (RFC 1951, no zlib or gzip wrapper), as zip entries hold it:
// all at once into a buffer of known size, or on demand as a stream.

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

}  // namespace pelkora
