#pragma once

// Helpers shared by the unit tests: temporary folders and environment overrides,
// so that tests never touch the real user's XDG folders.

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora::test {

// A fresh folder under the system's temporary folder, removed with everything in it
// when the object goes away.
class TemporaryDirectory {
  public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Points XDG_CONFIG_HOME, XDG_STATE_HOME, XDG_DATA_HOME and XDG_CACHE_HOME into one
// temporary folder for the lifetime of the object.
class ScopedXdgHome {
  public:
    ScopedXdgHome();
    const std::filesystem::path& root() const { return folder_.path(); }

  private:
    TemporaryDirectory folder_;
    ScopedEnvironment config_;
    ScopedEnvironment state_;
    ScopedEnvironment data_;
    ScopedEnvironment cache_;
};

// Collects the messages of the shared runtime log while it lives. Every test program
// points the XDG folders at a private temporary folder before main(), so the shared
// log always has a file and never touches the real user's folders.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> messages() const;
    // How many messages contain the text.
    std::size_t count(std::string_view text) const;
    bool contains(std::string_view text) const { return count(text) > 0; }

  private:
    struct Storage;
    std::shared_ptr<Storage> storage_;
};

// Writes bytes to a file, creating parent folders; fails the test on error.
void writeFile(const std::filesystem::path& path, std::string_view bytes);
// Reads a whole file; an absent file reads empty.
std::string readFile(const std::filesystem::path& path);
// The names of the entries of a folder, sorted.
std::vector<std::string> filesIn(const std::filesystem::path& folder);

// Makes every write beyond `bytes` fail with EFBIG for the object's lifetime, as a full disk
// would. Unlike permissions this also fails for root, so failure paths run in any container.
class ScopedFileSizeLimit {
  public:
    explicit ScopedFileSizeLimit(rlim_t bytes) : previousHandler_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~ScopedFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

}  // namespace pelkora::test
