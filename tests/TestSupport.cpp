#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "support/Logger.h"

namespace pelkora::test {
namespace {

// Runs before main(): every test program gets private XDG folders, removed at exit.
struct IsolatedXdgFolders {
    IsolatedXdgFolders() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelkora-tests-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        root = pattern;
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            setenv(name, (root / name).c_str(), 1);
        }
    }
    ~IsolatedXdgFolders() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::filesystem::path root;
};
const IsolatedXdgFolders isolatedXdgFolders;

}  // namespace

struct LogCapture::Storage {
    mutable std::mutex mutex;
    std::vector<std::string> messages;
};

LogCapture::LogCapture() : storage_(std::make_shared<Storage>()) {
    Logger::shared().setEcho([storage = storage_](std::string_view message) {
        std::lock_guard lock(storage->mutex);
        storage->messages.emplace_back(message);
    });
}

LogCapture::~LogCapture() {
    Logger::shared().setEcho({});
}

std::vector<std::string> LogCapture::messages() const {
    std::lock_guard lock(storage_->mutex);
    return storage_->messages;
}

std::size_t LogCapture::count(std::string_view text) const {
    std::size_t found = 0;
    for (const auto& message : messages()) {
        if (message.find(text) != std::string::npos) ++found;
    }
    return found;
}

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelkora-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) previous_ = old;
    setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_) {
        setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

ScopedXdgHome::ScopedXdgHome()
    : config_("XDG_CONFIG_HOME", (folder_.path() / "config").string()),
      state_("XDG_STATE_HOME", (folder_.path() / "state").string()),
      data_("XDG_DATA_HOME", (folder_.path() / "data").string()),
      cache_("XDG_CACHE_HOME", (folder_.path() / "cache").string()) {}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace pelkora::test
