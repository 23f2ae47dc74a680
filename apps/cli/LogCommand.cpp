// pelkora log: show the runtime log or print where it is.

#include <CLI/CLI.hpp>

#include "Command.h"
#include "CommandHelp.h"
#include "platform/Desktop.h"
#include "support/Logger.h"

namespace pelkora::cli {
namespace {

struct LogOptions {
    bool path = false;  // --path
};

int runLog(const LogOptions& options) {
    auto& logger = Logger::shared();
    if (options.path) {
        if (!logger.fileLogURL()) {
            printError("log: the runtime log could not be set up in " +
                       logger.logFolder().string());
            return kStorageError;
        }
        std::cout << logger.fileLogURL()->string() << '\n';
        return kSuccess;
    }
    if (!logger.openRuntimeLog(desktop::openWithDefaultApplication)) {
        printError("log: could not show the runtime log" +
                   (logger.fileLogURL() ? " " + logger.fileLogURL()->string() : std::string()) +
                   " (is xdg-open installed and a desktop running?)");
        return kCancelled;
    }
    return kSuccess;
}

}  // namespace

void addLogCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<LogOptions>();
    CLI::App* command = app.add_subcommand("log");
    describe(*command,
             {"Show the runtime log in the desktop's viewer, or print its path",
              "The runtime log holds what each run did, the values not taken as they stood "
              "included. Exits 1 when no viewer could be started.",
              {{"pelkora log", "Opens the log in the desktop's text viewer."},
               {"less \"$(pelkora log --path)\"", "Reads it in the terminal."}}});
    command->add_flag("--path", options->path, "Print the log's path instead.");
    setAction(*command, context, [options] { return runLog(*options); });
}

}  // namespace pelkora::cli
