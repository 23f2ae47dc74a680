#include <gtest/gtest.h>

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
