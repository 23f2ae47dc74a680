#include "support/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "support/Utf8.h"

namespace pelkora::json {
void appendString(std::string& out, std::string_view text) {
    out += '"';
    std::size_t index = 0;
    while (index < text.size()) {
        // Printable ASCII other than the quote and the backslash goes out as a run.
        std::size_t plain = index;
        while (plain < text.size()) {
            const auto next = static_cast<unsigned char>(text[plain]);
            if (next < 0x20 || next >= 0x7F || next == '"' || next == '\\') break;
            ++plain;
        }
        if (plain > index) {
            out.append(text.data() + index, plain - index);
            index = plain;
            if (index == text.size()) break;
        }
        const auto byte = static_cast<unsigned char>(text[index]);
        if (byte < 0x80) {
            switch (byte) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (byte < 0x20 || byte == 0x7F) {
                        char escaped[8];
                        std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
                        out += escaped;
                    } else {
                        out += static_cast<char>(byte);
                    }
            }
            ++index;
            continue;
        }
        const std::size_t length = utf8::wellFormedSequenceLength(text.substr(index));
        if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[index + 1]) < 0xA0) {
            // A C1 control (U+0080 to U+009F): escaped like the C0 controls, so that no
            // terminal showing the JSON acts on it.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X",
                          static_cast<unsigned char>(text[index + 1]));
            out += escaped;
            index += 2;
        } else if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++index;
        } else {
            out.append(text.substr(index, length));
            index += length;
        }
    }
    out += '"';
}

std::string number(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

}  // namespace pelkora::json

namespace pelkora::json {

Value::Value() = default;
Value::Value(const Value&) = default;
Value::Value(Value&&) noexcept = default;
Value& Value::operator=(const Value&) = default;
Value& Value::operator=(Value&&) noexcept = default;
Value::~Value() = default;

const Value* Value::find(std::string_view name) const {
    for (const Member& member : object) {
        if (member.name == name) return &member.value;
    }
    return nullptr;
}

namespace {

// Recursive descent over the text; every method returns false at the first byte that does
// not fit the grammar.
class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<Value> document() {
        Value value;
        skipWhiteSpace();
        if (!parseValue(value, 0)) return std::nullopt;
        skipWhiteSpace();
        if (position_ != text_.size()) return std::nullopt;
        return value;
    }

  private:
    static constexpr int kMaximumDepth = 256;

    bool atEnd() const { return position_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[position_]; }

    void skipWhiteSpace() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++position_;
    }

    bool literal(std::string_view word) {
        if (text_.substr(position_, word.size()) != word) return false;
        position_ += word.size();
        return true;
    }

    bool parseValue(Value& value, int depth) {
        if (depth > kMaximumDepth) return false;
        switch (peek()) {
            case '{':
                return parseObject(value, depth);
            case '[':
                return parseArray(value, depth);
            case '"':
                value.type = Value::Type::string;
                return parseString(value.string);
            case 't':
                value.type = Value::Type::boolean;
                value.boolean = true;
                return literal("true");
            case 'f':
                value.type = Value::Type::boolean;
                return literal("false");
            case 'n':
                return literal("null");
            default:
                value.type = Value::Type::number;
                return parseNumber(value.number);
        }
    }

    bool parseObject(Value& value, int depth) {
        value.type = Value::Type::object;
        ++position_;
        skipWhiteSpace();
        if (peek() == '}') {
            ++position_;
            return true;
        }
        while (true) {
            std::string name;
            if (peek() != '"' || !parseString(name)) return false;
            skipWhiteSpace();
            if (peek() != ':') return false;
            ++position_;
            skipWhiteSpace();
            Value member;
            if (!parseValue(member, depth + 1)) return false;
            value.object.push_back({std::move(name), std::move(member)});
            skipWhiteSpace();
            if (peek() == '}') {
                ++position_;
                return true;
            }
            if (peek() != ',') return false;
            ++position_;
            skipWhiteSpace();
        }
    }

    bool parseArray(Value& value, int depth) {
        value.type = Value::Type::array;
        ++position_;
        skipWhiteSpace();
        if (peek() == ']') {
            ++position_;
            return true;
        }
        while (true) {
            Value element;
            if (!parseValue(element, depth + 1)) return false;
            value.array.push_back(std::move(element));
            skipWhiteSpace();
            if (peek() == ']') {
                ++position_;
                return true;
            }
            if (peek() != ',') return false;
            ++position_;
            skipWhiteSpace();
        }
    }

    std::optional<unsigned> hexQuad() {
        if (text_.size() - position_ < 4) return std::nullopt;
        unsigned value = 0;
        for (int digit = 0; digit < 4; ++digit) {
            const char c = text_[position_++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        return value;
    }

    // A \u escape, with the low half that must follow a high surrogate; a lone surrogate
    // becomes U+FFFD, as it names no character.
    bool parseUnicodeEscape(std::string& out) {
        auto unit = hexQuad();
        if (!unit) return false;
        unsigned codePoint = *unit;
        if (codePoint >= 0xD800 && codePoint < 0xDC00 && text_.substr(position_, 2) == "\\u") {
            const std::size_t before = position_;
            position_ += 2;
            auto low = hexQuad();
            if (!low) return false;
            if (*low >= 0xDC00 && *low < 0xE000) {
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (*low - 0xDC00);
            } else {
                position_ = before;
            }
        }
        if (codePoint >= 0xD800 && codePoint < 0xE000) codePoint = 0xFFFD;
        utf8::appendCodePoint(out, codePoint);
        return true;
    }

    bool parseString(std::string& out) {
        ++position_;
        while (!atEnd()) {
            const auto byte = static_cast<unsigned char>(text_[position_]);
            if (byte == '"') {
                ++position_;
                return true;
            }
            if (byte < 0x20) return false;
            if (byte == '\\') {
                ++position_;
                if (atEnd()) return false;
                const char escape = text_[position_++];
                switch (escape) {
                    case '"':
                    case '\\':
                    case '/':
                        out += escape;
                        break;
                    case 'b':
                        out += '\b';
                        break;
                    case 'f':
                        out += '\f';
                        break;
                    case 'n':
                        out += '\n';
                        break;
                    case 'r':
                        out += '\r';
                        break;
                    case 't':
                        out += '\t';
                        break;
                    case 'u':
                        if (!parseUnicodeEscape(out)) return false;
                        break;
                    default:
                        return false;
                }
                continue;
            }
            // Plain text up to the next quote, escape or control character, checked as UTF-8.
            std::size_t end = position_;
            while (end < text_.size()) {
                const auto next = static_cast<unsigned char>(text_[end]);
                if (next == '"' || next == '\\' || next < 0x20) break;
                if (next < 0x80) {
                    ++end;
                    continue;
                }
                const std::size_t length = utf8::wellFormedSequenceLength(text_.substr(end));
                if (length == 0) return false;
                end += length;
            }
            out.append(text_.substr(position_, end - position_));
            position_ = end;
        }
        return false;
    }

    bool parseNumber(double& number) {
        const std::size_t start = position_;
        const auto digits = [this] {
            const std::size_t first = position_;
            while (!atEnd() && peek() >= '0' && peek() <= '9') ++position_;
            return position_ > first;
        };
        if (peek() == '-') ++position_;
        if (peek() == '0') {
            ++position_;
        } else if (!digits()) {
            return false;
        }
        if (peek() == '.') {
            ++position_;
            if (!digits()) return false;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++position_;
            if (peek() == '+' || peek() == '-') ++position_;
            if (!digits()) return false;
        }
        const auto result = std::from_chars(text_.data() + start, text_.data() + position_, number);
        // Out of range ("1e999") is still a number: the nearest double.
        return result.ptr == text_.data() + position_;
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace

std::optional<Value> parse(std::string_view text) {
    return Parser(text).document();
}

}  // namespace pelkora::json
