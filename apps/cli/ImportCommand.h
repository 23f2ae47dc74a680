#pragma once

// pelkora import's options and run function, which "pelkora contacts import-vcf" shares.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "MappingSteps.h"

namespace pelkora::cli {

struct ImportCommandOptions {
    MappingRequest mapping;
    // The files and folders named.
    std::vector<std::filesystem::path> operands;
    // The options that map a table's columns, as given; vCards refuse them.
    std::vector<std::string> mappingOptions;
    std::optional<std::string> container;
    std::optional<std::string> store;  // a URI, a path or a store's name
    bool noDuplicates = false;
    bool removeGroups = false;
    bool noNoteText = false;
    bool dryRun = false;
    bool json = false;
    bool strict = false;
};

int runImport(ImportCommandOptions options, const GlobalOptions& globalOptions);

}  // namespace pelkora::cli
