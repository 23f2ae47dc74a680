#include "CommandHelp.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <sstream>

namespace pelkora::cli {
namespace {

constexpr std::size_t kTextWidth = 79;
constexpr std::size_t kNameColumn = 26;

std::map<const CLI::App*, CommandHelp>& registry() {
    static std::map<const CLI::App*, CommandHelp> helps;
    return helps;
}

// Display width in characters (UTF-8 continuation bytes do not count).
std::size_t width(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The text's words in lines of at most kTextWidth characters, each line indented; a line
// of the text that starts with spaces (a list) is kept as it is.
std::string wrapped(std::string_view text, std::size_t indent) {
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        const std::size_t ownIndent = line.find_first_not_of(' ');
        if (ownIndent != std::string_view::npos && ownIndent > 0) {
            // A list line: kept as it is written.
            out += std::string(indent, ' ') + std::string(line) + '\n';
            start = end + 1;
            continue;
        }
        const std::size_t lineIndent = indent;
        std::string current(lineIndent, ' ');
        std::size_t currentWidth = lineIndent;
        bool empty = true;
        std::istringstream words{std::string(line)};
        std::string word;
        while (words >> word) {
            if (!empty && currentWidth + 1 + width(word) > kTextWidth) {
                out += current + '\n';
                current = std::string(lineIndent, ' ');
                currentWidth = lineIndent;
                empty = true;
            }
            if (!empty) {
                current += ' ';
                ++currentWidth;
            }
            current += word;
            currentWidth += width(word);
            empty = false;
        }
        out += (empty ? std::string() : current) + '\n';
        start = end + 1;
    }
    return out;
}

// "  NAME                    description", the description wrapped in its column.
std::string entry(const std::string& name, std::string_view description) {
    std::string out = "  " + name;
    if (description.empty()) return out + '\n';
    std::string text = wrapped(description, kNameColumn);
    if (width(out) + 2 <= kNameColumn) {
        out += std::string(kNameColumn - width(out), ' ');
        text.erase(0, kNameColumn);
    } else {
        out += '\n';
    }
    return out + text;
}

std::string optionNames(const CLI::Option& option) {
    std::string names;
    for (const auto& name : option.get_snames()) names += (names.empty() ? "-" : ", -") + name;
    for (const auto& name : option.get_lnames()) names += (names.empty() ? "--" : ", --") + name;
    if (takesValue(option)) names += " " + option.get_type_name();
    return names;
}

std::string argumentName(const CLI::Option& option) {
    std::string name = option.get_name();
    if (option.get_expected_max() > 1) name += "...";
    return option.get_required() ? name : "[" + name + "]";
}

bool hasOwnOptions(const CLI::App& command) {
    return !visibleOptions(command).empty();
}

// "pelkora import [OPTIONS] FILE...": the command, its options badge and its arguments.
std::string form(const CLI::App& command) {
    std::string line;
    if (const CLI::App* parent = command.get_parent()) {
        line = parent->get_parent() ? form(*parent) : commandPath(*parent);
        line += " " + command.get_name();
    } else {
        line = commandPath(command);
    }
    if (hasOwnOptions(command)) line += " [OPTIONS]";
    for (const CLI::Option* argument : positionalArguments(command))
        line += " " + argumentName(*argument);
    return line;
}

}  // namespace

void describe(CLI::App& command, CommandHelp help) {
    command.description(std::string(help.summary));
    registry()[&command] = std::move(help);
}

const CommandHelp& helpOf(const CLI::App& command) {
    static const CommandHelp none;
    const auto found = registry().find(&command);
    return found == registry().end() ? none : found->second;
}

std::string commandPath(const CLI::App& command) {
    if (const CLI::App* parent = command.get_parent())
        return commandPath(*parent) + " " + command.get_name();
    return command.get_name();
}

std::vector<const CLI::App*> visibleSubcommands(const CLI::App& command) {
    return command.get_subcommands(
        [](const CLI::App* sub) { return !sub->get_group().empty() && !sub->get_name().empty(); });
}

std::vector<const CLI::Option*> visibleOptions(const CLI::App& command) {
    return command.get_options([&](const CLI::Option* option) {
        return !option->get_group().empty() && option->nonpositional() &&
               option != command.get_help_ptr();
    });
}

std::vector<const CLI::Option*> positionalArguments(const CLI::App& command) {
    return command.get_options([](const CLI::Option* option) { return option->get_positional(); });
}

bool takesValue(const CLI::Option& option) {
    return option.get_expected_max() != 0;
}

ValueKind valueKind(const CLI::Option& option) {
    if (!takesValue(option)) return ValueKind::none;
    const std::string type = option.get_positional() ? option.get_name() : option.get_type_name();
    if (type.find('|') != std::string::npos &&
        std::none_of(type.begin(), type.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        return ValueKind::choice;
    if (type == "DIR") return ValueKind::folder;
    // A store is named by a URI or a name too, but most often by its file.
    if (type.ends_with("FILE") || type == "PATH" || type == "STORE" || type.ends_with(".vcf") ||
        type.ends_with(".zubmapping") || type == "VCARDS")
        return ValueKind::file;
    return ValueKind::text;
}

std::vector<std::string> valueChoices(const CLI::Option& option) {
    std::vector<std::string> choices;
    std::istringstream stream(option.get_type_name());
    std::string choice;
    while (std::getline(stream, choice, '|')) choices.push_back(choice);
    return choices;
}

const std::vector<ExitCodeText>& exitCodeTexts() {
    static const std::vector<ExitCodeText> texts = {
        {0, "done"},
        {1, "cancelled (Ctrl-C), or only part of the work was done"},
        {2,
         "usage or input error: an unknown command or option, a missing or bad argument, a "
         "file that cannot be opened or read or holds nothing to use, a row or sheet the "
         "file does not have; import --strict when values would not go in as they stand"},
        {3,
         "the address book, the settings or the import journal could not be opened or "
         "written"},
    };
    return texts;
}

std::string usageText(const CLI::App& command) {
    std::vector<std::string> forms;
    const auto subcommands = visibleSubcommands(command);
    if (!command.get_parent()) {
        forms.push_back(commandPath(command) + " [OPTIONS] COMMAND [ARGUMENTS]");
    } else if (subcommands.empty()) {
        forms.push_back(form(command));
    } else {
        for (const CLI::App* sub : subcommands) forms.push_back(form(*sub));
    }
    std::string out;
    for (std::size_t index = 0; index < forms.size(); ++index)
        out += (index == 0 ? "Usage: " : "       ") + forms[index] + '\n';
    return out;
}

std::string helpText(const CLI::App& command) {
    const CommandHelp& help = helpOf(command);
    std::string out = usageText(command) + '\n';
    if (!help.summary.empty()) out += wrapped(std::string(help.summary) + ".", 0);
    if (!help.description.empty()) {
        std::string_view rest = help.description;
        while (!rest.empty()) {
            const std::size_t end = rest.find("\n\n");
            out += '\n' + wrapped(rest.substr(0, end), 0);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        }
    }
    if (const auto arguments = positionalArguments(command); !arguments.empty()) {
        out += "\nArguments:\n";
        for (const CLI::Option* argument : arguments)
            out += entry(argument->get_name(), argument->get_description());
    }
    const auto subcommands = visibleSubcommands(command);
    if (!subcommands.empty()) {
        out += "\nCommands:\n";
        for (const CLI::App* sub : subcommands)
            out += entry(sub->get_name(), std::string(helpOf(*sub).summary) + ".");
    }
    out += "\nOptions:\n";
    for (const CLI::Option* option : visibleOptions(command))
        out += entry(optionNames(*option), option->get_description());
    if (const CLI::Option* helpOption = command.get_help_ptr())
        out += entry(optionNames(*helpOption), helpOption->get_description());
    if (command.get_parent()) {
        out += "  (and the global options -v/--verbose and -V/--version)\n";
        for (const CLI::App* sub : subcommands) {
            if (visibleOptions(*sub).empty() && positionalArguments(*sub).empty()) continue;
            out += "\n" + std::string(sub->get_name()) + ":\n";
            for (const CLI::Option* argument : positionalArguments(*sub))
                out += entry(argument->get_name(), argument->get_description());
            for (const CLI::Option* option : visibleOptions(*sub))
                out += entry(optionNames(*option), option->get_description());
        }
    }
    if (!help.examples.empty()) {
        out += "\nExamples:\n";
        for (const CommandExample& example : help.examples) {
            out += "  " + std::string(example.commandLine) + '\n';
            out += wrapped(example.explanation, 6);
        }
    }
    out += "\nExit codes:\n";
    for (const ExitCodeText& text : exitCodeTexts())
        out += "  " + std::to_string(text.code) + wrapped(text.meaning, 5).substr(3);
    return out;
}

}  // namespace pelkora::cli
