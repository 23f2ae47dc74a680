#include "CommandLineSession.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "addressbook/ContactAuthorization.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/SetTextEncodingPage.h"

namespace pelkora::cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::atomic<bool> interrupted = false;
extern "C" void onInterrupt(int) {
    interrupted = true;
}

}  // namespace

CommandLineFrontEnd::CommandLineFrontEnd(bool verbose, bool showProgress)
    : verbose_(verbose), showProgress_(showProgress) {}

CommandLineFrontEnd::~CommandLineFrontEnd() {
    if (observed_ && observation_) observed_->removeObserver(*observation_);
    clearProgressLine();
}

void CommandLineFrontEnd::currentPageDidChange(Page& page) {
    pages.push_back(page.name());
    if (verbose_) {
        clearProgressLine();
        std::cerr << "page: " << pageTitle(page.name()) << '\n';
    }
}

void CommandLineFrontEnd::currentProgressDidChange(const std::shared_ptr<Progress>& progress) {
    if (observed_ && observation_) observed_->removeObserver(*observation_);
    observed_ = progress;
    observation_.reset();
    if (!showProgress_ || !progress) {
        clearProgressLine();
        return;
    }
    observation_ = progress->observe([this](const Progress& changed) { drawProgress(changed); });
    drawProgress(*progress);
}

void CommandLineFrontEnd::closeProgressSheet() {
    clearProgressLine();
}

void CommandLineFrontEnd::drawProgress(const Progress& progress) {
    // Progress changes arrive on the main thread; redraw at most ten times a second.
    const auto now = std::chrono::steady_clock::now();
    const bool finished =
        progress.totalUnitCount() > 0 && progress.completedUnitCount() >= progress.totalUnitCount();
    if (lineDrawn_ && !finished && now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    std::optional<double> fraction;
    if (!progress.isIndeterminate()) fraction = std::clamp(progress.fractionCompleted(), 0.0, 1.0);
    std::cerr << "\r\x1b[2K"
              << progressLine(progress.localizedDescription(), fraction,
                              progress.localizedAdditionalDescription(), standardError().columns)
              << std::flush;
    lineDrawn_ = true;
}

void CommandLineFrontEnd::clearProgressLine() {
    if (!lineDrawn_) return;
    std::cerr << "\r\x1b[2K" << std::flush;
    lineDrawn_ = false;
}

void CommandLineFrontEnd::showAlert(const Alert& alert) {
    clearProgressLine();
    alerts.push_back(alert);
    // Nobody can press a button here: the first, default button answers.
    if (alert.completion) alert.completion(0);
}

CommandLineSession::CommandLineSession(const GlobalOptions& options, bool showProgress,
                                       SessionAccess access)
    : frontEnd_(options.verbose, showProgress && isatty(STDERR_FILENO)),
      session_(std::make_unique<ImportSession>(SettingsStore::standard(),
                                               std::make_shared<AlwaysAuthorizedProvider>())) {
    // A settings file that could not be loaded was kept aside and the settings start from
    // their defaults: the user hears it once, not only in the runtime log.
    static std::atomic<bool> loadWarningShown = false;
    if (auto warning = SettingsStore::standard().loadWarning();
        warning && !loadWarningShown.exchange(true))
        printWarning("settings: " + *warning);
    const bool saves = access == SessionAccess::learnsAndSaves;
    SettingsStore::standard().setWritesFile(saves);
    session_->setLearnsAssignments(saves);
    session_->setFrontEnd(&frontEnd_);
}

CommandLineSession::~CommandLineSession() {
    session_->applicationWillTerminate();
    session_->setFrontEnd(nullptr);
}

void CommandLineSession::open(const std::vector<std::filesystem::path>& files) {
    // As when the desktop hands files to a starting program: they wait for the end of launch.
    (void)session_->openFiles(files);
    session_->applicationDidFinishLaunching();
}

void CommandLineSession::launchThenOpen(const std::vector<std::filesystem::path>& files) {
    session_->applicationDidFinishLaunching();
    MainQueue::shared().drain();
    (void)session_->openFiles(files);
}

bool CommandLineSession::runUntilPage(std::initializer_list<std::string_view> names) {
    const std::size_t alertsBefore = alertsSeen_;
    const std::size_t pagesBefore = pagesSeen_;
    auto settled = [&] {
        if (frontEnd_.alerts.size() > alertsBefore || !frontEnd_.sheetChoices.empty()) return true;
        for (std::size_t index = pagesBefore; index < frontEnd_.pages.size(); ++index) {
            if (std::find(names.begin(), names.end(), frontEnd_.pages[index]) != names.end())
                return true;
        }
        return false;
    };
    MainQueue::shared().runUntil(settled);
    // Let the page changes that were posted with the last event arrive too.
    MainQueue::shared().drain();
    alertsSeen_ = frontEnd_.alerts.size();
    pagesSeen_ = frontEnd_.pages.size();
    return alertsSeen_ == alertsBefore && frontEnd_.sheetChoices.empty();
}

namespace {

std::string sheetList(const std::vector<SheetChoice>& sheets) {
    std::string list;
    for (const auto& sheet : sheets)
        list +=
            (list.empty() ? "" : ", ") + std::to_string(sheet.sheetId) + " “" + sheet.title + "”";
    return list;
}

}  // namespace

std::optional<std::string> CommandLineSession::readTable(const std::filesystem::path& file,
                                                         const std::optional<std::string>& sheet) {
    open({file});
    bool settled = runUntilPage(
        {"SetTextEncodingViewController", "FieldMappingViewController", "VCFScanViewController"});
    if (!frontEnd_.sheetChoices.empty()) {
        // The sheet chooser is up: answer it as the user would, or name the choices.
        const auto choices = std::move(frontEnd_.sheetChoices);
        frontEnd_.sheetChoices.clear();
        if (!sheet)
            return "the workbook has several sheets; choose one with --sheet NAME|ID: " +
                   sheetList(choices);
        const auto chosen = std::find_if(choices.begin(), choices.end(), [&](const SheetChoice& c) {
            return c.title == *sheet || std::to_string(c.sheetId) == *sheet;
        });
        if (chosen == choices.end())
            return "no sheet “" + *sheet + "” in the workbook; its sheets: " + sheetList(choices);
        session_->sheetSelected(chosen->sheetId);
        settled = runUntilPage({"FieldMappingViewController"});
    }
    if (!settled) {
        return frontEnd_.alerts.empty() ? std::string("the file could not be read")
                                        : alertMessage();
    }
    auto* page = session_->currentPage();
    if ((page && page->name() == "VCFScanViewController") || !session_->vCardUrls().empty()) {
        return std::string(
            "a vCard file has no rows or columns; “pelkora import” reads it into the address "
            "book, and “pelkora scan” shows the cards and groups it holds");
    }
    if (auto* encodingPage = dynamic_cast<SetTextEncodingPage*>(page)) {
        // The encoding page would ask the user; the command takes what was chosen or detected.
        if (!encodingPage->isContinueEnabled()) return encodingPage->statusText();
        encodingPage->continueAction(*session_);
        if (!runUntilPage({"FieldMappingViewController"})) return alertMessage();
    }
    if (!session_->textReader() && !session_->excelReader())
        return std::string("no rows were read");
    return std::nullopt;
}

bool CommandLineSession::runUntilEnded(const std::function<bool()>& done) {
    interrupted = false;
    auto previousHandler = std::signal(SIGINT, onInterrupt);
    bool cancelRequested = false;
    while (!done()) {
        MainQueue::shared().runUntil([&] { return done() || (interrupted && !cancelRequested); },
                                     std::chrono::milliseconds(100));
        if (interrupted && !cancelRequested) {
            cancelRequested = true;
            std::cerr << "\npelkora: cancelling after the work saved so far…\n";
            session_->cancelCurrentProgress();
        }
    }
    std::signal(SIGINT, previousHandler);
    return cancelRequested;
}

std::string CommandLineSession::alertMessage() const {
    if (frontEnd_.alerts.empty()) return {};
    const auto& alert = frontEnd_.alerts.back();
    std::string message = alert.heading;
    // Headings without a full stop ("Could not parse Excel file") read as a sentence on a line.
    if (!message.empty() && message.back() != '.' && message.back() != '?') message += '.';
    message += " " + alert.text;
    if (!alert.detail.empty()) message += " " + alert.detail;
    return message;
}

bool allFilesExist(const std::vector<std::filesystem::path>& files) {
    for (const auto& file : files) {
        std::error_code error;
        if (!std::filesystem::exists(file, error)) {
            printError(file.string() + ": no such file");
            return false;
        }
        if (std::filesystem::is_directory(file, error)) {
            printError(file.string() + ": is a folder, not a file");
            return false;
        }
    }
    return true;
}

}  // namespace pelkora::cli
