#pragma once

// The errors of the zip reader: what went wrong, the number other tools and logs know it by,
// and a message naming the archive and the problem.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "support/Error.h"

namespace pelkora {

// The reverse-domain name under which the numbered codes are reported.
inline constexpr std::string_view zipErrorDomain = "org.pelkora.zip";

// Why an archive or an entry could not be read.
enum class ZipErrorKind {
    readFailed,                    // code 0: the archive's bytes could not be read
    endOfCentralDirectoryInvalid,  // code 1: the end record is missing or inconsistent
    centralFileHeaderInvalid,      // code 2: a central directory entry is unusable
    localFileHeaderInvalid,        // code 3: the local header disagrees or runs out of bounds
    unsupportedCompressionMethod,  // code 9: neither stored nor deflate
    unsupportedEncryption,         // code 10: strong or unrecognised encryption
    wrongPassword,                 // code 12: the password check value does not match
    contentUnreadable,  // no code: the data does not inflate cleanly or is too large to hold
    entryNotFound,      // no code: no entry has the name asked for
};

// One failure, with everything the caller needs to report or handle it. The message is
// ready for the user: "Could not read the zip archive “/x/book.xlsx”: …".
struct ZipError : Error<ZipErrorKind> {
    // The zero-based position of the unusable central directory entry (code 2 only).
    std::optional<std::size_t> entryIndex;
    // The system's or the stream's error behind the failure, if any.
    std::error_code underlyingError;

    // The number in zipErrorDomain, none for the kinds that are reported without a number
    // (a deflate entry that does not inflate cleanly yields no content and no numbered error).
    std::optional<int> code() const;

    bool operator==(const ZipError&) const = default;
};

}  // namespace pelkora
