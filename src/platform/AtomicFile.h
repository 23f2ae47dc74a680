#pragma once

// Reading and replacing the files the user owns (settings, saved mappings). A replacement
// either happens completely or not at all: a crash, a full disk or a power cut leaves the
// previous file as it was.

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "support/Error.h"
#include "support/Expected.h"

namespace pelkora {

// Whether a file failed while it was being read or while it was being written.
enum class FileAccess { reading, writing };

// Why reading or writing a file failed, in words the user can act on. The kind is the access
// that failed; the message is the whole sentence, "Could not write “/x/settings.plist”: No
// space left on device", and the file is the path as the caller gave it.
struct FileError : Error<FileAccess> {
    using Access = FileAccess;

    // The cause alone, e.g. "No space left on device", for texts that word the rest
    // themselves.
    std::string reason;
    // The system's error, for callers that treat a missing file differently.
    std::error_code code;

    // The error for the file: the reason given, or else the system's wording of the code.
    static FileError make(Access access, std::filesystem::path path, std::error_code code,
                          std::string reason = {});

    bool operator==(const FileError&) const = default;
};

// Replaces the file with the bytes, creating missing parent folders. The bytes go to a
// temporary file in the same folder, which is flushed to disk and renamed over the target;
// on failure the old file is untouched and no temporary file is left behind. A symbolic
// link is followed, so the file it points to is replaced and the link stays. A new file
// gets the permissions the umask allows; a replaced file keeps its permissions.
Expected<void, FileError> writeFileAtomically(const std::filesystem::path& path,
                                              std::string_view bytes);

// The whole content of the file.
Expected<std::string, FileError> readWholeFile(const std::filesystem::path& path);

}  // namespace pelkora
