// Manual pages in roff (man(7) macros), made from the command line's definitions and the
// texts describe() keeps: pelkora(1) lists the commands, pelkora-COMMAND(1) explains one.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>

#include "CommandHelp.h"

namespace pelkora::cli {
namespace {

// Text for roff: backslashes and hyphens escaped, non-ASCII characters as \[uXXXX] so that
// no input encoding has to be guessed, and no line starting with a control character.
std::string roff(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (std::size_t index = 0; index < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[index]);
        if (c >= 0x80) {
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            char32_t codePoint = c & (length == 4 ? 0x07 : length == 3 ? 0x0F : 0x1F);
            for (std::size_t more = 1; more < length && index + more < text.size(); ++more)
                codePoint =
                    (codePoint << 6) | (static_cast<unsigned char>(text[index + more]) & 0x3F);
            char escape[16];
            std::snprintf(escape, sizeof escape, "\\[u%04X]", static_cast<unsigned>(codePoint));
            out += escape;
            index += length;
            lineStart = false;
            continue;
        }
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += static_cast<char>(c);
        }
        lineStart = c == '\n';
        ++index;
    }
    return out;
}

// Paragraphs separated by blank lines; lines of a paragraph that start with spaces are
// kept as they are (lists), the others are filled.
std::string paragraphs(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const std::size_t end = text.find("\n\n");
        const std::string_view paragraph = text.substr(0, end);
        out += ".PP\n";
        std::size_t start = 0;
        while (start < paragraph.size()) {
            std::size_t lineEnd = paragraph.find('\n', start);
            if (lineEnd == std::string_view::npos) lineEnd = paragraph.size();
            const std::string_view line = paragraph.substr(start, lineEnd - start);
            if (line.starts_with(" ")) {
                out += ".br\n" + roff(line.substr(line.find_first_not_of(' '))) + "\n";
            } else {
                out += roff(line) + "\n";
            }
            start = lineEnd + 1;
        }
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 2);
    }
    return out;
}

std::string optionItem(const CLI::Option& option) {
    std::string names;
    for (const auto& name : option.get_snames())
        names += (names.empty() ? "" : ", ") + ("\\fB\\-" + roff(name) + "\\fR");
    for (const auto& name : option.get_lnames())
        names += (names.empty() ? "" : ", ") + ("\\fB\\-\\-" + roff(name) + "\\fR");
    if (takesValue(option)) names += " \\fI" + roff(option.get_type_name()) + "\\fR";
    return ".TP\n" + names + "\n" + roff(option.get_description()) + "\n";
}

std::string argumentItem(const CLI::Option& argument) {
    return ".TP\n\\fI" + roff(argument.get_name()) + "\\fR" +
           (argument.get_expected_max() > 1 ? "..." : "") + "\n" +
           roff(argument.get_description()) + "\n";
}

std::string optionsOf(const CLI::App& command) {
    std::string out;
    for (const CLI::Option* argument : positionalArguments(command)) out += argumentItem(*argument);
    for (const CLI::Option* option : visibleOptions(command)) out += optionItem(*option);
    return out;
}

std::string pageName(const CLI::App& command) {
    return command.get_parent() ? "pelkora-" + command.get_name() : "pelkora";
}

std::string upper(std::string text) {
    for (auto& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return text;
}

}  // namespace

std::string manPage(const CLI::App& command, std::string_view version) {
    const CommandHelp& help = helpOf(command);
    const std::string name = pageName(command);
    std::string out = ".\\\" Made by pelkora --generate-man from its command-line definitions.\n";
    out += ".TH " + roff(upper(name)) + " 1 \"\" \"pelkora " + roff(version) +
           "\" \"Pelkora Manual\"\n";
    out += ".SH NAME\n" + roff(name) + " \\- " + roff(help.summary) + "\n";
    out += ".SH SYNOPSIS\n.nf\n";
    std::string usage = usageText(command);
    std::size_t start = 0;
    while (start < usage.size()) {
        const std::size_t end = usage.find('\n', start);
        std::string line = usage.substr(start, end - start);
        line.erase(0, line.find("pelkora"));
        out += "\\fB" + roff(line) + "\\fR\n";
        start = end + 1;
    }
    out += ".fi\n.SH DESCRIPTION\n" + paragraphs(std::string(help.summary) + ".");
    if (!help.description.empty()) out += paragraphs(help.description);

    const auto subcommands = visibleSubcommands(command);
    if (!command.get_parent()) {
        out += ".SH COMMANDS\n";
        for (const CLI::App* sub : subcommands) {
            out += ".TP\n\\fB" + roff(sub->get_name()) + "\\fR\n" + roff(helpOf(*sub).summary) +
                   "; see \\fB" + roff(pageName(*sub)) + "\\fR(1).\n";
        }
    }
    out += ".SH OPTIONS\n" + optionsOf(command);
    if (const CLI::Option* helpOption = command.get_help_ptr()) out += optionItem(*helpOption);
    if (command.get_parent()) {
        out +=
            ".PP\nThe global options \\fB\\-v\\fR, \\fB\\-\\-verbose\\fR and \\fB\\-V\\fR, "
            "\\fB\\-\\-version\\fR (see \\fBpelkora\\fR(1)) go anywhere on the line.\n";
        out +=
            ".PP\nA \\fB\\-\\-\\fR ends the options: what follows is an argument even when "
            "it starts with a hyphen. Options take their value as the next argument or "
            "after an equals sign (\\fB\\-\\-lang=de\\fR).\n";
    }
    if (command.get_parent() && !subcommands.empty()) {
        out += ".SH COMMANDS\n";
        for (const CLI::App* sub : subcommands) {
            const CommandHelp& subHelp = helpOf(*sub);
            out += ".SS \"" + roff(commandPath(*sub)) + "\"\n";
            out += paragraphs(std::string(subHelp.summary) + ".");
            if (!subHelp.description.empty()) out += paragraphs(subHelp.description);
            if (const std::string options = optionsOf(*sub); !options.empty()) out += options;
        }
    }
    if (!help.examples.empty()) {
        out += ".SH EXAMPLES\n";
        for (const CommandExample& example : help.examples) {
            out += ".TP\n\\fB" + roff(example.commandLine) + "\\fR\n" + roff(example.explanation) +
                   "\n";
        }
    }
    out += ".SH \"EXIT STATUS\"\n";
    for (const ExitCodeText& text : exitCodeTexts())
        out += ".TP\n.B " + std::to_string(text.code) + "\n" + roff(text.meaning) + "\n";
    if (!command.get_parent()) {
        out +=
            ".SH FILES\n"
            ".TP\n\\fI$XDG_CONFIG_HOME/pelkora/settings.plist\\fR\n"
            "The settings (\\fI~/.config/pelkora\\fR by default).\n"
            ".TP\n\\fI$XDG_STATE_HOME/pelkora/logs/runtime.log\\fR\n"
            "The runtime log (\\fI~/.local/state/pelkora/logs\\fR by default).\n"
            ".TP\n\\fI$XDG_DATA_HOME/pelkora/contacts.sqlite\\fR\n"
            "The address book (\\fI~/.local/share/pelkora\\fR by default).\n"
            ".TP\n\\fI$XDG_DATA_HOME/pelkora/imports/\\fR\n"
            "The import journal, one folder per import, that \\fBpelkora undo\\fR reads.\n"
            ".TP\n\\fI$XDG_DATA_HOME/pelkora/SavedMappings\\fR\n"
            "The saved mappings, which \\fBpelkora mappings\\fR lists and changes.\n";
    }
    out += ".SH \"SEE ALSO\"\n";
    if (command.get_parent()) {
        out += "\\fBpelkora\\fR(1)\n";
    } else {
        std::string list;
        for (const CLI::App* sub : subcommands)
            list += (list.empty() ? "" : ",\n") + ("\\fB" + roff(pageName(*sub)) + "\\fR(1)");
        out += list + "\n";
    }
    return out;
}

bool writeManPages(const CLI::App& root, const std::filesystem::path& folder,
                   std::string_view version) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    auto write = [&](const CLI::App& command) {
        std::ofstream file(folder / (pageName(command) + ".1"), std::ios::binary);
        file << manPage(command, version);
        return static_cast<bool>(file);
    };
    bool written = write(root);
    for (const CLI::App* command : visibleSubcommands(root)) written = write(*command) && written;
    return written;
}

}  // namespace pelkora::cli
