#pragma once

// The pelkora command line: every command registered on one CLI11 app, parsed, with help,
// version, usage errors and the generated documentation handled before any command runs.

#include <memory>
#include <optional>

#include "Command.h"

namespace CLI {
class App;
}

namespace pelkora::cli {

class CommandLine {
  public:
    explicit CommandLine(CommandContext& context);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // Parses the arguments. When that is all there is to do (help, version, a usage error,
    // the manual pages or completions written), the exit code; otherwise the context holds
    // the action of the command given.
    std::optional<int> parse(int argc, const char* const* argv);

    const CLI::App& app() const { return *app_; }

  private:
    CommandContext& context_;
    std::unique_ptr<CLI::App> app_;
    std::string manFolder_;          // --generate-man DIR
    std::string completionsFolder_;  // --generate-completions DIR
};

}  // namespace pelkora::cli
