#include "platform/InputStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {
namespace {

FileStamp stampOf(const struct stat& status) {
    return {
        static_cast<std::uint64_t>(status.st_size),
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

// Opens the file for reading, refusing a folder; the descriptor and the file's status.
Expected<std::pair<int, struct stat>, FileError> openForReading(const std::filesystem::path& path) {
    int descriptor;
    // Without O_NONBLOCK, opening a named pipe would wait for a writer that may never come.
    do {
        descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        const std::error_code code(errno, std::generic_category());
        return Unexpected(FileError::make(FileAccess::reading, path, code));
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        const std::error_code code(S_ISDIR(status.st_mode) ? EISDIR : errno,
                                   std::generic_category());
        ::close(descriptor);
        return Unexpected(FileError::make(FileAccess::reading, path, code));
    }
    // A pipe's bytes can be read only once, and the readers read a file more than once (its
    // head, then the whole): refused, so the caller copies what the pipe gives first.
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
        ::close(descriptor);
        return Unexpected(FileError::make(
            FileAccess::reading, path, std::make_error_code(std::errc::invalid_seek),
            localizedString("it is a named pipe or a socket, whose content can be read only once; "
                            "save it into a file first")));
    }
    if (const int flags = ::fcntl(descriptor, F_GETFL); flags >= 0)
        ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
    return std::pair{descriptor, status};
}

class FileInputStream final : public InputStream {
  public:
    FileInputStream(int descriptor, std::filesystem::path path, FileStamp stamp)
        : descriptor_(descriptor), path_(std::move(path)), stamp_(stamp) {}
    ~FileInputStream() override { ::close(descriptor_); }
    FileInputStream(const FileInputStream&) = delete;
    FileInputStream& operator=(const FileInputStream&) = delete;

    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        if (atEnd_ || capacity == 0) return 0;
        for (;;) {
            const ssize_t count = ::read(descriptor_, buffer, capacity);
            if (count > 0) return static_cast<std::size_t>(count);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) error_ = std::error_code(errno, std::generic_category());
            atEnd_ = true;
            return 0;
        }
    }

    bool hasBytesAvailable() const override { return !atEnd_; }
    std::error_code error() const override { return error_; }
    std::filesystem::path filePath() const override { return path_; }
    std::optional<FileStamp> fileStamp() const override { return stamp_; }

  private:
    int descriptor_;
    std::filesystem::path path_;
    FileStamp stamp_;
    bool atEnd_ = false;
    std::error_code error_;
};

class MemoryInputStream final : public InputStream {
  public:
    MemoryInputStream(std::string bytes, std::size_t maximumReadSize)
        : bytes_(std::move(bytes)), maximumReadSize_(std::max<std::size_t>(maximumReadSize, 1)) {}

    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t count = std::min({capacity, maximumReadSize_, bytes_.size() - position_});
        if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        // Like a file, the end is only known once a read comes back empty.
        if (count == 0) atEnd_ = true;
        return count;
    }

    bool hasBytesAvailable() const override { return !atEnd_; }

  private:
    std::string bytes_;
    std::size_t maximumReadSize_;
    std::size_t position_ = 0;
    bool atEnd_ = false;
};

}  // namespace

Expected<std::unique_ptr<InputStream>, FileError> InputStream::openFile(
    const std::filesystem::path& path) {
    auto opened = openForReading(path);
    if (!opened) return Unexpected(std::move(opened.error()));
    const auto [descriptor, status] = *opened;
    // The parsers read front to back once; let the kernel read ahead generously.
    ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::unique_ptr<InputStream>(
        std::make_unique<FileInputStream>(descriptor, path, stampOf(status)));
}

std::unique_ptr<InputStream> InputStream::fromMemory(std::string bytes,
                                                     std::size_t maximumReadSize) {
    return std::make_unique<MemoryInputStream>(std::move(bytes), maximumReadSize);
}

Expected<RandomAccessFile, FileError> RandomAccessFile::open(const std::filesystem::path& path) {
    auto opened = openForReading(path);
    if (!opened) return Unexpected(std::move(opened.error()));
    return RandomAccessFile(opened->first, path);
}

RandomAccessFile::RandomAccessFile(int descriptor, std::filesystem::path path)
    : descriptor_(descriptor), path_(std::move(path)) {}

RandomAccessFile::RandomAccessFile(RandomAccessFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), path_(std::move(other.path_)) {}

RandomAccessFile& RandomAccessFile::operator=(RandomAccessFile&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

RandomAccessFile::~RandomAccessFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

Expected<FileStamp, FileError> RandomAccessFile::stamp() const {
    struct stat status {};
    if (::fstat(descriptor_, &status) != 0) {
        const std::error_code code(errno, std::generic_category());
        return Unexpected(FileError::make(FileAccess::reading, path_, code));
    }
    return stampOf(status);
}

Expected<std::string, FileError> RandomAccessFile::read(std::uint64_t offset,
                                                        std::size_t length) const {
    std::string bytes(length, '\0');
    std::size_t done = 0;
    while (done < length) {
        const ssize_t count = ::pread(descriptor_, bytes.data() + done, length - done,
                                      static_cast<off_t>(offset + done));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            const std::error_code code(errno, std::generic_category());
            return Unexpected(FileError::make(FileAccess::reading, path_, code));
        }
        if (count == 0) {
            return Unexpected(FileError::make(
                FileAccess::reading, path_, std::make_error_code(std::errc::io_error),
                formatMessage(localizedString("the file ends at byte %1$@, before byte %2$@"),
                              std::to_string(offset + done), std::to_string(offset + length))));
        }
        done += static_cast<std::size_t>(count);
    }
    return bytes;
}

}  // namespace pelkora
