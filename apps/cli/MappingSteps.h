#pragma once

// The steps every command that turns rows into contacts shares (map, import, export-vcard):
// read the file as the wizard does, wait for the automatic mapping, then apply the
// command line's corrections as a user would on the field-mapping page.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CommandLineSession.h"
#include "text/TextEncoding.h"

namespace pelkora {
class FieldMappingPage;
}

namespace pelkora::cli {

struct MappingRequest {
    std::filesystem::path file;
    bool noHeader = false;                 // --no-header
    std::optional<std::string> language;   // --lang xx
    std::vector<std::string> assignments;  // --set COLUMN=TARGET[:LABEL]
    std::optional<TextEncoding> encoding;  // --encoding NAME
    std::optional<std::string> sheet;      // --sheet NAME|ID (workbooks)
    int openAs = 1;                        // --as auto|text|xlsx|vcard, an OpenAsFileType
};

// The OpenAsFileType an --as value names; none for an unknown value.
std::optional<int> openAsTagNamed(std::string_view value);

// Reads the file and maps its columns; on success the session shows the field-mapping page
// with the corrections applied. Otherwise the exit code (the problem has been printed): 2
// for a file that cannot be read, --sheet on a text file, or a correction that does not
// apply.
struct PreparedMapping {
    FieldMappingPage* page = nullptr;
    int exitCode = 0;
};
PreparedMapping prepareMapping(CommandLineSession& run, const MappingRequest& request,
                               std::string_view command);

}  // namespace pelkora::cli
