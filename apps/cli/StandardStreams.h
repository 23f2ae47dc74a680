#pragma once

// "-" as a file argument: standard input for the commands that read files, standard output
// for the commands that write one. The commands and the session work on files, which the
// readers open more than once (examination, then the parse), so standard input is first
// copied into a file of its own, in a folder only this user can enter (mkdtemp) that goes
// away with this object; the file has no extension, so its content decides what it is (--as
// still says). A named pipe (or socket) given by name is copied the same way, keeping its
// name; devices are refused.

#include <filesystem>
#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace pelkora::cli {

// Asks the question on stderr and reads the answer from standard input; true for "y" or
// "yes".
bool confirmedOnTerminal(const std::string& question);

// True for "-".
bool isStandardStream(const std::filesystem::path& file);

// A new folder only this user can enter, removed with everything in it at the end.
class PrivateFolder {
  public:
    PrivateFolder() = default;
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // Makes the folder (once); false with the reason in error() when it cannot be made.
    bool make();
    const std::filesystem::path& path() const { return path_; }
    const std::string& error() const { return error_; }

  private:
    std::filesystem::path path_;
    std::string error_;
};

class StandardInputFile {
  public:
    // Replaces "-" among the files by a file holding all of standard input, and each named
    // pipe by a file holding all it gave. False, with the problem printed, when a copy
    // failed, "-" is given twice, or a file is a device (a terminal, /dev/zero …) rather
    // than a file. Folders and regular files stay as they are.
    bool replaceDash(std::vector<std::filesystem::path>& files);
    bool replaceDash(std::filesystem::path& file);
    // How messages name a file: "-" for standard input's copy, a pipe's name for its copy,
    // else its path.
    std::string displayName(const std::filesystem::path& file) const;

  private:
    bool copyStream(std::istream& input, const std::string& name, std::filesystem::path& file);

    PrivateFolder folder_;
    std::filesystem::path file_;
    // Each copy of a named pipe and the name it was given by.
    std::vector<std::pair<std::filesystem::path, std::string>> copies_;
};

// Copies the file to standard output; false (the problem printed) when it cannot be read.
bool copyToStandardOutput(const std::filesystem::path& file);

}  // namespace pelkora::cli
