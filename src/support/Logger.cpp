#include "support/Logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <system_error>

namespace pelkora {
namespace {

constexpr std::string_view kLogFileName = "runtime.log";
constexpr std::string_view kPublicQualifier = "{public}";

struct Severity {
    std::string_view tag;
    std::string_view marker;
};

Severity severityOf(LogType type) {
    switch (type) {
        case LogType::error:
            return {"[ERROR]", "\U0001F53B"};
        case LogType::info:
            return {"[INFO-]", "\U0001F538"};
        case LogType::debug:
        case LogType::defaultType:
            break;
    }
    return {"[DEBUG]", "\U0001F539"};
}

// The current local time in the strftime pattern.
std::string localTimeText(const char* pattern) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    std::array<char, 64> buffer{};
    const std::size_t length = std::strftime(buffer.data(), buffer.size(), pattern, &parts);
    return std::string(buffer.data(), length);
}

// Set-up problems cannot go to the log itself, so they are printed for whoever watches
// standard output.
void reportSetUpFailure(std::string_view what, const std::filesystem::path& path,
                        const std::error_code& error) {
    std::string line = "+++++ ";
    line.append(what);
    if (!path.empty()) line.append(" ").append(path.string());
    line.append(": ").append(error.message());
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

std::string withoutPublicQualifiers(std::string_view format) {
    std::string cleaned;
    cleaned.reserve(format.size());
    std::size_t index = 0;
    while (index <= format.size()) {
        const std::size_t found = format.find(kPublicQualifier, index);
        cleaned.append(format.substr(index, found - index));
        if (found == std::string_view::npos) break;
        index = found + kPublicQualifier.size();
    }
    return cleaned;
}

// Length of the valid UTF-8 sequence at the start of text, or 0 when it is not valid. Also
// rejects overlong forms, surrogates and code points above U+10FFFF. On 0, invalidLength is the
// length of the maximal invalid subpart, which is replaced by a single U+FFFD.
std::size_t validSequenceLength(std::string_view text, std::size_t& invalidLength) {
    const auto byteAt = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned char lead = byteAt(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        invalidLength = 1;
        return 0;
    }
    for (std::size_t index = 1; index < length; ++index) {
        const bool inRange = index < text.size() && byteAt(index) >= (index == 1 ? low : 0x80) &&
                             byteAt(index) <= (index == 1 ? high : 0xBF);
        if (!inRange) {
            invalidLength = index;
            return 0;
        }
    }
    return length;
}

// Replaces every ill-formed UTF-8 sequence with U+FFFD, so a badly decoded file name or cell
// still produces a readable entry.
std::string validUtf8(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    std::size_t index = 0;
    while (index < text.size()) {
        std::size_t invalidLength = 0;
        const std::size_t length = validSequenceLength(text.substr(index), invalidLength);
        if (length > 0) {
            valid.append(text.substr(index, length));
            index += length;
        } else {
            valid.append("\xEF\xBF\xBD");
            index += invalidLength;
        }
    }
    return valid;
}

// Moves the log to "runtime-backup-<local time>.log", or "…-2.log" and on when a backup of
// the same second is there: renaming rather than copying keeps the backup whole even if the
// program stops half-way, and an existing backup is never overwritten.
std::error_code moveToBackup(const std::filesystem::path& logFile, std::filesystem::path& backup) {
    const std::string stem = localTimeText("runtime-backup-%Y-%m-%d-%H-%M-%S");
    std::error_code error;
    for (int number = 1; number < 1000; ++number) {
        backup = logFile.parent_path() /
                 (stem + (number == 1 ? "" : "-" + std::to_string(number)) + ".log");
        if (std::filesystem::exists(backup, error) || error) continue;
        std::filesystem::rename(logFile, backup, error);
        return error;
    }
    return std::make_error_code(std::errc::file_exists);
}

// A symbolic link in the log's place is refused: anyone who may write to the state folder
// could otherwise have the entries appended to a file of their choosing.
int openForAppending(const std::filesystem::path& file) {
    return ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
}

// Writes all bytes, or as many as the file takes.
void writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void echoToStandardOutput(std::string_view message) {
    std::fwrite(message.data(), 1, message.size(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace

std::filesystem::path Logger::defaultLogFolder() {
    const auto absoluteFolder = [](const char* name) -> std::optional<std::filesystem::path> {
        const char* value = std::getenv(name);
        if (value == nullptr) return std::nullopt;
        std::filesystem::path folder(value);
        if (!folder.is_absolute()) return std::nullopt;
        return folder;
    };
    if (const auto stateHome = absoluteFolder("XDG_STATE_HOME")) {
        return *stateHome / "pelkora" / "logs";
    }
    if (const auto home = absoluteFolder("HOME")) {
        return *home / ".local" / "state" / "pelkora" / "logs";
    }
    return {};
}

Logger& Logger::shared() {
    // Constructed in static storage and deliberately never destroyed: threads and static
    // destructors may still log while the program exits.
    alignas(Logger) static unsigned char storage[sizeof(Logger)];
    static Logger* const logger =
        std::construct_at(reinterpret_cast<Logger*>(storage), defaultLogFolder());
    return *logger;
}

Logger::Logger(std::filesystem::path logFolder, std::uintmax_t rotationSize)
    : logFolder_(std::move(logFolder)), rotationSize_(rotationSize), echo_(echoToStandardOutput) {
    try {
        setUp();
    } catch (const std::exception& error) {
        const std::string line = std::string("+++++ ") + error.what() + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        fileLogURL_.reset();
    }
}

Logger::~Logger() {
    closeLog();
}

// Set-up:
// 1. Create the log folder with all intermediate folders; without it there is no log file.
// 2. The log file is "runtime.log" in that folder.
// 3. An existing log larger than the rotation size (1 MiB) is moved to
//    "runtime-backup-<local time>.log" and replaced by an empty log; a smaller one is
//    appended to.
// 4. A missing log is created empty, and the log stays open for the entries.
// Each failure is printed and set-up goes on as far as it can.
void Logger::setUp() {
    std::error_code error;
    if (logFolder_.empty()) {
        reportSetUpFailure("No home folder to hold the runtime log", logFolder_,
                           std::make_error_code(std::errc::no_such_file_or_directory));
        return;
    }
    std::filesystem::create_directories(logFolder_, error);
    if (error || !std::filesystem::is_directory(logFolder_)) {
        if (!error) error = std::make_error_code(std::errc::not_a_directory);
        reportSetUpFailure("Could not create the log folder", logFolder_, error);
        return;
    }

    const std::filesystem::path logFile = logFolder_ / kLogFileName;
    fileLogURL_ = logFile;

    if (std::filesystem::exists(logFile, error)) {
        const std::uintmax_t size = std::filesystem::file_size(logFile, error);
        if (error) {
            reportSetUpFailure("Could not read the size of", logFile, error);
            return;
        }
        if (size > rotationSize_) {
            std::filesystem::path backup;
            if (auto moved = moveToBackup(logFile, backup)) {
                reportSetUpFailure("Could not back up the runtime log to", backup, moved);
                return;
            }
        }
    } else if (error) {
        reportSetUpFailure("Could not examine", logFile, error);
        return;
    }

    descriptor_ = openForAppending(logFile);
    if (descriptor_ < 0 && errno == ELOOP) {
        reportSetUpFailure("Not following the symbolic link in place of the runtime log", logFile,
                           std::error_code(ELOOP, std::generic_category()));
    } else if (descriptor_ < 0) {
        reportSetUpFailure("Could not create", logFile,
                           std::error_code(errno, std::generic_category()));
    }
}

void Logger::closeLog() {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
}

// The log stays open between entries; one fstat per entry notices what happened to it:
// removed (written again from scratch, as a user who deletes the log expects), grown past the
// rotation size (moved to a backup unless another process has done so already, then started
// afresh). So a flood of entries never grows one file without bound.
int Logger::writableLog() {
    const std::filesystem::path& logFile = *fileLogURL_;
    if (descriptor_ >= 0) {
        struct stat opened {};
        if (::fstat(descriptor_, &opened) != 0 || opened.st_nlink == 0) {
            closeLog();
        } else if (static_cast<std::uintmax_t>(opened.st_size) > rotationSize_) {
            struct stat named {};
            const bool stillTheLog = ::stat(logFile.c_str(), &named) == 0 &&
                                     named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
            closeLog();
            std::filesystem::path backup;
            if (stillTheLog) (void)moveToBackup(logFile, backup);
        } else {
            return descriptor_;
        }
    }
    descriptor_ = openForAppending(logFile);
    return descriptor_;
}

// Writing one entry:
// 1. Pick tag and marker from the severity.
// 2. Remove every "{public}" from the format.
// 3. The message is a space, the marker, a space and the formatted text.
// 4. The entry is a line feed, the timestamp, a space, the tag and the message, made valid
//    UTF-8.
// 5. Without a log file, stop.
// 6. Under the lock: write to the open log (see writableLog), then echo the message.
void Logger::logArguments(LogType type, std::string_view format,
                          std::span<const FormatArgument> arguments) noexcept {
    const LogLevel level = level_.load(std::memory_order_relaxed);
    if ((level == LogLevel::errors && type != LogType::error) ||
        (level == LogLevel::information && type != LogType::error && type != LogType::info))
        return;
    try {
        const Severity severity = severityOf(type);
        std::string message = " ";
        message.append(severity.marker).append(" ");
        message.append(formatString(withoutPublicQualifiers(format), arguments));
        message = validUtf8(message);

        std::string entry = "\n";
        entry.append(localTimeText("[%Y-%m-%d %H:%M:%S %z]"));
        entry.append(" ").append(severity.tag).append(message);

        if (!fileLogURL_) return;
        const std::lock_guard lock(mutex_);
        if (const int descriptor = writableLog(); descriptor >= 0) writeAll(descriptor, entry);
        if (echo_) echo_(message);
    } catch (...) {
        // Out of memory or a failing echo: this entry is lost, the caller carries on.
    }
}

void Logger::setEcho(Echo echo) {
    const std::lock_guard lock(mutex_);
    echo_ = std::move(echo);
}

bool Logger::openRuntimeLog(const std::function<bool(const std::filesystem::path&)>& viewer) {
    if (!fileLogURL_) {
        log(LogType::error, "Could not setup runtime log.");
        return false;
    }
    bool opened = false;
    try {
        opened = viewer && viewer(*fileLogURL_);
    } catch (...) {
        opened = false;
    }
    if (!opened)
        log(LogType::error, "Could not open the runtime log with the desktop's text viewer!");
    return opened;
}

std::optional<LogLevel> logLevelNamed(std::string_view name) {
    for (LogLevel level : {LogLevel::errors, LogLevel::information, LogLevel::everything}) {
        if (nameOfLogLevel(level) == name) return level;
    }
    return std::nullopt;
}

std::string_view nameOfLogLevel(LogLevel level) {
    switch (level) {
        case LogLevel::errors:
            return "Errors";
        case LogLevel::information:
            return "Information";
        case LogLevel::everything:
            break;
    }
    return "Everything";
}

}  // namespace pelkora
