#include "session/ImportPage.h"

#include <algorithm>
#include <cstdio>

#include "import/VCardExport.h"
#include "import/VCardImportOperation.h"
#include "platform/MainQueue.h"
#include "platform/Progress.h"
#include "session/ImportSession.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/Settings.h"
#include "support/SharedNames.h"
#include "text/UnicodeText.h"

namespace pelkora {

// Receives the operation's events on the main thread and moves the page and the sheet on.
// Held by the page; the operation holds it weakly, so events after the page went away are
// dropped.
class ImportPage::Events final : public ImportOperationDelegate {
  public:
    Events(ImportPage& page, ImportSession& session, std::uint64_t total)
        : page_(page), session_(session), total_(total) {}

    void importOperationDidStart() override {}
    void importOperationDidChangeNote(const std::string& note) override {
        if (auto progress = page_.progress_) progress->setLocalizedAdditionalDescription(note);
    }
    void importOperationDidProcess(std::uint64_t processed) override {
        page_.processed_ = processed;
        if (auto progress = page_.progress_) {
            progress->setCompletedUnitCount(static_cast<std::int64_t>(processed));
            progress->setLocalizedAdditionalDescription(
                progressAdditionalDescription(processed, total_));
        }
    }
    void importOperationDidSubmitChunk() override {
        if (auto progress = page_.progress_)
            progress->setLocalizedAdditionalDescription(waitingForSaveDescription());
    }
    void importOperationDidFail(const ImportOperationError& error) override {
        const ImportOutcome outcome = failureOutcome(error);
        writeLog(LogType::error, "%{public}@: %{public}@", outcome.heading, error.message);
        page_.importDidEnd(session_, outcome);
    }
    void importOperationDidWarn(const std::vector<std::string>& summaryLines) override {
        warningLines_ = summaryLines;
    }
    void importOperationDidFinish() override {
        // What an export had to leave out makes it partly done; what did not go into the
        // address book as it stood is said with the import's success. Neither is hidden in the
        // log.
        if (page_.exporting_ && !warningLines_.empty()) {
            page_.importDidEnd(session_, exportPartlyDoneOutcome(warningLines_));
            return;
        }
        ImportOutcome outcome = page_.exporting_ ? exportSuccessOutcome() : successOutcome();
        for (const std::string& line : warningLines_) outcome.text += "\n" + line + ".";
        page_.importDidEnd(session_, outcome);
    }

  private:
    ImportPage& page_;
    ImportSession& session_;
    std::uint64_t total_;
    std::vector<std::string> warningLines_;
};

ImportPage::ImportPage() : Page(std::string(PageNames::ImportPage)) {}

ImportPage::~ImportPage() {
    *alive_ = false;
    queue_.cancelAllOperations();
    queue_.waitUntilAllOperationsAreFinished();
}

void ImportPage::viewDidLoad(ImportSession& session) {
    // Back returns to the page that led here.
    const auto& before = session.previousPageName();
    if (before == PageNames::FieldMappingPage || before == PageNames::VCFScanPage) {
        setPreviousPageName(before);
    }

    SettingsStore& settings = session.settings();
    if (!session.vCardUrls().empty() && !session.currentReader()) {
        headerText_ = localizedString("All vCards will be imported into the address book.");
        modeControlHidden_ = true;
        mode_ = ImportModeTag::contacts;
    } else {
        headerText_ =
            localizedString("Records can be imported into the address book or saved as vCard.");
        const auto stored = settings.stringForKey(SettingKey::ImportMode);
        mode_ = stored == ImportModeNames::vCard ? ImportModeTag::vCards : ImportModeTag::contacts;
    }
    buildContainerMenu(session);
    textTokens_ = settings.stringArrayForKey(SettingKey::TextToNotesTokens)
                      .value_or(std::vector<std::string>{});
}

void ImportPage::viewWillDisappear(ImportSession&) {
    queue_.cancelAllOperations();
    queue_.waitUntilAllOperationsAreFinished();
}

void ImportPage::setMode(ImportSession& session, ImportModeTag mode) {
    if (modeControlHidden_) return;
    mode_ = mode;
    session.settings().set(SettingKey::ImportMode,
                           std::string(mode == ImportModeTag::vCards ? ImportModeNames::vCard
                                                                     : ImportModeNames::Contacts));
    if (mode == ImportModeTag::contacts) {
        textTokens_ = session.settings()
                          .stringArrayForKey(SettingKey::TextToNotesTokens)
                          .value_or(std::vector<std::string>{});
    }
}

std::string ImportPage::buttonTitle() const {
    return mode_ == ImportModeTag::contacts ? localizedString("Import")
                                            : localizedString("Save vCards…");
}

std::string ImportPage::noAccountsText() {
    return localizedString("No accounts found");
}

void ImportPage::addContainers(std::vector<contacts::Container> containers,
                               const std::string& storeKey) {
    // Sorted by the type as nine digits and then the lower-cased name.
    const auto sortKey = [](const contacts::Container& container) {
        char type[16];
        std::snprintf(type, sizeof type, "%09d", static_cast<int>(container.type));
        return std::string(type) + lowercased(container.name);
    };
    std::stable_sort(
        containers.begin(), containers.end(),
        [&](const auto& left, const auto& right) { return sortKey(left) < sortKey(right); });
    for (std::size_t i = 0; i < containers.size(); ++i) {
        if (i > 0 && containers[i].type != containers[i - 1].type)
            containerMenu_.push_back({true, {}, {}, storeKey});
        containerMenu_.push_back({false, containers[i].name, containers[i].identifier, storeKey});
    }
}

void ImportPage::buildContainerMenu(ImportSession& session) {
    containerMenu_.clear();
    selectedContainer_.reset();
    const auto& store = session.contactStore();
    const auto& directory = session.storeDirectory();
    const std::string current = directory ? session.contactStoreKey() : std::string();
    // The containers of a book, or why they cannot be listed.
    const auto containersOf =
        [&](const std::string& key) -> Expected<std::vector<contacts::Container>, std::string> {
        std::shared_ptr<contacts::ContactStore> book = store;
        if (key != current) {
            auto other = directory->open(key);
            if (!other) return Unexpected(other.error());
            book = std::move(*other);
        }
        if (!book) return Unexpected(localizedString("The address book could not be opened."));
        auto containers = book->containers();
        if (!containers) return Unexpected(containers.error().message);
        return std::move(*containers);
    };
    if (!directory) {
        if (!store) return;
        auto containers = containersOf(current);
        if (!containers) {
            writeLog(LogType::error, "Can't read the containers: %{public}@", containers.error());
            return;
        }
        addContainers(std::move(*containers), {});
    } else {
        for (const StoreChoice& choice : directory->choices()) {
            if (!containerMenu_.empty()) containerMenu_.push_back({true, {}, {}, choice.key});
            auto containers = containersOf(choice.key);
            if (!containers) {
                writeLog(LogType::error, "Can't list the containers of “%{public}@”: %{public}@",
                         choice.key, containers.error());
                containerMenu_.push_back(
                    {false,
                     formatMessage(localizedString("%@ (cannot be used now)"), choice.title),
                     {},
                     choice.key,
                     true});
                continue;
            }
            containerMenu_.push_back({false, choice.title, {}, choice.key, true});
            addContainers(std::move(*containers), choice.key);
        }
    }
    if (!store) return;

    SettingsStore& settings = session.settings();
    auto selected = settings.stringForKey(SettingKey::SelectedContainerID);
    if (!selected) {
        selected = store->defaultContainerIdentifier();
        settings.set(SettingKey::SelectedContainerID, *selected);
    }
    const bool listed =
        std::any_of(containerMenu_.begin(), containerMenu_.end(), [&](const auto& item) {
            return !item.isHeading && item.storeKey == current && item.identifier == *selected;
        });
    if (listed) selectedContainer_ = *selected;
}

void ImportPage::selectContainer(ImportSession& session, const std::string& identifier,
                                 const std::optional<std::string>& storeKey) {
    if (storeKey && session.storeDirectory() && *storeKey != session.contactStoreKey()) {
        if (auto switched = session.switchContactStore(*storeKey); !switched) {
            session.showAlert(Alert{.heading = localizedString("The address book cannot be used."),
                                    .text = switched.error(),
                                    .detail = {},
                                    .buttons = {localizedString("OK")},
                                    .completion = {}});
            buildContainerMenu(session);
            if (changed_) changed_();
            return;
        }
        session.settings().set(SettingKey::SelectedContainerID, identifier);
        buildContainerMenu(session);
        if (changed_) changed_();
        return;
    }
    selectedContainer_ = identifier;
    session.settings().set(SettingKey::SelectedContainerID, identifier);
}

std::string ImportPage::selectedStoreKey(const ImportSession& session) const {
    return session.storeDirectory() ? session.contactStoreKey() : std::string();
}

void ImportPage::setTextTokens(ImportSession& session, std::vector<std::string> tokens) {
    textTokens_ = std::move(tokens);
    std::vector<PropertyValue> list;
    for (const std::string& token : textTokens_) list.emplace_back(token);
    session.settings().set(SettingKey::TextToNotesTokens, PropertyValue(std::move(list)));
}

bool ImportPage::startImport(ImportSession& session, std::optional<ImportOptions> options) {
    if (importing_ || !session.contactStore()) return false;
    ImportOptions settings = options.value_or(importOptions(session.settings()));
    // The summary reaches the page on the main thread, after the operation's events.
    const auto start = [this, &session](auto operation) {
        runWithProgressSheet(session, [operation, this, run = runs_](Operation& running) {
            operation->main(running);
            MainQueue::shared().post([summary = operation->summary(), this, alive = alive_, run] {
                if (!*alive || run != runs_) return;
                summary_ = summary;
                if (changed_) changed_();
            });
        });
    };
    exporting_ = false;
    if (session.importsVCards()) {
        VCardImportSource source = session.vCardImportSource();
        if (!source.cards || source.cards->empty()) return false;
        beginProgress(session, source.cards->size());
        start(std::make_shared<VCardImportOperation>(session.contactStore(), std::move(source),
                                                     std::move(settings), textTokens_, events_,
                                                     session.importJournal()));
        return true;
    }
    ImportSource source = session.importSource();
    if (!source.reader) return false;
    beginProgress(session, rowsToImport(source).size());
    start(std::make_shared<TabularDataImportOperation>(session.contactStore(), std::move(source),
                                                       std::move(settings), textTokens_, events_,
                                                       session.importJournal()));
    return true;
}

void ImportPage::runWithProgressSheet(ImportSession& session,
                                      std::function<void(Operation&)> body) {
    auto queued = queue_.addOperation(
        [body = std::move(body), this, &session, alive = alive_, run = runs_](Operation& running) {
            body(running);
            // A cancelled import or export sends no outcome event, so the sheet is closed here
            // (unless another run has started since, which this must not end).
            MainQueue::shared().post([this, &session, alive, run] {
                if (*alive && importing_ && run == runs_) importDidEnd(session, std::nullopt);
            });
        });
    progress_->setCancellationHandler([queued] { queued->cancel(); });
    session.presentProgress(progress_);
}

void ImportPage::beginProgress(ImportSession& session, std::uint64_t total) {
    outcome_.reset();
    summary_.reset();
    ++runs_;
    importing_ = true;
    ended_ = false;
    processed_ = 0;
    progress_ = Progress::make(static_cast<std::int64_t>(total));
    progress_->setLocalizedDescription(exporting_ ? localizedString("Saving records as vCards…")
                                                  : progressDescription());
    progress_->setLocalizedAdditionalDescription(progressAdditionalDescription(0, total));
    progress_->setCancellable(true);
    events_ = std::make_shared<Events>(*this, session, total);
}

bool ImportPage::startExport(ImportSession& session, VCardFormat format,
                             std::filesystem::path destination) {
    if (importing_) return false;
    ImportSource source = session.importSource();
    if (!source.reader) return false;
    std::error_code error;
    if (format == VCardFormat::group &&
        std::filesystem::equivalent(destination, source.reader->fileURL(), error)) {
        session.showAlert(Alert{
            .heading = localizedString("The vCards were not saved."),
            .text = formatMessage(localizedString("“%@” is the file being read. Choose another "
                                                  "file name for the vCards."),
                                  destination.filename().string()),
            .detail = {},
            .buttons = {localizedString("OK")},
            .completion = {}});
        return false;
    }
    const std::uint64_t total = rowsToImport(source).size();
    exporting_ = true;
    beginProgress(session, total);
    std::shared_ptr<VCardExportOperation> exporter;
    if (format == VCardFormat::group)
        exporter =
            std::make_shared<GroupVCardExportOperation>(events_, std::move(source), destination);
    else
        exporter = std::make_shared<IndividualVCardsExportOperation>(events_, std::move(source),
                                                                     destination);
    runWithProgressSheet(session, [exporter](Operation& running) { exporter->run(running); });
    return true;
}

VCardDestinationRequest ImportPage::vCardDestinationRequest(ImportSession& session) const {
    const auto format = session.settings().stringForKey(SettingKey::VCardFormat);
    if (format == VCardFormatNames::Group) {
        VCardSavePanel panel;
        if (auto reader = session.currentReader(); reader && !reader->fileURL().empty()) {
            panel.directory = reader->fileURL().parent_path();
            panel.proposedFileName = reader->fileURL().stem().string() + ".vcf";
        } else {
            panel.proposedFileName = "Contacts.vcf";
        }
        return panel;
    }
    if (format == VCardFormatNames::Individual) {
        return VCardFolderChooser{
            localizedString("Choose"),
            localizedString("Select the folder where the vCards should be saved.")};
    }
    writeLog(LogType::error, "Can't create vCards: vCard format not provided!");
    return std::monostate{};
}

void ImportPage::importDidEnd(ImportSession& session, std::optional<ImportOutcome> outcome) {
    importing_ = false;
    ended_ = true;
    outcome_ = outcome;
    progress_.reset();
    session.dismissProgress();
    if (changed_) changed_();
    if (outcome)
        session.showAlert(Alert{.heading = outcome->heading,
                                .text = outcome->text,
                                .detail = {},
                                .buttons = {localizedString("OK")},
                                .completion = {},
                                .style = outcome->failed       ? AlertStyle::critical
                                         : outcome->partlyDone ? AlertStyle::warning
                                                               : AlertStyle::informational});
}

ImportOutcome ImportPage::exportSuccessOutcome() {
    return {localizedString("vCards saved."),
            localizedString("The records have been saved as vCard files."), false};
}

ImportOutcome ImportPage::exportPartlyDoneOutcome(const std::vector<std::string>& problemLines) {
    ImportOutcome outcome{localizedString("vCards saved with problems."),
                          localizedString("The records have been saved as vCard files, but not "
                                          "everything could be written:"),
                          false, true};
    for (const std::string& line : problemLines) outcome.text += "\n" + line + ".";
    return outcome;
}

std::string ImportPage::progressDescription() {
    return localizedString("Importing records into the address book…");
}

std::string ImportPage::progressAdditionalDescription(std::uint64_t processed,
                                                      std::uint64_t total) {
    return formatMessage(localizedString("Processed record %1$lu of %2$lu…"), processed, total);
}

std::string ImportPage::waitingForSaveDescription() {
    return localizedString("Saving contacts to the address book. This may take some seconds…");
}

ImportOutcome ImportPage::failureOutcome(const ImportOperationError& error) {
    ImportOutcome outcome;
    outcome.failed = true;
    outcome.heading = localizedString("The import operation did fail.");
    if (error.kind == ImportOperationError::Kind::containerNotFound) {
        outcome.text = localizedString(
            "Please try another account to import the records into. Technical reason: The "
            "container with the specified identifier could not be found.");
    } else if (error.kind == ImportOperationError::Kind::internalFailure) {
        // The operation's own sentence already names the file and what went wrong; it is not
        // the address book's message.
        outcome.text = error.message;
    } else if (!error.message.empty()) {
        outcome.text =
            formatMessage(localizedString("An error occurred during the import operation. The "
                                          "address book reported: %@"),
                          error.message);
    } else {
        outcome.text = localizedString("An error occurred during the import operation.");
    }
    return outcome;
}

ImportOutcome ImportPage::successOutcome() {
    return {localizedString("Import done."),
            localizedString("The records have been imported into the address book."), false};
}

}  // namespace pelkora
