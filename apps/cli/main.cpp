// pelkora: the command-line front end of the contact importer.

#include <iostream>

#include "Command.h"
#include "CommandLine.h"
#include "Terminal.h"
#include "addressbook/UserCountry.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/SettingsKeys.h"
#include "support/Logger.h"
#include "support/Settings.h"

int main(int argc, char** argv) {
    using namespace pelkora;
    cli::CommandContext context;
    cli::CommandLine commandLine(context);
    // Help, version and usage errors touch neither the settings nor the runtime log.
    if (auto exitCode = commandLine.parse(argc, argv)) return *exitCode;

    MainQueue::shared().adoptCurrentThreadAsMain();
    // Standard output carries only the command's own results; the log echo goes to
    // stderr, and only when asked for.
    if (context.global.verbose) {
        // Log entries quote file contents; their control characters are shown, not obeyed.
        Logger::shared().setEcho([](std::string_view message) {
            std::cerr << cli::escapedControls(message, true) << '\n';
        });
    } else {
        Logger::shared().setEcho({});
    }

    // The entries the runtime log keeps ("pelkora settings set LogLevel Errors").
    applyLogLevel(SettingsStore::standard());

    // The user's country for address layouts, when set instead of taken from the locale.
    if (auto country = SettingsStore::standard().stringForKey(SettingKey::DefaultCountryCode);
        country && !country->empty()) {
        contacts::setCountryCodeOverride(*country);
    }
    return context.action();
}
