// Completion scripts for bash, zsh and fish, made from the command line's definitions: the
// commands and their subcommands, each command's options, and what an option's value or a
// command's arguments are (files, folders, one of a few words) as the value's name says.

#include <CLI/CLI.hpp>
#include <fstream>

#include "CommandHelp.h"

namespace pelkora::cli {
namespace {

// The command's path below pelkora: "", "import", "contacts list".
std::string key(const CLI::App& command) {
    const CLI::App* parent = command.get_parent();
    if (!parent) return {};
    const std::string above = key(*parent);
    return above.empty() ? command.get_name() : above + " " + command.get_name();
}

// Every command of the tree, pelkora itself first.
void collect(const CLI::App& command, std::vector<const CLI::App*>& commands) {
    commands.push_back(&command);
    for (const CLI::App* sub : visibleSubcommands(command)) collect(*sub, commands);
}

std::vector<const CLI::Option*> optionsWithHelp(const CLI::App& command) {
    auto options = visibleOptions(command);
    if (const CLI::Option* help = command.get_help_ptr()) options.push_back(help);
    return options;
}

std::vector<std::string> names(const CLI::Option& option) {
    std::vector<std::string> result;
    for (const auto& name : option.get_snames()) result.push_back("-" + name);
    for (const auto& name : option.get_lnames()) result.push_back("--" + name);
    return result;
}

// The first sentence of a description, for the shells' one-line hints.
std::string hint(std::string_view text) {
    std::string line(text.substr(0, text.find(". ")));
    if (!line.empty() && line.back() == '.') line.pop_back();
    if (line.size() > 70) {
        line.resize(70);
        while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80)
            line.pop_back();
        if (!line.empty()) line.pop_back();
        line += "…";
    }
    return line;
}

std::string words(const std::vector<std::string>& list) {
    std::string out;
    for (const auto& word : list) out += (out.empty() ? "" : " ") + word;
    return out;
}

// What bash and fish complete for a value: none, text, file, folder, command or
// "choice WORD...".
std::string kindWord(const CLI::Option& option) {
    switch (valueKind(option)) {
        case ValueKind::none:
            return "none";
        case ValueKind::text:
            return option.get_name() == "COMMAND" ? "command" : "text";
        case ValueKind::file:
            return "file";
        case ValueKind::folder:
            return "folder";
        case ValueKind::choice:
            return "choice " + words(valueChoices(option));
    }
    return "text";
}

// A text in single quotes for a POSIX shell.
std::string shellQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

// A description inside zsh's _arguments brackets, already inside single quotes.
std::string zshDescription(std::string_view text) {
    std::string out;
    for (char c : hint(text)) {
        if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out;
}

std::string zshAction(const CLI::Option& option) {
    switch (valueKind(option)) {
        case ValueKind::file:
            return "_files";
        case ValueKind::folder:
            return "_files -/";
        case ValueKind::choice:
            return "(" + words(valueChoices(option)) + ")";
        case ValueKind::text:
            return option.get_name() == "COMMAND" ? "->command" : " ";
        case ValueKind::none:
            break;
    }
    return " ";
}

std::string zshMessage(const CLI::Option& option) {
    std::string message = option.get_positional() ? option.get_name() : option.get_type_name();
    for (auto& c : message) {
        if (c == ':' || c == '\'' || c == '[' || c == ']') c = ' ';
    }
    return message;
}

std::string zshFunction(const CLI::App& command) {
    std::string name = "_pelkora";
    for (const char c : key(command))
        name += c == ' ' ? std::string("__") : std::string(1, c == '-' ? '_' : c);
    if (command.get_parent()) name.insert(8, "__");
    return name;
}

std::string zshOptionSpecs(const CLI::App& command) {
    std::string out;
    std::vector<const CLI::Option*> options;
    for (const CLI::App* level = &command; level; level = level->get_parent()) {
        for (const CLI::Option* option : optionsWithHelp(*level)) {
            if (level != &command && option == level->get_help_ptr()) continue;
            options.push_back(option);
        }
    }
    for (const CLI::Option* option : options) {
        const auto optionNames = names(*option);
        const bool hasValue = takesValue(*option);
        const bool repeatable = option->get_items_expected_max() > 1;
        std::string spec;
        std::string group = "(" + words(optionNames) + ")";
        std::string description = "[" + zshDescription(option->get_description()) + "]";
        std::string value = hasValue ? ":" + zshMessage(*option) + ":" + zshAction(*option) : "";
        if (optionNames.size() == 1) {
            std::string optionName = optionNames.front();
            if (hasValue) optionName += optionName.starts_with("--") ? "=" : "+";
            spec =
                "'" + std::string(repeatable ? "*" : "") + optionName + description + value + "'";
        } else {
            std::string braces;
            for (const auto& optionName : optionNames)
                braces += (braces.empty() ? "" : ",") + optionName +
                          (hasValue ? (optionName.starts_with("--") ? "=" : "+") : "");
            spec = (repeatable ? "'*'" : "'" + group + "'") + "{" + braces + "}'" + description +
                   value + "'";
        }
        out += "        " + spec + " \\\n";
    }
    return out;
}

}  // namespace

std::string bashCompletion(const CLI::App& root) {
    std::vector<const CLI::App*> commands;
    collect(root, commands);
    std::string out =
        "# bash completion for pelkora; made by pelkora --generate-completions from its\n"
        "# command-line definitions.\n\n";
    out += "_pelkora_subcommands() {\n    case \"$1\" in\n";
    for (const CLI::App* command : commands) {
        std::vector<std::string> subs;
        for (const CLI::App* sub : visibleSubcommands(*command)) subs.push_back(sub->get_name());
        if (!subs.empty())
            out += "        " + shellQuoted(key(*command)) + ") echo " + shellQuoted(words(subs)) +
                   " ;;\n";
    }
    out += "    esac\n}\n\n_pelkora_options() {\n    case \"$1\" in\n";
    for (const CLI::App* command : commands) {
        std::vector<std::string> list;
        for (const CLI::Option* option : optionsWithHelp(*command)) {
            const auto optionNames = names(*option);
            list.insert(list.end(), optionNames.begin(), optionNames.end());
        }
        out += "        " + shellQuoted(key(*command)) + ") echo " + shellQuoted(words(list)) +
               " ;;\n";
    }
    out +=
        "    esac\n}\n\n"
        "# What an option's value is: none (a flag), text, file, folder or \"choice WORD...\".\n"
        "_pelkora_value() {\n    case \"$1|$2\" in\n";
    for (const CLI::App* command : commands) {
        for (const CLI::Option* option : optionsWithHelp(*command)) {
            std::string patterns;
            for (const auto& optionName : names(*option))
                patterns +=
                    (patterns.empty() ? "" : "|") + shellQuoted(key(*command) + "|" + optionName);
            out += "        " + patterns + ") echo " + shellQuoted(kindWord(*option)) + " ;;\n";
        }
    }
    out +=
        "        *) return 1 ;;\n    esac\n}\n\n"
        "_pelkora_arguments() {\n    case \"$1\" in\n";
    for (const CLI::App* command : commands) {
        const auto arguments = positionalArguments(*command);
        if (!arguments.empty())
            out += "        " + shellQuoted(key(*command)) + ") echo " +
                   shellQuoted(kindWord(*arguments.front())) + " ;;\n";
    }
    out += R"BASH(        *) echo none ;;
    esac
}

# The option is looked up in the command, then in the commands above it, whose options
# are accepted after the command's name too.
_pelkora_lookup() {
    local path=$1
    while :; do
        _pelkora_value "$path" "$2" && return 0
        [ -z "$path" ] && return 1
        case "$path" in *' '*) path=${path% *} ;; *) path= ;; esac
    done
}

_pelkora_complete_value() {
    local kind=$1 cur=$2
    case "$kind" in
        file) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")) ;;
        folder) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")) ;;
        command) COMPREPLY=($(compgen -W "$(_pelkora_subcommands '')" -- "$cur")) ;;
        choice\ *) COMPREPLY=($(compgen -W "${kind#choice }" -- "$cur")) ;;
        *) COMPREPLY=() ;;
    esac
}

_pelkora() {
    local words cword cur prev
    if declare -F _get_comp_words_by_ref >/dev/null; then
        _get_comp_words_by_ref -n =: -w words -i cword -c cur
    else
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
        cur=${COMP_WORDS[COMP_CWORD]}
    fi
    COMPREPLY=()
    local path= only= index=1 word kind
    while [ "$index" -lt "$cword" ]; do
        word=${words[index]}
        if [ -n "$only" ]; then
            :
        elif [ "$word" = -- ]; then
            only=1
        elif [[ $word == -* ]]; then
            if [[ $word != *=* ]] && kind=$(_pelkora_lookup "$path" "$word") && [ "$kind" != none ]; then
                index=$((index + 1))
            fi
        elif [[ " $(_pelkora_subcommands "$path") " == *" $word "* ]]; then
            path=${path:+$path }$word
        fi
        index=$((index + 1))
    done
    prev=${words[cword - 1]}
    if [ -z "$only" ]; then
        if [[ $cur == --*=* ]]; then
            kind=$(_pelkora_lookup "$path" "${cur%%=*}") && _pelkora_complete_value "$kind" "${cur#*=}"
            return
        fi
        if [[ $prev == -* ]] && kind=$(_pelkora_lookup "$path" "$prev") && [ "$kind" != none ]; then
            _pelkora_complete_value "$kind" "$cur"
            return
        fi
        if [[ $cur == -* ]]; then
            local options= level=$path
            while :; do
                options="$options $(_pelkora_options "$level")"
                [ -z "$level" ] && break
                case "$level" in *' '*) level=${level% *} ;; *) level= ;; esac
            done
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
            return
        fi
    fi
    local subcommands
    subcommands=$(_pelkora_subcommands "$path")
    if [ -n "$subcommands" ] && [ -z "$only" ]; then
        COMPREPLY=($(compgen -W "$subcommands" -- "$cur"))
        return
    fi
    _pelkora_complete_value "$(_pelkora_arguments "$path")" "$cur"
}

complete -F _pelkora pelkora
)BASH";
    return out;
}

std::string zshCompletion(const CLI::App& root) {
    std::vector<const CLI::App*> commands;
    collect(root, commands);
    std::string out =
        "#compdef pelkora\n"
        "# zsh completion for pelkora; made by pelkora --generate-completions from its\n"
        "# command-line definitions.\n\n";
    for (auto command = commands.rbegin(); command != commands.rend(); ++command) {
        const CLI::App& app = **command;
        const auto subcommands = visibleSubcommands(app);
        out += zshFunction(app) + "() {\n";
        if (!subcommands.empty()) {
            out +=
                "    local curcontext=\"$curcontext\" state line\n"
                "    typeset -A opt_args\n"
                "    _arguments -C -s \\\n" +
                zshOptionSpecs(app) +
                "        '1: :->command' \\\n"
                "        '*:: :->argument' && return\n"
                "    case $state in\n"
                "        command)\n"
                "            local -a commands\n"
                "            commands=(\n";
            for (const CLI::App* sub : subcommands) {
                std::string item = sub->get_name() + ":" + hint(helpOf(*sub).summary);
                out += "                " + shellQuoted(item) + "\n";
            }
            out +=
                "            )\n"
                "            _describe -t commands 'command' commands ;;\n"
                "        argument)\n"
                "            case $words[1] in\n";
            for (const CLI::App* sub : subcommands)
                out += "                " + sub->get_name() + ") " + zshFunction(*sub) + " ;;\n";
            out += "            esac ;;\n    esac\n}\n\n";
            continue;
        }
        const auto arguments = positionalArguments(app);
        const bool completesCommands =
            !arguments.empty() && arguments.front()->get_name() == "COMMAND";
        if (completesCommands) out += "    local curcontext=\"$curcontext\" state line\n";
        out += "    _arguments" + std::string(completesCommands ? " -C" : "") + " -s \\\n" +
               zshOptionSpecs(app);
        std::size_t position = 1;
        for (const CLI::Option* argument : arguments) {
            const bool many = argument->get_expected_max() > 1;
            const std::string where = many ? "*" : std::to_string(position++);
            out += "        '" + where + ":" + zshMessage(*argument) + ":" + zshAction(*argument) +
                   "' \\\n";
        }
        out += "        && return\n";
        if (completesCommands) {
            std::string list;
            for (const CLI::App* sub : visibleSubcommands(root)) list += " " + sub->get_name();
            out += "    [[ $state == command ]] && compadd --" + list + "\n";
        }
        out += "}\n\n";
    }
    out += "_pelkora \"$@\"\n";
    return out;
}

std::string fishCompletion(const CLI::App& root) {
    std::vector<const CLI::App*> commands;
    collect(root, commands);
    auto quoted = [](std::string_view text) {
        std::string out = "'";
        for (char c : text) {
            if (c == '\'' || c == '\\') out += '\\';
            out += c;
        }
        return out + "'";
    };
    std::string out =
        "# fish completion for pelkora; made by pelkora --generate-completions from its\n"
        "# command-line definitions.\n\n"
        "complete -c pelkora -f\n";
    for (const CLI::App* command : commands) {
        // The condition under which the command's options, arguments and subcommands apply.
        std::string condition;
        if (command->get_parent() == &root) {
            condition = "__fish_seen_subcommand_from " + command->get_name();
        } else if (command->get_parent()) {
            condition = "__fish_seen_subcommand_from " + command->get_parent()->get_name() +
                        "; and __fish_seen_subcommand_from " + command->get_name();
        }
        const std::string when = condition.empty() ? "" : " -n " + quoted(condition);
        for (const CLI::Option* option : optionsWithHelp(*command)) {
            std::string line = "complete -c pelkora" + when;
            for (const auto& name : option->get_snames()) line += " -s " + name;
            for (const auto& name : option->get_lnames()) line += " -l " + name;
            switch (valueKind(*option)) {
                case ValueKind::none:
                    break;
                case ValueKind::file:
                    line += " -r -F";
                    break;
                case ValueKind::folder:
                    line += " -x -a '(__fish_complete_directories)'";
                    break;
                case ValueKind::choice:
                    line += " -x -a " + quoted(words(valueChoices(*option)));
                    break;
                case ValueKind::text:
                    line += " -x";
                    break;
            }
            out += line + " -d " + quoted(hint(option->get_description())) + "\n";
        }
        const auto subcommands = visibleSubcommands(*command);
        if (!subcommands.empty()) {
            std::vector<std::string> subNames;
            for (const CLI::App* sub : subcommands) subNames.push_back(sub->get_name());
            const std::string offer =
                command == &root
                    ? "__fish_use_subcommand"
                    : condition + "; and not __fish_seen_subcommand_from " + words(subNames);
            for (const CLI::App* sub : subcommands)
                out += "complete -c pelkora -n " + quoted(offer) + " -a " +
                       quoted(sub->get_name()) + " -d " + quoted(hint(helpOf(*sub).summary)) + "\n";
        }
        const auto arguments = positionalArguments(*command);
        if (!arguments.empty()) {
            const std::string kind = kindWord(*arguments.front());
            if (kind == "file") {
                out += "complete -c pelkora" + when + " -F\n";
            } else if (kind == "command") {
                std::vector<std::string> rootNames;
                for (const CLI::App* sub : visibleSubcommands(root))
                    rootNames.push_back(sub->get_name());
                out += "complete -c pelkora" + when + " -x -a " + quoted(words(rootNames)) + "\n";
            }
        }
    }
    return out;
}

bool writeCompletions(const CLI::App& root, const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream file(folder / name, std::ios::binary);
        file << text;
        return static_cast<bool>(file);
    };
    const bool bash = write("pelkora.bash", bashCompletion(root));
    const bool zsh = write("_pelkora", zshCompletion(root));
    const bool fish = write("pelkora.fish", fishCompletion(root));
    return bash && zsh && fish;
}

}  // namespace pelkora::cli
