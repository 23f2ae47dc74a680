#include <algorithm>
#include <system_error>

#include "input/PackageParts_p.h"
#include "input/XmlPullScanner_p.h"
#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora::excel {
namespace {

// A part that inflates beyond what it may: the part's name, then the limit in bytes.
std::string partTooLargeText() {
    return localizedString(
        "The part “%1$@” inflates to more than %2$@ bytes, more than any contact workbook holds: "
        "the package is damaged.");
}

// A package that inflates beyond what it may: the limit in bytes, then the part's name.
std::string packageTooLargeText() {
    return localizedString(
        "The package inflates to more than %1$@ bytes by the part “%2$@”, more than any contact "
        "workbook holds: the package is damaged.");
}

}  // namespace

const ZipArchiveEntry* entryNamed(const ZipArchive& archive, std::string_view name) {
    for (const auto& entry : archive.entries()) {
        if (entry->fileName() == name) return entry.get();
    }
    return nullptr;
}

const ZipArchiveEntry* entryEndingWith(const ZipArchive& archive, std::string_view suffix,
                                       std::string& name) {
    for (const auto& entry : archive.entries()) {
        auto entryName = entry->fileName();
        if (std::string_view(entryName).ends_with(suffix)) {
            name = std::move(entryName);
            return entry.get();
        }
    }
    return nullptr;
}

std::uint64_t inflationLimit(std::uint64_t compressedSize, std::uint64_t absoluteLimit) {
    return std::min(absoluteLimit,
                    std::max(kInflationAllowance, compressedSize * kMaximumInflationRatio));
}

LimitedInflationStream::LimitedInflationStream(std::unique_ptr<InputStream> upstream,
                                               const ZipArchiveEntry& entry,
                                               InflationBudget* budget)
    : upstream_(std::move(upstream)),
      partName_(entry.fileName()),
      partLimit_(inflationLimit(entry.compressedSize(), kMaximumPartInflatedSize)),
      budget_(budget) {}

std::size_t LimitedInflationStream::read(std::uint8_t* buffer, std::size_t capacity) {
    if (failure_) return 0;
    const std::size_t count = upstream_->read(buffer, capacity);
    inflated_ += count;
    if (inflated_ > partLimit_) {
        failure_ = formatMessage(partTooLargeText(), partName_, std::to_string(partLimit_));
    } else if (budget_ && !budget_->charge(count)) {
        failure_ =
            formatMessage(packageTooLargeText(), std::to_string(budget_->limit()), partName_);
    }
    return failure_ ? 0 : count;
}

std::error_code LimitedInflationStream::error() const {
    if (failure_) return std::make_error_code(std::errc::file_too_large);
    return upstream_->error();
}

Expected<LimitedStream, std::string> openLimitedStream(const ZipArchiveEntry& entry,
                                                       InflationBudget* budget) {
    auto stream = entry.newStream();
    if (!stream) return Unexpected(stream.error().message);
    auto limited = std::make_unique<LimitedInflationStream>(std::move(*stream), entry, budget);
    LimitedStream result;
    result.limits = limited.get();
    result.stream = std::move(limited);
    return result;
}

Expected<std::unique_ptr<pugi::xml_document>, std::string> parsePart(const ZipArchive& archive,
                                                                     std::string_view name,
                                                                     InflationBudget* budget) {
    // The whole part is read into memory: refuse one declaring more than it may inflate to.
    if (const auto* entry = entryNamed(archive, name)) {
        const auto limit = inflationLimit(entry->compressedSize(), kMaximumPartInflatedSize);
        if (entry->uncompressedSize() > limit) {
            return Unexpected(formatMessage(partTooLargeText(), name, std::to_string(limit)));
        }
        // The reader checks that an entry inflates to exactly its declared size.
        if (budget && !budget->charge(entry->uncompressedSize())) {
            return Unexpected(
                formatMessage(packageTooLargeText(), std::to_string(budget->limit()), name));
        }
    }
    auto contents = archive.contentsOfEntry(name);
    if (!contents) return Unexpected(contents.error().message);
    auto document = std::make_unique<pugi::xml_document>();
    const auto result = document->load_buffer(contents->data(), contents->size());
    if (!result) {
        return Unexpected(formatMessage(
            localizedString("The part “%1$@” is not well-formed XML: %2$@ at byte %3$@."), name,
            result.description(), std::to_string(result.offset)));
    }
    return document;
}

std::string step(std::string_view localName) {
    return "*[local-name()='" + std::string(localName) + "']";
}

std::optional<std::string> attributeValue(const pugi::xml_node& node, const char* name) {
    const auto attribute = node.attribute(name);
    if (!attribute) return std::nullopt;
    return std::string(attribute.value());
}

std::optional<std::string> relationshipAttribute(const pugi::xml_node& node,
                                                 std::string_view localName) {
    for (const auto& attribute : node.attributes()) {
        const std::string_view name = attribute.name();
        if (name.find(':') != std::string_view::npos && xml::localNameOf(name) == localName)
            return std::string(attribute.value());
    }
    return std::nullopt;
}

std::string resolvedTarget(std::string_view target) {
    if (target.starts_with("/")) return std::string(target.substr(1));
    if (target.starts_with("../")) return "xl/" + std::string(target.substr(3));
    return std::string(target);
}

std::string relationshipsPathOf(std::string_view partPath) {
    const auto slash = partPath.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : partPath.substr(0, slash + 1);
    const std::string_view file =
        slash == std::string_view::npos ? partPath : partPath.substr(slash + 1);
    return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

}  // namespace pelkora::excel
