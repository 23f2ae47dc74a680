#include "StandardStreams.h"

#include <stdlib.h>

#include <cerrno>
#include <fstream>
#include <iostream>
#include <system_error>

#include "Command.h"

namespace pelkora::cli {

bool isStandardStream(const std::filesystem::path& file) {
    return file == "-";
}

PrivateFolder::~PrivateFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

bool PrivateFolder::make() {
    if (!path_.empty()) return true;
    std::error_code error;
    std::string name = (std::filesystem::temp_directory_path(error) / "pelkora-XXXXXX").string();
    if (!::mkdtemp(name.data())) {
        error_ = "could not make a private folder: " +
                 std::error_code(errno, std::generic_category()).message();
        return false;
    }
    path_ = name;
    return true;
}

bool StandardInputFile::replaceDash(std::vector<std::filesystem::path>& files) {
    for (auto& file : files) {
        if (!replaceDash(file)) return false;
    }
    return true;
}

bool StandardInputFile::replaceDash(std::filesystem::path& file) {
    if (!isStandardStream(file)) return true;
    if (!file_.empty()) {
        printError("-: standard input can be read only once");
        return false;
    }
    if (!folder_.make()) {
        printError("-: " + folder_.error());
        return false;
    }
    file_ = folder_.path() / "standard-input";
    std::ofstream copy(file_, std::ios::binary);
    copy << std::cin.rdbuf();
    // An empty standard input sets failbit on the copy without being an error.
    copy.clear(copy.rdstate() & ~std::ios::failbit);
    copy.close();
    if (!copy || std::cin.bad()) {
        printError("-: standard input could not be copied into " + folder_.path().string());
        return false;
    }
    file = file_;
    return true;
}

std::string StandardInputFile::displayName(const std::filesystem::path& file) const {
    return !file_.empty() && file == file_ ? std::string("-") : file.string();
}

bool copyToStandardOutput(const std::filesystem::path& file) {
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        printError(file.string() + ": could not be read");
        return false;
    }
    std::cout << input.rdbuf();
    std::cout.flush();
    return static_cast<bool>(std::cout);
}

}  // namespace pelkora::cli
