#include "platform/InputStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace pelkora {
namespace {

class FileInputStream final : public InputStream {
  public:
    FileInputStream(int descriptor, std::filesystem::path path)
        : descriptor_(descriptor), path_(std::move(path)) {}
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

  private:
    int descriptor_;
    std::filesystem::path path_;
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
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        const std::error_code code(errno, std::generic_category());
        return Unexpected(FileError::make(FileAccess::reading, path, code));
    }
    struct stat status {};
    if (::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(descriptor);
        const std::error_code code(EISDIR, std::generic_category());
        return Unexpected(FileError::make(FileAccess::reading, path, code));
    }
    // The parsers read front to back once; let the kernel read ahead generously.
    ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::unique_ptr<InputStream>(std::make_unique<FileInputStream>(descriptor, path));
}

std::unique_ptr<InputStream> InputStream::fromMemory(std::string bytes,
                                                     std::size_t maximumReadSize) {
    return std::make_unique<MemoryInputStream>(std::move(bytes), maximumReadSize);
}

}  // namespace pelkora
