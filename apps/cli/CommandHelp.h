#pragma once

// The texts that explain each command, kept beside its CLI11 definition, and what is made
// of the two: the --help text, the usage printed with a command-line error, the manual
// pages and the shell completions. All of them walk the same CLI::App tree, so an option
// added to a command shows up everywhere.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace pelkora::cli {

struct CommandExample {
    std::string_view commandLine;  // "pelkora import contacts.csv"
    std::string_view explanation;  // what it does, one sentence or two
};

struct CommandHelp {
    // One line without a final period: the command lists and the manual page's NAME.
    std::string_view summary;
    // Paragraphs separated by blank lines.
    std::string_view description;
    std::vector<CommandExample> examples;
};

// Gives the command its summary (as its CLI11 description) and keeps the rest for the help
// and the manual page.
void describe(CLI::App& command, CommandHelp help);
// What describe() was given for the command; empty texts when nothing was.
const CommandHelp& helpOf(const CLI::App& command);

// "pelkora", "pelkora import", "pelkora contacts list".
std::string commandPath(const CLI::App& command);
// The subcommands a user can name (the hidden ones left out), in definition order.
std::vector<const CLI::App*> visibleSubcommands(const CLI::App& command);
// The options a user can give (hidden ones left out), without the positional arguments.
std::vector<const CLI::Option*> visibleOptions(const CLI::App& command);
std::vector<const CLI::Option*> positionalArguments(const CLI::App& command);

// False for a flag.
bool takesValue(const CLI::Option& option);
// What an option's value (or a positional argument) is, as completions offer it.
enum class ValueKind { none, text, file, folder, choice };
ValueKind valueKind(const CLI::Option& option);
// The values of a choice ("auto|text|xlsx|vcard" gives four).
std::vector<std::string> valueChoices(const CLI::Option& option);

// "Usage: pelkora import [OPTIONS] FILE..." (one line per form).
std::string usageText(const CLI::App& command);
// The whole help of a command, as --help and "pelkora help COMMAND" print it.
std::string helpText(const CLI::App& command);

// The exit codes, as --help and the manual pages list them.
struct ExitCodeText {
    int code;
    std::string_view meaning;
};
const std::vector<ExitCodeText>& exitCodeTexts();

// The manual page (roff, man(7) macros) of a top-level command, or of pelkora itself.
std::string manPage(const CLI::App& command, std::string_view version);
// Writes pelkora.1 and pelkora-COMMAND.1 for every command into the folder.
bool writeManPages(const CLI::App& root, const std::filesystem::path& folder,
                   std::string_view version);

// Completion scripts for the shells, from the command line's definitions.
std::string bashCompletion(const CLI::App& root);
std::string zshCompletion(const CLI::App& root);
std::string fishCompletion(const CLI::App& root);
// Writes pelkora.bash, _pelkora (zsh) and pelkora.fish into the folder.
bool writeCompletions(const CLI::App& root, const std::filesystem::path& folder);

}  // namespace pelkora::cli
