#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <utility>

#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

// Owns a file descriptor so that every early return closes it.
class FileDescriptor {
  public:
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~FileDescriptor() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return descriptor_; }
    // Closes now and reports the close's own error: on some filesystems (NFS) a failed
    // write only shows up here.
    int close() {
        int result = ::close(std::exchange(descriptor_, -1));
        return result == 0 ? 0 : errno;
    }

  private:
    int descriptor_;
};

Unexpected<FileError> failure(const std::filesystem::path& path, FileError::Access access,
                              int error, std::string reason = {}) {
    return Unexpected(FileError::make(access, path, std::error_code(error, std::generic_category()),
                                      std::move(reason)));
}

// Symbolic links are followed by hand rather than with std::filesystem::canonical, because a
// link may point to a file that does not exist yet. Dotfile managers link the settings file
// into a repository; renaming over the link would silently cut it.
std::filesystem::path followSymbolicLinks(std::filesystem::path path) {
    constexpr int maximumLinks = 40;  // the kernel's own limit for one lookup
    for (int hop = 0; hop < maximumLinks; ++hop) {
        std::error_code error;
        if (!std::filesystem::is_symlink(path, error)) return path;
        auto target = std::filesystem::read_symlink(path, error);
        if (error) return path;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

// A name no other writer uses at the same moment: the process id and a counter, and the
// exclusive create below retries if a stale file from a crashed run is in the way.
std::filesystem::path temporarySibling(const std::filesystem::path& target, int attempt) {
    static std::atomic<unsigned> counter{0};
    auto name = "." + target.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter.fetch_add(1)) + "-" + std::to_string(attempt);
    return target.parent_path() / name;
}

int writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

// Makes the rename itself durable. Some filesystems cannot sync a folder; the new content
// is already in place by then, so a failure here is not reported as a failed write.
void syncFolder(const std::filesystem::path& folder) {
    int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    ::fsync(descriptor);
    ::close(descriptor);
}

}  // namespace

FileError FileError::make(Access access, std::filesystem::path path, std::error_code code,
                          std::string reason) {
    if (reason.empty()) reason = code.message();
    std::string message = formatMessage(
        access == Access::reading ? localizedString("Could not read \u201c%1$@\u201d: %2$@")
                                  : localizedString("Could not write \u201c%1$@\u201d: %2$@"),
        path.string(), reason);
    FileError error{{access, std::move(message), std::move(path)}, std::move(reason), code};
    return error;
}

namespace {

// Whether the file at the path (not followed when `link`) may be replaced, and the mode it
// has: a regular file, or a symbolic link when the link itself is replaced. No file is
// fine too. Answers 0 or errno; `mode` stays unset for no file and for a link.
int checkReplaceable(const std::filesystem::path& target, bool link, std::optional<mode_t>& mode) {
    struct stat existing {};
    const int result =
        link ? ::lstat(target.c_str(), &existing) : ::stat(target.c_str(), &existing);
    if (result != 0) return errno == ENOENT ? 0 : errno;
    if (S_ISREG(existing.st_mode)) {
        mode = existing.st_mode & 07777;
        return 0;
    }
    if (link && S_ISLNK(existing.st_mode)) return 0;
    return S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
}

}  // namespace

Expected<AtomicFileWriter, FileError> AtomicFileWriter::open(const std::filesystem::path& path,
                                                             SymbolicLinks links) {
    constexpr auto writing = FileError::Access::writing;
    std::error_code pathError;
    auto absolute = std::filesystem::absolute(path, pathError);
    if (pathError) return failure(path, writing, pathError.value());
    const bool replaceLink = links == SymbolicLinks::replace;
    auto target = replaceLink ? std::move(absolute) : followSymbolicLinks(std::move(absolute));

    std::optional<mode_t> mode;
    if (const int error = checkReplaceable(target, replaceLink, mode)) {
        return failure(
            path, writing, error,
            error == EINVAL ? localizedString("it is not a regular file") : std::string());
    }

    std::filesystem::path temporary;
    int descriptor = -1;
    for (int attempt = 0; descriptor < 0 && attempt < 100; ++attempt) {
        temporary = temporarySibling(target, attempt);
        // 0666 lets the umask decide a new file's permissions, as any editor would.
        descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno != EEXIST) return failure(path, writing, errno);
    }
    if (descriptor < 0) return failure(path, writing, EEXIST);
    // Keeping the mode matters when the user made the file private (0600).
    if (mode) ::fchmod(descriptor, *mode);
    return AtomicFileWriter(path, std::move(target), std::move(temporary), descriptor);
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path path, std::filesystem::path target,
                                   std::filesystem::path temporary, int descriptor)
    : path_(std::move(path)),
      target_(std::move(target)),
      temporary_(std::move(temporary)),
      descriptor_(descriptor) {}

AtomicFileWriter::AtomicFileWriter(AtomicFileWriter&& other) noexcept
    : path_(std::move(other.path_)),
      target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, {})),
      descriptor_(std::exchange(other.descriptor_, -1)) {}

AtomicFileWriter::~AtomicFileWriter() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

Unexpected<FileError> AtomicFileWriter::abandon(int error) {
    if (descriptor_ >= 0) ::close(std::exchange(descriptor_, -1));
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    return failure(path_, FileError::Access::writing, error);
}

Expected<void, FileError> AtomicFileWriter::append(std::string_view bytes) {
    if (descriptor_ < 0) return failure(path_, FileError::Access::writing, EBADF);
    if (const int error = writeAll(descriptor_, bytes)) return abandon(error);
    return {};
}

Expected<void, FileError> AtomicFileWriter::commit() {
    if (descriptor_ < 0) return failure(path_, FileError::Access::writing, EBADF);
    if (::fsync(descriptor_) != 0) return abandon(errno);
    // The close's own error counts: on some filesystems (NFS) a failed write only shows there.
    if (::close(std::exchange(descriptor_, -1)) != 0) return abandon(errno);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) return abandon(errno);
    temporary_.clear();
    syncFolder(target_.parent_path());
    return {};
}

Expected<void, FileError> writeFileAtomically(const std::filesystem::path& path,
                                              std::string_view bytes) {
    constexpr auto writing = FileError::Access::writing;
    std::error_code pathError;
    auto absolute = std::filesystem::absolute(path, pathError);
    if (pathError) return failure(path, writing, pathError.value());
    const auto folder = followSymbolicLinks(std::move(absolute)).parent_path();

    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    if (folderError) {
        return failure(path, writing, folderError.value(),
                       formatMessage(localizedString("the folder \u201c%1$@\u201d could not be "
                                                     "created (%2$@)"),
                                     folder.string(), folderError.message()));
    }
    auto writer = AtomicFileWriter::open(path);
    if (!writer) return Unexpected(writer.error());
    if (auto appended = writer->append(bytes); !appended) return appended;
    return writer->commit();
}

Expected<std::string, FileError> readWholeFile(const std::filesystem::path& path) {
    constexpr auto reading = FileError::Access::reading;
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return failure(path, reading, errno);

    struct stat status {};
    if (::fstat(file.get(), &status) != 0) return failure(path, reading, errno);
    if (S_ISDIR(status.st_mode)) return failure(path, reading, EISDIR);

    std::string content;
    if (status.st_size > 0) content.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            return failure(path, reading, errno);
        }
        if (count == 0) break;
        content.append(buffer, static_cast<std::size_t>(count));
    }
    return content;
}

}  // namespace pelkora
