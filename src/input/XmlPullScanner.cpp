#include <algorithm>
#include <cstring>

#include "input/XmlPullScanner_p.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "support/Utf8.h"

namespace pelkora::xml {
namespace {

// Bytes that are not UTF-8 become U+FFFD, so every text handed on is well-formed UTF-8.
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void appendUtf8(std::uint32_t codePoint, std::string& out) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Reads the reference between '&' and ';' ("amp", "#38", "#x26"). Returns the number of
// bytes it stands for after appending them, 0 when the name is unknown (the caller keeps it
// as written) and -1 for a numeric reference to no character.
int appendReference(std::string_view name, std::string& out) {
    if (name == "amp") return out.push_back('&'), 1;
    if (name == "lt") return out.push_back('<'), 1;
    if (name == "gt") return out.push_back('>'), 1;
    if (name == "quot") return out.push_back('"'), 1;
    if (name == "apos") return out.push_back('\''), 1;
    if (name.size() < 2 || name[0] != '#') return 0;
    std::uint32_t codePoint = 0;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return -1;
    for (const char c : digits) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            return -1;
        }
        codePoint = codePoint * (hex ? 16 : 10) + digit;
        if (codePoint > 0x10FFFF) return -1;
    }
    if (codePoint == 0 || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return -1;
    appendUtf8(codePoint, out);
    return 1;
}

// Names are a few bytes long: a loop beats the call of memcmp.
bool sameBytes(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        if (left[index] != right[index]) return false;
    }
    return true;
}

}  // namespace

void appendValidUtf8(std::string_view text, std::string& out) {
    std::size_t start = 0;
    std::size_t index = 0;
    while (index < text.size()) {
        if (static_cast<unsigned char>(text[index]) < 0x80) {
            ++index;
            continue;
        }
        const std::size_t length = utf8::wellFormedSequenceLength(text.substr(index));
        if (length > 0) {
            index += length;
            continue;
        }
        out.append(text.substr(start, index - start));
        out.append(kReplacementCharacter);
        start = ++index;
    }
    out.append(text.substr(start));
}

bool appendDecodedText(std::string_view raw, std::string& out) {
    std::size_t start = 0;
    while (true) {
        // A loop of our own: find_first_of looks each byte up in the set with a call. Bytes
        // from 0x80 on are checked to be UTF-8 on the way.
        std::size_t special = start;
        while (special < raw.size() && raw[special] != '&' && raw[special] != '\r' &&
               static_cast<unsigned char>(raw[special]) < 0x80) {
            ++special;
        }
        if (special == raw.size()) {
            out.append(raw.substr(start));
            return true;
        }
        out.append(raw.substr(start, special - start));
        if (static_cast<unsigned char>(raw[special]) >= 0x80) {
            const std::size_t length = utf8::wellFormedSequenceLength(raw.substr(special));
            if (length > 0) {
                out.append(raw.substr(special, length));
                start = special + length;
            } else {
                out.append(kReplacementCharacter);
                start = special + 1;
            }
            continue;
        }
        if (raw[special] == '\r') {
            // A CR LF pair and a lone CR both become one line feed.
            out.push_back('\n');
            start = special + 1;
            if (start < raw.size() && raw[start] == '\n') ++start;
            continue;
        }
        // The longest reference is "&#x10FFFF;"; look no further for its semicolon.
        const auto semicolon = raw.substr(special, 12).find(';');
        if (semicolon == std::string_view::npos) {
            out.push_back('&');
            start = special + 1;
            continue;
        }
        const int result = appendReference(raw.substr(special + 1, semicolon - 1), out);
        if (result < 0) return false;
        if (result == 0) {
            out.push_back('&');
            start = special + 1;
        } else {
            start = special + semicolon + 1;
        }
    }
}

std::size_t textPieceEnd(std::string_view raw, std::size_t end, bool literal) {
    // The longest reference looked back for ("&#x0010FFFF;" and some).
    constexpr std::size_t kLongestReference = 32;
    const std::size_t wanted = end;
    for (int step = 0; step < 3 && end > 0 && (static_cast<unsigned char>(raw[end]) & 0xC0) == 0x80;
         ++step) {
        --end;
    }
    if (end > 0 && raw[end - 1] == '\r') --end;
    if (!literal) {
        const std::size_t from = end > kLongestReference ? end - kLongestReference : 0;
        const auto ampersand = raw.substr(from, end - from).rfind('&');
        if (ampersand != std::string_view::npos &&
            raw.substr(from + ampersand, end - from - ampersand).find(';') ==
                std::string_view::npos) {
            end = from + ampersand;
        }
    }
    return end > 0 ? end : wanted;
}

XmlPullScanner::XmlPullScanner(std::unique_ptr<InputStream> source, std::size_t expectedSize,
                               std::size_t maximumTokenSize)
    : source_(std::move(source)),
      maximumTokenSize_(maximumTokenSize),
      window_(expectedSize == 0
                  ? kInitialWindowSize
                  : std::clamp(expectedSize + 1, kSmallestWindowSize, kInitialWindowSize)) {
    data_ = window_.data();
}

XmlPullScanner::XmlPullScanner(std::span<const char> bytes)
    : data_(bytes.data()), end_(bytes.size()), sourceEnded_(true) {}

XmlPullScanner::Token XmlPullScanner::fail(std::string message) {
    if (!finished_) {
        errorMessage_ = std::move(message);
        finalToken_ = Token::error;
        finished_ = true;
    }
    return finalToken_;
}

bool XmlPullScanner::refill() {
    if (sourceEnded_ || !source_) return false;
    if (position_ > 0) {
        // Only the token being scanned is kept; everything before it has been handed out.
        std::memmove(window_.data(), window_.data() + position_, end_ - position_);
        consumedBefore_ += position_;
        end_ -= position_;
        position_ = 0;
    }
    if (end_ == window_.size()) {
        if (window_.size() >= maximumTokenSize_) {
            errorMessage_ =
                formatMessage(localizedString("a single tag or text is larger than %@ bytes"),
                              std::to_string(maximumTokenSize_));
            sourceEnded_ = true;
            return false;
        }
        window_.resize(window_.size() * 2);
    }
    data_ = window_.data();
    while (true) {
        const auto count = source_->read(reinterpret_cast<std::uint8_t*>(window_.data() + end_),
                                         window_.size() - end_);
        if (count > 0) {
            end_ += count;
            return true;
        }
        sourceEnded_ = true;
        if (source_->error()) {
            errorMessage_ = formatMessage(localizedString("the bytes could not be read (%@)"),
                                          source_->error().message());
        }
        return false;
    }
}

std::size_t XmlPullScanner::find(char byte, std::size_t from) {
    // Most searches end within a few bytes (the end of "A1", of "<v>"): a plain loop beats
    // the call of memchr there.
    const std::size_t quickEnd = std::min(end_, position_ + from + 16);
    for (std::size_t index = position_ + from; index < quickEnd; ++index) {
        if (data_[index] == byte) return index - position_;
    }
    from = quickEnd - position_;
    while (true) {
        if (position_ + from < end_) {
            const void* found =
                std::memchr(data_ + position_ + from, byte, end_ - position_ - from);
            if (found)
                return static_cast<std::size_t>(static_cast<const char*>(found) - data_) -
                       position_;
            from = end_ - position_;
        }
        if (!refill()) return std::string_view::npos;
    }
}

std::size_t XmlPullScanner::find(std::string_view text, std::size_t from) {
    while (true) {
        const std::string_view available(data_ + position_, end_ - position_);
        const auto found = available.find(text, from);
        if (found != std::string_view::npos) return found;
        // The text may straddle the refill: search again from just before the old end.
        from = available.size() >= text.size() ? available.size() - text.size() + 1 : 0;
        if (!refill()) return std::string_view::npos;
    }
}

XmlPullScanner::Token XmlPullScanner::next() {
    if (finished_) return finalToken_;
    if (closePending_) {
        closePending_ = false;
        closeInnermost();
        --depth_;
        if (depth_ == 0) rootClosed_ = true;
    }
    attributes_.clear();
    literalText_ = false;
    if (literalSectionOpen_) return scanLiteralPiece();
    if (pendingEnd_) {
        pendingEnd_ = false;
        closePending_ = true;
        return Token::endElement;
    }
    while (true) {
        if (position_ >= end_ && !refill()) return finishDocument();
        const Token token = data_[position_] == '<' ? scanMarkup() : scanText();
        if (token != Token::endOfDocument) return token;
        // endOfDocument from the scanners means "skipped, go on".
    }
}

XmlPullScanner::Token XmlPullScanner::finishDocument() {
    if (!errorMessage_.empty()) return fail(errorMessage_);
    if (depth_ > 0) {
        return fail(
            formatMessage(localizedString("the document ends before the element <%@> is closed"),
                          innermostOpenName()));
    }
    if (!rootSeen_) return fail(localizedString("the document has no root element"));
    finished_ = true;
    finalToken_ = Token::endOfDocument;
    return finalToken_;
}

std::size_t XmlPullScanner::skipWhiteSpace(bool& dropped) {
    std::size_t run = 0;
    while (true) {
        if (position_ + run >= end_) {
            if (run >= kLongestKeptWhiteSpace) {
                // Let the refill forget what was read: only the run's end matters now.
                position_ += run;
                run = 0;
                dropped = true;
            }
            if (!refill()) return run;
        }
        if (!isXmlSpace(data_[position_ + run])) return run;
        ++run;
    }
}

XmlPullScanner::Token XmlPullScanner::scanText() {
    if (depth_ == 0) {
        // A UTF-8 byte-order mark may open the document.
        if (byteOffset() == 0) {
            while (end_ - position_ < 3 && refill()) {
            }
            if (std::string_view(data_ + position_, end_ - position_).starts_with("\xEF\xBB\xBF"))
                position_ += 3;
        }
        bool dropped = false;
        position_ += skipWhiteSpace(dropped);
        if (position_ < end_ && data_[position_] != '<')
            return fail(formatMessage(localizedString("text outside the root element at byte %@"),
                                      std::to_string(byteOffset())));
        return Token::endOfDocument;
    }
    bool dropped = false;
    const std::size_t space = skipWhiteSpace(dropped);
    if (dropped && (position_ + space >= end_ || data_[position_ + space] == '<')) {
        // Only white space, too long to be any cell's text.
        position_ += space;
        return Token::endOfDocument;
    }
    const std::size_t length = textLength(space);
    text_ = std::string_view(data_ + position_, length);
    position_ += length;
    return Token::text;
}

std::size_t XmlPullScanner::textLength(std::size_t from) {
    while (true) {
        const std::size_t available = end_ - position_;
        const std::size_t searchEnd = std::min(available, kLongestTextPiece);
        if (from < searchEnd) {
            if (const void* found = std::memchr(data_ + position_ + from, '<', searchEnd - from))
                return static_cast<std::size_t>(static_cast<const char*>(found) - data_) -
                       position_;
            from = searchEnd;
        }
        if (available > kLongestTextPiece) {
            return textPieceEnd(std::string_view(data_ + position_, available), kLongestTextPiece,
                                false);
        }
        if (!refill()) return end_ - position_;
    }
}

XmlPullScanner::Token XmlPullScanner::scanLiteralPiece() {
    literalText_ = true;
    std::size_t from = 0;
    while (true) {
        const std::string_view available(data_ + position_, end_ - position_);
        const auto close = available.find("]]>", from);
        if (close != std::string_view::npos && close <= kLongestTextPiece) {
            text_ = available.substr(0, close);
            position_ += close + 3;
            literalSectionOpen_ = false;
            return Token::text;
        }
        // The section's end is not among the first kLongestTextPiece bytes (it may be among the
        // last two read): a piece ending before those splits no end of the section.
        if (available.size() > kLongestTextPiece + 2) {
            const auto end = textPieceEnd(available, kLongestTextPiece, true);
            text_ = available.substr(0, end);
            position_ += end;
            return Token::text;
        }
        from = available.size() >= 2 ? available.size() - 2 : 0;
        if (!refill()) {
            if (!errorMessage_.empty()) return fail(errorMessage_);
            return fail(
                formatMessage(localizedString("the document ends inside character data at byte %@"),
                              std::to_string(byteOffset())));
        }
    }
}

XmlPullScanner::Token XmlPullScanner::scanMarkup() {
    const auto unexpectedEnd = [this] {
        if (!errorMessage_.empty()) return fail(errorMessage_);
        return fail(formatMessage(localizedString("the document ends inside a tag at byte %@"),
                                  std::to_string(byteOffset())));
    };
    const auto available = [this] { return end_ - position_; };
    while (available() < 2) {
        if (!refill()) return unexpectedEnd();
    }
    const char second = data_[position_ + 1];
    if (second == '?') {
        const auto close = find("?>", 2);
        if (close == std::string_view::npos) return unexpectedEnd();
        position_ += close + 2;
        return Token::endOfDocument;
    }
    if (second == '!') {
        while (available() < 9) {
            if (!refill()) break;
        }
        const std::string_view head(data_ + position_, std::min<std::size_t>(available(), 9));
        if (head.starts_with("<!--")) {
            const auto close = find("-->", 4);
            if (close == std::string_view::npos) return unexpectedEnd();
            position_ += close + 3;
            return Token::endOfDocument;
        }
        if (head == "<![CDATA[") {
            if (depth_ == 0)
                return fail(localizedString("character data outside the root element"));
            position_ += 9;
            literalSectionOpen_ = true;
            return scanLiteralPiece();
        }
        if (depth_ > 0 || rootSeen_)
            return fail(localizedString("a declaration inside the document"));
        // A document type declaration: skipped, internal subset included, and never used.
        auto close = find('>', 2);
        if (close == std::string_view::npos) return unexpectedEnd();
        const std::string_view declaration(data_ + position_, close);
        if (const auto bracket = declaration.find('['); bracket != std::string_view::npos) {
            const auto subsetEnd = find(']', bracket);
            if (subsetEnd == std::string_view::npos) return unexpectedEnd();
            close = find('>', subsetEnd);
            if (close == std::string_view::npos) return unexpectedEnd();
        }
        position_ += close + 1;
        return Token::endOfDocument;
    }
    if (second == '/') {
        const auto close = find('>', 2);
        if (close == std::string_view::npos) return unexpectedEnd();
        return scanEndTag(close);
    }
    return scanStartTag();
}

// One pass over the tag, refilling as it goes: names and values are kept as offsets from
// position_ until the tag is complete, since a refill moves the bytes.
XmlPullScanner::Token XmlPullScanner::scanStartTag() {
    const auto unexpectedEnd = [this] {
        if (!errorMessage_.empty()) return fail(errorMessage_);
        return fail(formatMessage(localizedString("the document ends inside a tag at byte %@"),
                                  std::to_string(byteOffset())));
    };
    const auto malformed = [this](std::string_view problem) {
        return fail(formatMessage(localizedString("%1$@ in the tag at byte %2$@"), problem,
                                  std::to_string(byteOffset())));
    };
    std::size_t index = 1;
    char c = 0;
    const auto byteAt = [&](std::size_t offset) {
        if (position_ + offset >= end_ && !refill()) return false;
        c = data_[position_ + offset];
        return true;
    };
    while (true) {
        if (!byteAt(index)) return unexpectedEnd();
        if (isXmlSpace(c) || c == '/' || c == '>') break;
        if (c == '<') return malformed(localizedString("'<'"));
        ++index;
    }
    const std::size_t nameLength = index - 1;
    if (nameLength == 0) return malformed(localizedString("no element name"));
    attributeOffsets_.clear();
    bool emptyElement = false;
    while (true) {
        while (true) {
            if (!byteAt(index)) return unexpectedEnd();
            if (!isXmlSpace(c)) break;
            ++index;
        }
        if (c == '>') break;
        if (c == '/') {
            if (!byteAt(index + 1)) return unexpectedEnd();
            if (c != '>') return malformed(localizedString("'/' before the end"));
            emptyElement = true;
            ++index;
            break;
        }
        const std::size_t attributeStart = index;
        while (true) {
            if (!byteAt(index)) return unexpectedEnd();
            if (isXmlSpace(c) || c == '=' || c == '>' || c == '/' || c == '<') break;
            ++index;
        }
        const std::size_t attributeLength = index - attributeStart;
        while (true) {
            if (!byteAt(index)) return unexpectedEnd();
            if (!isXmlSpace(c)) break;
            ++index;
        }
        if (attributeLength == 0 || c != '=')
            return malformed(localizedString("an attribute without a value"));
        ++index;
        while (true) {
            if (!byteAt(index)) return unexpectedEnd();
            if (!isXmlSpace(c)) break;
            ++index;
        }
        if (c != '"' && c != '\'') return malformed(localizedString("an unquoted attribute value"));
        const std::size_t valueStart = index + 1;
        const auto valueEnd = find(c, valueStart);
        if (valueEnd == std::string_view::npos) return unexpectedEnd();
        attributeOffsets_.push_back(
            {attributeStart, attributeLength, valueStart, valueEnd - valueStart});
        index = valueEnd + 1;
    }
    const char* tag = data_ + position_;
    const std::string_view name(tag + 1, nameLength);
    if (depth_ == 0 && rootClosed_) return malformed(localizedString("a second root element"));
    for (const auto& offsets : attributeOffsets_) {
        attributes_.push_back({std::string_view(tag + offsets.nameStart, offsets.nameLength),
                               std::string_view(tag + offsets.valueStart, offsets.valueLength)});
    }
    rootSeen_ = true;
    openNameStarts_.push_back(openNames_.size());
    for (const char c : name) openNames_.push_back(c);
    ++depth_;
    name_ = name;
    position_ += index + 1;
    pendingEnd_ = emptyElement;
    return Token::startElement;
}

std::string_view XmlPullScanner::innermostOpenName() const {
    const std::size_t start = openNameStarts_.back();
    return std::string_view(openNames_.data() + start, openNames_.size() - start);
}

void XmlPullScanner::closeInnermost() {
    openNames_.resize(openNameStarts_.back());
    openNameStarts_.pop_back();
}

XmlPullScanner::Token XmlPullScanner::scanEndTag(std::size_t tagLength) {
    std::string_view name(data_ + position_ + 2, tagLength - 2);
    while (!name.empty() && isXmlSpace(name.back())) name.remove_suffix(1);
    if (depth_ == 0 || !sameBytes(innermostOpenName(), name)) {
        return fail(formatMessage(
            localizedString("the end tag </%1$@> at byte %2$@ closes no open element"), name,
            std::to_string(byteOffset())));
    }
    name_ = name;
    position_ += tagLength + 1;
    closePending_ = true;
    return Token::endElement;
}

}  // namespace pelkora::xml
