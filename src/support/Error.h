#pragma once

// The one shape of an expected failure, whatever module reports it: the module's own
// enumeration of causes, the text the user reads, and where in the input the failure is,
// when that is known. A module either names the shape for its enumeration
//   using VCardError = Error<VCardErrorKind>;
// or derives from it to add what only it knows (the system error behind a file failure,
// the entry of a zip archive), keeping these fields first so that every error reads alike.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace pelkora {

template <typename KindType>
struct Error {
    using Kind = KindType;

    // Which of the module's causes this is. Every field has a default, so an error names only
    // what it knows: Error<Kind>{Kind::x, "message"}.
    Kind kind{};
    // The text for the user, complete as it stands: it names the file, the place and what to
    // do when the module knows them. Logs and alerts show it unchanged.
    std::string message = {};
    // The file the failure is about; empty when the input is not a file of its own (bytes in
    // memory, the address book's store).
    std::filesystem::path file = {};
    // The line of the input the failure is on, counted from 1, when it is about one.
    std::optional<std::uint64_t> line = {};
    // The offset of the byte, counted from 0, where the input stopped being usable.
    std::optional<std::uint64_t> byteOffset = {};

    bool operator==(const Error&) const = default;
};

// The text of the exception being handled: its what(), or "an exception of unknown type"
// for one that is not a std::exception. Call only inside a catch block.
std::string currentExceptionText();

}  // namespace pelkora
