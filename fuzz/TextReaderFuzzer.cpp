// Feeds arbitrary files to the text reader the way the import session does: examine the head,
// then parse the whole file into rows. Whatever the bytes (byte-order marks, NULs, lone
// surrogates, unterminated quotes), it must not crash, read out of range or hang, and every
// row must hold its cells' texts.
//
// The reader only reads files, so each input is written to one temporary file per process.
// Inputs above 1 MB are skipped: they only slow the search down, and the reader's bounds on
// large files are checked by hand with generated files.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "input/TextReader.h"

namespace {

constexpr std::size_t kMaximumInputSize = 1 << 20;

const std::filesystem::path& inputFile() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("pelkora-fuzz-text-reader-" + std::to_string(getpid()) + ".csv");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaximumInputSize) return 0;
    {
        std::ofstream out(inputFile(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    auto reader = std::make_shared<pelkora::TextReader>(inputFile());
    reader->examineFile();
    reader->parse(true);
    std::size_t textBytes = 0;
    for (const auto& row : reader->dataRows()) {
        for (const auto cell : row) textBytes += cell.text().size();
    }
    // Every cell's text is decoded from the file, so together they cannot be much larger
    // than it: at most 3 UTF-8 bytes per input byte (a replacement character per bad byte).
    if (textBytes > 3 * size + 16) __builtin_trap();
    return 0;
}
