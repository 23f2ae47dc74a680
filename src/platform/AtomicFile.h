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

// A file written piece by piece and put in place only once it is complete. The pieces go to
// a temporary file in the target's folder; commit() flushes it to disk and renames it over
// the target. Until then the target is untouched, and a writer destroyed without a
// successful commit removes its temporary file, so a full disk or a cancelled export never
// leaves a cut file behind. Only a regular file (or no file) can be replaced: a folder, a
// device or a pipe at the path is an error.
class AtomicFileWriter {
  public:
    // What happens to a symbolic link at the path: `follow` replaces the file it points to
    // and keeps the link; `replace` puts the new file in the link's place and leaves the
    // file it pointed to as it was.
    enum class SymbolicLinks { follow, replace };

    // Creates the temporary file. The target's folder must exist.
    static Expected<AtomicFileWriter, FileError> open(const std::filesystem::path& path,
                                                      SymbolicLinks links = SymbolicLinks::follow);

    AtomicFileWriter(AtomicFileWriter&& other) noexcept;
    AtomicFileWriter& operator=(AtomicFileWriter&&) = delete;
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
    ~AtomicFileWriter();

    // Adds the bytes to the temporary file; after a failure the writer only cleans up.
    Expected<void, FileError> append(std::string_view bytes);
    // Flushes the temporary file to disk and renames it over the target; a new file gets the
    // permissions the umask allows, a replaced file keeps its permissions.
    Expected<void, FileError> commit();

  private:
    AtomicFileWriter(std::filesystem::path path, std::filesystem::path target,
                     std::filesystem::path temporary, int descriptor);
    Unexpected<FileError> abandon(int error);

    std::filesystem::path path_;       // as the caller gave it, for error messages
    std::filesystem::path target_;     // the file that is replaced
    std::filesystem::path temporary_;  // empty once renamed or removed
    int descriptor_ = -1;
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
