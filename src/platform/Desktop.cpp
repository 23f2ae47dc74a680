#include "platform/Desktop.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

extern char** environ;

namespace pelkora::desktop {

bool openWithDefaultApplication(const std::filesystem::path& file) {
    const std::string opener = "xdg-open";
    const std::string target = file.string();
    std::array<char*, 3> arguments{const_cast<char*>(opener.c_str()),
                                   const_cast<char*>(target.c_str()), nullptr};
    // Keep the opener's chatter off our standard output: it belongs to the command's results.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawnResult =
        posix_spawnp(&child, opener.c_str(), &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawnResult != 0) return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string fileURLString(const std::filesystem::path& path) {
    const std::string absolute =
        path.is_absolute() ? path.string() : std::filesystem::absolute(path).string();
    std::string url = "file://";
    for (unsigned char c : absolute) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~' || c == '/';
        if (unreserved) {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

std::filesystem::path installationPath() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path(error);
    return executable.parent_path();
}

}  // namespace pelkora::desktop
