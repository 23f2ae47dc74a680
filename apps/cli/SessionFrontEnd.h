#pragma once

// The command line's view of the import session: it remembers what the session
// asked to show, so that a command can print the outcome once the main queue is idle.

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "session/AppDelegate.h"

namespace pelkora::cli {

class CommandLineFrontEnd final : public SessionFrontEnd {
public:
    explicit CommandLineFrontEnd(bool verbose) : verbose_(verbose) {}

    void currentViewControllerDidChange(ContentViewController& page) override {
        pages.push_back(page.name());
        if (verbose_) std::cerr << "page: " << page.name() << '\n';
    }
    void showAlert(const Alert& alert) override {
        alerts.push_back(alert);
        // Nobody can press a button here: the first, default button answers.
        if (alert.completion) alert.completion(0);
    }
    void readerUnavailable(DetectedFileType kind, const std::filesystem::path& file) override {
        unavailable.emplace_back(kind, file);
    }

    std::vector<std::string> pages;
    std::vector<Alert> alerts;
    std::vector<std::pair<DetectedFileType, std::filesystem::path>> unavailable;

private:
    bool verbose_;
};

}  // namespace pelkora::cli
