#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

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
    const char* verb = access == Access::reading ? "read" : "write";
    std::string message =
        "Could not " + std::string(verb) + " \u201c" + path.string() + "\u201d: " + reason;
    FileError error{{access, std::move(message), std::move(path)}, std::move(reason), code};
    return error;
}

Expected<void, FileError> writeFileAtomically(const std::filesystem::path& path,
                                              std::string_view bytes) {
    constexpr auto writing = FileError::Access::writing;
    std::error_code pathError;
    auto absolute = std::filesystem::absolute(path, pathError);
    if (pathError) return failure(path, writing, pathError.value());
    const auto target = followSymbolicLinks(std::move(absolute));
    const auto folder = target.parent_path();

    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    if (folderError) {
        return failure(path, writing, folderError.value(),
                       "the folder \u201c" + folder.string() + "\u201d could not be created (" +
                           folderError.message() + ")");
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
    FileDescriptor file(descriptor);

    auto abandon = [&](int error) {
        ::unlink(temporary.c_str());
        return failure(path, writing, error);
    };

    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        // Keeping the mode matters when the user made the file private (0600).
        ::fchmod(file.get(), existing.st_mode & 07777);
    }
    if (int error = writeAll(file.get(), bytes)) return abandon(error);
    if (::fsync(file.get()) != 0) return abandon(errno);
    if (int error = file.close()) return abandon(error);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return abandon(errno);
    syncFolder(folder);
    return {};
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
