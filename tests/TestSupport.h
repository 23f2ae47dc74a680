#pragma once

// Helpers shared by the unit tests: temporary folders and environment overrides,
// so that tests never touch the real user's XDG folders.

#include <filesystem>
#include <optional>
#include <string>

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

// Writes bytes to a file, creating parent folders; fails the test on error.
void writeFile(const std::filesystem::path& path, std::string_view bytes);
// Reads a whole file; an absent file reads empty.
std::string readFile(const std::filesystem::path& path);

}  // namespace pelkora::test
