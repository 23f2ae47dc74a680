#include <algorithm>

#include "addressbook/ContactFormatter.h"
#include "addressbook/carddav/CardDavIndex_p.h"
#include "support/Escaping.h"
#include "vcard/VCard.h"

namespace pelkora::contacts::carddav {
namespace {

constexpr std::string_view kCacheHeading = "pelkora-carddav-index 1";

bool equalsIgnoringCase(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
               return fold(a) == fold(b);
           });
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += '\x1f';
        out += percentEncoded(item);
    }
    return out;
}

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> items;
    if (text.empty()) return items;
    while (true) {
        const auto end = text.find(separator);
        items.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return items;
}

// The card's logical lines, unfolded: name (without group prefix and parameters) and value.
std::vector<std::pair<std::string, std::string>> unfoldedLines(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> lines;
    std::string current;
    auto finish = [&] {
        if (current.empty()) return;
        const auto colon = current.find(':');
        if (colon != std::string::npos) {
            std::string name = current.substr(0, std::min(colon, current.find(';')));
            if (const auto dot = name.find('.'); dot != std::string::npos) name.erase(0, dot + 1);
            lines.emplace_back(std::move(name), current.substr(colon + 1));
        }
        current.clear();
    };
    for (const auto& physical : split(text, '\n')) {
        std::string_view line = physical;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            current.append(line.substr(1));
        } else {
            finish();
            current = line;
        }
    }
    finish();
    return lines;
}

std::string unescapedText(std::string_view value) {
    std::string out;
    for (std::size_t index = 0; index < value.size(); ++index) {
        if (value[index] == '\\' && index + 1 < value.size()) {
            const char next = value[++index];
            out += (next == 'n' || next == 'N') ? '\n' : next;
        } else {
            out += value[index];
        }
    }
    return out;
}

std::string escapedText(std::string_view value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == ',' || c == ';') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        if (c != '\r') out += c;
    }
    return out;
}

// A line folded at 75 octets, without cutting a UTF-8 sequence.
void appendFolded(std::string& out, std::string_view line) {
    std::size_t width = 0;
    for (std::size_t index = 0; index < line.size(); ++index) {
        const auto byte = static_cast<unsigned char>(line[index]);
        if (width >= 74 && (byte & 0xC0) != 0x80) {
            out += "\r\n ";
            width = 1;
        }
        out += line[index];
        ++width;
    }
    out += "\r\n";
}

constexpr std::string_view kMemberPrefix = "urn:uuid:";

}  // namespace

std::string resourceKey(std::string_view href) {
    std::string_view path = href;
    if (const auto scheme = path.find("://"); scheme != std::string_view::npos) {
        const auto slash = path.find('/', scheme + 3);
        path = slash == std::string_view::npos ? std::string_view("/") : path.substr(slash);
    }
    return percentDecoded(path);
}

std::optional<IndexedCard> readIndexedCard(std::string_view text, std::string href,
                                           std::string etag) {
    IndexedCard card;
    card.href = std::move(href);
    card.etag = std::move(etag);
    bool hasUid = false;
    std::string name;
    for (const auto& [property, value] : unfoldedLines(text)) {
        if ((equalsIgnoringCase(property, "KIND") ||
             equalsIgnoringCase(property, "X-ADDRESSBOOKSERVER-KIND")) &&
            equalsIgnoringCase(value, "group")) {
            card.isGroup = true;
        } else if (equalsIgnoringCase(property, "MEMBER") ||
                   equalsIgnoringCase(property, "X-ADDRESSBOOKSERVER-MEMBER")) {
            std::string member = value;
            if (member.size() > kMemberPrefix.size() &&
                equalsIgnoringCase(std::string_view(member).substr(0, kMemberPrefix.size()),
                                   kMemberPrefix))
                member.erase(0, kMemberPrefix.size());
            card.members.push_back(std::move(member));
        } else if (equalsIgnoringCase(property, "UID")) {
            hasUid = !value.empty();
        } else if (equalsIgnoringCase(property, "FN")) {
            name = unescapedText(value);
        }
    }
    auto entries = readVCards(text);
    if (!entries || entries->empty()) return std::nullopt;
    VCardEntry& entry = entries->front();
    card.uid = entry.contact.identifier;
    if (!hasUid || card.uid.empty()) {
        // The reader made an identifier up: the resource's name stands in.
        std::string key = resourceKey(card.href);
        key = key.substr(key.rfind('/') + 1);
        if (key.ends_with(".vcf")) key.resize(key.size() - 4);
        card.uid = key;
    }
    if (card.isGroup) {
        card.fullName = name;
    } else {
        card.members.clear();
        card.fullName = stringFromContact(entry.contact);
        card.categories = std::move(entry.categories);
    }
    return card;
}

std::string groupCardText(std::string_view uid, std::string_view name,
                          const std::vector<std::string>& members) {
    std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    appendFolded(text, "UID:" + escapedText(uid));
    appendFolded(text, "FN:" + escapedText(name));
    appendFolded(text, "N:" + escapedText(name) + ";;;;");
    text += "X-ADDRESSBOOKSERVER-KIND:group\r\n";
    for (const auto& member : members)
        appendFolded(text, "X-ADDRESSBOOKSERVER-MEMBER:" + std::string(kMemberPrefix) + member);
    text += "END:VCARD\r\n";
    return text;
}

const IndexedCard* BookIndex::card(std::string_view href) const {
    const auto found = cards_.find(resourceKey(href));
    return found == cards_.end() ? nullptr : &found->second;
}

const IndexedCard* BookIndex::contact(const std::string& uid) const {
    const auto key = contactKeys_.find(uid);
    return key == contactKeys_.end() ? nullptr : &cards_.at(key->second);
}

const IndexedCard* BookIndex::group(const std::string& uid) const {
    const auto key = groupKeys_.find(uid);
    return key == groupKeys_.end() ? nullptr : &cards_.at(key->second);
}

void BookIndex::unindex(const IndexedCard& card) {
    if (card.isGroup) {
        groupKeys_.erase(card.uid);
        return;
    }
    contactKeys_.erase(card.uid);
    for (const auto& category : card.categories) {
        auto count = categoryCounts_.find(category);
        if (count != categoryCounts_.end() && --count->second == 0) categoryCounts_.erase(count);
    }
    auto same = byFullName_.find(card.fullName);
    if (same != byFullName_.end()) {
        std::erase(same->second, card.uid);
        if (same->second.empty()) byFullName_.erase(same);
    }
}

void BookIndex::put(IndexedCard card) {
    const std::string key = resourceKey(card.href);
    if (auto old = cards_.find(key); old != cards_.end()) {
        if (card.sequence == 0) card.sequence = old->second.sequence;
        unindex(old->second);
        cards_.erase(old);
    }
    // Another resource with the same UID: the newer one counts.
    auto& keys = card.isGroup ? groupKeys_ : contactKeys_;
    if (auto other = keys.find(card.uid); other != keys.end()) {
        const std::string otherKey = other->second;
        unindex(cards_.at(otherKey));
        cards_.erase(otherKey);
    }
    if (card.sequence == 0) card.sequence = nextSequence_++;
    nextSequence_ = std::max(nextSequence_, card.sequence + 1);
    keys[card.uid] = key;
    if (!card.isGroup) {
        for (const auto& category : card.categories) ++categoryCounts_[category];
        byFullName_[card.fullName].push_back(card.uid);
    }
    cards_.insert_or_assign(key, std::move(card));
}

void BookIndex::remove(std::string_view href) {
    const auto found = cards_.find(resourceKey(href));
    if (found == cards_.end()) return;
    unindex(found->second);
    cards_.erase(found);
}

void BookIndex::clear() {
    *this = BookIndex{};
}

std::vector<const IndexedCard*> BookIndex::contacts() const {
    std::vector<const IndexedCard*> found;
    for (const auto& [key, card] : cards_)
        if (!card.isGroup) found.push_back(&card);
    std::sort(found.begin(), found.end(),
              [](const IndexedCard* a, const IndexedCard* b) { return a->sequence < b->sequence; });
    return found;
}

std::vector<const IndexedCard*> BookIndex::groupCards() const {
    std::vector<const IndexedCard*> found;
    for (const auto& [key, card] : cards_)
        if (card.isGroup) found.push_back(&card);
    std::sort(found.begin(), found.end(),
              [](const IndexedCard* a, const IndexedCard* b) { return a->sequence < b->sequence; });
    return found;
}

const std::vector<std::string>* BookIndex::withFullName(const std::string& fullName) const {
    const auto found = byFullName_.find(fullName);
    return found == byFullName_.end() ? nullptr : &found->second;
}

std::string BookIndex::serialized() const {
    std::string text = std::string(kCacheHeading) + '\t' + percentEncoded(syncToken) + '\n';
    std::vector<const IndexedCard*> all = contacts();
    for (const IndexedCard* group : groupCards()) all.push_back(group);
    for (const IndexedCard* card : all) {
        text += percentEncoded(card->href) + '\t' + percentEncoded(card->etag) + '\t' +
                percentEncoded(card->uid) + '\t' + percentEncoded(card->fullName) + '\t' +
                (card->isGroup ? "g\t" : "c\t") + joined(card->categories) + '\t' +
                joined(card->members) + '\n';
    }
    return text;
}

std::optional<BookIndex> BookIndex::parse(std::string_view text) {
    const auto lines = split(text, '\n');
    if (lines.empty()) return std::nullopt;
    const auto heading = split(lines.front(), '\t');
    if (heading.size() != 2 || heading[0] != kCacheHeading) return std::nullopt;
    BookIndex index;
    index.syncToken = percentDecoded(heading[1]);
    for (std::size_t number = 1; number < lines.size(); ++number) {
        if (lines[number].empty()) continue;
        const auto fields = split(lines[number], '\t');
        if (fields.size() != 7) return std::nullopt;
        IndexedCard card;
        card.href = percentDecoded(fields[0]);
        card.etag = percentDecoded(fields[1]);
        card.uid = percentDecoded(fields[2]);
        card.fullName = percentDecoded(fields[3]);
        card.isGroup = fields[4] == "g";
        for (const auto& item : split(fields[5], '\x1f'))
            card.categories.push_back(percentDecoded(item));
        for (const auto& item : split(fields[6], '\x1f'))
            card.members.push_back(percentDecoded(item));
        index.put(std::move(card));
    }
    return index;
}

}  // namespace pelkora::contacts::carddav
