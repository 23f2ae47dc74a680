#include "text/NumberFormatting.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace pelkora {
namespace {

icu::DecimalFormat::EPadPosition icuPadPosition(PaddingPosition position) {
    switch (position) {
        case PaddingPosition::beforePrefix:
            return icu::DecimalFormat::kPadBeforePrefix;
        case PaddingPosition::afterPrefix:
            return icu::DecimalFormat::kPadAfterPrefix;
        case PaddingPosition::beforeSuffix:
            return icu::DecimalFormat::kPadBeforeSuffix;
        case PaddingPosition::afterSuffix:
            return icu::DecimalFormat::kPadAfterSuffix;
    }
    return icu::DecimalFormat::kPadBeforePrefix;
}

// An ICU formatter for one width, padding character and position. Building one (symbols
// for a locale, the pattern) costs far more than formatting with it, and an import formats
// a postal code per contact, so each thread keeps the few it has built.
struct BuiltNumberFormat {
    int width = 0;
    std::string paddingCharacter;
    PaddingPosition paddingPosition = PaddingPosition::beforePrefix;
    std::unique_ptr<icu::DecimalFormat> format;
};

constexpr std::size_t kMaximumBuiltNumberFormats = 16;

const icu::DecimalFormat* numberFormat(int width, const std::string& paddingCharacter,
                                       PaddingPosition paddingPosition) {
    thread_local std::vector<BuiltNumberFormat> built;
    for (const auto& entry : built) {
        // Without a width the padding settings are not applied, so they do not matter.
        if (entry.width == width && (width == 0 || (entry.paddingCharacter == paddingCharacter &&
                                                    entry.paddingPosition == paddingPosition))) {
            return entry.format.get();
        }
    }
    UErrorCode status = U_ZERO_ERROR;
    // The POSIX locale's symbols: ASCII digits and "-", whatever the user's locale, since
    // the text is a code rather than a quantity for reading.
    auto symbols = std::make_unique<icu::DecimalFormatSymbols>(icu::Locale("en_US_POSIX"), status);
    if (U_FAILURE(status)) return nullptr;
    auto format =
        std::make_unique<icu::DecimalFormat>(icu::UnicodeString(u"0"), symbols.release(), status);
    if (U_FAILURE(status)) return nullptr;
    format->setGroupingUsed(false);
    format->setMaximumFractionDigits(0);
    format->setRoundingMode(icu::DecimalFormat::kRoundHalfEven);
    if (width > 0) {
        format->setFormatWidth(width);
        format->setPadCharacter(icu::UnicodeString::fromUTF8(paddingCharacter));
        format->setPadPosition(icuPadPosition(paddingPosition));
    }
    if (built.size() >= kMaximumBuiltNumberFormats) built.clear();
    built.push_back({width, paddingCharacter, paddingPosition, std::move(format)});
    return built.back().format.get();
}

}  // namespace

std::optional<std::string> NumberFormatter::string(double number) const {
    if (!std::isfinite(number)) return std::nullopt;
    const icu::DecimalFormat* format =
        numberFormat(formatWidth_, paddingCharacter_, paddingPosition_);
    if (!format) return std::nullopt;
    icu::UnicodeString text;
    format->format(number, text);
    if (text.isEmpty()) return std::nullopt;
    std::string result;
    text.toUTF8String(result);
    return result;
}

std::optional<std::string> decimalStyleString(double number, const std::string& localeIdentifier) {
    if (!std::isfinite(number)) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale = localeIdentifier.empty() ? icu::Locale::getDefault()
                                                        : icu::Locale(localeIdentifier.c_str());
    std::unique_ptr<icu::NumberFormat> format(icu::NumberFormat::createInstance(locale, status));
    if (U_FAILURE(status) || !format) return std::nullopt;
    format->setMaximumFractionDigits(3);
    if (auto* decimal = dynamic_cast<icu::DecimalFormat*>(format.get()))
        decimal->setRoundingMode(icu::DecimalFormat::kRoundHalfEven);
    icu::UnicodeString text;
    format->format(number, text);
    if (text.isEmpty()) return std::nullopt;
    std::string result;
    text.toUTF8String(result);
    return result;
}

}  // namespace pelkora
