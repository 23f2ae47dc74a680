#pragma once

// The runtime log: one plain-text file that every part of the program writes to, so that a
// user can send it with a support request and a developer can follow an import afterwards.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

#include "support/Format.h"

namespace pelkora {

// Severity of a log entry; debug and defaultType are written alike.
enum class LogType { error, info, debug, defaultType };

// Which entries the log keeps: errors only, errors and information, or everything (the
// default; debug entries follow an import step by step). Stored in the "LogLevel" setting
// by these names: "Errors", "Information", "Everything".
enum class LogLevel { errors, information, everything };
std::optional<LogLevel> logLevelNamed(std::string_view name);
std::string_view nameOfLogLevel(LogLevel level);

// Writes timestamped entries to "runtime.log" in the log folder. Safe to use from any thread;
// no failure of the logger reaches its caller.
class Logger {
  public:
    // Receives each entry's message (marker and text, without timestamp and tag).
    using Echo = std::function<void(std::string_view message)>;

    // The process-wide logger, set up on first use in defaultLogFolder() and never destroyed.
    static Logger& shared();

    // "$XDG_STATE_HOME/pelkora/logs", or "$HOME/.local/state/pelkora/logs" when
    // XDG_STATE_HOME is unset or not absolute; empty when neither gives an absolute folder.
    static std::filesystem::path defaultLogFolder();

    // The size past which the log is moved to a dated backup and started afresh.
    static constexpr std::uintmax_t kDefaultRotationSize = 0x100000;

    // Sets up a logger in the folder: creates it, rotates a log larger than rotationSize to a
    // dated backup, and creates an empty log when there is none. Set-up failures are printed
    // to standard output with the prefix "+++++ "; without a folder nothing is written to a
    // file.
    explicit Logger(std::filesystem::path logFolder,
                    std::uintmax_t rotationSize = kDefaultRotationSize);
    ~Logger();

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // Formats and writes one entry (see logArguments); never throws.
    template <typename... Args>
    void log(LogType type, std::string_view format, const Args&... args) noexcept {
        try {
            const std::array<FormatArgument, sizeof...(Args)> arguments{FormatArgument(args)...};
            logArguments(type, format, arguments);
        } catch (...) {
            // Running out of memory while building the arguments drops this entry only.
        }
    }

    // Appends "\n[yyyy-MM-dd HH:mm:ss Z] TAG MARKER text" to the log, the text being the format
    // with "{public}" removed and the arguments put in, then echoes the message. Without a log
    // file the entry is dropped and not echoed; a failed write drops the entry. A log that has
    // grown past the rotation size is moved to a backup first. Never throws.
    void logArguments(LogType type, std::string_view format,
                      std::span<const FormatArgument> arguments) noexcept;

    // Replaces where messages are echoed (standard output by default); an empty Echo turns the
    // echo off. The echo runs under the log's lock, so it must not write to this logger.
    void setEcho(Echo echo);

    // Entries below the level are dropped, neither written nor echoed.
    void setLevel(LogLevel level) { level_.store(level, std::memory_order_relaxed); }
    LogLevel level() const { return level_.load(std::memory_order_relaxed); }

    // The log file; absent when the log folder could not be created.
    const std::optional<std::filesystem::path>& fileLogURL() const { return fileLogURL_; }

    // The folder the logger was set up in.
    std::filesystem::path logFolder() const { return logFolder_; }

    // Hands the log file to the viewer. Logs an error and returns false when there is no log
    // file or the viewer reports failure (or throws).
    bool openRuntimeLog(const std::function<bool(const std::filesystem::path&)>& viewer);

  private:
    void setUp();
    // Under the lock: the open log, opened again when it was removed or moved aside (by
    // another process's rotation) and rotated when it has grown past the rotation size; -1
    // when it cannot be opened.
    int writableLog();
    void closeLog();

    std::filesystem::path logFolder_;
    std::uintmax_t rotationSize_;
    std::optional<std::filesystem::path> fileLogURL_;
    // The log, kept open while the program writes: opening and closing it for every entry
    // costs more than the entry. -1 when closed.
    int descriptor_ = -1;
    // Serialises each entry's write and echo so that entries from different threads never
    // interleave; also guards echo_.
    std::mutex mutex_;
    Echo echo_;
    std::atomic<LogLevel> level_{LogLevel::everything};
};

// Writes one entry to the shared logger.
template <typename... Args>
void writeLog(LogType type, std::string_view format, const Args&... args) noexcept {
    Logger::shared().log(type, format, args...);
}

}  // namespace pelkora
