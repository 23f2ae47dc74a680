#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "support/Logger.h"

namespace pelkora {
namespace {

namespace fs = std::filesystem;
using test::filesIn;

constexpr std::size_t kTimestampLength = std::string_view("[2024-01-31 23:59:59 +0100]").size();

// Splits the log into its entries; every entry must begin with a line feed.
std::vector<std::string> entriesOf(const std::string& log) {
    EXPECT_TRUE(log.empty() || log.front() == '\n') << log;
    std::vector<std::string> entries;
    std::istringstream lines(log.empty() ? log : log.substr(1));
    for (std::string line; std::getline(lines, line);) entries.push_back(line);
    return entries;
}

// The entry after its timestamp, having checked the timestamp's shape.
std::string withoutTimestamp(const std::string& entry) {
    static const std::regex timestamp(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4}\])");
    EXPECT_TRUE(std::regex_match(entry.substr(0, kTimestampLength), timestamp)) << entry;
    return entry.substr(std::min(entry.size(), kTimestampLength));
}

class LoggerTest : public testing::Test {
  protected:
    fs::path logFile() const { return folder_ / "logs" / "runtime.log"; }
    std::string logText() const { return test::readFile(logFile()); }
    // A logger in the folder that echoes into messages_.
    std::unique_ptr<Logger> makeLogger(std::uintmax_t rotationSize = Logger::kDefaultRotationSize) {
        auto logger = std::make_unique<Logger>(folder_ / "logs", rotationSize);
        logger->setEcho([this](std::string_view message) { messages_.emplace_back(message); });
        return logger;
    }

    test::TemporaryDirectory folder_;
    std::vector<std::string> messages_;
};

TEST_F(LoggerTest, SetUpCreatesNestedFolderAndEmptyLog) {
    Logger logger(folder_ / "a" / "b");
    ASSERT_EQ(logger.fileLogURL(), folder_ / "a" / "b" / "runtime.log");
    EXPECT_TRUE(fs::exists(*logger.fileLogURL()));
    EXPECT_EQ(fs::file_size(*logger.fileLogURL()), 0u);
}

TEST_F(LoggerTest, EntriesStartWithLineFeedAndTimestampAndCarryTagMarkerAndText) {
    auto logger = makeLogger();
    logger->log(LogType::info, "Opened %{public}@ with %{public}lu rows", "a.csv", 12UL);
    logger->log(LogType::error, "Could not setup runtime log.");
    logger->log(LogType::debug, "%{private}@ kept, {public} outside placeholders removed", "x");
    logger->log(LogType::defaultType, "100%% plain");

    const std::string log = logText();
    EXPECT_NE(log.back(), '\n');
    const auto entries = entriesOf(log);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(withoutTimestamp(entries[0]), " [INFO-] \U0001F538 Opened a.csv with 12 rows");
    EXPECT_EQ(withoutTimestamp(entries[1]), " [ERROR] \U0001F53B Could not setup runtime log.");
    EXPECT_EQ(withoutTimestamp(entries[2]),
              " [DEBUG] \U0001F539 x kept,  outside placeholders removed");
    EXPECT_EQ(withoutTimestamp(entries[3]), " [DEBUG] \U0001F539 100% plain");
}

TEST_F(LoggerTest, TheLevelDropsTheEntriesBelowIt) {
    auto logger = makeLogger();
    std::vector<std::string> echoed;
    logger->setEcho([&](std::string_view message) { echoed.emplace_back(message); });
    const auto writeOneOfEach = [&] {
        logger->log(LogType::error, "error");
        logger->log(LogType::info, "info");
        logger->log(LogType::debug, "debug");
        logger->log(LogType::defaultType, "default");
    };
    logger->setLevel(LogLevel::errors);
    writeOneOfEach();
    logger->setLevel(LogLevel::information);
    writeOneOfEach();
    logger->setLevel(LogLevel::everything);
    writeOneOfEach();
    std::vector<std::string> texts;
    for (const std::string& entry : entriesOf(logText()))
        texts.push_back(entry.substr(entry.rfind(' ') + 1));
    EXPECT_EQ(texts, (std::vector<std::string>{"error", "error", "info", "error", "info", "debug",
                                               "default"}));
    EXPECT_EQ(echoed.size(), texts.size());
    for (LogLevel level : {LogLevel::errors, LogLevel::information, LogLevel::everything})
        EXPECT_EQ(logLevelNamed(nameOfLogLevel(level)), level);
    EXPECT_FALSE(logLevelNamed("Verbose"));
}

TEST_F(LoggerTest, TimestampIsLocalTimeWithNumericOffset) {
    {
        test::ScopedEnvironment zone("TZ", "IST-05:30");
        tzset();
        makeLogger()->log(LogType::info, "zoned");
    }
    tzset();
    EXPECT_NE(logText().find(" +0530] [INFO-]"), std::string::npos) << logText();
}

TEST_F(LoggerTest, InvalidUtf8IsReplacedAndValidTextKept) {
    makeLogger()->log(LogType::info, "%@|%@|%@",
                      "a\xFF"
                      "b",
                      "\xC0\xAF\xED\xA0\x80", "Zoë caf\xC3");
    EXPECT_EQ(withoutTimestamp(entriesOf(logText()).at(0)),
              " [INFO-] \U0001F538 a\uFFFDb|\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD|Zoë caf\uFFFD");
}

TEST_F(LoggerTest, LogOfExactlyOneMebibyteIsAppendedTo) {
    const std::string old(1'048'576, 'o');
    test::writeFile(logFile(), old);
    makeLogger()->log(LogType::info, "next");
    EXPECT_EQ(filesIn(folder_ / "logs"), std::vector<std::string>{"runtime.log"});
    const std::string log = logText();
    EXPECT_EQ(log.substr(0, old.size()), old);
    EXPECT_EQ(entriesOf(log.substr(old.size())).size(), 1u);
}

TEST_F(LoggerTest, LogOneByteOverOneMebibyteIsMovedToDatedBackup) {
    const std::string old(1'048'577, 'o');
    test::writeFile(logFile(), old);
    const auto backupName = [] {
        const std::time_t now = std::time(nullptr);
        char name[64];
        std::strftime(name, sizeof name, "runtime-backup-%Y-%m-%d-%H-%M-%S.log",
                      std::localtime(&now));
        return std::string(name);
    };
    const std::string earliest = backupName();
    auto logger = makeLogger();
    const std::string latest = backupName();

    const auto files = filesIn(folder_ / "logs");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1], "runtime.log");
    EXPECT_TRUE(files[0] >= earliest && files[0] <= latest) << files[0];
    EXPECT_EQ(test::readFile(folder_ / "logs" / files[0]), old);
    EXPECT_EQ(logText(), "");
}

TEST_F(LoggerTest, ALogPastItsLimitDuringARunIsMovedAsideAndStartedAfresh) {
    constexpr std::uintmax_t kLimit = 2000;
    Logger logger(folder_ / "logs", kLimit);
    logger.setEcho({});
    const std::string payload(150, 'p');
    const auto logEntries = [&](int from, int to) {
        for (int number = from; number < to; ++number)
            logger.log(LogType::info, "%d %@", number, payload);
    };
    logEntries(0, 100);

    // The log stays open while the program writes.
    bool open = false;
    for (const auto& descriptor : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        open = open || fs::read_symlink(descriptor.path(), error) == logFile();
    }
    EXPECT_TRUE(open);

    // Another process's rotation moves the log aside; this one goes on in a new log.
    fs::rename(logFile(), folder_ / "logs" / "moved-by-another.log");
    logEntries(100, 130);
    EXPECT_TRUE(fs::exists(folder_ / "logs" / "moved-by-another.log"));

    std::set<int> numbers;
    std::size_t backups = 0;
    for (const auto& name : filesIn(folder_ / "logs")) {
        const auto text = test::readFile(folder_ / "logs" / name);
        // One entry at most goes in past the limit before the log is moved aside.
        EXPECT_LE(text.size(), kLimit + 200) << name;
        if (name.starts_with("runtime-backup-")) ++backups;
        for (const auto& entry : entriesOf(text)) {
            const auto message = withoutTimestamp(entry);
            const auto number = std::stoi(message.substr(message.find(' ', 9)));
            EXPECT_TRUE(numbers.insert(number).second) << "twice: " << number;
        }
    }
    EXPECT_GE(backups, 6u);
    EXPECT_EQ(numbers.size(), 130u);
    EXPECT_EQ(*numbers.rbegin(), 129);
}

TEST_F(LoggerTest, ConcurrentEntriesArriveWholeAndInTheOrderTheyAreEchoed) {
    constexpr int kThreads = 8;
    constexpr int kEntries = 300;
    // The echo appends to an unsynchronised vector; the 7 MB of entries stay in one log.
    auto logger = makeLogger(std::uintmax_t{16} << 20);
    const std::string payload(3000, 'p');
    {
        std::vector<std::jthread> threads;
        for (int thread = 0; thread < kThreads; ++thread) {
            threads.emplace_back([&, thread] {
                for (int entry = 0; entry < kEntries; ++entry) {
                    logger->log(LogType::info, "%d:%d:%@", thread, entry, payload);
                }
            });
        }
    }
    const auto entries = entriesOf(logText());
    ASSERT_EQ(entries.size(), std::size_t{kThreads * kEntries});
    ASSERT_EQ(messages_.size(), entries.size());
    std::set<std::string> seen;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        // Write and echo happen under one lock, so the file and the echo agree on the order.
        ASSERT_EQ(withoutTimestamp(entries[index]), " [INFO-]" + messages_[index]);
        const std::string& message = messages_[index];
        ASSERT_EQ(message.substr(message.rfind(':') + 1), payload);
        EXPECT_TRUE(seen.insert(message.substr(0, message.rfind(':'))).second) << "duplicate";
    }
}

TEST_F(LoggerTest, EchoReceivesTheMessageWithoutTimestamp) {
    makeLogger()->log(LogType::error, "Failed %{public}@", "x");
    EXPECT_EQ(messages_, std::vector<std::string>{" \U0001F53B Failed x"});
}

TEST_F(LoggerTest, DefaultEchoWritesTheMessageLineToStandardOutputAndEmptyEchoIsSilent) {
    Logger logger(folder_ / "logs");
    testing::internal::CaptureStdout();
    logger.log(LogType::info, "shown");
    logger.setEcho({});
    logger.log(LogType::info, "hidden");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " \U0001F538 shown\n");
    EXPECT_EQ(entriesOf(logText()).size(), 2u);
}

TEST_F(LoggerTest, FileInPlaceOfFolderLeavesLoggerWithoutFile) {
    test::writeFile(folder_ / "logs", "not a folder");
    testing::internal::CaptureStdout();
    auto logger = makeLogger();
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("+++++ ", 0), 0u);
    EXPECT_FALSE(logger->fileLogURL());
    logger->log(LogType::error, "goes nowhere");
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(test::readFile(folder_ / "logs"), "not a folder");
}

// A link planted in the log's place, to a file that is there or to none yet, is reported and
// never written through.
TEST_F(LoggerTest, SymbolicLinkInPlaceOfTheLogIsReportedAndNotFollowed) {
    for (const bool targetExists : {true, false}) {
        const fs::path target = folder_ / (targetExists ? "victim" : "planted");
        if (targetExists) test::writeFile(target, "keep me");
        fs::create_directories(logFile().parent_path());
        fs::remove(logFile());
        fs::create_symlink(target, logFile());
        testing::internal::CaptureStdout();
        auto logger = makeLogger();
        logger->log(LogType::error, "must not reach the target");
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(printed.find("+++++ Not following the symbolic link"), std::string::npos)
            << printed;
        if (targetExists)
            EXPECT_EQ(test::readFile(target), "keep me");
        else
            EXPECT_FALSE(fs::exists(target));
        EXPECT_TRUE(fs::is_symlink(logFile()));
    }
}

TEST_F(LoggerTest, UnwritableEntryIsDroppedAndLaterEntriesAreWritten) {
    auto logger = makeLogger();
    fs::remove(logFile());
    fs::create_directory(logFile());
    logger->log(LogType::info, "dropped");
    fs::remove(logFile());
    logger->log(LogType::info, "kept");
    const auto entries = entriesOf(logText());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(withoutTimestamp(entries[0]), " [INFO-] \U0001F538 kept");
}

TEST_F(LoggerTest, OpenRuntimeLogHandsTheFileToTheViewer) {
    auto logger = makeLogger();
    fs::path shown;
    EXPECT_TRUE(logger->openRuntimeLog([&](const fs::path& file) { return shown = file, true; }));
    EXPECT_EQ(shown, logFile());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(LoggerTest, OpenRuntimeLogFailureIsLoggedAsError) {
    auto logger = makeLogger();
    EXPECT_FALSE(logger->openRuntimeLog([](const fs::path&) { return false; }));
    EXPECT_FALSE(logger->openRuntimeLog([](const fs::path&) -> bool { throw 1; }));
    EXPECT_EQ(withoutTimestamp(entriesOf(logText()).at(1)),
              " [ERROR] \U0001F53B Could not open the runtime log with the desktop's text viewer!");
}

TEST_F(LoggerTest, OpenRuntimeLogWithoutFileDoesNotCallTheViewer) {
    test::writeFile(folder_ / "logs", "");
    testing::internal::CaptureStdout();
    auto logger = makeLogger();
    testing::internal::GetCapturedStdout();
    bool called = false;
    EXPECT_FALSE(logger->openRuntimeLog([&](const fs::path&) { return called = true; }));
    EXPECT_FALSE(called);
}

TEST(LoggerLocationTest, DefaultFolderFollowsStateHomeOrFallsBackToHome) {
    test::ScopedEnvironment home("HOME", "/home/someone");
    {
        test::ScopedEnvironment state("XDG_STATE_HOME", "/var/state");
        EXPECT_EQ(Logger::defaultLogFolder(), "/var/state/pelkora/logs");
    }
    for (const char* unusable : {"", "relative/state"}) {
        test::ScopedEnvironment state("XDG_STATE_HOME", unusable);
        EXPECT_EQ(Logger::defaultLogFolder(), "/home/someone/.local/state/pelkora/logs");
    }
}

TEST(LoggerLocationTest, LogWritesToTheSharedLogInTheStateFolder) {
    test::ScopedXdgHome xdg;
    Logger::shared().setEcho({});
    writeLog(LogType::info, "shared %@", 1);
    const std::string log =
        test::readFile(xdg.root() / "state" / "pelkora" / "logs" / "runtime.log");
    EXPECT_NE(log.find("[INFO-] \U0001F538 shared 1"), std::string::npos) << log;
}

}  // namespace
}  // namespace pelkora
