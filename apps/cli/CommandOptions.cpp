#include "CommandOptions.h"

#include <algorithm>
#include <charconv>

#include "MappingSteps.h"
#include "mapping/StringMap.h"
#include "text/TextEncoding.h"

namespace pelkora::cli {
namespace {

constexpr std::string_view kMappingOptions[] = {"--set",  "--no-header", "--sheet",
                                                "--lang", "--encoding",  "--mapping"};

}  // namespace

CLI::Option* addOpenAsOption(CLI::App& command, int& openAs) {
    return command
        .add_option_function<std::string>(
            "--as", [&openAs](const std::string& value) { openAs = *openAsTagNamed(value); },
            "What the files are, instead of what their names and content say: auto, text "
            "(CSV/TSV), xlsx (Excel workbook) or vcard.")
        ->type_name("auto|text|xlsx|vcard")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                if (openAsTagNamed(value)) return {};
                return "unknown value “" + value + "”: use auto, text, xlsx or vcard";
            },
            ""));
}

void addMappingOptions(CLI::App& command, MappingRequest& request) {
    command.add_flag("--no-header", request.noHeader,
                     "The first row holds data, not column titles.");
    command
        .add_option("--lang", request.language,
                    "Match the column titles in this language (an ISO 639-1 code such as de) "
                    "instead of the detected one.")
        ->type_name("xx")
        ->check(vocabularyLanguageCheck());
    command
        .add_option("--mapping", request.savedMapping,
                    "Apply a saved mapping after the automatic mapping and before --set: one "
                    "\"pelkora mappings list\" shows (by its title, ignoring case), or the first "
                    "mapping of a .zubmapping file. An error when a mapping by name matches no "
                    "column title.")
        ->type_name("NAME|FILE.zubmapping");
    command
        .add_option("--set", request.assignments,
                    "Correct a column by hand (repeatable). COLUMN: its letters, number or "
                    "title; TARGET: a key such as phoneNumbers or postalAddresses/street, or a "
                    "title from \"pelkora catalogue\"; LABEL: a label, its display text, a "
                    "custom text, or \"extract\". An import learns them for later files (map only "
                    "with --learn).")
        ->type_name("COLUMN=TARGET[:LABEL]")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                if (value.find('=') != std::string::npos) return {};
                return "takes COLUMN=TARGET[:LABEL], not “" + value + "”";
            },
            ""));
    command
        .add_option("--sheet", request.sheet,
                    "The sheet of an Excel workbook, by name or number (\"pelkora sheets\" "
                    "lists them); an error for a text file.")
        ->type_name("NAME|ID");
    command
        .add_option_function<std::string>(
            "--encoding",
            [&request](const std::string& name) { request.encoding = TextEncoding::named(name); },
            "Read a text file in this encoding instead of the detected one (\"pelkora "
            "encodings\" lists them).")
        ->type_name("NAME")
        ->check(encodingNameCheck());
}

std::vector<std::string> givenMappingOptions(const CLI::App& command) {
    std::vector<std::string> given;
    for (const CLI::Option* option : command.parse_order()) {
        for (std::string_view name : kMappingOptions) {
            if (option->check_name(std::string(name)) &&
                std::find(given.begin(), given.end(), name) == given.end())
                given.emplace_back(name);
        }
    }
    return given;
}

CLI::Validator encodingNameCheck() {
    return CLI::Validator(
        [](std::string& name) -> std::string {
            if (TextEncoding::named(name)) return {};
            return "unknown encoding “" + name + "”. Run “pelkora encodings” for the list.";
        },
        "");
}

std::vector<std::string> vocabularyLanguages() {
    std::vector<std::string> codes;
    for (const auto& language : pelkora::vocabularyLanguages(vendorStringMap()))
        codes.push_back(language.code);
    std::sort(codes.begin(), codes.end());
    return codes;
}

CLI::Validator vocabularyLanguageCheck() {
    return CLI::Validator(
        [](std::string& code) -> std::string {
            const auto languages = vocabularyLanguages();
            if (std::find(languages.begin(), languages.end(), code) != languages.end()) return {};
            std::string list;
            for (const auto& language : languages) list += (list.empty() ? "" : ", ") + language;
            return "the title vocabulary has no language “" + code + "”; it has " + list;
        },
        "");
}

CLI::Validator countCheck(long long minimum) {
    return CLI::Validator(
        [minimum](std::string& text) -> std::string {
            long long number = 0;
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), number);
            if (error == std::errc() && end == text.data() + text.size() && number >= minimum)
                return {};
            return "takes a whole number from " + std::to_string(minimum) + ", not “" + text + "”";
        },
        "");
}

}  // namespace pelkora::cli
