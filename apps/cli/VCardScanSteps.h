#pragma once

// The steps import and scan share for vCard files: open them as the desktop would, let the
// scan page read them with its progress ("Reading vCards…"), and keep what the page shows,
// which outlives the page once the import page replaces it.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CommandLineSession.h"

namespace pelkora {
class VCFScanPage;
}

namespace pelkora::cli {

// What the scan page shows at the end of a scan.
struct VCardScanResults {
    std::size_t cards = 0;
    std::size_t cardsFromOtherPrograms = 0;
    // Cards per file, in the order the files were given.
    std::vector<std::pair<std::filesystem::path, std::size_t>> cardsPerFile;
    // Files that could not be read or held no vCard, with the reason.
    std::vector<std::pair<std::filesystem::path, std::string>> skippedFiles;
    // The groups the cards' CATEGORIES name, sorted.
    std::vector<std::string> groups;
    // "N contacts found", as the page's header says it.
    std::string header;
};

struct ScannedVCardFiles {
    // The scan page, current in the session, when the scan ended; null when it did not.
    VCFScanPage* page = nullptr;
    VCardScanResults results;
    // When page is null: the exit code; the problem has been printed.
    int exitCode = 0;
};

// Opens the vCard files in the session (--as tag included) and runs the main queue until the
// scan page has read them all. Ctrl-C cancels the scan; that ends with exit code 1 and nothing
// found. A file the session cannot open ends it with exit code 2.
ScannedVCardFiles scanVCardFiles(CommandLineSession& run,
                                 const std::vector<std::filesystem::path>& files, int openAsTag,
                                 std::string_view command);

}  // namespace pelkora::cli
