#pragma once

// The vCard scan page: when vCard files are opened, the page scans them in the background
// with the progress sheet up ("Reading vCards…", one unit per file), then shows how many
// contacts were found and the groups their CATEGORIES name. Continue leads to the import page,
// and only when at least one card was found.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "import/VCardScan.h"
#include "platform/OperationQueue.h"
#include "session/Page.h"

namespace pelkora {

class Progress;

class VCFScanPage final : public Page {
  public:
    VCFScanPage();
    ~VCFScanPage() override;

    // Sets back and continue, and starts the scan of the session's vCard files.
    void viewDidLoad(ImportSession& session) override;
    // Cancels a scan that has not finished and waits for it.
    void viewWillDisappear(ImportSession& session) override;
    // Shows the import page when a card was found; does nothing otherwise.
    void continueAction(ImportSession& session) override;

    bool isScanning() const { return scanning_; }
    // Whether the scan has ended; the texts below are valid from then on.
    bool hasFinished() const { return finished_; }

    // "%@ contacts found", with the number formatted for the user's locale.
    std::string resultsHeader() const;
    // No card was found: the page shows the no-results view instead of the results.
    bool showsNoResults() const { return finished_ && cardCount_ == 0; }
    static std::string noResultsText();
    // The group list, sorted; the label below stands in for an empty one.
    const std::vector<std::string>& groups() const { return groups_; }
    bool showsGroupList() const { return !groups_.empty(); }
    static std::string noGroupsText();
    bool isContinueEnabled() const { return finished_ && cardCount_ > 0; }

    std::size_t cardCount() const { return cardCount_; }
    // Cards not written by Apple's address book or by this program.
    std::size_t cardsFromOtherPrograms() const { return otherPrograms_; }
    // The number of cards of each file, in the order the files were given.
    const std::vector<std::pair<std::filesystem::path, std::size_t>>& cardsPerFile() const {
        return cardsPerFile_;
    }
    // Files that could not be read or held no vCard, with the reason.
    const std::vector<std::pair<std::filesystem::path, std::string>>& skippedFiles() const {
        return skippedFiles_;
    }

    // Called on the main thread when the scan has finished, for a front end that shows the
    // results.
    void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

    // The progress texts.
    static std::string progressDescription();
    static std::string progressAdditionalDescription(std::size_t file, std::size_t files);

  private:
    class Events;
    void scanDidFinish(ImportSession& session, std::vector<std::string> groups);

    bool scanning_ = false;
    bool finished_ = false;
    std::size_t cardCount_ = 0;
    std::size_t otherPrograms_ = 0;
    std::vector<std::string> groups_;
    std::vector<std::pair<std::filesystem::path, std::size_t>> cardsPerFile_;
    std::vector<std::pair<std::filesystem::path, std::string>> skippedFiles_;
    std::shared_ptr<Events> events_;
    std::shared_ptr<Progress> progress_;
    std::function<void()> changed_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    OperationQueue queue_{"vCard scan"};
};

}  // namespace pelkora
