#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/AtomicFile.h"

namespace pelkora {
namespace {

namespace fs = std::filesystem;
using test::filesIn;

// What is at the path before the writer runs, and how it treats links.
struct ReplacementCase {
    const char* name;
    AtomicFileWriter::SymbolicLinks links;
    bool linkAtPath;  // "out.vcf" is a link to "target.vcf" holding "old"
    // Afterwards:
    const char* outContent;
    bool outIsLink;
    const char* targetContent;
};

TEST(AtomicFileWriterTest, SymbolicLinksAreFollowedOrReplacedAsAsked) {
    using Links = AtomicFileWriter::SymbolicLinks;
    const ReplacementCase cases[] = {
        {"no file", Links::replace, false, "new", false, nullptr},
        {"link replaced", Links::replace, true, "new", false, "old"},
        {"link followed", Links::follow, true, "new", true, "new"},
    };
    for (const auto& c : cases) {
        test::TemporaryDirectory folder;
        const fs::path out = folder / "out.vcf";
        if (c.linkAtPath) {
            test::writeFile(folder / "target.vcf", "old");
            fs::create_symlink("target.vcf", out);
        }
        auto writer = AtomicFileWriter::open(out, c.links);
        ASSERT_TRUE(writer.has_value()) << c.name << ": " << writer.error().message;
        ASSERT_TRUE(writer->append("ne").has_value());
        ASSERT_TRUE(writer->append("w").has_value());
        EXPECT_EQ(test::readFile(out), c.linkAtPath ? "old" : "") << c.name;  // not yet in place
        ASSERT_TRUE(writer->commit().has_value()) << c.name;
        EXPECT_EQ(test::readFile(out), c.outContent) << c.name;
        EXPECT_EQ(fs::is_symlink(out), c.outIsLink) << c.name;
        if (c.targetContent) {
            EXPECT_EQ(test::readFile(folder / "target.vcf"), c.targetContent) << c.name;
        }
        EXPECT_EQ(filesIn(folder.path()).size(), c.linkAtPath ? 2u : 1u) << c.name;
    }
}

TEST(AtomicFileWriterTest, FailedOrAbandonedWriteLeavesTheOldFileAndNoTemporary) {
    test::TemporaryDirectory folder;
    const fs::path out = folder / "all.vcf";
    const std::string old(4096, 'o');
    test::writeFile(out, old);
    {
        auto writer = AtomicFileWriter::open(out);
        ASSERT_TRUE(writer.has_value());
        test::ScopedFileSizeLimit limit(1024);  // a disk that fills up midway
        ASSERT_TRUE(writer->append(std::string(1000, 'n')).has_value());
        const auto full = writer->append(std::string(1000, 'n'));
        ASSERT_FALSE(full.has_value());
        EXPECT_NE(full.error().message.find("“" + out.string() + "”"), std::string::npos)
            << full.error().message;
        EXPECT_FALSE(writer->commit().has_value());
    }
    EXPECT_EQ(test::readFile(out), old);
    {
        auto abandoned = AtomicFileWriter::open(out);
        ASSERT_TRUE(abandoned.has_value());
        ASSERT_TRUE(abandoned->append("never committed").has_value());
    }
    EXPECT_EQ(test::readFile(out), old);
    EXPECT_EQ(filesIn(folder.path()), std::vector<std::string>{"all.vcf"});
}

TEST(AtomicFileWriterTest, OnlyRegularFilesAreReplacedAndKeepTheirMode) {
    test::TemporaryDirectory folder;
    fs::create_directory(folder / "dir");
    auto onFolder = AtomicFileWriter::open(folder / "dir");
    ASSERT_FALSE(onFolder.has_value());
    EXPECT_EQ(onFolder.error().code, std::errc::is_a_directory);
    if (fs::exists("/dev/null")) {
        // Root could otherwise rename a file over the device.
        auto onDevice = AtomicFileWriter::open("/dev/null");
        ASSERT_FALSE(onDevice.has_value());
        EXPECT_EQ(onDevice.error().reason, "it is not a regular file");
    }

    const fs::path privateFile = folder / "private.vcf";
    test::writeFile(privateFile, "old");
    ::chmod(privateFile.c_str(), 0600);
    ASSERT_TRUE(writeFileAtomically(privateFile, "new").has_value());
    struct stat status {};
    ASSERT_EQ(::stat(privateFile.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(test::readFile(privateFile), "new");
}

}  // namespace
}  // namespace pelkora
