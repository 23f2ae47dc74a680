#include <limits>

#include "input/PackageParts_p.h"
#include "input/SharedStrings_p.h"
#include "input/WorkbookValues_p.h"
#include "input/XmlPullScanner_p.h"
#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora::excel {

using xml::XmlPullScanner;

SharedStrings readSharedStrings(const ZipArchiveEntry& entry, std::string_view entryName,
                                InflationBudget& budget) {
    SharedStrings strings;
    const auto fail = [&](std::string reason) {
        strings.failure = std::move(reason);
        strings.unreadable = strings.ends.empty();
        return std::move(strings);
    };
    auto stream = openLimitedStream(entry, &budget);
    if (!stream) return fail(stream.error());
    const auto* limits = stream->limits;
    XmlPullScanner scanner(std::move(stream->stream), entry.uncompressedSize());
    bool inTable = false;
    std::size_t textDepth = 0;
    std::size_t phoneticDepth = 0;
    bool inItem = false;
    std::size_t itemStart = 0;
    bool itemCut = false;
    while (true) {
        const auto token = scanner.next();
        if (token == XmlPullScanner::Token::endOfDocument) break;
        if (token == XmlPullScanner::Token::error) {
            if (limits->failure()) return fail(*limits->failure());
            return fail(
                formatMessage(localizedString("The part “%1$@” is not well-formed XML: %2$@."),
                              entryName, scanner.errorMessage()));
        }
        const std::size_t depth = scanner.depth();
        if (token == XmlPullScanner::Token::startElement) {
            const auto name = scanner.localName();
            if (depth == 1) {
                inTable = name == "sst";
            } else if (depth == 2 && inTable && name == "si") {
                inItem = true;
                itemStart = strings.bytes.size();
                itemCut = false;
            } else if (inItem && phoneticDepth == 0 && name == "rPh") {
                phoneticDepth = depth;
            } else if (inItem && phoneticDepth == 0 && textDepth == 0 && name == "t") {
                textDepth = depth;
            }
        } else if (token == XmlPullScanner::Token::endElement) {
            if (depth == textDepth) textDepth = 0;
            if (depth == phoneticDepth) phoneticDepth = 0;
            if (depth == 2 && inItem) {
                inItem = false;
                if (strings.bytes.size() > std::numeric_limits<std::uint32_t>::max())
                    return fail(localizedString("The shared strings are larger than 4 GiB."));
                if (itemCut) strings.cutStrings.push_back(strings.ends.size());
                strings.ends.push_back(static_cast<std::uint32_t>(strings.bytes.size()));
            }
        } else if (textDepth != 0 && phoneticDepth == 0 && !itemCut) {
            const auto appended =
                appendLimitedText(scanner, strings.bytes, itemStart + kMaximumCellTextSize);
            if (appended == LimitedTextResult::cut) itemCut = true;
            if (appended == LimitedTextResult::referenceToNoCharacter) {
                return fail(formatMessage(
                    localizedString("The part “%@” holds a character reference to no character."),
                    entryName));
            }
        }
    }
    strings.ends.shrink_to_fit();
    strings.bytes.shrink_to_fit();
    return strings;
}

}  // namespace pelkora::excel
