#include "session/VCFScanPage.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <unordered_map>

#include "platform/MainQueue.h"
#include "platform/Progress.h"
#include "session/ImportSession.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Logger.h"
#include "support/SharedNames.h"
#include "text/NumberFormatting.h"

namespace pelkora {

// Collects the cards on the scan's thread and hands them to the page with the finish event,
// on the main thread. The scan holds it weakly, so events after the page went away are dropped.
class VCFScanPage::Events final : public VCardScanDelegate {
  public:
    Events(VCFScanPage& page, ImportSession& session, std::shared_ptr<bool> alive,
           std::size_t expectedCards)
        : page_(page), session_(session), alive_(std::move(alive)), expectedCards_(expectedCards) {}

    // On the scan's thread; the page reads the cards only after the finish event, which the
    // scan posts after its last card.
    void vCardScanDidStart() override {
        writeLog(LogType::info, "The vCard scan operation did start.");
        cards_.clear();
        cards_.reserve(expectedCards_);
    }
    void vCardScanDidScan(ScannedVCard card) override { cards_.push_back(std::move(card)); }

    // On the main thread.
    void vCardScanWillReadFile(std::size_t index) override {
        if (!*alive_) return;
        if (auto progress = page_.progress_) {
            const auto files = static_cast<std::size_t>(progress->totalUnitCount());
            progress->setCompletedUnitCount(static_cast<std::int64_t>(index) + 1);
            progress->setLocalizedAdditionalDescription(
                progressAdditionalDescription(index + 1, files));
        }
    }
    void vCardScanDidSkipFile(const std::filesystem::path& file,
                              const std::string& reason) override {
        if (*alive_) page_.skippedFiles_.emplace_back(file, reason);
    }
    void vCardScanDidFinish(std::vector<std::string> groups) override {
        if (!*alive_) return;
        page_.scanDidFinish(session_, std::move(groups));
    }

    std::vector<ScannedVCard> takeCards() { return std::move(cards_); }

  private:
    VCFScanPage& page_;
    ImportSession& session_;
    std::shared_ptr<bool> alive_;
    std::size_t expectedCards_;
    std::vector<ScannedVCard> cards_;  // the scan's thread's until the finish event
};

namespace {

// The cards the files hold at most, as far as room for them is worth reserving: real cards
// take a few hundred bytes. Reserved room is only address space until cards fill it, while a
// list that grows moves every card it holds and briefly needs its old and new room together.
std::size_t expectedCardCount(const std::vector<std::filesystem::path>& files) {
    constexpr std::uintmax_t kSmallCardSize = 128;
    constexpr std::uintmax_t kMostCardsReserved = std::uintmax_t{1} << 20;
    std::uintmax_t bytes = 0;
    for (const auto& file : files) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(file, error);
        if (!error) bytes += size;
    }
    return static_cast<std::size_t>(std::min(bytes / kSmallCardSize, kMostCardsReserved));
}

}  // namespace

VCFScanPage::VCFScanPage() : Page(std::string(PageNames::VCFScanPage)) {}

VCFScanPage::~VCFScanPage() {
    *alive_ = false;
    queue_.cancelAllOperations();
    queue_.waitUntilAllOperationsAreFinished();
}

std::string VCFScanPage::progressDescription() {
    return localizedString("Reading vCards…");
}

std::string VCFScanPage::progressAdditionalDescription(std::size_t file, std::size_t files) {
    return formatMessage(localizedString("Processed vCard %1$lu of %2$lu…"),
                         static_cast<unsigned long>(file), static_cast<unsigned long>(files));
}

std::string VCFScanPage::noResultsText() {
    return localizedString("No vCards were found in the chosen files.");
}

std::string VCFScanPage::noGroupsText() {
    return localizedString("The vCards name no groups.");
}

std::string VCFScanPage::resultsHeader() const {
    const std::string count =
        decimalStyleString(static_cast<double>(cardCount_)).value_or(std::to_string(cardCount_));
    return formatMessage(localizedPlural("%@ contact found", "%@ contacts found", cardCount_),
                         count);
}

void VCFScanPage::viewDidLoad(ImportSession& session) {
    setPreviousPageName(std::string(PageNames::InitialPage));
    setNextPageName(std::string(PageNames::ImportPage));

    const std::vector<std::filesystem::path> files = session.vCardUrls();
    session.setScanResults({}, {});
    scanning_ = true;
    finished_ = false;
    events_ = std::make_shared<Events>(*this, session, alive_, expectedCardCount(files));

    progress_ = Progress::make(static_cast<std::int64_t>(files.size()));
    progress_->setLocalizedDescription(progressDescription());
    progress_->setLocalizedAdditionalDescription(progressAdditionalDescription(0, files.size()));
    progress_->setCancellable(true);

    auto scan = std::make_shared<VCardScanOperation>(files, events_);
    auto queued = queue_.addOperation([scan](Operation& running) { scan->main(running); });
    std::weak_ptr<Progress> weakProgress = progress_;
    // The handler runs on the thread that cancels; the page and the session belong to the
    // main thread. A cancelled scan sends no finish event: the wizard starts over.
    progress_->setCancellationHandler([queued, weakProgress, &session, alive = alive_] {
        if (auto cancelled = weakProgress.lock()) {
            cancelled->setLocalizedDescription(localizedString("Cancelling operation…"));
            cancelled->setLocalizedAdditionalDescription(localizedString("Please wait…"));
        }
        queued->cancel();
        MainQueue::shared().post([&session, alive] {
            if (!*alive) return;
            session.dismissProgress();
            session.startOver();
        });
    });
    session.presentProgress(progress_);
}

void VCFScanPage::scanDidFinish(ImportSession& session, std::vector<std::string> groups) {
    std::sort(groups.begin(), groups.end());
    std::vector<ScannedVCard> cards = events_->takeCards();
    cardCount_ = cards.size();
    otherPrograms_ = 0;
    cardsPerFile_.clear();
    std::unordered_map<std::string, std::size_t> fileIndexes;
    for (const std::filesystem::path& file : session.vCardUrls()) {
        fileIndexes.emplace(file.string(), cardsPerFile_.size());
        cardsPerFile_.emplace_back(file, 0);
    }
    for (const ScannedVCard& card : cards) {
        if (!card.isAppleOriginal) ++otherPrograms_;
        if (auto entry = fileIndexes.find(card.fileUrl().string()); entry != fileIndexes.end())
            ++cardsPerFile_[entry->second].second;
    }
    groups_ = groups;
    session.setScanResults(std::move(cards), std::move(groups));
    scanning_ = false;
    finished_ = true;
    writeLog(LogType::info, "The vCard scan found %lu vCards in %lu files.",
             static_cast<unsigned long>(cardCount_),
             static_cast<unsigned long>(cardsPerFile_.size()));
    progress_.reset();
    session.dismissProgress();
    if (changed_) changed_();
}

void VCFScanPage::viewWillDisappear(ImportSession& session) {
    queue_.cancelAllOperations();
    queue_.waitUntilAllOperationsAreFinished();
    // A scan that did not finish leaves its sheet behind otherwise.
    if (scanning_ && progress_ && session.currentProgress() == progress_) session.dismissProgress();
    scanning_ = false;
    progress_.reset();
}

void VCFScanPage::continueAction(ImportSession& session) {
    if (!isContinueEnabled()) return;
    Page::continueAction(session);
}

}  // namespace pelkora
