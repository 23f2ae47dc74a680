#include "OutputFile.h"

#include <sys/stat.h>

#include <string>

#include "Command.h"

namespace pelkora::cli {

bool mayWriteOutputFile(std::string_view command, const std::filesystem::path& output,
                        const std::vector<std::filesystem::path>& inputs, bool force) {
    const std::string prefix = std::string(command) + ": ";
    struct stat target {};
    // Followed, so that a link to an input is caught as the input itself.
    if (::stat(output.c_str(), &target) == 0) {
        for (const auto& input : inputs) {
            struct stat read {};
            if (::stat(input.c_str(), &read) == 0 && read.st_dev == target.st_dev &&
                read.st_ino == target.st_ino) {
                printError(prefix + "“" + output.string() + "” is the file being read (“" +
                           input.string() + "”); choose another output file");
                return false;
            }
        }
    }
    struct stat existing {};
    if (!force && ::lstat(output.c_str(), &existing) == 0) {
        printError(prefix + "“" + output.string() + "” already exists; add --force to replace it");
        return false;
    }
    return true;
}

}  // namespace pelkora::cli
