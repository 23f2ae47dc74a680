#pragma once

// Finding and reading the small XML parts of a workbook package (relationships, workbook,
// styles, drawings), which are read whole into a pugixml document and queried with XPath.
// The large parts, sheets and shared strings, are streamed instead (XmlPullScanner_p.h).

#include <cstdint>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "input/zip/ZipArchive.h"
#include "platform/InputStream.h"
#include "support/Expected.h"

namespace pelkora::excel {

// What the parts of a package may inflate to. Deflate expands up to 1,032 times, so a
// package of one megabyte can hold a gigabyte of white space; these limits stop reading long
// before that, and no real contact workbook comes near them.
//
// XML written by spreadsheet programs compresses 5 to 20 times, the most repetitive sheets
// (rows of empty styled cells) about 100 times: a part or package may inflate to 200 times
// its compressed size.
inline constexpr std::uint64_t kMaximumInflationRatio = 200;
// Below 16 MiB the ratio does not apply: a small part (a tiny sheet, a few styles) may
// compress better than any large one, and 16 MiB is little memory.
inline constexpr std::uint64_t kInflationAllowance = std::uint64_t{16} << 20;
// One part: a workbook of 100,000 contacts with 40 columns has a sheet of about 300 MB.
inline constexpr std::uint64_t kMaximumPartInflatedSize = std::uint64_t{512} << 20;
// All the parts read for one sheet (the examined parts, the sheet, its drawings and
// pictures): twice the largest part.
inline constexpr std::uint64_t kMaximumPackageInflatedSize = std::uint64_t{1} << 30;

// Returns what bytes compressed to compressedSize may inflate to under the ratio, the
// allowance and the absolute limit.
std::uint64_t inflationLimit(std::uint64_t compressedSize, std::uint64_t absoluteLimit);

// The inflated bytes read from a package so far, against the package's limit.
class InflationBudget {
  public:
    explicit InflationBudget(std::uint64_t packageSize)
        : limit_(inflationLimit(packageSize, kMaximumPackageInflatedSize)) {}
    // Counts the bytes; false once the total is beyond the limit.
    bool charge(std::uint64_t bytes) {
        used_ += bytes;
        return used_ <= limit_;
    }
    std::uint64_t used() const { return used_; }
    void setUsed(std::uint64_t used) { used_ = used; }
    std::uint64_t limit() const { return limit_; }

  private:
    std::uint64_t limit_;
    std::uint64_t used_ = 0;
};

// A stream of an entry's inflated bytes that ends with an error once the entry gives more
// than its limit (inflationLimit of its compressed size) or the package's budget runs out;
// failure() then says which.
class LimitedInflationStream final : public InputStream {
  public:
    LimitedInflationStream(std::unique_ptr<InputStream> upstream, const ZipArchiveEntry& entry,
                           InflationBudget* budget);
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override;
    bool hasBytesAvailable() const override { return !failure_ && upstream_->hasBytesAvailable(); }
    std::error_code error() const override;
    const std::optional<std::string>& failure() const { return failure_; }

  private:
    std::unique_ptr<InputStream> upstream_;
    std::string partName_;
    std::uint64_t partLimit_;
    InflationBudget* budget_;
    std::uint64_t inflated_ = 0;
    std::optional<std::string> failure_;
};

// Opens the entry's stream limited as above; the returned pointer observes the stream, which
// the first member owns.
struct LimitedStream {
    std::unique_ptr<InputStream> stream;
    const LimitedInflationStream* limits = nullptr;
};
Expected<LimitedStream, std::string> openLimitedStream(const ZipArchiveEntry& entry,
                                                       InflationBudget* budget);

// Returns the first entry whose name is exactly the given one, or null.
const ZipArchiveEntry* entryNamed(const ZipArchive& archive, std::string_view name);

// Returns the first entry whose name ends with the suffix and sets name to its name, or
// returns null and leaves name alone.
const ZipArchiveEntry* entryEndingWith(const ZipArchive& archive, std::string_view suffix,
                                       std::string& name);

// Returns the part named so as a document, or the error text when it cannot be read, would
// inflate beyond its limit (or beyond what is left of the package's budget, when given) or is
// not well-formed.
Expected<std::unique_ptr<pugi::xml_document>, std::string> parsePart(
    const ZipArchive& archive, std::string_view name, InflationBudget* budget = nullptr);

// Returns an XPath step that matches an element by its local name, so that a part written
// with prefixes (x:worksheet) reads like one without.
std::string step(std::string_view localName);

// Returns the value of the attribute with exactly this name, or none.
std::optional<std::string> attributeValue(const pugi::xml_node& node, const char* name);

// Returns the value of a relationship id attribute ("r:id", "r:embed") by its local name,
// whatever prefix the part binds to the relationships namespace; none when absent.
std::optional<std::string> relationshipAttribute(const pugi::xml_node& node,
                                                 std::string_view localName);

// Returns the package path of a relationship target: targets are relative to the "xl/"
// folder, and one beginning with "../" climbs out of a sub-folder of it. A target starting
// with "/" is already a package path.
std::string resolvedTarget(std::string_view target);

// Returns the path of a part's relationships part: "xl/worksheets/sheet1.xml" has
// "xl/worksheets/_rels/sheet1.xml.rels".
std::string relationshipsPathOf(std::string_view partPath);

}  // namespace pelkora::excel
