#pragma once

// Why a document could not be opened, and how the front end presents it.

#include <string>
#include <string_view>

namespace pelkora {

enum class ImportError {
    unknownFormat,
    unreadableTextFile,
    unreadableExcelFile,
    unsupportedExcel97Workbook,
    vCard,
    unsupportedBinarySpreadsheet,
    numbersSpreadsheet,
    openDocumentSpreadsheet,
    protectedExcelFile,
    // The file is there but may not be read (its permissions, a security module).
    permissionDenied,
    // A folder, a device or a named pipe.
    notARegularFile,
};

// The error's own description, as a log or a message line uses it.
std::string localizedDescription(ImportError error);

// The heading and text of the alert that reports an open failure.
struct OpenErrorPresentation {
    std::string heading;
    std::string text;
    bool operator==(const OpenErrorPresentation&) const = default;
};

OpenErrorPresentation presentationOf(ImportError error);

// The enumerator's name ("unknownFormat"), for scripts and tests.
std::string_view importErrorName(ImportError error);

}  // namespace pelkora
