// pelkora open: classify files and open them through the import session.

#include <algorithm>
#include <filesystem>

#include "Command.h"
#include "SessionFrontEnd.h"
#include "platform/ContactAuthorization.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"

namespace pelkora::cli {
namespace {

std::string_view readableKind(DetectedFileType type) {
    switch (type) {
        case DetectedFileType::text: return "text";
        case DetectedFileType::officeOpenXMLSpreadsheet: return "Excel workbook";
        case DetectedFileType::vCard: return "vCard";
        default: return detectedFileTypeName(type);
    }
}

}  // namespace

int runOpen(const std::vector<std::string>& arguments, const GlobalOptions& options) {
    std::vector<std::filesystem::path> files;
    int openAsTag = static_cast<int>(OpenAsFileType::determineAutomatically);
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const auto& argument = arguments[index];
        if (argument == "--as") {
            if (index + 1 == arguments.size()) {
                printError("open: --as needs a value: auto, text or xlsx");
                return kUsageError;
            }
            const auto& value = arguments[++index];
            if (value == "auto") {
                openAsTag = static_cast<int>(OpenAsFileType::determineAutomatically);
            } else if (value == "text") {
                openAsTag = static_cast<int>(OpenAsFileType::text);
            } else if (value == "xlsx") {
                openAsTag = static_cast<int>(OpenAsFileType::officeOpenXMLSpreadsheet);
            } else {
                printError("open: unknown --as value “" + value + "”: use auto, text or xlsx");
                return kUsageError;
            }
        } else if (argument.starts_with("--")) {
            printError("open: unknown option “" + argument + "”");
            return kUsageError;
        } else {
            files.emplace_back(argument);
        }
    }
    if (files.empty()) {
        printError("open: name at least one file");
        return kUsageError;
    }

    // A missing file would be classified as an unknown format; say what is really wrong.
    for (const auto& file : files) {
        std::error_code error;
        if (!std::filesystem::exists(file, error)) {
            printError(file.string() + ": no such file");
            return kFailure;
        }
    }

    CommandLineFrontEnd frontEnd(options.verbose);
    AppDelegate session(SettingsStore::standard(), std::make_shared<AlwaysAuthorizedProvider>());
    session.setFrontEnd(&frontEnd);
    session.setOpenAsFileType(openAsTag);
    // As when the desktop hands files to a starting program: they wait for the end of launch.
    (void)session.openFiles(files);
    session.applicationDidFinishLaunching();
    MainQueue::shared().drain();

    int status = kSuccess;
    for (const auto& alert : frontEnd.alerts) {
        printError(files.front().string() + ": " + alert.heading + " " + alert.text);
        status = kFailure;
    }
    for (const auto& [kind, file] : frontEnd.unavailable) {
        std::cout << file.string() << ": " << readableKind(kind) << '\n';
        std::cerr << "pelkora: " << file.string() << ": reading " << readableKind(kind)
                  << " files is not part of this build yet\n";
    }
    if (!session.vCardUrls().empty()) {
        for (const auto& file : session.vCardUrls()) std::cout << file.string() << ": vCard\n";
        for (const auto& file : files) {
            const auto& accepted = session.vCardUrls();
            if (std::find(accepted.begin(), accepted.end(), file) == accepted.end()) {
                printError(file.string() + ": not a vCard, skipped");
            }
        }
    } else if (files.size() > 1 && frontEnd.alerts.empty()) {
        for (std::size_t index = 1; index < files.size(); ++index) {
            printError(files[index].string() + ": ignored (tabular files are imported one at a time)");
        }
    }
    session.applicationWillTerminate();
    return status;
}

}  // namespace pelkora::cli
