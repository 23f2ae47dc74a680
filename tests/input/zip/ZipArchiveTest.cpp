#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "input/zip/ZipArchive.h"
#include "input/zip/ZipExistingEntry.h"

namespace pelkora {
namespace {

namespace fs = std::filesystem;
using test::TemporaryDirectory;

// Helpers every archive script may use: the bytes are built with zipfile into `data`, then
// patched in place at the offsets these functions find, and written to the output path.
constexpr const char* pythonPrelude = R"(
import io, struct, sys, zipfile
def end_offset(b): return b.rfind(b'PK\x05\x06')
def cd_offset(b): return struct.unpack_from('<I', b, end_offset(b) + 16)[0]
def central(b, index):
    offset = cd_offset(b)
    for _ in range(index):
        n, e, c = struct.unpack_from('<HHH', b, offset + 28)
        offset += 46 + n + e + c
    return offset
def local(b, index): return struct.unpack_from('<I', b, central(b, index) + 42)[0]
def put16(b, offset, value): struct.pack_into('<H', b, offset, value)
def put32(b, offset, value): struct.pack_into('<I', b, offset, value)
def put64(b, offset, value): struct.pack_into('<Q', b, offset, value)
def end64_offset(b): return b.rfind(b'PK\x06\x06')
def locator_offset(b): return b.rfind(b'PK\x06\x07')
def cd64_offset(b): return struct.unpack_from('<Q', b, end64_offset(b) + 48)[0]
def zip64_block(b, header, central=True):
    fixed = 46 if central else 30
    n, e = struct.unpack_from('<HH', b, header + (28 if central else 26))
    at = header + fixed + n
    while at < header + fixed + n + e:
        block, size = struct.unpack_from('<HH', b, at)
        if block == 1: return at + 4
        at += 4 + size
def build(files, comment=b'', method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w', method) as archive:
        archive.comment = comment
        for name, content in files:
            archive.writestr(name, content)
    return bytearray(buffer.getvalue())
)";

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::string text(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Runs a command and fails the test when it does not succeed.
void run(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// The bytes the Python script leaves in `data`, built with zipfile and the prelude's helpers.
std::vector<std::uint8_t> pythonArchive(const std::string& script) {
    TemporaryDirectory folder;
    {
        std::ofstream file(folder / "make.py");
        file << pythonPrelude << script << "\nopen(sys.argv[1], 'wb').write(bytes(data))\n";
    }
    run("/usr/bin/python3 " + (folder / "make.py").string() + " " + (folder / "out.zip").string());
    return readFile(folder / "out.zip");
}

std::unique_ptr<ZipArchive> open(std::vector<std::uint8_t> bytes) {
    auto archive = ZipArchive::archiveWithData(std::move(bytes));
    EXPECT_TRUE(archive) << (archive ? "" : archive.error().message);
    return archive ? std::move(*archive) : nullptr;
}

std::optional<int> openingCode(std::vector<std::uint8_t> bytes) {
    auto archive = ZipArchive::archiveWithData(std::move(bytes));
    if (archive) return std::nullopt;
    return archive.error().code();
}

const ZipExistingEntry& oldEntry(const ZipArchive& archive, std::size_t index) {
    return dynamic_cast<const ZipExistingEntry&>(*archive.entries().at(index));
}

TEST(ZipArchive, OpensAFileAndReadsStoredAndDeflateEntries) {
    TemporaryDirectory folder;
    const auto path = folder / "book.zip";
    const auto bytes = pythonArchive(R"(
data = build([('a.txt', b'plain'), ('xl/workbook.xml', b'<workbook>' * 100)])
)");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    auto archive = ZipArchive::archiveWithURL(path);
    ASSERT_TRUE(archive) << archive.error().message;
    EXPECT_EQ((*archive)->URL(), path);
    ASSERT_EQ((*archive)->entries().size(), 2u);
    EXPECT_EQ((*archive)->entries()[0]->fileName(), "a.txt");
    EXPECT_EQ((*archive)->entries()[1]->fileName(), "xl/workbook.xml");
    EXPECT_TRUE((*archive)->entries()[1]->compressed());
    auto content = (*archive)->contentsOfEntry("xl/workbook.xml");
    ASSERT_TRUE(content) << content.error().message;
    std::string expected;
    for (int count = 0; count < 100; ++count) expected += "<workbook>";
    EXPECT_EQ(*content, expected);
    EXPECT_EQ(*(*archive)->contentsOfEntry("a.txt"), "plain");
}

TEST(ZipArchive, StoredEntryYieldsExactlyItsCompressedBytes) {
    auto archive =
        open(pythonArchive("data = build([('s.bin', b'0123456789')], method=zipfile.ZIP_STORED)"));
    ASSERT_TRUE(archive);
    const auto& entry = *archive->entries()[0];
    EXPECT_FALSE(entry.compressed());
    EXPECT_EQ(entry.compressedSize(), 10u);
    EXPECT_EQ(text(*entry.newData()), "0123456789");
}

TEST(ZipArchive, MissingPartIsReportedWithoutNumber) {
    auto archive = open(pythonArchive("data = build([('a', b'x')])"));
    ASSERT_TRUE(archive);
    const auto content = archive->contentsOfEntry("b");
    ASSERT_FALSE(content);
    EXPECT_EQ(content.error().kind, ZipErrorKind::entryNotFound);
    EXPECT_EQ(content.error().code(), std::nullopt);
}

TEST(ZipArchive, EmptyDataIsAMissingFileWithCode0) {
    auto archive = ZipArchive::archiveWithData({});
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error().code(), 0);
    EXPECT_EQ(archive.error().underlyingError, std::errc::no_such_file_or_directory);
}

TEST(ZipArchive, MissingFileFailsWithCode0NamingTheFile) {
    TemporaryDirectory folder;
    auto archive = ZipArchive::archiveWithURL(folder / "absent.xlsx");
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error().code(), 0);
    EXPECT_NE(archive.error().message.find("absent.xlsx"), std::string::npos);
}

TEST(ZipArchive, MissingFileOpensEmptyWhenCreateIfMissingIsSet) {
    TemporaryDirectory folder;
    auto archive = ZipArchive::initWithURL(folder / "new.zip",
                                           {.encoding = std::nullopt, .createIfMissing = true});
    ASSERT_TRUE(archive);
    EXPECT_FALSE((*archive)->contents());
    EXPECT_TRUE((*archive)->entries().empty());
}

TEST(ZipArchive, EighteenBytesOrNoEndRecordFailsWithCode1) {
    EXPECT_EQ(openingCode(std::vector<std::uint8_t>(18, 'P')), 1);
    std::vector<std::uint8_t> noSignature(100000, 0);
    EXPECT_EQ(openingCode(noSignature), 1);
    // A signature further back than 65,557 bytes from the end is not looked for.
    auto farAway = pythonArchive("data = build([]) + bytearray(65536)");
    EXPECT_EQ(openingCode(farAway), 1);
}

TEST(ZipArchive, LongestCommentOpensAndTrailingByteFailsWithCode1) {
    auto withComment = pythonArchive("data = build([('a', b'x')], comment=b'c' * 65535)");
    auto archive = open(withComment);
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries().size(), 1u);
    withComment.push_back(0);
    EXPECT_EQ(openingCode(withComment), 1);
}

TEST(ZipArchive, SignatureInsideTheCommentIsTakenAsTheRecord) {
    // The comment ends with a whole record of an empty archive, which is the last signature.
    auto archive = open(pythonArchive(R"(
data = build([('a', b'x')], comment=b'note' + b'PK\x05\x06' + bytes(18))
)"));
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->entries().empty());
}

TEST(ZipArchive, SpannedArchiveFailsWithCode1) {
    EXPECT_EQ(openingCode(pythonArchive(
                  "data = build([('a', b'x')]); put16(data, end_offset(data) + 4, 1)")),
              1);
    EXPECT_EQ(openingCode(pythonArchive(
                  "data = build([('a', b'x')]); put16(data, end_offset(data) + 6, 1)")),
              1);
    EXPECT_EQ(openingCode(pythonArchive(
                  "data = build([('a', b'x')]); put16(data, end_offset(data) + 8, 2)")),
              1);
}

TEST(ZipArchive, EntryCountBeyondTheCentralDirectoryFailsWithCode1) {
    EXPECT_EQ(openingCode(pythonArchive(R"(
data = build([('a', b'x')]); put16(data, end_offset(data) + 8, 900); put16(data, end_offset(data) + 10, 900)
)")),
              1);
}

TEST(ZipArchive, ArchiveWithoutEntriesOpensEmpty) {
    auto archive = open(pythonArchive("data = build([])"));
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->entries().empty());
}

TEST(ZipArchive, LocalHeaderOffsetInsideTheCentralDirectoryFailsWithCode2AndIndex) {
    auto archive = ZipArchive::archiveWithData(pythonArchive(R"(
data = build([('a', b'x'), ('b', b'y')]); put32(data, central(data, 1) + 42, cd_offset(data) - 29)
)"));
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error().code(), 2);
    EXPECT_EQ(archive.error().entryIndex, 1u);
    // Exactly 30 bytes before the central directory is still allowed.
    EXPECT_TRUE(ZipArchive::archiveWithData(pythonArchive(R"(
data = build([('a', b'x'), ('b', b'y')]); put32(data, central(data, 1) + 42, cd_offset(data) - 30)
)")));
}

TEST(ZipArchive, CentralHeaderRunningIntoTheEndRecordFailsWithCode2) {
    auto archive = ZipArchive::archiveWithData(pythonArchive(R"(
data = build([('a', b'x'), ('b', b'y')]); put16(data, central(data, 1) + 32, 60000)
)"));
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error().code(), 2);
    EXPECT_EQ(archive.error().entryIndex, 1u);
}

TEST(ZipArchive, EntryOnAnotherDiskFailsWithCode2) {
    auto archive = ZipArchive::archiveWithData(pythonArchive(R"(
data = build([('a', b'x')]); put16(data, central(data, 0) + 34, 1)
)"));
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error().code(), 2);
    EXPECT_EQ(archive.error().entryIndex, 0u);
}

TEST(ZipArchive, NameWithoutUtf8FlagIsDecodedAsUtf8ByDefault) {
    const auto bytes = pythonArchive(R"(
data = build([('f\u00fcr.txt', b'x')])
flags = struct.unpack_from('<H', data, central(data, 0) + 8)[0]
put16(data, central(data, 0) + 8, flags & ~0x800)
)");
    auto archive = open(bytes);
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0]->fileName(), "f\u00fcr.txt");

    auto latin = ZipArchive::initWithData(bytes, {.encoding = TextEncoding::isoLatin1()});
    ASSERT_TRUE(latin);
    EXPECT_EQ((*latin)->entries()[0]->fileName(), "f\u00c3\u00bcr.txt");
}

TEST(ZipArchive, NameInTheArchivesEncodingIsDecodedWithIt) {
    // "fxr" becomes "für" in code page 437 (0x81 is ü), which is not valid UTF-8.
    const auto bytes = pythonArchive(R"(
data = build([('fxr', b'x')]); data[local(data, 0) + 31] = 0x81; data[central(data, 0) + 47] = 0x81
)");
    auto archive = ZipArchive::initWithData(bytes, {.encoding = TextEncoding::named("IBM437")});
    ASSERT_TRUE(archive);
    EXPECT_EQ((*archive)->entries()[0]->fileName(), "f\u00fcr");
    EXPECT_TRUE((*archive)->entries()[0]->check());
    // Without an option the bytes are not UTF-8, so the zip format's own code page is used.
    auto byDefault = open(bytes);
    ASSERT_TRUE(byDefault);
    EXPECT_EQ(byDefault->entries()[0]->fileName(), "f\u00fcr");
}

TEST(ZipArchive, DeflateOutputLongerThanDeclaredYieldsNoContent) {
    auto archive = open(pythonArchive(R"(
data = build([('a', b'abcdef' * 50)]); put32(data, central(data, 0) + 24, 200)
)"));
    ASSERT_TRUE(archive);
    const auto content = archive->entries()[0]->newData();
    ASSERT_FALSE(content);
    EXPECT_EQ(content.error().kind, ZipErrorKind::contentUnreadable);
    EXPECT_EQ(content.error().code(), std::nullopt);
}

// Reads the entry through a stream in pieces and returns whether the stream ended in error.
bool streamEndsInError(const ZipArchiveEntry& entry) {
    auto stream = entry.newStream();
    if (!stream) return true;
    std::vector<std::uint8_t> buffer(64);
    while ((*stream)->read(buffer.data(), buffer.size()) > 0) {
    }
    return static_cast<bool>((*stream)->error());
}

TEST(ZipArchive, ContentIsCheckedAgainstItsCrcAndSizeWhenReadToTheEnd) {
    struct Case {
        const char* name;
        const char* script;
        bool damaged;
    };
    const Case cases[] = {
        {"intact stored", "data = build([('a', b'Ann,ann@example.org\\n' * 20)], method=0)", false},
        {"intact deflate", "data = build([('a', b'Ann,ann@example.org\\n' * 20)])", false},
        {"intact empty", "data = build([('a', b'')])", false},
        // One letter of a stored e-mail address changed: the bytes still read, altered.
        {"stored byte altered",
         "data = build([('a', b'Ann,ann@example.org\\n' * 20)], method=0); "
         "data[local(data, 0) + 31 + 5] ^= 0x01",
         true},
        {"deflate CRC wrong",
         "data = build([('a', b'abcdef' * 50)]); put32(data, central(data, 0) + 16, 0x12345678)",
         true},
        {"stored CRC wrong",
         "data = build([('a', b'abcdef')], method=0); put32(data, central(data, 0) + 16, 1)", true},
        // Deflate data that ends early: the content is shorter than declared.
        {"deflate shorter than declared",
         "data = build([('a', b'abcdef' * 50)]); put32(data, central(data, 0) + 24, 301)", true},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        auto archive = open(pythonArchive(test.script));
        ASSERT_TRUE(archive);
        const auto& entry = *archive->entries()[0];
        const auto content = entry.newData();
        EXPECT_EQ(!content, test.damaged);
        if (!content) {
            EXPECT_EQ(content.error().kind, ZipErrorKind::contentUnreadable);
            EXPECT_NE(content.error().message.find("damaged"), std::string::npos);
        }
        EXPECT_EQ(streamEndsInError(entry), test.damaged);
    }
}

TEST(ZipArchive, LocalHeaderNamingAnotherEntryIsRefusedWithCode3) {
    auto archive = open(pythonArchive(
        "data = build([('contacts.csv', b'Ann')]); data[local(data, 0) + 30] = ord('C')"));
    ASSERT_TRUE(archive);
    const auto content = archive->entries()[0]->newData();
    ASSERT_FALSE(content);
    EXPECT_EQ(content.error().code(), 3);
    EXPECT_FALSE(archive->entries()[0]->newStream());
    EXPECT_FALSE(archive->contentsOfEntry("contacts.csv"));
}

TEST(ZipArchive, UnknownCompressionMethodIsRefusedWithCode9) {
    auto archive =
        open(pythonArchive("data = build([('a', b'abc' * 40)], method=zipfile.ZIP_BZIP2)"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(oldEntry(*archive, 0).compressionMethod(), 12);
    const auto content = archive->entries()[0]->newData();
    ASSERT_FALSE(content);
    EXPECT_EQ(content.error().code(), 9);
}

TEST(ZipArchive, StrongEncryptionIsRefusedWithCode10) {
    auto archive = open(pythonArchive(R"(
data = build([('a', b'abc')]); put16(data, central(data, 0) + 8, 0x41)
)"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(oldEntry(*archive, 0).encryptionMode(), ZipEncryptionMode::strong);
    EXPECT_EQ(archive->entries()[0]->newData().error().code(), 10);
}

TEST(ZipArchive, DeclaredFourGigabyteEntryInASmallArchiveIsRefusedWithoutAllocating) {
    const auto bytes = pythonArchive(R"(
data = build([('big', bytes(range(256)) * 40)])
put32(data, central(data, 0) + 24, 0xFFFFFFFF)
)");
    EXPECT_LT(bytes.size(), 11u * 1024);
    auto archive = open(bytes);
    ASSERT_TRUE(archive);
    const auto content = archive->entries()[0]->newData();
    ASSERT_FALSE(content);
    EXPECT_EQ(content.error().kind, ZipErrorKind::contentUnreadable);
    EXPECT_NE(content.error().message.find("4294967295"), std::string::npos);
}

TEST(ZipArchive, DeclaredSizeBeyondWhatDeflateCanExpandToIsRefused) {
    // 1,032 output bytes per compressed byte is the most deflate can produce.
    auto archive = open(pythonArchive(R"(
data = build([('a', b'abc')]); size = struct.unpack_from('<I', data, central(data, 0) + 20)[0]
put32(data, central(data, 0) + 24, size * 1032 + 1)
)"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0]->newData().error().kind, ZipErrorKind::contentUnreadable);
}

TEST(ZipArchive, EntriesSharingOneLocalHeaderAreReadIndependently) {
    auto archive = open(pythonArchive(R"(
data = build([('a', b'shared ' * 10), ('b', b'other')]); put32(data, central(data, 1) + 42, 0)
)"));
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->entries().size(), 2u);
    EXPECT_EQ(text(*archive->entries()[0]->newData()).substr(0, 7), "shared ");
    // The second entry's sizes do not match the shared data, so it inflates to nothing usable.
    EXPECT_FALSE(archive->entries()[1]->newData());
    EXPECT_EQ(archive->entries()[1]->check().error().code(), 3);
}

TEST(ZipArchive, EmptyFileFailsWithCode1) {
    TemporaryDirectory folder;
    std::ofstream(folder / "empty.xlsx").close();
    auto archive = ZipArchive::archiveWithURL(folder / "empty.xlsx");
    ASSERT_FALSE(archive);
    EXPECT_EQ(archive.error().code(), 1);
}

TEST(ZipArchive, DataRunningPastTheArchiveIsRefusedWithCode3) {
    auto archive = open(pythonArchive(R"(
data = build([('a', b'abc')]); put16(data, local(data, 0) + 28, 60000)
)"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0]->newData().error().code(), 3);
    EXPECT_EQ(archive->entries()[0]->check().error().code(), 3);
}

TEST(ZipArchive, CheckComparesTheLocalHeaderWithTheCentralHeader) {
    auto archive = open(pythonArchive("data = build([('name', b'abc')])"));
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->entries()[0]->check());
    auto renamed = open(
        pythonArchive("data = build([('name', b'abc')]); data[local(data, 0) + 30] = ord('N')"));
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->entries()[0]->check().error().code(), 3);
}

TEST(ZipArchive, CheckReadsTheDataDescriptor) {
    // Writing to an unseekable stream makes zipfile put sizes and CRC after the data.
    auto archive = open(pythonArchive(R"(
class Unseekable(io.RawIOBase):
    def __init__(self): self.buffer = bytearray()
    def writable(self): return True
    def write(self, b): self.buffer += b; return len(b)
stream = Unseekable()
with zipfile.ZipFile(stream, 'w', zipfile.ZIP_DEFLATED) as archive:
    with archive.open('streamed.txt', 'w') as entry: entry.write(b'streamed ' * 30)
data = stream.buffer
)"));
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->entries()[0]->check());
    EXPECT_EQ(text(*archive->entries()[0]->newData()).substr(0, 9), "streamed ");
}

TEST(ZipArchive, ModificationDateAndUnixModeComeFromTheCentralHeader) {
    auto archive = open(pythonArchive(R"(
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, 'w') as archive:
    info = zipfile.ZipInfo('script.sh', date_time=(2021, 3, 4, 5, 6, 8))
    info.create_system = 3
    info.external_attr = 0o100750 << 16
    archive.writestr(info, b'#!')
data = bytearray(buffer.getvalue())
)"));
    ASSERT_TRUE(archive);
    const auto& entry = *archive->entries()[0];
    std::tm expected{};
    expected.tm_year = 121;
    expected.tm_mon = 2;
    expected.tm_mday = 4;
    expected.tm_hour = 5;
    expected.tm_min = 6;
    expected.tm_sec = 8;
    expected.tm_isdst = -1;
    EXPECT_EQ(entry.lastModified(), std::chrono::system_clock::from_time_t(std::mktime(&expected)));
    EXPECT_EQ(entry.fileMode(), 0100750u);
}

TEST(ZipArchive, DosAttributesGiveDirectoryOrFileModes) {
    auto archive = open(pythonArchive(R"(
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, 'w') as archive:
    for name, attributes in (('dir/', 0x10), ('readonly.txt', 0x01), ('file.txt', 0x20)):
        info = zipfile.ZipInfo(name)
        info.create_system = 0
        info.external_attr = attributes
        archive.writestr(info, b'')
data = bytearray(buffer.getvalue())
)"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0]->fileMode(), std::uint32_t{S_IFDIR | 0755});
    EXPECT_EQ(archive->entries()[1]->fileMode(), std::uint32_t{S_IFREG | 0444});
    EXPECT_EQ(archive->entries()[2]->fileMode(), std::uint32_t{S_IFREG | 0644});
}

TEST(ZipArchive, DeflateStreamReadInSmallPiecesGivesTheContent) {
    auto archive = open(pythonArchive("data = build([('a', bytes(range(256)) * 300)])"));
    ASSERT_TRUE(archive);
    auto stream = archive->entries()[0]->newStream();
    ASSERT_TRUE(stream);
    std::vector<std::uint8_t> content;
    std::uint8_t piece[7];
    while (const std::size_t count = (*stream)->read(piece, sizeof piece)) {
        content.insert(content.end(), piece, piece + count);
    }
    ASSERT_EQ(content.size(), 256u * 300);
    EXPECT_EQ(content[1000], 1000 % 256);
    EXPECT_FALSE((*stream)->error());
}

TEST(ZipArchive, CorruptDeflateDataEndsTheStreamWithAnError) {
    auto archive = open(pythonArchive(R"(
data = build([('a', bytes(range(256)) * 300)]); data[local(data, 0) + 31 + 3] ^= 0xff
)"));
    ASSERT_TRUE(archive);
    EXPECT_FALSE(archive->entries()[0]->newData());
    auto stream = archive->entries()[0]->newStream();
    ASSERT_TRUE(stream);
    std::vector<std::uint8_t> buffer(4096);
    while ((*stream)->read(buffer.data(), buffer.size()) > 0) {
    }
    EXPECT_FALSE((*stream)->hasBytesAvailable());
    EXPECT_TRUE((*stream)->error());
}

// Archives made by the zip and 7z tools from one file of known content.
class ZipEncryptedArchive : public ::testing::Test {
  protected:
    std::vector<std::uint8_t> make(const std::string& tool) {
        std::ofstream(folder_ / "contacts.csv") << content();
        run("cd " + folder_.path().string() + " && " + tool + " >/dev/null");
        return readFile(folder_ / "secret.zip");
    }
    static std::string content() {
        std::string text = "name,email\n";
        for (int row = 0; row < 200; ++row)
            text += "Ann " + std::to_string(row) + ",ann@example.org\n";
        return text;
    }
    TemporaryDirectory folder_;
};

TEST_F(ZipEncryptedArchive, TraditionalEntryDecryptsWithThePassword) {
    auto archive = open(make("zip -q -e -P s3cret secret.zip contacts.csv"));
    ASSERT_TRUE(archive);
    const auto& entry = oldEntry(*archive, 0);
    EXPECT_TRUE(entry.encrypted());
    EXPECT_EQ(entry.encryptionMode(), ZipEncryptionMode::traditional);
    auto read = entry.newDataWithPassword("s3cret");
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(text(*read), content());
    EXPECT_TRUE(entry.check());
}

TEST_F(ZipEncryptedArchive, TraditionalEntryWithoutPasswordFailsWithCode12) {
    auto archive = open(make("zip -q -e -P s3cret secret.zip contacts.csv"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0]->newData().error().code(), 12);
    EXPECT_EQ(archive->entries()[0]->newDataWithPassword("wrong").error().code(), 12);
    EXPECT_EQ(archive->contentsOfEntry("contacts.csv").error().code(), 12);
    // One wrong password in 256 passes the one-byte check; among 2000 some do, and they
    // must still be told apart from a damaged archive.
    for (int attempt = 0; attempt < 2000; ++attempt) {
        const auto read =
            archive->entries()[0]->newDataWithPassword("guess" + std::to_string(attempt));
        ASSERT_FALSE(read);
        ASSERT_EQ(read.error().code(), 12) << attempt << ": " << read.error().message;
    }
}

TEST_F(ZipEncryptedArchive, TraditionalEntryWithDataDescriptorChecksTheModificationTime) {
    // Written to a pipe, zip cannot seek back, so it sets flag bit 3 and puts the CRC after
    // the data; the encryption header then checks against the modification time.
    auto archive = open(make("zip -q -e -P pw - contacts.csv | tee secret.zip"));
    ASSERT_TRUE(archive);
    auto read = archive->entries()[0]->newDataWithPassword("pw");
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(text(*read), content());
    EXPECT_TRUE(archive->entries()[0]->check());
    EXPECT_EQ(archive->entries()[0]->newDataWithPassword("pv").error().code(), 12);
}

TEST_F(ZipEncryptedArchive, StoredTraditionalEntryDecrypts) {
    auto archive = open(make("zip -q -0 -e -P pw secret.zip contacts.csv"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(text(*archive->entries()[0]->newDataWithPassword("pw")), content());
}

TEST_F(ZipEncryptedArchive, AesEntryDecryptsWithThePassword) {
    auto archive = open(make("7z a -tzip -ps3cret-AES -mem=AES256 secret.zip contacts.csv"));
    ASSERT_TRUE(archive);
    const auto& entry = oldEntry(*archive, 0);
    EXPECT_EQ(entry.encryptionMode(), ZipEncryptionMode::aes);
    EXPECT_EQ(entry.compressionMethod(), 8);
    auto read = entry.newDataWithPassword("s3cret-AES");
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(text(*read), content());
    EXPECT_TRUE(entry.check());
}

TEST_F(ZipEncryptedArchive, AesEntryWithWrongPasswordFailsWithCode12) {
    auto archive = open(make("7z a -tzip -ps3cret -mem=AES128 secret.zip contacts.csv"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0]->newData().error().code(), 12);
    EXPECT_EQ(text(*archive->entries()[0]->newDataWithPassword("s3cret")), content());
}

TEST_F(ZipEncryptedArchive, AesCrcIsCheckedForAe1AndNotForAe2) {
    // 7z writes AE-2, which leaves the CRC 0; as AE-1 the same entry fails its CRC check.
    const auto ae2 = make("7z a -tzip -ppw -mem=AES256 secret.zip contacts.csv");
    auto archive = open(ae2);
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0]->crc32(), 0u);
    EXPECT_EQ(text(*archive->entries()[0]->newDataWithPassword("pw")), content());
    std::vector<std::uint8_t> ae1 = ae2;
    for (std::size_t at = 0; at + 6 < ae1.size(); ++at) {
        if (ae1[at] == 0x01 && ae1[at + 1] == 0x99 && ae1[at + 4] == 2 && ae1[at + 6] == 'A') {
            ae1[at + 4] = 1;
        }
    }
    archive = open(ae1);
    ASSERT_TRUE(archive);
    const auto read = archive->entries()[0]->newDataWithPassword("pw");
    ASSERT_FALSE(read);
    EXPECT_NE(read.error().message.find("CRC-32"), std::string::npos);
}

TEST_F(ZipEncryptedArchive, StoredAesEntryDecrypts) {
    auto archive = open(make("7z a -tzip -mx=0 -ppw -mem=AES192 secret.zip contacts.csv"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(oldEntry(*archive, 0).compressionMethod(), 0);
    EXPECT_EQ(text(*archive->entries()[0]->newDataWithPassword("pw")), content());
}

// Archives with zip64 records, as zip -fz and zipfile's force_zip64 write them.
class Zip64Archive : public ::testing::Test {
  protected:
    static std::string content() {
        std::string text = "name,email\n";
        for (int row = 0; row < 100; ++row)
            text += "Ann " + std::to_string(row) + ",ann@example.org\n";
        return text;
    }
    // The archive the shell command leaves in out.zip, made next to contacts.csv.
    std::vector<std::uint8_t> make(const std::string& command) {
        std::ofstream(folder_ / "contacts.csv") << content();
        {
            std::ofstream script(folder_ / "force.py");
            script
                << "import sys, zipfile\n"
                   "out = open('out.zip', 'wb') if sys.argv[1] == 'file' else sys.stdout.buffer\n"
                   "with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as archive:\n"
                   "    with archive.open('contacts.csv', 'w', force_zip64=True) as entry:\n"
                   "        entry.write(open('contacts.csv', 'rb').read())\n";
        }
        run("cd " + folder_.path().string() + " && rm -f out.zip && " + command);
        return readFile(folder_ / "out.zip");
    }
    // The zip -fz archive of contacts.csv, patched by the script (c is its central header).
    std::vector<std::uint8_t> patched(const std::string& script) {
        make("zip -q -fz out.zip contacts.csv");
        return pythonArchive("data = bytearray(open('" + (folder_ / "out.zip").string() +
                             "', 'rb').read())\nc = cd64_offset(data)\n" + script);
    }
    TemporaryDirectory folder_;
};

bool contains(const std::vector<std::uint8_t>& bytes, std::string_view signature) {
    return std::search(bytes.begin(), bytes.end(), signature.begin(), signature.end()) !=
           bytes.end();
}

TEST_F(Zip64Archive, ArchivesWrittenByZipAndZipfileAreRead) {
    struct Case {
        const char* command;
        const char* name;
        bool endRecord;
    };
    const Case cases[] = {
        {"zip -q -fz out.zip contacts.csv", "contacts.csv", true},
        {"cat contacts.csv | zip -q -fz - - > out.zip", "-", true},
        {"/usr/bin/python3 force.py file", "contacts.csv", false},
        // To a pipe zipfile cannot seek back: a data descriptor with 8-byte sizes follows the
        // data.
        {"/usr/bin/python3 force.py pipe | cat > out.zip", "contacts.csv", false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.command);
        const auto bytes = make(test.command);
        EXPECT_EQ(contains(bytes, "PK\x06\x06"), test.endRecord);
        auto archive = open(bytes);
        ASSERT_TRUE(archive);
        ASSERT_EQ(archive->entries().size(), 1u);
        const auto& entry = *archive->entries()[0];
        EXPECT_EQ(entry.fileName(), test.name);
        EXPECT_EQ(entry.uncompressedSize(), content().size());
        const auto read = entry.newData();
        ASSERT_TRUE(read) << read.error().message;
        EXPECT_EQ(text(*read), content());
        EXPECT_FALSE(streamEndsInError(entry));
        const auto checked = entry.check();
        EXPECT_TRUE(checked) << (checked ? "" : checked.error().message);
    }
}

TEST_F(Zip64Archive, RecordsPointingOutsideTheArchiveAreRefused) {
    struct Case {
        const char* name;
        const char* script;
        int openingCode;
    };
    const Case cases[] = {
        {"zip64 end record past the end", "put64(data, locator_offset(data) + 8, len(data) + 99)",
         1},
        {"zip64 end record not at its offset", "put64(data, locator_offset(data) + 8, 0)", 1},
        {"zip64 end record size overflowing", "put64(data, end64_offset(data) + 4, 2**64 - 1)", 1},
        {"central directory offset overflowing", "put64(data, end64_offset(data) + 48, 2**64 - 16)",
         1},
        {"entry count overflowing",
         "put64(data, end64_offset(data) + 24, 2**62); put64(data, end64_offset(data) + 32, 2**62)",
         1},
        {"zip64 end record on another disk", "put32(data, locator_offset(data) + 16, 2)", 1},
        // The zip64 block holds only the original size, so no offset can come from it.
        {"offset placeholder without its zip64 value", "put32(data, c + 42, 0xFFFFFFFF)", 2},
        {"local header offset from zip64 past the directory",
         "put32(data, c + 24, 0); put32(data, c + 42, 0xFFFFFFFF); "
         "put64(data, zip64_block(data, c), 2**64 - 8)",
         2},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(openingCode(patched(test.script)), test.openingCode);
    }
}

TEST_F(Zip64Archive, ZipSixtyFourSizesTheDataCannotHonourAreRefused) {
    // An original size of 2^63 must not be allocated.
    auto huge = open(patched("put64(data, zip64_block(data, c), 2**63)"));
    ASSERT_TRUE(huge);
    const auto content = huge->entries()[0]->newData();
    ASSERT_FALSE(content);
    EXPECT_EQ(content.error().kind, ZipErrorKind::contentUnreadable);
    EXPECT_NE(content.error().message.find("9223372036854775808"), std::string::npos);
    // A compressed size of 2^64 - 1 must not wrap around the bounds check of the data.
    auto overflowing =
        open(patched("put32(data, c + 24, 100); put32(data, c + 20, 0xFFFFFFFF); "
                     "put64(data, zip64_block(data, c), 2**64 - 1)"));
    ASSERT_TRUE(overflowing);
    EXPECT_EQ(overflowing->entries()[0]->newData().error().code(), 3);
    EXPECT_EQ(overflowing->entries()[0]->check().error().code(), 3);
}

// Archives the fuzzer found troublesome: each must open or fail cleanly, and every entry of
// those that open must read or fail cleanly.
TEST(ZipArchiveRegression, SavedArchivesAreHandledWithoutCrashing) {
    const fs::path folder = fs::path(PELKORA_TEST_DATA_DIR) / "zip";
    std::size_t files = 0;
    for (const auto& file : fs::directory_iterator(folder)) {
        ++files;
        auto archive = ZipArchive::archiveWithURL(file.path());
        if (!archive) continue;
        for (const auto& entry : (*archive)->entries()) {
            (void)entry->fileName();
            (void)entry->newData();
            (void)entry->check();
        }
    }
    EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace pelkora
