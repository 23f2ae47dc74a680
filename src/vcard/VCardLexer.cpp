#include <algorithm>
#include <optional>

#include "support/Format.h"
#include "support/Localization.h"
#include "vcard/VCardLexer_p.h"

namespace pelkora::contacts::detail {

std::string asciiUppercase(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

std::string asciiLowercase(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

bool equalsIgnoringCase(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(a) == lower(b);
           });
}

VCardError lineError(std::size_t line, const std::string& problem) {
    return VCardError{
        VCardErrorKind::malformed,
        formatMessage(localizedString("line %1$@: %2$@", "Where a vCard file is damaged, and how"),
                      std::to_string(line), problem),
        {},
        line};
}

std::vector<std::string_view> ContentLine::parameterValues(std::string_view parameterName) const {
    std::vector<std::string_view> values;
    for (const auto& parameter : parameters) {
        if (parameter.name == parameterName)
            values.insert(values.end(), parameter.values.begin(), parameter.values.end());
    }
    return values;
}

std::string_view ContentLine::parameter(std::string_view parameterName) const {
    for (const auto& parameter : parameters) {
        if (parameter.name == parameterName && !parameter.values.empty())
            return parameter.values.front();
    }
    return {};
}

bool ContentLine::hasType(std::string_view type) const {
    for (const auto value : parameterValues("TYPE")) {
        if (equalsIgnoringCase(value, type)) return true;
    }
    return false;
}

bool ContentLine::isQuotedPrintable() const {
    return equalsIgnoringCase(parameter("ENCODING"), "QUOTED-PRINTABLE");
}

namespace {

struct PhysicalLine {
    std::string_view text;  // without its line break
    std::size_t number = 0;
    std::size_t begin = 0;
    std::size_t end = 0;  // just past the line break
};

// Cuts text into lines at CR LF, LF or a lone CR (classic Mac OS files).
class PhysicalLines {
  public:
    explicit PhysicalLines(std::string_view text) : text_(text) {}

    std::optional<PhysicalLine> next() {
        if (offset_ >= text_.size()) return std::nullopt;
        PhysicalLine line;
        line.number = ++number_;
        line.begin = offset_;
        const std::size_t lineBreak = text_.find_first_of("\r\n", offset_);
        if (lineBreak == std::string_view::npos) {
            line.text = text_.substr(offset_);
            offset_ = text_.size();
        } else {
            line.text = text_.substr(offset_, lineBreak - offset_);
            offset_ = lineBreak + 1;
            if (text_[lineBreak] == '\r' && offset_ < text_.size() && text_[offset_] == '\n')
                ++offset_;
        }
        line.end = offset_;
        return line;
    }

  private:
    std::string_view text_;
    std::size_t offset_ = 0;
    std::size_t number_ = 0;
};

// The part of a content line before its value.
struct Head {
    std::string group;
    std::string name;
    std::vector<VCardParameter> parameters;
    std::size_t valueOffset = 0;  // just past the colon
};

enum class HeadProblem { noColon, badName, unclosedQuote };

bool isNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

bool isName(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isNameCharacter);
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// RFC 6868: "^n" is a line break, "^'" a double quote and "^^" a caret in parameter values.
std::string decodeCarets(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '^' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'n' || next == 'N') {
                result += '\n';
                ++i;
                continue;
            }
            if (next == '\'') {
                result += '"';
                ++i;
                continue;
            }
            if (next == '^') {
                result += '^';
                ++i;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

bool isEncodingName(std::string_view word) {
    for (std::string_view encoding : {"QUOTED-PRINTABLE", "BASE64", "8BIT", "7BIT"}) {
        if (equalsIgnoringCase(word, encoding)) return true;
    }
    return false;
}

// Reads "group.NAME;PARAM=a,"b";BARE:" up to and including the colon.
Expected<Head, HeadProblem> parseHead(std::string_view text) {
    Head head;
    const std::size_t nameEnd = text.find_first_of(";:");
    if (nameEnd == std::string_view::npos) return Unexpected(HeadProblem::noColon);
    const std::string_view qualifiedName = text.substr(0, nameEnd);
    const std::size_t dot = qualifiedName.rfind('.');
    const std::string_view name =
        dot == std::string_view::npos ? qualifiedName : qualifiedName.substr(dot + 1);
    if (!isName(name)) return Unexpected(HeadProblem::badName);
    if (dot != std::string_view::npos) {
        const std::string_view group = qualifiedName.substr(0, dot);
        if (!isName(group)) return Unexpected(HeadProblem::badName);
        head.group = asciiLowercase(group);
    }
    head.name = asciiUppercase(name);

    std::size_t position = nameEnd;
    while (text[position] == ';') {
        ++position;
        const std::size_t nameStop = text.find_first_of("=;:", position);
        if (nameStop == std::string_view::npos) return Unexpected(HeadProblem::noColon);
        const std::string_view parameterName = trimmed(text.substr(position, nameStop - position));
        position = nameStop;
        if (text[position] != '=') {
            // A 2.1 bare parameter: "TEL;WORK;VOICE", "NOTE;QUOTED-PRINTABLE".
            std::size_t start = 0;
            while (start <= parameterName.size()) {
                std::size_t comma = parameterName.find(',', start);
                if (comma == std::string_view::npos) comma = parameterName.size();
                const std::string_view word = trimmed(parameterName.substr(start, comma - start));
                if (!word.empty()) {
                    head.parameters.push_back(
                        {isEncodingName(word) ? "ENCODING" : "TYPE", {std::string(word)}});
                }
                start = comma + 1;
            }
            continue;
        }
        ++position;
        VCardParameter parameter{asciiUppercase(parameterName), {}};
        while (true) {
            std::string value;
            // A quote only opens at the start of a value (RFC 2426), so 2.1's unquoted values
            // may hold one.
            if (position < text.size() && text[position] == '"') {
                const std::size_t close = text.find('"', position + 1);
                if (close == std::string_view::npos) return Unexpected(HeadProblem::unclosedQuote);
                value = text.substr(position + 1, close - position - 1);
                position = close + 1;
            }
            const std::size_t valueEnd = text.find_first_of(",;:", position);
            if (valueEnd == std::string_view::npos) return Unexpected(HeadProblem::noColon);
            value += text.substr(position, valueEnd - position);
            if (parameter.name == "TYPE") {
                // RFC 6350 quotes TYPE lists ("work,voice"), and they mean the same unquoted.
                std::size_t start = 0;
                while (start <= value.size()) {
                    std::size_t comma = value.find(',', start);
                    if (comma == std::string::npos) comma = value.size();
                    parameter.values.push_back(decodeCarets(value.substr(start, comma - start)));
                    start = comma + 1;
                }
            } else {
                parameter.values.push_back(decodeCarets(value));
            }
            position = valueEnd;
            if (text[position] != ',') break;
            ++position;
        }
        if (!parameter.name.empty()) head.parameters.push_back(std::move(parameter));
    }
    head.valueOffset = position + 1;
    return head;
}

// At most 40 characters of a line for a message, valid UTF-8 even when the line is not.
std::string excerpt(std::string_view text) {
    constexpr std::size_t kCharacters = 40;
    std::string result;
    std::size_t characters = 0;
    std::size_t i = 0;
    while (i < text.size() && characters < kCharacters) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80                   ? 1
                             : byte >= 0xC2 && byte < 0xE0 ? 2
                             : byte >= 0xE0 && byte < 0xF0 ? 3
                             : byte >= 0xF0 && byte < 0xF5 ? 4
                                                           : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (!valid || byte < 0x20 || byte == 0x7F) {
            result += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
        } else {
            result += text.substr(i, length);
            i += length;
        }
        ++characters;
    }
    if (i < text.size()) result += "…";
    return result;
}

bool isBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

bool isEndOfVCard(std::string_view text) {
    return equalsIgnoringCase(trimmed(text), "END:VCARD");
}

bool isBase64Run(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '/' || c == '=';
    });
}

// A content line while its continuation lines are still being read.
struct OpenLine {
    std::string text;
    std::size_t number = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    // Parsed from the first physical line when its head is complete there, as it is in all
    // but the oddest files; the soft line break and Base64 rules need to know the encoding.
    std::optional<Head> head;
    bool quotedPrintable = false;
    bool bareBase64 = false;  // 2.1's ENCODING=BASE64, not 3.0's ENCODING=b
};

Expected<ContentLine, VCardError> finish(OpenLine open) {
    if (!open.head) {
        auto head = parseHead(open.text);
        if (!head) {
            switch (head.error()) {
                case HeadProblem::noColon:
                    return Unexpected(lineError(
                        open.number,
                        formatMessage(localizedString("“%@” is neither a property nor a folded "
                                                      "continuation line (it has no colon)"),
                                      excerpt(open.text))));
                case HeadProblem::badName:
                    return Unexpected(lineError(
                        open.number,
                        formatMessage(localizedString("“%@” does not begin with a property name "
                                                      "(letters, digits and hyphens, then a "
                                                      "colon)"),
                                      excerpt(open.text))));
                case HeadProblem::unclosedQuote:
                    return Unexpected(lineError(
                        open.number,
                        formatMessage(
                            localizedString("“%@” has a parameter whose quote is not closed"),
                            excerpt(open.text))));
            }
        }
        open.head = std::move(*head);
    }
    ContentLine line;
    line.lineNumber = open.number;
    line.begin = open.begin;
    line.end = open.end;
    line.group = std::move(open.head->group);
    line.name = std::move(open.head->name);
    line.parameters = std::move(open.head->parameters);
    line.value = open.text.substr(open.head->valueOffset);
    return line;
}

OpenLine start(const PhysicalLine& physical) {
    OpenLine open;
    open.text = physical.text;
    open.number = physical.number;
    open.begin = physical.begin;
    open.end = physical.end;
    if (auto head = parseHead(physical.text)) {
        open.head = std::move(*head);
        for (const auto& parameter : open.head->parameters) {
            if (parameter.name != "ENCODING" || parameter.values.empty()) continue;
            open.quotedPrintable = equalsIgnoringCase(parameter.values.front(), "QUOTED-PRINTABLE");
            open.bareBase64 = equalsIgnoringCase(parameter.values.front(), "BASE64");
            break;
        }
    }
    return open;
}

}  // namespace

Expected<std::vector<ContentLine>, VCardError> lexContentLines(std::string_view text) {
    std::vector<ContentLine> lines;
    std::optional<OpenLine> open;
    PhysicalLines physicalLines(text);
    while (auto physical = physicalLines.next()) {
        if (open) {
            // A soft line break is never followed by END:VCARD; some writers end the last
            // value with one anyway, and joining would swallow the end of the vCard.
            if (open->quotedPrintable && !open->text.empty() && open->text.back() == '=' &&
                !isEndOfVCard(physical->text)) {
                open->text.pop_back();
                open->text += physical->text;
                open->end = physical->end;
                continue;
            }
            if (!physical->text.empty() &&
                (physical->text[0] == ' ' || physical->text[0] == '\t')) {
                open->text += physical->text.substr(1);
                open->end = physical->end;
                continue;
            }
            if (open->bareBase64 && isBase64Run(physical->text)) {
                open->text += physical->text;
                open->end = physical->end;
                continue;
            }
            auto line = finish(std::move(*open));
            open.reset();
            if (!line) return Unexpected(line.error());
            lines.push_back(std::move(*line));
        }
        if (isBlank(physical->text)) continue;
        if (physical->text[0] == ' ' || physical->text[0] == '\t') {
            return Unexpected(
                lineError(physical->number, localizedString("a folded continuation line (it begins "
                                                            "with a space) with no property line "
                                                            "before it to continue")));
        }
        open = start(*physical);
    }
    if (open) {
        auto line = finish(std::move(*open));
        if (!line) return Unexpected(line.error());
        lines.push_back(std::move(*line));
    }
    return lines;
}

}  // namespace pelkora::contacts::detail
