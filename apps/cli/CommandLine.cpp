#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include "CommandHelp.h"

namespace pelkora::cli {
namespace {

// The command the parse reached: the last subcommand given, or pelkora itself.
const CLI::App& reached(const CLI::App& app) {
    const auto parsed = app.get_subcommands();
    return parsed.empty() ? app : reached(*parsed.back());
}

// The command below pelkora named by the words ("contacts", "list"), or null.
const CLI::App* named(const CLI::App& root, const std::vector<std::string>& words) {
    const CLI::App* command = &root;
    for (const auto& word : words) {
        const CLI::App* found = nullptr;
        for (const CLI::App* sub : visibleSubcommands(*command)) {
            if (sub->get_name() == word) found = sub;
        }
        if (!found) return nullptr;
        command = found;
    }
    return command;
}

// "import" for pelkora import, "" for pelkora itself.
std::string below(const CLI::App& command) {
    const std::string path = commandPath(command);
    const auto space = path.find(' ');
    return space == std::string::npos ? std::string() : path.substr(space + 1);
}

int usageError(const CLI::App& command, const std::string& message) {
    const std::string name = below(command);
    printError((name.empty() ? "" : name + ": ") + message);
    std::cerr << usageText(command) << "Run “pelkora help" << (name.empty() ? "" : " " + name)
              << "” for " << (name.empty() ? "the commands" : "its options and examples") << ".\n";
    return kUsageError;
}

void addHelpCommand(CLI::App& app, CommandContext& context) {
    auto words = std::make_shared<std::vector<std::string>>();
    CLI::App* command = app.add_subcommand("help");
    describe(*command, {"Print the help of a command",
                        "The same as the command's --help: its options, examples and exit "
                        "codes.",
                        {{"pelkora help import", "The help of pelkora import."},
                         {"pelkora help contacts export", "The help of a command's command."}}});
    command->add_option("COMMAND", *words, "The command, and its command if it has some.");
    const CLI::App* root = &app;
    setAction(*command, context, [words, root] {
        const CLI::App* help = named(*root, *words);
        if (!help) {
            std::string given;
            for (const auto& word : *words) given += (given.empty() ? "" : " ") + word;
            printError("help: no command “" + given + "”. Run “pelkora --help” for the list.");
            return static_cast<int>(kUsageError);
        }
        std::cout << helpText(*help);
        return static_cast<int>(kSuccess);
    });
}

}  // namespace

void setAction(CLI::App& command, CommandContext& context, std::function<int()> action) {
    command.callback([&context, action = std::move(action)] { context.action = action; });
}

CommandLine::CommandLine(CommandContext& context)
    : context_(context), app_(std::make_unique<CLI::App>("", "pelkora")) {
    CLI::App& app = *app_;
    describe(
        app,
        {"Bring contact data from CSV/TSV text files, Excel workbooks (.xlsx) and vCard files "
         "into your address book",
         "Each command does one step of the importer, or all of them (import), as the desktop "
         "program would. \"pelkora help COMMAND\" or \"pelkora COMMAND --help\" explains a "
         "command; each also has a manual page, pelkora-COMMAND(1).\n\n"
         "Options take their value as the next argument or after an equals sign "
         "(--lang=de); -- ends the options, so that what follows is a file even when it starts "
         "with a hyphen. A file named - is standard input for the commands that read files "
         "(open, rows, sheets, map, import, scan, export-vcard), and standard output for "
         "export-vcard -o and contacts export. Standard input is copied into a private "
         "temporary folder first; its content says what it is (--as can say it instead).\n\n"
         "Files (XDG_CONFIG_HOME is ~/.config when not set, XDG_STATE_HOME ~/.local/state, "
         "XDG_DATA_HOME ~/.local/share):\n"
         "  settings      $XDG_CONFIG_HOME/pelkora/settings.plist\n"
         "  runtime log   $XDG_STATE_HOME/pelkora/logs/runtime.log\n"
         "  address book  $XDG_DATA_HOME/pelkora/contacts.sqlite\n"
         "  imports       $XDG_DATA_HOME/pelkora/imports/NUMBER/ (one folder per import)\n"
         "  mappings      $XDG_DATA_HOME/pelkora/SavedMappings\n\n"
         "Only import, undo, map --learn, settings set/reset, dates add/remove, vocabulary "
         "--forget and mappings save/rename/delete/import change these files (and the learnt "
         "titles beside the address book); every "
         "other command leaves them as they are. The runtime log records every run.\n\n"
         "Output: tables and listings are cut to the terminal's width (ioctl, else $COLUMNS, "
         "else 80 columns) when written to a terminal, and whole otherwise. Control characters "
         "from files are shown escaped (\"\\x1b\", \"\\t\"), never written raw. Colour only on "
         "a terminal, and never when NO_COLOR is set.",
         {{"pelkora import contacts.csv", "Imports a file into the address book."},
          {"pelkora help map", "The help of the map command."}}});
    // Options of pelkora itself go anywhere: a command passes the options it does not know
    // up to pelkora.
    app.fallthrough();
    app.require_subcommand(0, 1);
    app.set_help_flag("-h,--help", "Print this help and exit.");
    app.set_version_flag("-V,--version", std::string("pelkora ") + PELKORA_VERSION,
                         "Print the version and exit.");
    app.add_flag("-v,--verbose", context.global.verbose,
                 "Echo the runtime log and the wizard's pages on stderr.");
    // For the build: the manual pages and the completion scripts.
    app.add_option("--generate-man", manFolder_, "")->group("");
    app.add_option("--generate-completions", completionsFolder_, "")->group("");

    addImportCommand(app, context);
    addImportsCommand(app, context);
    addUndoCommand(app, context);
    addScanCommand(app, context);
    addExportVCardCommand(app, context);
    addOpenCommand(app, context);
    addRowsCommand(app, context);
    addMapCommand(app, context);
    addMappingsCommand(app, context);
    addSheetsCommand(app, context);
    addEncodingsCommand(app, context);
    addContactsCommand(app, context);
    addCatalogueCommand(app, context);
    addVocabularyCommand(app, context);
    addDatesCommand(app, context);
    addSettingsCommand(app, context);
    addStoresCommand(app, context);
    addLogCommand(app, context);
    addHelpCommand(app, context);
}

CommandLine::~CommandLine() = default;

std::optional<int> CommandLine::parse(int argc, const char* const* argv) {
    CLI::App& app = *app_;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << helpText(reached(app));
        return kSuccess;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << helpText(reached(app));
        return kSuccess;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << '\n';
        return kSuccess;
    } catch (const CLI::ExtrasError& error) {
        const CLI::App& command = reached(app);
        if (&command == &app && argc > 1 && argv[1][0] != '-')
            return usageError(app, std::string("unknown command “") + argv[1] + "”");
        return usageError(command, error.what());
    } catch (const CLI::ParseError& error) {
        return usageError(reached(app), error.what());
    }
    if (!manFolder_.empty() || !completionsFolder_.empty()) {
        bool written = true;
        if (!manFolder_.empty()) written = writeManPages(app, manFolder_, PELKORA_VERSION);
        if (!completionsFolder_.empty())
            written = writeCompletions(app, completionsFolder_) && written;
        if (!written) printError("the manual pages or completions could not be written");
        return written ? kSuccess : kUsageError;
    }
    if (!context_.action) return usageError(app, "name a command");
    return std::nullopt;
}

}  // namespace pelkora::cli
