#include "VCardScanSteps.h"

#include "Command.h"
#include "session/VCFScanPage.h"

namespace pelkora::cli {

ScannedVCardFiles scanVCardFiles(CommandLineSession& run,
                                 const std::vector<std::filesystem::path>& files, int openAsTag,
                                 std::string_view command) {
    ScannedVCardFiles scanned;
    scanned.exitCode = kUsageError;
    auto& session = run.session();
    session.setOpenAsFileType(openAsTag);
    run.launchThenOpen(files);
    const std::string prefix = std::string(command) + ": ";
    if (!run.runUntilPage({"VCFScanViewController"})) {
        printError(prefix + files.front().string() + ": " + run.alertMessage());
        return scanned;
    }
    auto* page = dynamic_cast<VCFScanPage*>(session.currentPage());
    if (!page) {
        printError(prefix + files.front().string() + ": the vCard scan did not start");
        return scanned;
    }
    // A cancelled scan sends no finish event: the session starts over, and the scan page goes
    // away with the next page change, so the page is looked at only while it is current.
    const std::size_t pagesBefore = run.frontEnd().pages.size();
    const auto stillCurrent = [&] { return run.frontEnd().pages.size() == pagesBefore; };
    const bool cancelled =
        run.runUntilEnded([&] { return !stillCurrent() || page->hasFinished(); });
    if (!stillCurrent() || !page->hasFinished()) {
        scanned.exitCode = kCancelled;
        std::cout << (cancelled ? "Cancelled while reading the vCards.\n"
                                : "The vCard scan ended without a result.\n");
        return scanned;
    }
    VCardScanResults& results = scanned.results;
    results.cards = page->cardCount();
    results.cardsFromOtherPrograms = page->cardsFromOtherPrograms();
    results.cardsPerFile = page->cardsPerFile();
    results.skippedFiles = page->skippedFiles();
    results.groups = page->groups();
    results.header = page->resultsHeader();
    scanned.page = page;
    scanned.exitCode = kSuccess;
    return scanned;
}

}  // namespace pelkora::cli
