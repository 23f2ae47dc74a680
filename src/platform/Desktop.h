#pragma once

// Services of the user's desktop session.

#include <filesystem>
#include <string>

namespace pelkora::desktop {

// Hands a file to the desktop's default application for its type (xdg-open) and
// waits for the hand-over; false when the opener is missing or reports failure.
bool openWithDefaultApplication(const std::filesystem::path& file);

// The "file://" URL text of an absolute path, with the characters that URLs
// reserve percent-encoded ("/tmp/a b.csv" gives "file:///tmp/a%20b.csv").
std::string fileURLString(const std::filesystem::path& path);

// The folder that holds the running program.
std::filesystem::path installationPath();

}  // namespace pelkora::desktop
