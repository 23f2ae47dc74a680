#pragma once

// The files that import and scan are given. A folder stands for the vCard files in it, and
// every file is classified as the session classifies what it opens (--as included, so a vCard
// saved as ".txt" is a vCard), before anything is opened: vCards are scanned and imported as
// one batch, a table goes through the wizard's pages on its own, and the two never mix.

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace pelkora::cli {

// What a command's file operands turned out to be.
struct InputFiles {
    // Every file in the order given, each folder replaced by its ".vcf" files in name order.
    std::vector<std::filesystem::path> files;
    // All of them are vCard files; otherwise `files` holds exactly one table.
    bool areVCards = false;
};

// The ".vcf" files of a folder (the extension in any letter case), sorted by name; the
// folder's subfolders are not searched.
std::vector<std::filesystem::path> vCardFilesInFolder(const std::filesystem::path& folder);

// Expands folders and classifies the files with the --as tag (an OpenAsFileType). Prints a
// message starting with "command: " and returns none with the exit code set (2, an input
// error) when an operand does not exist, a folder holds no ".vcf" file, vCards and a table
// are mixed, or several tables are given.
std::optional<InputFiles> classifyInputFiles(std::string_view command,
                                             const std::vector<std::filesystem::path>& operands,
                                             int openAsTag, int& exitCode);

}  // namespace pelkora::cli
