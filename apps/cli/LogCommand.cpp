// pelkora log: show the runtime log or print where it is.

#include "Command.h"
#include "platform/Desktop.h"
#include "support/Logger.h"

namespace pelkora::cli {

int runLog(const std::vector<std::string>& arguments, const GlobalOptions&) {
    auto& logger = Logger::shared();
    if (arguments.size() == 1 && arguments[0] == "--path") {
        if (!logger.fileLogURL()) {
            printError("log: the runtime log could not be set up in " +
                       logger.logFolder().string());
            return kFailure;
        }
        std::cout << logger.fileLogURL()->string() << '\n';
        return kSuccess;
    }
    if (!arguments.empty()) {
        printError("log: the only option is --path");
        return kUsageError;
    }
    if (!logger.openRuntimeLog(desktop::openWithDefaultApplication)) {
        printError("log: could not show the runtime log" +
                   (logger.fileLogURL() ? " " + logger.fileLogURL()->string() : std::string()) +
                   " (is xdg-open installed and a desktop running?)");
        return kFailure;
    }
    return kSuccess;
}

}  // namespace pelkora::cli
