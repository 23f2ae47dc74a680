// The workbook reader as bench/compare-xlsx.sh times it, without the command-line tool:
//
//   excel_read_driver BOOK.xlsx            examine, parse the first sheet into rows, print
//                                          "cells rows seconds cells_per_second"
//   excel_read_driver --inflate BOOK.xlsx  inflate the first sheet's part in chunks and
//                                          print "bytes seconds"
//   excel_read_driver --generate BOOK.xlsx [ROWS]  write the contact workbook (default 100,000
//                                          rows of 20 shared strings)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ContactXlsx.h"
#include "input/ExcelReader.h"
#include "input/zip/ZipArchive.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s [--inflate|--generate] BOOK.xlsx [ROWS]\n", argv[0]);
        return 2;
    }
    const std::string_view mode = argv[1];
    if (mode == "--generate" && argc >= 3) {
        const int rows = argc >= 4 ? std::atoi(argv[3]) : 100000;
        return pelkora::bench::writeContactsXlsx(argv[2], rows) ? 0 : 1;
    }
    const auto start = Clock::now();
    if (mode == "--inflate" && argc >= 3) {
        auto reader = std::make_shared<pelkora::ExcelReader>(argv[2]);
        if (reader->sheets().empty()) return 1;
        auto archive = pelkora::ZipArchive::archiveWithURL(argv[2]);
        if (!archive) return 1;
        const auto begin = Clock::now();
        std::vector<std::uint8_t> buffer(1 << 18);
        std::size_t bytes = 0;
        for (const auto& entry : (*archive)->entries()) {
            if (entry->fileName() != reader->sheets()[0].pathInPackage) continue;
            auto stream = entry->newStream();
            if (!stream) return 1;
            while (const auto count = (*stream)->read(buffer.data(), buffer.size())) bytes += count;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        std::printf("%zu %.4f\n", bytes, seconds);
        return 0;
    }
    auto reader = std::make_shared<pelkora::ExcelReader>(argv[1]);
    if (reader->sheets().empty()) return 1;
    reader->parseSheet(reader->sheets()[0]);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::size_t cells = 0;
    for (const auto& row : reader->dataRows()) cells += row.cellCount();
    std::printf("%zu %zu %.4f %.0f\n", cells, reader->dataRows().size(), seconds,
                static_cast<double>(cells) / seconds);
    return 0;
}
