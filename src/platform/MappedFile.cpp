#include "platform/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace pelkora {

namespace {

FileError readingError(const std::filesystem::path& path, int number) {
    return FileError::make(FileAccess::reading, path,
                           std::error_code(number, std::generic_category()));
}

}  // namespace

Expected<MappedFile, FileError> MappedFile::open(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return Unexpected(readingError(path, errno));
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        const int number = errno;
        ::close(descriptor);
        return Unexpected(readingError(path, number));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return Unexpected(readingError(path, S_ISDIR(status.st_mode) ? EISDIR : EINVAL));
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    // mmap refuses a length of zero, and an empty file has nothing to map anyway.
    if (size == 0) {
        ::close(descriptor);
        return MappedFile(nullptr, 0);
    }
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
    const int number = errno;
    // The mapping keeps the file's pages reachable; the descriptor is no longer needed.
    ::close(descriptor);
    if (address == MAP_FAILED) return Unexpected(readingError(path, number));
    return MappedFile(static_cast<const std::uint8_t*>(address), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        if (address_ != nullptr) ::munmap(const_cast<std::uint8_t*>(address_), size_);
        address_ = std::exchange(other.address_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() {
    if (address_ != nullptr) ::munmap(const_cast<std::uint8_t*>(address_), size_);
}

void releaseResidentPages(std::span<const std::uint8_t> mappedBytes) {
    static const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(mappedBytes.data());
    const auto first = (begin + pageSize - 1) / pageSize * pageSize;
    const auto last = (begin + mappedBytes.size()) / pageSize * pageSize;
    if (mappedBytes.empty() || last <= first) return;
    // The mapping is read-only and private, so nothing is lost: a dropped page is read from
    // the file again. Failure only means the pages stay.
    (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

}  // namespace pelkora
