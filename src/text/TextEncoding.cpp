#include "text/TextEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "support/Localization.h"

namespace pelkora {

namespace {

// ICU's canonical names of the encodings the program names directly. Spelled out so
// that the common accessors never need an alias look-up.
constexpr const char* kUtf8 = "UTF-8";
constexpr const char* kUtf16BigEndian = "UTF-16BE";
constexpr const char* kUtf16LittleEndian = "UTF-16LE";
constexpr const char* kUtf32BigEndian = "UTF-32BE";
constexpr const char* kUtf32LittleEndian = "UTF-32LE";
constexpr const char* kAscii = "US-ASCII";
constexpr const char* kMacOSRoman = "macos-0_2-10.2";
constexpr const char* kWindowsLatin1 = "ibm-5348_P100-1997";
constexpr const char* kIsoLatin1 = "ISO-8859-1";
constexpr const char* kIso2022KR = "ISO_2022,locale=ko,version=0";

struct DisplayNameEntry {
    std::string_view canonicalName;
    std::string_view displayName;
};

// User-facing names of the encodings people meet in contact files, keyed by ICU's
// canonical converter name. Everything else gets a name derived from its standard name.
constexpr std::array kDisplayNames = {
    DisplayNameEntry{"UTF-8", N_("Unicode (UTF-8)")},
    DisplayNameEntry{"UTF-16", N_("Unicode (UTF-16)")},
    DisplayNameEntry{"UTF-16BE", N_("Unicode (UTF-16BE)")},
    DisplayNameEntry{"UTF-16LE", N_("Unicode (UTF-16LE)")},
    DisplayNameEntry{"UTF-32", N_("Unicode (UTF-32)")},
    DisplayNameEntry{"UTF-32BE", N_("Unicode (UTF-32BE)")},
    DisplayNameEntry{"UTF-32LE", N_("Unicode (UTF-32LE)")},
    DisplayNameEntry{"UTF-7", N_("Unicode (UTF-7)")},
    DisplayNameEntry{"CESU-8", N_("Unicode (CESU-8)")},
    DisplayNameEntry{"US-ASCII", N_("Western (ASCII)")},
    DisplayNameEntry{"macos-0_2-10.2", N_("Western (Mac OS Roman)")},
    DisplayNameEntry{"ibm-5348_P100-1997", N_("Western (Windows Latin 1)")},
    DisplayNameEntry{"ISO-8859-1", N_("Western (ISO Latin 1)")},
    DisplayNameEntry{"ibm-913_P100-2000", N_("Western (ISO Latin 3)")},
    DisplayNameEntry{"ibm-923_P100-1998", N_("Western (ISO Latin 9)")},
    DisplayNameEntry{"ibm-850_P100-1995", N_("Western (DOS Latin 1)")},
    DisplayNameEntry{"ibm-858_P100-1997", N_("Western (DOS Latin 1 with Euro)")},
    DisplayNameEntry{"ibm-437_P100-1995", N_("Latin-US (DOS)")},
    DisplayNameEntry{"ibm-1051_P100-1995", N_("Western (HP Roman 8)")},
    DisplayNameEntry{"iso-8859_10-1998", N_("Nordic (ISO Latin 6)")},
    DisplayNameEntry{"ibm-861_P100-1995", N_("Icelandic (DOS)")},
    DisplayNameEntry{"ibm-865_P100-1995", N_("Nordic (DOS)")},
    DisplayNameEntry{"ibm-860_P100-1995", N_("Portuguese (DOS)")},
    DisplayNameEntry{"ibm-863_P100-1995", N_("Canadian French (DOS)")},
    DisplayNameEntry{"iso-8859_14-1998", N_("Celtic (ISO Latin 8)")},
    DisplayNameEntry{"ibm-5346_P100-1998", N_("Central European (Windows Latin 2)")},
    DisplayNameEntry{"ibm-912_P100-1995", N_("Central European (ISO Latin 2)")},
    DisplayNameEntry{"ibm-914_P100-1995", N_("Central European (ISO Latin 4)")},
    DisplayNameEntry{"ibm-852_P100-1995", N_("Central European (DOS Latin 2)")},
    DisplayNameEntry{"macos-29-10.2", N_("Central European (Mac OS)")},
    DisplayNameEntry{"ibm-9449_P100-2002", N_("Baltic (Windows)")},
    DisplayNameEntry{"ibm-921_P100-1995", N_("Baltic (ISO Latin 7)")},
    DisplayNameEntry{"ibm-775_P100-1996", N_("Baltic (DOS)")},
    DisplayNameEntry{"ibm-5347_P100-1998", N_("Cyrillic (Windows)")},
    DisplayNameEntry{"ibm-878_P100-1996", N_("Cyrillic (KOI8-R)")},
    DisplayNameEntry{"ibm-1168_P100-2002", N_("Ukrainian (KOI8-U)")},
    DisplayNameEntry{"ibm-915_P100-1995", N_("Cyrillic (ISO 8859-5)")},
    DisplayNameEntry{"ibm-866_P100-1995", N_("Cyrillic (DOS)")},
    DisplayNameEntry{"ibm-855_P100-1995", N_("Cyrillic (DOS 855)")},
    DisplayNameEntry{"macos-7_3-10.2", N_("Cyrillic (Mac OS)")},
    DisplayNameEntry{"ibm-5349_P100-1998", N_("Greek (Windows)")},
    DisplayNameEntry{"ibm-9005_X110-2007", N_("Greek (ISO 8859-7)")},
    DisplayNameEntry{"ibm-737_P100-1997", N_("Greek (DOS)")},
    DisplayNameEntry{"ibm-869_P100-1995", N_("Greek (DOS Greek 2)")},
    DisplayNameEntry{"ibm-851_P100-1995", N_("Greek (DOS 851)")},
    DisplayNameEntry{"macos-6_2-10.4", N_("Greek (Mac OS)")},
    DisplayNameEntry{"ibm-5350_P100-1998", N_("Turkish (Windows Latin 5)")},
    DisplayNameEntry{"ibm-920_P100-1995", N_("Turkish (ISO Latin 5)")},
    DisplayNameEntry{"ibm-857_P100-1995", N_("Turkish (DOS)")},
    DisplayNameEntry{"macos-35-10.2", N_("Turkish (Mac OS)")},
    DisplayNameEntry{"ibm-9447_P100-2002", N_("Hebrew (Windows)")},
    DisplayNameEntry{"ibm-5012_P100-1999", N_("Hebrew (ISO 8859-8)")},
    DisplayNameEntry{"ibm-862_P100-1995", N_("Hebrew (DOS)")},
    DisplayNameEntry{"ibm-9448_X100-2005", N_("Arabic (Windows)")},
    DisplayNameEntry{"ibm-1089_P100-1995", N_("Arabic (ISO 8859-6)")},
    DisplayNameEntry{"ibm-864_X110-1999", N_("Arabic (DOS)")},
    DisplayNameEntry{"ibm-720_P100-1997", N_("Arabic (DOS 720)")},
    DisplayNameEntry{"windows-874-2000", N_("Thai (Windows)")},
    DisplayNameEntry{"ibm-874_P100-1995", N_("Thai (TIS 620)")},
    DisplayNameEntry{"iso-8859_11-2001", N_("Thai (ISO 8859-11)")},
    DisplayNameEntry{"ibm-5354_P100-1998", N_("Vietnamese (Windows)")},
    DisplayNameEntry{"ibm-943_P15A-2003", N_("Japanese (Shift JIS)")},
    DisplayNameEntry{"euc-jp-2007", N_("Japanese (EUC)")},
    DisplayNameEntry{"ISO_2022,locale=ja,version=0", N_("Japanese (ISO 2022-JP)")},
    DisplayNameEntry{"ISO_2022,locale=ja,version=1", N_("Japanese (ISO 2022-JP-1)")},
    DisplayNameEntry{"ISO_2022,locale=ja,version=2", N_("Japanese (ISO 2022-JP-2)")},
    DisplayNameEntry{"ISO_2022,locale=ja,version=3", N_("Japanese (JIS7)")},
    DisplayNameEntry{"ISO_2022,locale=ja,version=4", N_("Japanese (JIS8)")},
    DisplayNameEntry{"gb18030", N_("Chinese (GB 18030)")},
    DisplayNameEntry{"windows-936-2000", N_("Simplified Chinese (GBK)")},
    DisplayNameEntry{"ibm-1383_P110-1999", N_("Simplified Chinese (GB 2312)")},
    DisplayNameEntry{"ibm-5478_P100-1995", N_("Simplified Chinese (GB 2312-80)")},
    DisplayNameEntry{"HZ", N_("Simplified Chinese (HZ GB 2312)")},
    DisplayNameEntry{"ISO_2022,locale=zh,version=0", N_("Chinese (ISO 2022-CN)")},
    DisplayNameEntry{"ISO_2022,locale=zh,version=1", N_("Chinese (ISO 2022-CN-EXT)")},
    DisplayNameEntry{"ISO_2022,locale=zh,version=2", N_("Traditional Chinese (ISO 2022-CN-CNS)")},
    DisplayNameEntry{"windows-950-2000", N_("Traditional Chinese (Big 5)")},
    DisplayNameEntry{"ibm-1375_P100-2008", N_("Traditional Chinese (Big 5 HKSCS)")},
    DisplayNameEntry{"euc-tw-2014", N_("Traditional Chinese (EUC)")},
    DisplayNameEntry{"ibm-970_P110_P110-2006_U2", N_("Korean (EUC)")},
    DisplayNameEntry{"windows-949-2000", N_("Korean (Windows)")},
    DisplayNameEntry{"ISO_2022,locale=ko,version=0", N_("Korean (ISO 2022-KR)")},
    DisplayNameEntry{"ISO_2022,locale=ko,version=1", N_("Korean (ISO 2022-KR, IBM)")},
    DisplayNameEntry{"ibm-1363_P11B-1998", N_("Korean (KS C 5601)")},
    DisplayNameEntry{"ISCII,version=0", N_("Devanagari (ISCII)")},
    DisplayNameEntry{"ISCII,version=1", N_("Bengali (ISCII)")},
    DisplayNameEntry{"ISCII,version=2", N_("Gurmukhi (ISCII)")},
    DisplayNameEntry{"ISCII,version=3", N_("Gujarati (ISCII)")},
    DisplayNameEntry{"ISCII,version=4", N_("Oriya (ISCII)")},
    DisplayNameEntry{"ISCII,version=5", N_("Tamil (ISCII)")},
    DisplayNameEntry{"ISCII,version=6", N_("Telugu (ISCII)")},
    DisplayNameEntry{"ISCII,version=7", N_("Kannada (ISCII)")},
    DisplayNameEntry{"ISCII,version=8", N_("Malayalam (ISCII)")},
    DisplayNameEntry{"ibm-37_P100-1995", N_("Western (EBCDIC US)")},
    DisplayNameEntry{"ibm-1047_P100-1995", N_("Western (EBCDIC Latin 1)")},
    DisplayNameEntry{"gsm-03.38-2009", N_("GSM 03.38")},
    DisplayNameEntry{"LMBCS-1", N_("Lotus (LMBCS-1)")},
};

// Names ICU reports for an unknown name, cached because lists name every encoding.
std::mutex namedCacheMutex;
std::unordered_map<std::string, std::optional<std::string>> namedCache;

// The converters this ICU build has data for. The alias table also names converters
// whose data a distribution may leave out (ISO-8859-16 in Debian's build, for one).
const std::unordered_set<std::string>& availableConverterNames() {
    static const std::unordered_set<std::string> names = [] {
        std::unordered_set<std::string> result;
        for (std::int32_t i = 0, count = ucnv_countAvailable(); i < count; ++i) {
            result.insert(ucnv_getAvailableName(i));
        }
        return result;
    }();
    return names;
}

std::optional<std::string> lookUpCanonicalName(const std::string& name) {
    if (name.empty()) {
        return std::nullopt;
    }
    UErrorCode error = U_ZERO_ERROR;
    // The first alias of a converter is its canonical name; ICU matches aliases
    // without regard to case and punctuation ("utf8", "Latin-1").
    const char* canonical = ucnv_getAlias(name.c_str(), 0, &error);
    if (U_FAILURE(error) || canonical == nullptr ||
        !availableConverterNames().contains(canonical)) {
        return std::nullopt;
    }
    return std::string(canonical);
}

// "IBM037", "cp1363": a standard name that is only IBM's number for the code page.
bool isCodePageNumber(std::string_view name) {
    for (std::string_view prefix : {"IBM", "ibm", "cp", "CP"}) {
        if (name.starts_with(prefix)) {
            const std::string_view rest = name.substr(prefix.size());
            return !rest.empty() && std::all_of(rest.begin(), rest.end(),
                                                [](char c) { return c >= '0' && c <= '9'; });
        }
    }
    return false;
}

// "ibm-1006_P100-1995" → "IBM 1006": the code page's number without ICU's table version.
std::string ibmCodePageName(std::string_view canonical) {
    const std::string_view base = canonical.substr(0, canonical.find_first_of("_,"));
    return "IBM " + std::string(base.substr(4));
}

std::string_view tableDisplayName(std::string_view canonical) {
    const auto* entry = std::find_if(kDisplayNames.begin(), kDisplayNames.end(),
                                     [&](const auto& e) { return e.canonicalName == canonical; });
    return entry == kDisplayNames.end() ? std::string_view{} : entry->displayName;
}

const char* standardName(const std::string& canonical, const char* standard) {
    UErrorCode error = U_ZERO_ERROR;
    const char* name = ucnv_getStandardName(canonical.c_str(), standard, &error);
    return U_SUCCESS(error) ? name : nullptr;
}

// ---------------------------------------------------------------------------------------
// Decoders

// Length of the valid UTF-8 sequence starting at bytes[0] (a lead byte ≥ 0x80), 0 when it
// is invalid, or -1 when the bytes end inside a sequence that is valid so far.
int utf8SequenceLength(const std::uint8_t* bytes, std::size_t available) {
    const std::uint8_t lead = bytes[0];
    int length;
    std::uint8_t secondLow = 0x80;
    std::uint8_t secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            secondLow = 0xA0;  // shorter forms are overlong
        } else if (lead == 0xED) {
            secondHigh = 0x9F;  // U+D800…U+DFFF are surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            secondLow = 0x90;
        } else if (lead == 0xF4) {
            secondHigh = 0x8F;  // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if (static_cast<std::size_t>(i) >= available) {
            return -1;
        }
        const std::uint8_t low = i == 1 ? secondLow : 0x80;
        const std::uint8_t high = i == 1 ? secondHigh : 0xBF;
        if (bytes[i] < low || bytes[i] > high) {
            return 0;
        }
    }
    return length;
}

// Length of the run of ASCII bytes at the start of bytes. Looks at eight bytes at a time,
// since contact data is mostly ASCII and this loop sets the parser's speed.
// Sixteen bytes at a time where SSE2 is there (always on x86-64), else eight; the first byte
// with its top bit set is found from the mask, not by stepping back over the block.
std::size_t asciiPrefixLength(const std::uint8_t* bytes, std::size_t size) {
    std::size_t i = 0;
#if defined(__SSE2__)
    while (i + 16 <= size) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(block)); mask != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(mask));
        }
        i += 16;
    }
#endif
    while (i + 8 <= size) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (const std::uint64_t high = word & 0x8080808080808080ull; high != 0) {
            if constexpr (std::endian::native == std::endian::little) {
                return i + static_cast<std::size_t>(std::countr_zero(high)) / 8;
            }
            break;
        }
        i += 8;
    }
    while (i < size && bytes[i] < 0x80) {
        ++i;
    }
    return i;
}

// UTF-8 is the program's own form, so decoding it is validating and copying. The
// decoder keeps no state: a sequence cut by the end of the bytes is left to the caller.
class Utf8Decoder final : public TextDecoder {
  public:
    DecodeResult decode(std::span<const std::uint8_t> bytes, std::string& out,
                        bool endOfInput) override {
        const std::uint8_t* data = bytes.data();
        const std::size_t size = bytes.size();
        std::size_t i = 0;
        DecodeResult result;
        while (i < size) {
            i += asciiPrefixLength(data + i, size - i);
            if (i == size) {
                break;
            }
            const int length = utf8SequenceLength(data + i, size - i);
            if (length > 0) {
                i += static_cast<std::size_t>(length);
                continue;
            }
            result.invalid = length == 0 || endOfInput;
            break;
        }
        out.append(reinterpret_cast<const char*>(data), i);
        result.bytesConsumed = i;
        return result;
    }
};

class AsciiDecoder final : public TextDecoder {
  public:
    DecodeResult decode(std::span<const std::uint8_t> bytes, std::string& out, bool) override {
        const std::size_t length = asciiPrefixLength(bytes.data(), bytes.size());
        out.append(reinterpret_cast<const char*>(bytes.data()), length);
        return {length, length < bytes.size()};
    }
};

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPointer = std::unique_ptr<UConverter, ConverterCloser>;

bool isUnicodeConverter(UConverterType type) {
    switch (type) {
        case UCNV_UTF16_BigEndian:
        case UCNV_UTF16_LittleEndian:
        case UCNV_UTF16:
        case UCNV_UTF32_BigEndian:
        case UCNV_UTF32_LittleEndian:
        case UCNV_UTF32:
            return true;
        default:
            return false;
    }
}

// Every other encoding goes through an ICU converter: bytes to UTF-16 in large blocks,
// then each block to UTF-8.
//
// ICU keeps the bytes of an unfinished character inside the converter (and stateful
// encodings keep their shift state there), while our contract leaves those bytes with
// the caller, who offers them again. So the decoder remembers how many bytes ICU holds
// and skips that many at the start of the next call instead of feeding them twice.
class IcuDecoder final : public TextDecoder {
  public:
    explicit IcuDecoder(const std::string& name) {
        UErrorCode error = U_ZERO_ERROR;
        converter_.reset(ucnv_open(name.c_str(), &error));
        if (U_FAILURE(error) || !converter_) {
            throw std::runtime_error("cannot open the text converter for " + name + ": " +
                                     u_errorName(error));
        }
        ucnv_setToUCallBack(converter_.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                            &error);
        // ICU's UTF-16 and UTF-32 converters reject lone surrogates themselves, so only
        // the others need source offsets to place a lone surrogate they let through.
        needsOffsets_ = !isUnicodeConverter(ucnv_getType(converter_.get()));
        units_.resize(kBlockUnits);
        utf8_.resize(kBlockUnits * 3);
        if (needsOffsets_) {
            offsets_.resize(kBlockUnits);
        }
    }

    DecodeResult decode(std::span<const std::uint8_t> bytes, std::string& out,
                        bool endOfInput) override {
        if (held_.size() > bytes.size() || !std::equal(held_.begin(), held_.end(), bytes.begin())) {
            // The caller did not offer the held bytes again; start over from its bytes.
            reset();
        }
        const char* const begin = reinterpret_cast<const char*>(bytes.data());
        const char* const end = begin + bytes.size();
        const char* source = begin + held_.size();
        const bool heldAtStart = !held_.empty();
        std::size_t carried = 0;  // a lead surrogate whose trail ICU has not written yet
        while (true) {
            const char* blockSource = source;
            const std::size_t heldBefore = heldByConverter();
            UChar* target = units_.data() + carried;
            UErrorCode error = U_ZERO_ERROR;
            ucnv_toUnicode(converter_.get(), &target, units_.data() + units_.size(), &source, end,
                           needsOffsets_ ? offsets_.data() + carried : nullptr, endOfInput, &error);
            std::size_t produced = static_cast<std::size_t>(target - units_.data());
            const bool overflow = error == U_BUFFER_OVERFLOW_ERROR;
            std::size_t keep = 0;
            if (overflow && produced > 0 && U16_IS_LEAD(units_[produced - 1])) {
                keep = 1;
            }
            const std::size_t complete = produced - keep;
            const std::size_t good = appendUtf8(complete, out);
            if (good < complete) {
                // A lone surrogate from a converter that passes them through.
                const std::int32_t offset = needsOffsets_ ? offsets_[good] : -1;
                const std::size_t position =
                    offset >= 0 ? static_cast<std::size_t>(blockSource - begin) + offset
                                : static_cast<std::size_t>(blockSource - begin) - heldBefore;
                reset();
                return {position, true};
            }
            if (keep > 0) {
                units_[0] = units_[produced - 1];
                if (needsOffsets_) {
                    offsets_[0] = offsets_[produced - 1];
                }
            }
            carried = keep;
            if (overflow) {
                continue;
            }
            if (U_FAILURE(error)) {
                // ICU stops after the offending bytes and hands them back; they may
                // begin in bytes it held from before, which sit at the start of ours.
                std::size_t position = invalidSequenceStart(begin, source);
                reset();
                if (heldAtStart) {
                    // When the offending bytes began in bytes ICU held from the last call, ICU
                    // may also have read past them (to replay later), and the count above
                    // comes out too far. Converted once more from the start of our bytes,
                    // with nothing held, they are placed exactly.
                    position = invalidPositionFromStart(begin, end, endOfInput).value_or(position);
                }
                return {position, true};
            }
            break;
        }
        const std::size_t heldNow = endOfInput ? 0 : heldByConverter();
        held_.assign(bytes.end() - static_cast<std::ptrdiff_t>(std::min(heldNow, bytes.size())),
                     bytes.end());
        return {bytes.size() - held_.size(), false};
    }

  private:
    static constexpr std::size_t kBlockUnits = 16384;

    // Where a fresh conversion of the bytes stops at an invalid sequence; none when it does
    // not. Leaves the converter reset.
    std::optional<std::size_t> invalidPositionFromStart(const char* begin, const char* end,
                                                        bool endOfInput) {
        const char* source = begin;
        UErrorCode error = U_ZERO_ERROR;
        do {
            UChar* target = units_.data();
            error = U_ZERO_ERROR;
            ucnv_toUnicode(converter_.get(), &target, units_.data() + units_.size(), &source, end,
                           nullptr, endOfInput, &error);
        } while (error == U_BUFFER_OVERFLOW_ERROR);
        std::optional<std::size_t> position;
        if (U_FAILURE(error)) position = invalidSequenceStart(begin, source);
        reset();
        return position;
    }

    // Where the sequence the converter just stopped at begins: it hands the offending bytes
    // back, and `source` is where it stopped reading.
    std::size_t invalidSequenceStart(const char* begin, const char* source) const {
        char invalid[32];
        std::int8_t invalidLength = sizeof invalid;
        UErrorCode ignored = U_ZERO_ERROR;
        ucnv_getInvalidChars(converter_.get(), invalid, &invalidLength, &ignored);
        const std::size_t consumed = static_cast<std::size_t>(source - begin);
        return consumed - std::min<std::size_t>(consumed, static_cast<std::size_t>(invalidLength));
    }

    std::size_t heldByConverter() const {
        UErrorCode error = U_ZERO_ERROR;
        const std::int32_t pending = ucnv_toUCountPending(converter_.get(), &error);
        return U_SUCCESS(error) && pending > 0 ? static_cast<std::size_t>(pending) : 0;
    }

    void reset() {
        ucnv_resetToUnicode(converter_.get());
        held_.clear();
    }

    // Appends units_[0, count) as UTF-8 and returns how many units it took: all of them,
    // or the index of the first lone surrogate. Converts into a scratch buffer that is
    // reused, because growing the string by three bytes a unit would clear that memory.
    std::size_t appendUtf8(std::size_t count, std::string& out) {
        if (count == 0) {
            return 0;
        }
        std::int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strToUTF8(utf8_.data(), static_cast<std::int32_t>(utf8_.size()), &length, units_.data(),
                    static_cast<std::int32_t>(count), &error);
        if (U_SUCCESS(error)) {
            out.append(utf8_.data(), static_cast<std::size_t>(length));
            return count;
        }
        std::size_t good = 0;
        while (good < count) {
            const UChar unit = units_[good];
            if (U16_IS_SURROGATE(unit) &&
                !(U16_IS_LEAD(unit) && good + 1 < count && U16_IS_TRAIL(units_[good + 1]))) {
                break;
            }
            good += U16_IS_LEAD(unit) ? 2 : 1;
        }
        length = 0;
        error = U_ZERO_ERROR;
        u_strToUTF8(utf8_.data(), static_cast<std::int32_t>(utf8_.size()), &length, units_.data(),
                    static_cast<std::int32_t>(good), &error);
        out.append(utf8_.data(), static_cast<std::size_t>(length));
        return good;
    }

    ConverterPointer converter_;
    bool needsOffsets_ = false;
    std::vector<UChar> units_;
    std::vector<std::int32_t> offsets_;
    std::vector<char> utf8_;
    std::vector<std::uint8_t> held_;  // the end of the last bytes, held inside the converter
};

}  // namespace

TextEncoding TextEncoding::utf8() {
    return TextEncoding(kUtf8);
}
TextEncoding TextEncoding::utf16BigEndian() {
    return TextEncoding(kUtf16BigEndian);
}
TextEncoding TextEncoding::utf16LittleEndian() {
    return TextEncoding(kUtf16LittleEndian);
}
TextEncoding TextEncoding::utf32BigEndian() {
    return TextEncoding(kUtf32BigEndian);
}
TextEncoding TextEncoding::utf32LittleEndian() {
    return TextEncoding(kUtf32LittleEndian);
}
TextEncoding TextEncoding::ascii() {
    return TextEncoding(kAscii);
}
TextEncoding TextEncoding::macOSRoman() {
    return TextEncoding(kMacOSRoman);
}
TextEncoding TextEncoding::windowsLatin1() {
    return TextEncoding(kWindowsLatin1);
}
TextEncoding TextEncoding::isoLatin1() {
    return TextEncoding(kIsoLatin1);
}
TextEncoding TextEncoding::iso2022KR() {
    return TextEncoding(kIso2022KR);
}

std::optional<TextEncoding> TextEncoding::named(std::string_view name) {
    std::string key(name);
    std::lock_guard lock(namedCacheMutex);
    auto found = namedCache.find(key);
    if (found == namedCache.end()) {
        auto canonical = lookUpCanonicalName(key);
        found = namedCache.emplace(std::move(key), std::move(canonical)).first;
    }
    if (!found->second) {
        return std::nullopt;
    }
    return TextEncoding(*found->second);
}

std::string TextEncoding::ianaName() const {
    for (const char* standard : {"MIME", "IANA"}) {
        if (const char* name = standardName(name_, standard)) {
            return name;
        }
    }
    return name_;
}

std::string TextEncoding::displayName() const {
    if (auto name = tableDisplayName(name_); !name.empty()) {
        return localizedString(name, "Name of a text encoding, as in the encoding menu");
    }
    const bool ibm = name_.starts_with("ibm-");
    for (const char* standard : {"IANA", "MIME", "WINDOWS"}) {
        const char* name = standardName(name_, standard);
        if (name != nullptr && !(ibm && isCodePageNumber(name))) {
            return name;
        }
    }
    return ibm ? ibmCodePageName(name_) : name_;
}

std::unique_ptr<TextDecoder> TextDecoder::make(const TextEncoding& encoding) {
    if (encoding == TextEncoding::utf8()) {
        return std::make_unique<Utf8Decoder>();
    }
    if (encoding == TextEncoding::ascii()) {
        return std::make_unique<AsciiDecoder>();
    }
    return std::make_unique<IcuDecoder>(encoding.name());
}

std::optional<std::string> decodeStrictly(std::span<const std::uint8_t> bytes,
                                          const TextEncoding& encoding) {
    std::string text;
    text.reserve(bytes.size());
    const DecodeResult result = TextDecoder::make(encoding)->decode(bytes, text, true);
    if (result.invalid || result.bytesConsumed != bytes.size()) {
        return std::nullopt;
    }
    return text;
}

std::vector<TextEncoding> availableEncodings() {
    const std::int32_t count = ucnv_countAvailable();
    std::vector<TextEncoding> encodings;
    encodings.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        if (auto encoding = TextEncoding::named(ucnv_getAvailableName(i))) {
            if (std::find(encodings.begin(), encodings.end(), *encoding) == encodings.end()) {
                encodings.push_back(*encoding);
            }
        }
    }
    return encodings;
}

}  // namespace pelkora
