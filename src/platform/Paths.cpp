#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace pelkora::paths {
namespace {

constexpr const char* applicationFolderName = "pelkora";

// The XDG rules say a relative value is invalid and must be ignored, as if it were unset.
std::optional<std::filesystem::path> absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    std::filesystem::path path(value);
    if (!path.is_absolute()) return std::nullopt;
    return path;
}

std::filesystem::path homeFromPasswordDatabase() {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    if (found != nullptr && found->pw_dir != nullptr && *found->pw_dir != '\0')
        return found->pw_dir;
    // A user without a home folder (a system account) still gets an absolute, writable path.
    return std::filesystem::temp_directory_path();
}

std::filesystem::path xdgFolder(const char* variable, const char* fallbackUnderHome) {
    if (auto path = absoluteVariable(variable)) return *path;
    return homeFolder() / fallbackUnderHome;
}

}  // namespace

std::filesystem::path homeFolder() {
    if (auto home = absoluteVariable("HOME")) return *home;
    return homeFromPasswordDatabase();
}

std::filesystem::path configHome() {
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}
std::filesystem::path stateHome() {
    return xdgFolder("XDG_STATE_HOME", ".local/state");
}
std::filesystem::path dataHome() {
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}
std::filesystem::path cacheHome() {
    return xdgFolder("XDG_CACHE_HOME", ".cache");
}

std::filesystem::path applicationConfigFolder() {
    return configHome() / applicationFolderName;
}
std::filesystem::path applicationStateFolder() {
    return stateHome() / applicationFolderName;
}
std::filesystem::path applicationDataFolder() {
    return dataHome() / applicationFolderName;
}

}  // namespace pelkora::paths
