#include "session/MappingsWindowModel.h"

#include "platform/AtomicFile.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"

namespace pelkora {

Expected<std::vector<SavedMapping>, std::string> readMappingFile(
    const std::filesystem::path& file) {
    auto bytes = readWholeFile(file);
    if (!bytes) return Unexpected(bytes.error().message);
    auto mappings = unarchiveSavedMappings(*bytes);
    if (!mappings) {
        writeLog(LogType::error, "Cannot unarchive saved mappings: %{public}@",
                 mappings.error().message);
        return Unexpected(formatMessage(localizedString("“%@” is not a file of saved mappings: %@"),
                                        file.string(), mappings.error().message));
    }
    return std::move(*mappings);
}

std::vector<MappingsWindowRow> MappingsWindowModel::rows() const {
    std::vector<MappingsWindowRow> rows;
    for (const auto& mapping : store_.mappings()) {
        rows.push_back({mapping.title, mapping.mappingMode, mapping.mappedContactProperties.size(),
                        mapping.usageCount, mapping.updatedOn, mapping.uuid});
    }
    return rows;
}

std::string MappingsWindowModel::emptyStateText() {
    return localizedString("No saved mappings.");
}

std::string MappingsWindowModel::modeText(MappingMode mode) {
    return mode == MappingMode::byPosition ? localizedString("By Position")
                                           : localizedString("By Name");
}

Expected<std::vector<std::string>, std::string> MappingsWindowModel::uuidsOf(
    const std::vector<std::size_t>& rows) const {
    const auto& mappings = store_.mappings();
    std::vector<std::string> uuids;
    for (auto row : rows) {
        if (row >= mappings.size())
            return Unexpected(
                formatMessage(localizedString("There is no mapping %@."), std::to_string(row + 1)));
        uuids.push_back(mappings[row].uuid);
    }
    return uuids;
}

Expected<void, std::string> MappingsWindowModel::rename(std::size_t row, std::string title) {
    auto uuids = uuidsOf({row});
    if (!uuids) return Unexpected(uuids.error());
    if (title.empty()) return Unexpected(localizedString("A mapping needs a title."));
    return store_.rename(uuids->front(), std::move(title));
}

Confirmation MappingsWindowModel::deleteConfirmation() {
    return {localizedString("Do you really want to delete the selected mappings?"),
            localizedString("This cannot be undone."),
            {localizedString("Delete"), localizedString("Cancel")}};
}

Expected<void, std::string> MappingsWindowModel::remove(const std::vector<std::size_t>& rows) {
    auto uuids = uuidsOf(rows);
    if (!uuids) return Unexpected(uuids.error());
    return store_.remove(*uuids);
}

std::string MappingsWindowModel::suggestedExportFileName(std::size_t rowCount) {
    return exportFileName(rowCount);
}

Expected<void, std::string> MappingsWindowModel::exportRows(
    const std::vector<std::size_t>& rows, const std::filesystem::path& file) const {
    if (rows.empty()) return Unexpected(localizedString("Select the mappings to export."));
    auto uuids = uuidsOf(rows);
    if (!uuids) return Unexpected(uuids.error());
    std::vector<SavedMapping> chosen;
    for (const auto& uuid : *uuids) chosen.push_back(*store_.findByUuid(uuid));
    // As the other exports: a symbolic link at the place is replaced, never written through.
    auto writer = AtomicFileWriter::open(file, AtomicFileWriter::SymbolicLinks::replace);
    if (!writer) return Unexpected(writer.error().message);
    auto written = writer->append(archiveSavedMappings(chosen));
    if (written) written = writer->commit();
    if (!written) return Unexpected(written.error().message);
    return {};
}

Expected<std::vector<SavedMapping>, std::string> MappingsWindowModel::importFile(
    const std::filesystem::path& file) {
    auto mappings = readMappingFile(file);
    if (!mappings) return mappings;
    if (auto merged = store_.merge(*mappings); !merged) return Unexpected(merged.error());
    return mappings;
}

}  // namespace pelkora
