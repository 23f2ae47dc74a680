#pragma once

// Shared pieces of the pelkora command's subcommands. Each command lives in its own file,
// which defines the command's options (a small struct), the function that registers the
// command on the command line (CLI11) and the function that runs it with those options.

#include <chrono>
#include <ctime>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CommandHelp.h"
#include "Terminal.h"

namespace CLI {
class App;
}

namespace pelkora::cli {

// Exit codes, listed in --help and the manual pages.
enum ExitCode : int {
    kSuccess = 0,
    kCancelled = 1,     // cancelled (Ctrl-C), or only part of the work was done
    kUsageError = 2,    // unknown command or option, missing or bad argument, or an input that
                        // cannot be used: a file that cannot be opened or read, a value the
                        // file does not have (a row, a sheet), import --strict with warnings
    kStorageError = 3,  // the address book or the settings could not be opened or written
};

struct GlobalOptions {
    bool verbose = false;  // echo the runtime log and the wizard's pages on stderr
};

// What the parsed command line asks for: the global options, and the action of the command
// that was given (none when no command was).
struct CommandContext {
    GlobalOptions global;
    std::function<int()> action;
};

// Makes `action` what runs when the command is the one given on the command line.
void setAction(CLI::App& command, CommandContext& context, std::function<int()> action);

// Adds one action of a command ("contacts list") with its help; when it is the one given,
// options.action names it and `run` runs with the options.
// (App is CLI::App, a parameter only so that this header need not include CLI11.)
template <typename App, typename Options, typename Run>
App* addAction(App& command, CommandContext& context, const std::shared_ptr<Options>& options,
               const char* name, CommandHelp help, Run run) {
    App* action = command.add_subcommand(name);
    describe(*action, std::move(help));
    setAction(*action, context, [options, name, run] {
        options->action = name;
        return run(*options);
    });
    return action;
}

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

// The commands, in the order "pelkora --help" lists them. Each registers itself on the
// top-level command line.
void addImportCommand(CLI::App& app, CommandContext& context);
void addImportsCommand(CLI::App& app, CommandContext& context);
void addUndoCommand(CLI::App& app, CommandContext& context);
void addScanCommand(CLI::App& app, CommandContext& context);
void addExportVCardCommand(CLI::App& app, CommandContext& context);
void addOpenCommand(CLI::App& app, CommandContext& context);
void addRowsCommand(CLI::App& app, CommandContext& context);
void addMapCommand(CLI::App& app, CommandContext& context);
void addMappingsCommand(CLI::App& app, CommandContext& context);
// pelkora mappings sync …, pelkora mappings watch.
void addMappingSyncActions(CLI::App& mappings, CommandContext& context);
void addSheetsCommand(CLI::App& app, CommandContext& context);
void addEncodingsCommand(CLI::App& app, CommandContext& context);
void addContactsCommand(CLI::App& app, CommandContext& context);
void addCatalogueCommand(CLI::App& app, CommandContext& context);
void addVocabularyCommand(CLI::App& app, CommandContext& context);
void addDatesCommand(CLI::App& app, CommandContext& context);
void addSettingsCommand(CLI::App& app, CommandContext& context);
void addStoresCommand(CLI::App& app, CommandContext& context);
void addLogCommand(CLI::App& app, CommandContext& context);

}  // namespace pelkora::cli
