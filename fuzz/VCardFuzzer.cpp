// Feeds arbitrary bytes to the vCard reader and to the scan that cuts files into cards.
//
// Whatever the reader reads must be written and read back to the same contacts and
// categories: the writer must be able to say everything the reader can produce, and the
// reader must understand everything the writer says.
//
// The scan must cut any bytes without crashing, every card starting with "BEGIN:VCARD" and
// holding nothing that was not in the input; reading it in small pieces must give the same
// cards as reading it at once, and every card's groups must be among the scan's groups. Each
// card then goes through the reader on its own.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "import/VCardScan.h"
#include "platform/InputStream.h"
#include "support/Logger.h"
#include "vcard/VCard.h"

namespace {

// Identifiers of labelled values are made fresh by each reading.
void forgetLabelIdentifiers(pelkora::contacts::Contact& contact) {
    const auto forget = [](auto& values) {
        for (auto& value : values) value.identifier.clear();
    };
    forget(contact.dates);
    forget(contact.phoneNumbers);
    forget(contact.emailAddresses);
    forget(contact.urlAddresses);
    forget(contact.postalAddresses);
    forget(contact.contactRelations);
    forget(contact.socialProfiles);
    forget(contact.instantMessageAddresses);
}

void checkRoundTrip(std::string_view bytes) {
    using namespace pelkora::contacts;
    auto entries = readVCards(bytes);
    if (!entries) return;
    for (auto& entry : *entries) {
        VCardWriteOptions options;
        options.categories = [&](const Contact&) { return entry.categories; };
        auto again = readVCards(dataWithContacts({entry.contact}, options));
        if (!again || again->size() != 1) __builtin_trap();
        auto& reread = again->front();
        forgetLabelIdentifiers(entry.contact);
        forgetLabelIdentifiers(reread.contact);
        if (reread.contact != entry.contact || reread.categories != entry.categories) {
            __builtin_trap();
        }
    }
}

void checkScan(std::string_view bytes) {
    using namespace pelkora;
    constexpr std::string_view kCardStart = "BEGIN:VCARD";
    std::set<std::string> groups;
    const auto cards = scanVCardBytes(bytes, "/fuzz/input.vcf", groups);
    std::size_t cardBytes = 0;
    for (const auto& card : cards) {
        if (!std::string_view(card.content).starts_with(kCardStart)) __builtin_trap();
        cardBytes += card.content.size();
        for (const auto& group : card.groupTitles) {
            if (!groups.contains(group)) __builtin_trap();
        }
    }
    // A card's text is the input's, but for the card start put before text that precedes the
    // first card (once per file) and UTF-16 becoming UTF-8: at most 3 bytes for every 2, or
    // for a damaged last byte.
    if (cardBytes > bytes.size() / 2 * 3 + 3 + kCardStart.size()) __builtin_trap();

    // Read in pieces of 1 to 8 bytes, as chosen by the first byte.
    const std::size_t pieceSize = bytes.empty() ? 1 : 1 + static_cast<unsigned char>(bytes[0]) % 8;
    std::set<std::string> pieceGroups;
    std::vector<ScannedVCard> pieceCards;
    auto input = InputStream::fromMemory(std::string(bytes), pieceSize);
    const auto count = scanVCardStream(
        *input, "/fuzz/input.vcf", pieceGroups,
        [&](ScannedVCard card) {
            pieceCards.push_back(std::move(card));
            return true;
        },
        pieceSize + 3);
    if (!count || *count != cards.size() || pieceCards != cards || pieceGroups != groups) {
        __builtin_trap();
    }

    for (const auto& card : cards) (void)contacts::readVCards(card.content);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Undecodable categories and damaged UTF-16 are logged; echoing every entry would be
    // most of the time spent. The entries still go to the log file.
    static const bool quiet = [] {
        pelkora::Logger::shared().setEcho({});
        return true;
    }();
    (void)quiet;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    checkRoundTrip(bytes);
    checkScan(bytes);
    return 0;
}
