#pragma once

// Helpers shared by the unit tests: temporary folders and environment overrides,
// so that tests never touch the real user's XDG folders.

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

}  // namespace pelkora::test
