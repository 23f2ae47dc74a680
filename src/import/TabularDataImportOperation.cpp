#include "import/TabularDataImportOperation.h"

#include <unordered_set>
#include <utility>

#include "import/DateColumns.h"
#include "platform/OperationQueue.h"
#include "support/Logger.h"
#include "support/SharedNames.h"
#include "text/UnicodeText.h"

namespace pelkora {

namespace {

// The column a mapped property sends to the key, if any.
std::optional<std::int64_t> columnWithKey(const std::vector<MappedContactProperty>& properties,
                                          std::string_view key) {
    for (const auto& property : properties) {
        if (property.contactProperty.propertyKey == key) return property.columnIndex;
    }
    return std::nullopt;
}

}  // namespace

TabularDataImportOperation::TabularDataImportOperation(
    std::shared_ptr<contacts::ContactStore> store, ImportSource source, ImportOptions options,
    std::vector<std::string> textTokens, std::weak_ptr<ImportOperationDelegate> delegate,
    std::shared_ptr<const ImportJournal> journal)
    : import_(std::move(store), std::move(options), std::move(delegate), std::move(journal)),
      source_(std::move(source)),
      textTokens_(std::move(textTokens)) {}

// The import takes the steps of ContactImport; its own part is step 4, the names of the
// group column, and the contacts of each chunk, one assembled per row. Duplicates are looked
// up by the UID column's text when a column is mapped to the UID, else by full name.
void TabularDataImportOperation::main(Operation& operation) {
    import_.runGuarded([&] { importRows(operation); },
                       [&] { return source_.reader ? source_.reader->fileURL().string() : ""; });
}

void TabularDataImportOperation::importRows(Operation& operation) {
    if (!source_.reader) return;
    const std::span<const DataRow> rows = rowsToImport(source_);
    if (!import_.start(rows.size())) return;
    // The notes text and the journal name the import by the same moment and number.
    const auto startTime = std::chrono::system_clock::now();
    import_.identify(startTime, {source_.reader->fileURL()});

    std::optional<std::string> notes;
    if (import_.options().addTextToNotes)
        notes = notesText(textTokens_, source_.reader->fileURL(), startTime);

    const auto& properties = source_.mappedProperties;
    const auto uidColumn = columnWithKey(properties, CustomPropertyKeys::UID);
    if (auto done = import_.openContainer(); !done) return import_.fail(done.error());
    if (auto done = import_.removeGroups(); !done) return import_.fail(done.error());
    if (auto done = import_.createGroups(groupNamesOfRows(rows)); !done)
        return import_.fail(done.error());
    if (auto done = import_.readGroups(); !done) return import_.fail(done.error());
    const DuplicateMode mode = uidColumn ? DuplicateMode::identifier : DuplicateMode::fullName;
    if (auto done = import_.prepareDuplicateGroups(mode); !done) return import_.fail(done.error());

    AssemblyOptions assemblyOptions = source_.assemblyOptions;
    assemblyOptions.dayMonthOrders = dayMonthOrdersOfDateColumns(rows, properties);
    ContactAssembler assembler(properties, source_.dateFormats, std::move(assemblyOptions));
    auto done = import_.importChunks(rows, operation,
                                     [&](std::span<const DataRow> rowsOfChunk,
                                         ContactImport::Chunk& chunk, const Operation& running) {
                                         return assembleChunk(rowsOfChunk, chunk, running,
                                                              assembler, uidColumn, notes);
                                     });
    if (!done) return import_.fail(done.error());
    import_.finish(operation);
}

// Every text cell of the group column is split into names; each name is kept once.
std::vector<std::string> TabularDataImportOperation::groupNamesOfRows(
    std::span<const DataRow> rows) const {
    const auto groupColumn = columnWithKey(source_.mappedProperties, CustomPropertyKeys::Group);
    if (!groupColumn) return {};
    std::vector<std::string> names;
    std::unordered_set<std::string> collected;
    for (const DataRow& row : rows) {
        const auto cell = row.cellForColumn(*groupColumn);
        if (!cell || cell->kind() != CellKind::text) continue;
        for (std::string& name : groupNamesInText(cell->text())) {
            if (collected.insert(name).second) names.push_back(std::move(name));
        }
    }
    return names;
}

// Rows are taken until the operation is cancelled; empty rows are counted and skipped.
auto TabularDataImportOperation::assembleChunk(
    std::span<const DataRow> rows, ContactImport::Chunk& chunk, const Operation& operation,
    ContactAssembler& assembler, std::optional<std::int64_t> uidColumn,
    const std::optional<std::string>& notes) -> StepResult {
    for (const DataRow& row : rows) {
        if (row.empty()) {
            ++import_.summary().emptyRowsSkipped;
            continue;
        }
        if (operation.isCancelled()) break;
        std::string_view sourceIdentifier;
        if (uidColumn) {
            if (const auto cell = row.cellForColumn(*uidColumn)) sourceIdentifier = cell->text();
        }
        AssembledContact assembled = assembler.assemble(row);
        recordProblems(row.rowIndex(), assembled.problems);
        // Assembly ends every note with a line feed, so an empty note arrives as one; the
        // notes text goes on the line after the note's last text, never after blank lines.
        assembled.contact.note = trimmedWhiteSpace(assembled.contact.note);
        import_.addContact(chunk, std::move(assembled.contact), assembled.groupNames, notes,
                           sourceIdentifier);
    }
    return {};
}

// Each problem of a row becomes a warning of the summary and a line of the runtime log.
void TabularDataImportOperation::recordProblems(std::int64_t rowIndex,
                                                std::vector<AssemblyProblem>& problems) {
    for (AssemblyProblem& problem : problems) {
        writeLog(LogType::info, "Row %ld, column '%{public}@': '%{public}@' %{public}@",
                 static_cast<long>(rowIndex), problem.column, problem.value, problem.problem);
        import_.summary().warnings.push_back({rowIndex,
                                              std::move(problem.column),
                                              std::move(problem.value),
                                              std::move(problem.problem),
                                              {}});
    }
}

}  // namespace pelkora
