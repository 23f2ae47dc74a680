#pragma once

// Options several commands share, and the checks of option values: a value that does not
// pass is a usage error, reported by CLI11 with the option's name and the command's usage.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora::cli {

struct MappingRequest;

// --as auto|text|xlsx|vcard: what the files are (an OpenAsFileType tag).
CLI::Option* addOpenAsOption(CLI::App& command, int& openAs);
// The options that map a table's columns: --no-header, --lang, --mapping, --set, --sheet,
// --encoding.
void addMappingOptions(CLI::App& command, MappingRequest& request);
// The names of the mapping options given, in the order given ("--set", "--no-header").
std::vector<std::string> givenMappingOptions(const CLI::App& command);

// An encoding "pelkora encodings" lists.
CLI::Validator encodingNameCheck();
// A language the title vocabulary has (its ISO 639-1 code).
CLI::Validator vocabularyLanguageCheck();
// A whole number of at least `minimum`.
CLI::Validator countCheck(long long minimum);

// The languages of the title vocabulary, sorted.
std::vector<std::string> vocabularyLanguages();

}  // namespace pelkora::cli
