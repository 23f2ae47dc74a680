#include "StandardStreams.h"

#include <stdlib.h>

#include <cerrno>
#include <fstream>
#include <iostream>
#include <system_error>

#include "Command.h"
#include "text/UnicodeText.h"

namespace pelkora::cli {

bool confirmedOnTerminal(const std::string& question) {
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    answer = lowercased(trimmedWhiteSpace(answer));
    return answer == "y" || answer == "yes";
}

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

// A file operand is read as it is when it is a regular file or a folder (whose files the
// command lists itself). Anything else that can be read, a named pipe or a socket, gives its
// bytes only once, while the readers open a file twice: it is copied first. Devices never end
// (/dev/zero) or wait for a person (a terminal) and are refused.
bool StandardInputFile::replaceDash(std::filesystem::path& file) {
    if (isStandardStream(file)) {
        if (!file_.empty()) {
            printError("-: standard input can be read only once");
            return false;
        }
        if (!copyStream(std::cin, "standard-input", file_)) return false;
        file = file_;
        return true;
    }
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    switch (status.type()) {
        case std::filesystem::file_type::fifo:
        case std::filesystem::file_type::socket:
            break;
        case std::filesystem::file_type::character:
        case std::filesystem::file_type::block:
            printError(file.string() + ": is a device, not a file");
            return false;
        default:
            return true;  // a missing file is reported by the command, which says how
    }
    std::ifstream input(file, std::ios::binary);
    if (!input) {
        printError(file.string() + ": could not be read");
        return false;
    }
    std::string name = file.filename().string();
    if (name.empty() || name == "standard-input") name = "pipe";
    for (const auto& copy : copies_) {
        if (copy.first.filename() == name) name = std::to_string(copies_.size()) + "-" + name;
    }
    std::filesystem::path copy;
    if (!copyStream(input, name, copy)) return false;
    copies_.emplace_back(copy, file.string());
    file = copy;
    return true;
}

bool StandardInputFile::copyStream(std::istream& input, const std::string& name,
                                   std::filesystem::path& file) {
    const std::string shownName = &input == &std::cin ? std::string("-") : name;
    if (!folder_.make()) {
        printError(shownName + ": " + folder_.error());
        return false;
    }
    file = folder_.path() / name;
    std::ofstream copy(file, std::ios::binary);
    copy << input.rdbuf();
    // An empty input sets failbit on the copy without being an error.
    copy.clear(copy.rdstate() & ~std::ios::failbit);
    copy.close();
    if (!copy || input.bad()) {
        printError(shownName + ": could not be copied into " + folder_.path().string());
        return false;
    }
    return true;
}

std::string StandardInputFile::displayName(const std::filesystem::path& file) const {
    if (!file_.empty() && file == file_) return "-";
    for (const auto& copy : copies_) {
        if (copy.first == file) return copy.second;
    }
    return file.string();
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
