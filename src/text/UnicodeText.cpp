#include "text/UnicodeText.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>

namespace pelkora {
namespace {

constexpr UChar32 kReplacementCharacter = 0xFFFD;

std::u16string utf16(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT_MAX / 2)) text = text.substr(0, INT_MAX / 2);
    std::u16string result(text.size() + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8WithSub(result.data(), static_cast<int32_t>(result.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), kReplacementCharacter, nullptr,
                         &status);
    if (U_FAILURE(status)) return {};
    result.resize(static_cast<std::size_t>(length));
    return result;
}

std::string utf8(const std::u16string& text) {
    std::string result(text.size() * 3 + 1, '\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8WithSub(result.data(), static_cast<int32_t>(result.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), kReplacementCharacter, nullptr, &status);
    if (U_FAILURE(status)) return {};
    result.resize(static_cast<std::size_t>(length));
    return result;
}

// Runs an ICU case mapping that may grow the text, retrying once with the size it asks for.
template <typename Mapping>
std::string mapCase(std::string_view text, Mapping mapping) {
    const std::u16string source = utf16(text);
    std::u16string result(source.size() + 8, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = mapping(result.data(), static_cast<int32_t>(result.size()), source, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        result.assign(static_cast<std::size_t>(length), u'\0');
        status = U_ZERO_ERROR;
        length = mapping(result.data(), static_cast<int32_t>(result.size()), source, &status);
    }
    if (U_FAILURE(status)) return std::string(text);
    result.resize(static_cast<std::size_t>(length));
    return utf8(result);
}

bool isWordCharacter(UChar32 c) {
    const auto categoryMask = U_GET_GC_MASK(c);
    if ((categoryMask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0) return true;
    return u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE) == U_DT_CANONICAL;
}

}  // namespace

std::string lowercased(std::string_view text) {
    // ASCII text has no case mapping beyond A–Z, so it skips the conversion to UTF-16.
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string result(text);
        for (char& c : result) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return result;
    }
    return mapCase(
        text, [](UChar* dest, int32_t capacity, const std::u16string& source, UErrorCode* status) {
            return u_strToLower(dest, capacity, source.data(), static_cast<int32_t>(source.size()),
                                "", status);
        });
}

std::string capitalized(std::string_view text) {
    return mapCase(
        text, [](UChar* dest, int32_t capacity, const std::u16string& source, UErrorCode* status) {
            return u_strToTitle(dest, capacity, source.data(), static_cast<int32_t>(source.size()),
                                nullptr, nullptr, status);
        });
}

std::u32string codePoints(std::string_view text) {
    std::u32string result;
    result.reserve(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT_MAX));
    int32_t offset = 0;
    while (offset < length) {
        UChar32 c = 0;
        U8_NEXT(bytes, offset, length, c);
        result.push_back(static_cast<char32_t>(c < 0 ? kReplacementCharacter : c));
    }
    return result;
}

std::string trimmedToWordCharacters(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT_MAX));
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c = 0;
        U8_NEXT(bytes, next, length, c);
        if (c >= 0 && isWordCharacter(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c = 0;
        U8_PREV(bytes, start, previous, c);
        if (c >= 0 && isWordCharacter(c)) break;
        end = previous;
    }
    return std::string(
        text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

std::string replacedAll(std::string text, std::string_view from, std::string_view to) {
    if (from.empty()) return text;
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string trimmedWhiteSpace(std::string_view text) {
    // The common case, a text that starts and ends with an ASCII character other than white
    // space, needs no look at the character properties.
    const auto plainAscii = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x80 && byte > ' ' && byte != 0x7F;
    };
    if (text.empty() || (plainAscii(text.front()) && plainAscii(text.back())))
        return std::string(text);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(std::min<std::size_t>(text.size(), INT_MAX));
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c = 0;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c = 0;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        end = previous;
    }
    return std::string(
        text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

}  // namespace pelkora
