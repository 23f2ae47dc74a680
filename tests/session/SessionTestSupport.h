#pragma once

// A front end and readers for driving the session in tests.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "input/TabularDataReader.h"
#include "platform/MainQueue.h"
#include "platform/SettingsStore.h"
#include "session/ImportSession.h"

namespace pelkora::test {

// Records what the session asks a front end to show.
class RecordingFrontEnd final : public SessionFrontEnd {
  public:
    void currentPageDidChange(Page& page) override { pages.push_back(page.name()); }
    void showProgressSheet() override { ++sheetsShown; }
    void closeProgressSheet() override { ++sheetsClosed; }
    void showAlert(const Alert& alert) override {
        alerts.push_back(alert);
        if (alert.completion) alert.completion(alertAnswer);
    }
    void beep() override { ++beeps; }
    void chooseSheet(const std::vector<SheetChoice>& sheets) override {
        sheetChoices.push_back(sheets);
    }

    std::vector<std::string> pages;
    std::vector<Alert> alerts;
    std::size_t alertAnswer = 0;
    int sheetsShown = 0;
    int sheetsClosed = 0;
    int beeps = 0;
    std::vector<std::vector<SheetChoice>> sheetChoices;
};

// A reader whose events a test sends by hand, as a parsing thread would post them.
class ScriptedReader final : public TabularDataReader {
  public:
    ScriptedReader(std::filesystem::path file, std::string className)
        : TabularDataReader(std::move(file)), className_(std::move(className)) {}

    std::string readerClassName() const override { return className_; }
    using TabularDataReader::postDidBeginParsing;
    using TabularDataReader::postDidEndParsing;
    using TabularDataReader::postDidFail;
    using TabularDataReader::setProposedRowCount;

  private:
    std::string className_;
};

// An authorization provider whose answers a test sets.
class ScriptedAuthorization final : public ContactAuthorizationProvider {
  public:
    explicit ScriptedAuthorization(AuthorizationStatus status) : status(status) {}
    AuthorizationStatus authorizationStatus() const override { return status; }
    void requestAccess(std::function<void(bool)> completion) override {
        pending = std::move(completion);
    }

    AuthorizationStatus status;
    std::function<void(bool)> pending;
};

// A session on a private settings file with a recording front end, on the test's thread.
struct SessionFixture {
    explicit SessionFixture(std::shared_ptr<ContactAuthorizationProvider> authorization =
                                std::make_shared<AlwaysAuthorizedProvider>())
        : settings(folder / "settings.plist"), session(settings, std::move(authorization)) {
        MainQueue::shared().adoptCurrentThreadAsMain();
        MainQueue::shared().drain();
        session.setFrontEnd(&frontEnd);
    }
    ~SessionFixture() { MainQueue::shared().drain(); }

    // Writes a file in the fixture's folder and returns its path.
    std::filesystem::path file(const std::string& name,
                               std::string_view content = "Name,Phone\nAda,1\n") {
        writeFile(folder / name, content);
        return folder / name;
    }
    void drain() { MainQueue::shared().drain(); }
    // Runs the main queue until the page is shown; false after a generous timeout.
    bool runUntilPage(std::string_view name) {
        return MainQueue::shared().runUntil(
            [&] { return !frontEnd.pages.empty() && frontEnd.pages.back() == name; },
            std::chrono::seconds(30));
    }
    void launch() {
        session.applicationDidFinishLaunching();
        drain();
    }

    TemporaryDirectory folder;
    SettingsStore settings;
    RecordingFrontEnd frontEnd;
    ImportSession session;
};

}  // namespace pelkora::test
