#include "text/EncodingList.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string_view>

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

// A collator for the user's locale. The POSIX locale's collation is byte order, which
// would put every lowercase title after all capitalised ones, so it gets the root's.
std::unique_ptr<icu::Collator> makeCollator() {
    const icu::Locale& locale = icu::Locale::getDefault();
    const bool posix = std::string_view(locale.getVariant()) == "POSIX";
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(posix ? icu::Locale::getRoot() : locale, error));
    if (U_FAILURE(error) || !collator) {
        error = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), error));
    }
    return U_SUCCESS(error) ? std::move(collator) : nullptr;
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

    const auto collator = makeCollator();
    std::sort(rest.begin(), rest.end(), [&](const auto& a, const auto& b) {
        if (collator) {
            UErrorCode error = U_ZERO_ERROR;
            const UCollationResult order = collator->compareUTF8(
                icu::StringPiece(a.title.data(), static_cast<std::int32_t>(a.title.size())),
                icu::StringPiece(b.title.data(), static_cast<std::int32_t>(b.title.size())), error);
            if (U_SUCCESS(error) && order != UCOL_EQUAL) {
                return order == UCOL_LESS;
            }
        }
        return a.title < b.title;
    });
    items.insert(items.end(), rest.begin(), rest.end());
    return items;
}

}  // namespace pelkora
