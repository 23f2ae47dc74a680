#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "platform/InputStream.h"

namespace pelkora {
namespace {

using test::TemporaryDirectory;

TEST(RandomAccessFileTest, ReadsPiecesInAnyOrderAndRefusesThoseBeyondTheEnd) {
    TemporaryDirectory directory;
    const auto path = directory / "cards.vcf";
    test::writeFile(path, "0123456789");
    auto file = RandomAccessFile::open(path);
    ASSERT_TRUE(file) << file.error().message;
    const struct {
        std::uint64_t offset;
        std::size_t length;
        const char* expected;  // null when the file ends before the piece
    } cases[] = {
        {7, 3, "789"}, {0, 2, "01"}, {3, 0, ""}, {10, 0, ""}, {8, 3, nullptr}, {20, 1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << "+" << c.length);
        const auto bytes = file->read(c.offset, c.length);
        if (c.expected) {
            ASSERT_TRUE(bytes) << bytes.error().message;
            EXPECT_EQ(*bytes, c.expected);
        } else {
            ASSERT_FALSE(bytes);
            EXPECT_NE(bytes.error().message.find(path.string()), std::string::npos);
        }
    }
}

// A named pipe nobody writes to is refused at once, by name, instead of waiting for a
// writer; devices still open (standard input may be one).
TEST(InputStreamTest, NamedPipesAreRefusedWithoutWaiting) {
    TemporaryDirectory directory;
    const auto pipe = directory / "contacts.csv";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto stream = InputStream::openFile(pipe);
    auto file = RandomAccessFile::open(pipe);
    ASSERT_FALSE(stream);
    ASSERT_FALSE(file);
    for (const auto& message : {stream.error().message, file.error().message}) {
        EXPECT_NE(message.find("“" + pipe.string() + "”: it is a named pipe"), std::string::npos)
            << message;
    }
    auto device = InputStream::openFile("/dev/zero");
    ASSERT_TRUE(device) << device.error().message;
    std::uint8_t bytes[4] = {1, 1, 1, 1};
    EXPECT_EQ((*device)->read(bytes, sizeof bytes), sizeof bytes);
    EXPECT_EQ(bytes[3], 0);
}

// The stream's stamp is the file's when it was opened; a later write gives another.
TEST(RandomAccessFileTest, StampChangesWithTheFileAndMatchesTheStreams) {
    TemporaryDirectory directory;
    const auto path = directory / "cards.vcf";
    test::writeFile(path, "0123456789");
    auto stream = InputStream::openFile(path);
    ASSERT_TRUE(stream);
    const auto streamStamp = (*stream)->fileStamp();
    ASSERT_TRUE(streamStamp);
    EXPECT_EQ(streamStamp->size, 10u);
    EXPECT_FALSE(InputStream::fromMemory("0123456789")->fileStamp());

    auto file = RandomAccessFile::open(path);
    ASSERT_TRUE(file);
    const auto before = file->stamp();
    ASSERT_TRUE(before);
    EXPECT_EQ(*before, *streamStamp);
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) + std::chrono::seconds(1));
    const auto after = file->stamp();
    ASSERT_TRUE(after);
    EXPECT_NE(*after, *before);
    EXPECT_EQ(after->size, before->size);

    EXPECT_FALSE(RandomAccessFile::open(directory / "missing.vcf"));
    EXPECT_FALSE(RandomAccessFile::open(directory.path()));
}

}  // namespace
}  // namespace pelkora
