#include "InputFiles.h"

#include <algorithm>
#include <memory>
#include <string>

#include "Command.h"
#include "addressbook/ContactAuthorization.h"
#include "platform/SettingsStore.h"
#include "session/ImportSession.h"

namespace pelkora::cli {
namespace {

bool hasVCardExtension(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    });
    return extension == ".vcf";
}

// How a message names a file that is not a vCard.
std::string whatItIs(DetectedFileType type) {
    return type == DetectedFileType::unknown ? "is not a vCard file" : "is a table";
}

}  // namespace

std::vector<std::filesystem::path> vCardFilesInFolder(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::error_code typeError;
        if (entry.is_regular_file(typeError) && hasVCardExtension(entry.path()))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end(), [](const auto& left, const auto& right) {
        return left.filename() < right.filename();
    });
    return files;
}

std::optional<InputFiles> classifyInputFiles(std::string_view command,
                                             const std::vector<std::filesystem::path>& operands,
                                             int openAsTag, int& exitCode) {
    const std::string prefix = std::string(command) + ": ";
    exitCode = kUsageError;
    InputFiles input;
    for (const auto& operand : operands) {
        std::error_code error;
        if (!std::filesystem::exists(operand, error)) {
            printError(operand.string() + ": no such file");
            return std::nullopt;
        }
        if (!std::filesystem::is_directory(operand, error)) {
            input.files.push_back(operand);
            continue;
        }
        auto inFolder = vCardFilesInFolder(operand);
        if (inFolder.empty()) {
            printError(prefix + operand.string() + ": the folder holds no .vcf file");
            return std::nullopt;
        }
        input.files.insert(input.files.end(), inFolder.begin(), inFolder.end());
    }

    // The session that opens the files later classifies them the same way. This one is never
    // launched, so it writes no settings.
    ImportSession classifier(SettingsStore::standard(),
                             std::make_shared<AlwaysAuthorizedProvider>());
    classifier.setOpenAsFileType(openAsTag);
    std::optional<std::filesystem::path> firstVCard;
    std::optional<std::pair<std::filesystem::path, DetectedFileType>> firstTable;
    std::size_t tables = 0;
    for (const auto& file : input.files) {
        const DetectedFileType type = classifier.requestedFileType(file);
        if (type == DetectedFileType::vCard) {
            if (!firstVCard) firstVCard = file;
        } else {
            if (!firstTable) firstTable = {file, type};
            ++tables;
        }
    }
    if (firstVCard && firstTable) {
        printError(prefix + firstVCard->string() + " is a vCard file and " +
                   firstTable->first.string() + " " + whatItIs(firstTable->second) +
                   "; import them separately");
        return std::nullopt;
    }
    if (tables > 1) {
        printError(prefix + "tables are imported one at a time, and " + firstTable->first.string() +
                   " and " + input.files[1].string() +
                   " are both tables (vCard files can go together)");
        return std::nullopt;
    }
    exitCode = kSuccess;
    input.areVCards = firstVCard.has_value();
    return input;
}

}  // namespace pelkora::cli
