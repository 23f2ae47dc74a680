#include "session/ImportsWindowModel.h"

#include "session/ImportSession.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "text/DateFormatting.h"

namespace pelkora {

namespace {

std::string momentText(std::chrono::system_clock::time_point moment) {
    return dates::shortDateText(moment) + " " + dates::shortTimeText(moment);
}

std::string filesText(const ImportRecord& record) {
    if (record.files.empty()) return localizedString("an unknown file");
    const std::string first = record.files.front().filename().string();
    if (record.files.size() == 1) return first;
    const std::uint64_t more = record.files.size() - 1;
    return formatMessage(
        localizedPlural("%1$@ and %2$lu more file", "%1$@ and %2$lu more files", more), first,
        more);
}

std::string joinedNames(const std::vector<contacts::Group>& groups) {
    // TRANSLATORS: a name in quotation marks.
    const std::string quoted = localizedString("“%@”");
    std::string names;
    for (const contacts::Group& group : groups)
        names += (names.empty() ? "" : ", ") + formatMessage(quoted, group.name);
    return names;
}

std::filesystem::path journalFolderOf(const ImportSession& session) {
    return session.importJournal() ? session.importJournal()->folder()
                                   : ImportJournal::defaultFolder();
}

}  // namespace

ImportsWindowModel::ImportsWindowModel(ImportSession& session)
    : ImportsWindowModel(session, journalFolderOf(session)) {}

ImportsWindowModel::ImportsWindowModel(ImportSession& session, std::filesystem::path journalFolder)
    : session_(session), journal_(std::move(journalFolder)) {
    reload();
}

std::string ImportsWindowModel::emptyText() {
    return localizedString("No import has been recorded yet.");
}

void ImportsWindowModel::reload() {
    records_ = journal_.entries();
    rows_.clear();
    for (const ImportRecord& record : records_) {
        RecordedImportRow row;
        row.number = record.number;
        row.time = momentText(record.time);
        row.files = filesText(record);
        row.destination = formatMessage(
            localizedString("%1$@ in %2$@"),
            record.containerName.empty() ? record.container : record.containerName, record.store);
        row.contacts = record.contacts.size();
        row.undoable = !record.undone;
        row.state = record.undone
                        ? formatMessage(localizedString("Undone on %@"), momentText(*record.undone))
                        : localizedString("Can be undone");
        rows_.push_back(std::move(row));
    }
}

Expected<UndoQuestion, std::string> ImportsWindowModel::prepareUndo(std::size_t row) {
    prepared_.reset();
    if (row >= records_.size()) return Unexpected(localizedString("No import is chosen."));
    const ImportRecord& record = records_[row];
    if (record.undone)
        return Unexpected(formatMessage(localizedString("This import was undone on %@ already."),
                                        momentText(*record.undone)));
    // The book the window imports into is used as it is; another is opened for this.
    std::shared_ptr<contacts::ContactStore> store;
    if (session_.contactStore() && session_.contactStore()->location() == record.store) {
        store = session_.contactStore();
    } else if (const auto& directory = session_.storeDirectory()) {
        auto opened = directory->openRecorded(record.store);
        if (!opened)
            return Unexpected(formatMessage(
                localizedString("The address book “%1$@” that the import went into cannot be "
                                "opened: %2$@"),
                record.store, opened.error()));
        store = std::move(*opened);
    } else {
        return Unexpected(formatMessage(
            localizedString("The address book “%@” that the import went into is not open."),
            record.store));
    }
    auto plan = planUndo(*store, record);
    if (!plan) return Unexpected(plan.error().message);

    UndoQuestion question;
    const std::uint64_t count = plan->contactsToRemove.size();
    question.nothingToRemove = plan->isEmpty();
    if (question.nothingToRemove) {
        question.heading = localizedString("Nothing of this import is left to remove.");
    } else {
        question.heading = formatMessage(
            localizedPlural("Remove %1$lu contact imported from %2$@ on %3$@?",
                            "Remove %1$lu contacts imported from %2$@ on %3$@?", count),
            count, filesText(record), momentText(record.time));
    }
    std::vector<std::string> lines;
    if (plan->contactsGone > 0)
        lines.push_back(formatMessage(
            localizedPlural("%lu contact was deleted since the import.",
                            "%lu contacts were deleted since the import.", plan->contactsGone),
            plan->contactsGone));
    if (!plan->groupsToRemove.empty())
        lines.push_back(formatMessage(localizedString("The groups it made go too: %@."),
                                      joinedNames(plan->groupsToRemove)));
    if (!plan->groupsKept.empty())
        lines.push_back(
            formatMessage(localizedString("These groups stay, as other contacts are in them: %@."),
                          joinedNames(plan->groupsKept)));
    if (!question.nothingToRemove)
        lines.push_back(localizedString("Contacts changed since the import are removed too."));
    for (const std::string& line : lines)
        question.text += (question.text.empty() ? "" : "\n") + line;
    prepared_ = Prepared{record, std::move(store), std::move(*plan)};
    return question;
}

Expected<std::string, std::string> ImportsWindowModel::undoPrepared() {
    if (!prepared_) return Unexpected(localizedString("No import is chosen."));
    Prepared prepared = std::move(*prepared_);
    prepared_.reset();
    if (auto applied = applyUndo(*prepared.store, prepared.plan); !applied)
        return Unexpected(
            formatMessage(localizedString("Nothing was removed: %@"), applied.error().message));
    writeLog(LogType::info, "Undid the import %{public}@: %{public}lu contacts removed",
             prepared.record.number, prepared.plan.contactsToRemove.size());
    const std::uint64_t count = prepared.plan.contactsToRemove.size();
    std::string outcome = formatMessage(
        localizedPlural("%lu contact removed.", "%lu contacts removed.", count), count);
    if (auto marked = journal_.markUndone(prepared.record, std::chrono::system_clock::now());
        !marked) {
        reload();
        return Unexpected(formatMessage(
            localizedString("The import was undone, but the journal could not note it: %@"),
            marked.error().message));
    }
    reload();
    return outcome;
}

}  // namespace pelkora
