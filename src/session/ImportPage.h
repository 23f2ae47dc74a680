#pragma once

// The import page: where the rows go (a container of the address book, or vCard files),
// the import options, and the start of the import with its progress and outcome.
//
// The page keeps its choices in the settings ("SelectedContainerID", "ImportMode",
// "VCardFormat", "TextToNotesTokens"), so the next import starts where the user left off.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "import/ImportOperationDelegate.h"
#include "import/TabularDataImportOperation.h"
#include "platform/OperationQueue.h"
#include "session/Page.h"

namespace pelkora {

class Progress;

enum class ImportModeTag { contacts = 0, vCards = 1 };

// One item of the container pop-up: a container, the separator between container types, or
// (when the session offers several address books) the heading of a book's containers.
struct ContainerMenuItem {
    bool isSeparator = false;
    std::string title;
    std::string identifier;
    std::string storeKey = {};  // the book's key in the store directory
    bool isHeading = false;     // a book's title, or that it cannot be used: not choosable
    bool operator==(const ContainerMenuItem&) const = default;
};

// What the front end asks the user before a vCard export.
struct VCardSavePanel {  // one file for all contacts
    std::filesystem::path directory;
    std::string proposedFileName;
};
struct VCardFolderChooser {  // one file per contact
    std::string prompt;
    std::string message;
};
using VCardDestinationRequest = std::variant<std::monostate, VCardSavePanel, VCardFolderChooser>;

// The texts of an outcome alert.
struct ImportOutcome {
    std::string heading;
    std::string text;
    bool failed = false;
    // An export that ended but had to leave something out (a picture, a contact); the text
    // says what.
    bool partlyDone = false;
    bool operator==(const ImportOutcome&) const = default;
};

class ImportPage final : public Page {
  public:
    ImportPage();
    ~ImportPage() override;

    void viewDidLoad(ImportSession& session) override;
    // Cancels a running import and waits for it, so it never outlives the page.
    void viewWillDisappear(ImportSession& session) override;

    // The text above the options; for vCard sources the mode control is hidden.
    const std::string& headerText() const { return headerText_; }
    bool isModeControlHidden() const { return modeControlHidden_; }
    ImportModeTag mode() const { return mode_; }
    // The segmented control: stores "ImportMode" and shows that mode's options.
    void setMode(ImportSession& session, ImportModeTag mode);
    std::string buttonTitle() const;

    // The container pop-up, sorted by type then name with separators between types; its
    // placeholder when empty. When the session has a store directory, every book's
    // containers come under its heading, in the directory's order.
    const std::vector<ContainerMenuItem>& containerMenu() const { return containerMenu_; }
    static std::string noAccountsText();
    const std::optional<std::string>& selectedContainerIdentifier() const {
        return selectedContainer_;
    }
    // A container of the book in use, or of another book of the directory (`storeKey`): the
    // session then imports into that book from now on; an alert when it cannot be opened.
    void selectContainer(ImportSession& session, const std::string& identifier,
                         const std::optional<std::string>& storeKey = std::nullopt);
    // The key of the book in use, for the selected item of the pop-up.
    std::string selectedStoreKey(const ImportSession& session) const;

    // The notes token field: literal words and the keywords DATE, TIME, FILE, TRANSNUM.
    const std::vector<std::string>& textTokens() const { return textTokens_; }
    void setTextTokens(ImportSession& session, std::vector<std::string> tokens);

    // The import button in contacts mode: starts the import into the selected container on
    // the page's queue, with the session's progress sheet. False when nothing can be imported
    // (no reader or no container).
    // Options other than the settings' apply to this import only (the command line's flags).
    bool startImport(ImportSession& session, std::optional<ImportOptions> options = std::nullopt);
    // The import button in vCard mode: what to ask the user for, from "VCardFormat"; nothing
    // (and a log entry) when the setting names no format.
    VCardDestinationRequest vCardDestinationRequest(ImportSession& session) const;

    // The save panel or folder chooser closed with a destination: writes the rows as one
    // vCard file (format Group) or one file per contact (format Individual) on the page's
    // queue, with the progress sheet. A file destination that is the file being read (by
    // any name or link) is refused with an alert: the save panel only asks whether to replace
    // what is there, not whether that is the source.
    enum class VCardFormat { group, individual };
    bool startExport(ImportSession& session, VCardFormat format, std::filesystem::path destination);

    // The running or last import, for a front end that shows more than the sheet.
    bool isImporting() const { return importing_; }
    const std::optional<ImportOutcome>& outcome() const { return outcome_; }
    // What the last import did; none before one ended.
    const std::optional<ImportSummary>& summary() const { return summary_; }
    // Records processed by the running or last import or export.
    std::uint64_t processedCount() const { return processed_; }
    // Whether the last import or export has ended (finished, failed or cancelled).
    bool hasEnded() const { return ended_; }
    // The queue the import runs on (tests and the command line wait on it).
    OperationQueue& queue() { return queue_; }
    // Called on the main thread when an import or export ends and when its summary arrives,
    // for a front end that shows them on the page.
    void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

    // The texts of the progress sheet and of the outcome alerts.
    static std::string progressDescription();
    static std::string progressAdditionalDescription(std::uint64_t processed, std::uint64_t total);
    static std::string waitingForSaveDescription();
    static ImportOutcome failureOutcome(const ImportOperationError& error);
    static ImportOutcome successOutcome();
    static ImportOutcome exportSuccessOutcome();
    // An export that left out what the lines say ("1 picture could not be written …").
    static ImportOutcome exportPartlyDoneOutcome(const std::vector<std::string>& problemLines);

  private:
    class Events;
    void buildContainerMenu(ImportSession& session);
    void addContainers(std::vector<contacts::Container> containers, const std::string& storeKey);
    void importDidEnd(ImportSession& session, std::optional<ImportOutcome> outcome);
    void beginProgress(ImportSession& session, std::uint64_t total);
    // Runs the body on the page's queue with the progress sheet up; its cancel button cancels
    // the body, and the sheet closes when the body has ended.
    void runWithProgressSheet(ImportSession& session, std::function<void(Operation&)> body);

    std::string headerText_;
    bool modeControlHidden_ = false;
    ImportModeTag mode_ = ImportModeTag::contacts;
    std::vector<ContainerMenuItem> containerMenu_;
    std::optional<std::string> selectedContainer_;
    std::vector<std::string> textTokens_;
    bool importing_ = false;
    std::uint64_t runs_ = 0;  // imports and exports started, to tell a late event of an earlier one
    bool ended_ = false;
    bool exporting_ = false;
    std::uint64_t processed_ = 0;
    std::optional<ImportOutcome> outcome_;
    std::optional<ImportSummary> summary_;
    std::shared_ptr<Events> events_;
    std::shared_ptr<Progress> progress_;
    std::function<void()> changed_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    OperationQueue queue_{"Import"};
};

}  // namespace pelkora
