#pragma once

// The command line's front end over the import session: it opens a file the way the
// desktop would, runs the main queue until the session settles on a page (or fails),
// and shows progress on a terminal.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Command.h"
#include "session/ImportSession.h"

namespace pelkora::cli {

class CommandLineFrontEnd final : public SessionFrontEnd {
  public:
    CommandLineFrontEnd(bool verbose, bool showProgress);
    ~CommandLineFrontEnd() override;

    void currentPageDidChange(Page& page) override;
    void currentProgressDidChange(const std::shared_ptr<Progress>& progress) override;
    void closeProgressSheet() override;
    void showAlert(const Alert& alert) override;
    void chooseSheet(const std::vector<SheetChoice>& sheets) override { sheetChoices = sheets; }

    std::vector<std::string> pages;
    std::vector<Alert> alerts;
    // The sheet chooser's items while it waits for an answer.
    std::vector<SheetChoice> sheetChoices;

  private:
    void drawProgress(const Progress& progress);
    void clearProgressLine();

    bool verbose_;
    bool showProgress_;
    std::shared_ptr<Progress> observed_;
    std::optional<std::uint64_t> observation_;
    std::chrono::steady_clock::time_point lastDrawn_{};
    bool lineDrawn_ = false;
};

// What a command may change besides its own output.
enum class SessionAccess {
    // Nothing: settings changes stay in memory and corrections are not learnt.
    readOnly,
    // The settings and the learnt titles, as the desktop's session does.
    learnsAndSaves,
};

// A launched session with the command line as its front end.
class CommandLineSession {
  public:
    CommandLineSession(const GlobalOptions& options, bool showProgress,
                       SessionAccess access = SessionAccess::readOnly);
    ~CommandLineSession();

    ImportSession& session() { return *session_; }
    CommandLineFrontEnd& frontEnd() { return frontEnd_; }

    // Opens the files as the desktop's open request would, after launch.
    void open(const std::vector<std::filesystem::path>& files);
    // Launches, lets the launch's pages settle, then opens the files as files dropped on the
    // running window are. The vCard scan page goes this way: opened during launch, it would be
    // replaced by the start page that the answer to the access request shows.
    void launchThenOpen(const std::vector<std::filesystem::path>& files);
    // Runs the main queue until one of the pages has been shown or an alert has appeared since
    // the previous wait (or since launch).
    // False when an alert ended the wait (or nothing more can happen).
    bool runUntilPage(std::initializer_list<std::string_view> names);
    // Opens a table file and reads it as a user who accepts what the encoding page shows
    // would, up to the field-mapping page. For a workbook of several sheets, `sheet` (a
    // sheet's name or number) answers the sheet chooser. None on success, else what went
    // wrong.
    std::optional<std::string> readTable(const std::filesystem::path& file,
                                         const std::optional<std::string>& sheet = std::nullopt);
    // Runs the main queue until done() answers true. The first Ctrl-C cancels the session's
    // current progress (a scan, an import or an export) as the progress sheet's cancel button
    // does; done() then has to see that the work has ended. True when Ctrl-C was pressed.
    bool runUntilEnded(const std::function<bool()>& done);

    // The alert's heading and text as one line for stderr.
    std::string alertMessage() const;

  private:
    CommandLineFrontEnd frontEnd_;
    std::unique_ptr<ImportSession> session_;
    // What earlier waits have already seen, so each wait looks only at what came after.
    std::size_t alertsSeen_ = 0;
    std::size_t pagesSeen_ = 0;
};

// Fails with a message naming the first file that does not exist or is a folder; true when
// all are files.
bool allFilesExist(const std::vector<std::filesystem::path>& files);

}  // namespace pelkora::cli
