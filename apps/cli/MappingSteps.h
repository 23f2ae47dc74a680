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
#include "mapping/SavedMapping.h"
#include "support/Expected.h"
#include "text/TextEncoding.h"

namespace pelkora {
class FieldMappingPage;
}

namespace pelkora::cli {

struct MappingRequest {
    std::filesystem::path file;
    bool noHeader = false;                    // --no-header
    std::optional<std::string> language;      // --lang xx
    std::vector<std::string> assignments;     // --set COLUMN=TARGET[:LABEL]
    std::optional<std::string> savedMapping;  // --mapping NAME|FILE.zubmapping
    std::optional<TextEncoding> encoding;     // --encoding NAME
    std::optional<std::string> sheet;         // --sheet NAME|ID (workbooks)
    int openAs = 1;                           // --as auto|text|xlsx|vcard, an OpenAsFileType
};

// The OpenAsFileType an --as value names; none for an unknown value.
std::optional<int> openAsTagNamed(std::string_view value);

// The saved mapping a --mapping value (or a mappings command's NAME) names: the first mapping
// of a ".zubmapping" file, else the stored mapping of that title, ignoring case. Otherwise
// what the user is told.
struct NamedMapping {
    SavedMapping mapping;
    bool stored = false;  // from the user's store, not from a file
};
Expected<NamedMapping, std::string> findSavedMapping(const MappingStore& store,
                                                     const std::string& name);

// Reads the file and maps its columns; on success the session shows the field-mapping page
// with the corrections applied. Otherwise the exit code (the problem has been printed): 2
// for a file that cannot be read, --sheet on a text file, a saved mapping that is not there
// or matches no column title, or a correction that does not apply. The saved mapping is
// applied after the automatic mapping and before the corrections; its use is counted in the
// store only by a session that learns.
struct PreparedMapping {
    FieldMappingPage* page = nullptr;
    int exitCode = 0;
};
PreparedMapping prepareMapping(CommandLineSession& run, const MappingRequest& request,
                               std::string_view command);

}  // namespace pelkora::cli
