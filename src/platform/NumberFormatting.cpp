#include "platform/NumberFormatting.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>

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

}  // namespace

std::optional<std::string> NumberFormatter::string(double number) const {
    if (!std::isfinite(number)) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    // The POSIX locale's symbols: ASCII digits and "-", whatever the user's locale, since
    // the text is a code rather than a quantity for reading.
    auto symbols = std::make_unique<icu::DecimalFormatSymbols>(icu::Locale("en_US_POSIX"), status);
    if (U_FAILURE(status)) return std::nullopt;
    icu::DecimalFormat format(icu::UnicodeString(u"0"), symbols.release(), status);
    if (U_FAILURE(status)) return std::nullopt;
    format.setGroupingUsed(false);
    format.setMaximumFractionDigits(0);
    format.setRoundingMode(icu::DecimalFormat::kRoundHalfEven);
    if (formatWidth_ > 0) {
        format.setFormatWidth(formatWidth_);
        format.setPadCharacter(icu::UnicodeString::fromUTF8(paddingCharacter_));
        format.setPadPosition(icuPadPosition(paddingPosition_));
    }
    icu::UnicodeString text;
    format.format(number, text);
    if (text.isEmpty()) return std::nullopt;
    std::string result;
    text.toUTF8String(result);
    return result;
}

std::optional<std::string> decimalStyleString(double number, const std::string& localeIdentifier) {
    if (!std::isfinite(number)) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale =
        localeIdentifier.empty() ? icu::Locale::getDefault() : icu::Locale(localeIdentifier.c_str());
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
