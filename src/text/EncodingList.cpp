#include "text/EncodingList.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string_view>

#include "text/Collation.h"

namespace pelkora {

namespace {

// Converters ICU offers that are no use for reading a file: the byte-order-mark
// variants of UTF-16/32 and the platform-endian aliases (the marked and unmarked files
// are read as UTF-16BE/LE and UTF-32BE/LE), compression schemes and protocol encodings.
constexpr std::array<std::string_view, 15> kSkippedConverters = {
    "UTF-16",
    "UTF-32",
    "UTF16_PlatformEndian",
    "UTF16_OppositeEndian",
    "UTF32_PlatformEndian",
    "UTF32_OppositeEndian",
    "UTF-16BE,version=1",
    "UTF-16LE,version=1",
    "UTF-16,version=1",
    "UTF-16,version=2",
    "IMAP-mailbox-name",
    "SCSU",
    "BOCU-1",
    "ebcdic-xml-us",
    "x11-compound-text",
};

// EBCDIC converters that swap line feed and new line exist for mainframe data sets;
// their tables otherwise equal the converters without the suffix.
constexpr std::string_view kSwappedLineEndSuffix = ",swaplfnl";

bool isSkipped(const TextEncoding& encoding) {
    const std::string& name = encoding.name();
    return std::find(kSkippedConverters.begin(), kSkippedConverters.end(), name) !=
               kSkippedConverters.end() ||
           name.ends_with(kSwappedLineEndSuffix);
}

std::vector<TextEncoding> commonEncodings() {
    return {TextEncoding::ascii(),
            TextEncoding::macOSRoman(),
            TextEncoding::windowsLatin1(),
            TextEncoding::isoLatin1(),
            TextEncoding::utf8(),
            TextEncoding::utf16BigEndian(),
            TextEncoding::utf16LittleEndian()};
}

// "ibm-949_P11A-1999" → "P11A-1999", what tells variants of one IBM code page apart.
std::string variantName(const std::string& canonical) {
    const auto separator = canonical.find('_');
    return canonical.starts_with("ibm-") && separator != std::string::npos
               ? canonical.substr(separator + 1)
               : canonical;
}

// Gives every item a title no other item has: encodings whose display names coincide
// (variants of one IBM code page, say) are told apart by their converter names.
void makeTitlesUnique(std::vector<EncodingListItem>& items, const std::vector<std::string>& taken) {
    std::map<std::string, int> uses;
    for (const auto& title : taken) {
        ++uses[title];
    }
    for (const auto& item : items) {
        ++uses[item.title];
    }
    for (auto& item : items) {
        if (uses[item.title] > 1) {
            item.title += " (" + variantName(item.encoding->name()) + ")";
        }
    }
}

}  // namespace

std::vector<EncodingListItem> encodingPopUpItems() {
    std::vector<EncodingListItem> items;
    std::vector<std::string> commonTitles;
    const auto common = commonEncodings();
    for (const auto& encoding : common) {
        items.push_back({encoding, encoding.displayName()});
        commonTitles.push_back(items.back().title);
    }
    items.push_back({});

    std::vector<EncodingListItem> rest;
    for (const auto& encoding : availableEncodings()) {
        if (isSkipped(encoding) ||
            std::find(common.begin(), common.end(), encoding) != common.end()) {
            continue;
        }
        rest.push_back({encoding, encoding.displayName()});
    }
    makeTitlesUnique(rest, commonTitles);

    const LocalizedCollator collator;
    std::sort(rest.begin(), rest.end(),
              [&](const auto& a, const auto& b) { return collator(a.title, b.title); });
    items.insert(items.end(), rest.begin(), rest.end());
    return items;
}

}  // namespace pelkora
