#pragma once

// Shared pieces of the pelkora command's subcommands.

#include <chrono>
#include <ctime>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "Terminal.h"

namespace pelkora::cli {

// Exit codes, listed in --help.
enum ExitCode : int {
    kSuccess = 0,
    kFailure = 1,  // the command ran but could not do what was asked (a file could not be opened …)
    kUsageError = 2,      // unknown command or option, missing or bad argument
    kStrictWarnings = 2,  // import --strict: some values would not go in as they stand
    kStorageError = 3,  // the settings, the address book or the import journal could not be written
};

struct GlobalOptions {
    bool verbose = false;  // echo the runtime log and the wizard's pages on stderr
};

// A moment as ISO 8601 text in UTC: "2024-03-15T12:00:00Z".
inline std::string isoDateText(std::chrono::system_clock::time_point moment) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Prints "pelkora: <message>" on stderr, the prefix in red on a terminal that takes colour.
// Control characters of the message (a file name, a cell's text) are written out escaped.
inline void printError(std::string_view message) {
    std::cerr << coloured("pelkora:", Colour::red, standardError().colour) << ' '
              << escapedControls(message, true) << '\n';
}

// Prints "pelkora: warning: <message>" on stderr, the prefix in yellow on a terminal.
inline void printWarning(std::string_view message) {
    std::cerr << coloured("pelkora: warning:", Colour::yellow, standardError().colour) << ' '
              << escapedControls(message, true) << '\n';
}

int runOpen(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runSettings(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runRows(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runSheets(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runEncodings(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runContacts(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runCatalogue(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runVocabulary(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runMap(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runImport(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runScan(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runExportVCard(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runDates(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runLog(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runImports(const std::vector<std::string>& arguments, const GlobalOptions& options);
int runUndo(const std::vector<std::string>& arguments, const GlobalOptions& options);

}  // namespace pelkora::cli
