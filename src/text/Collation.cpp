#include "text/Collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include <cstdint>

namespace pelkora {

struct LocalizedCollator::Implementation {
    std::unique_ptr<icu::Collator> collator;
};

LocalizedCollator::LocalizedCollator() : implementation_(std::make_unique<Implementation>()) {
    const icu::Locale& locale = icu::Locale::getDefault();
    const bool posix = std::string_view(locale.getVariant()) == "POSIX";
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(posix ? icu::Locale::getRoot() : locale, error));
    if (U_FAILURE(error) || !collator) {
        error = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), error));
    }
    if (U_SUCCESS(error)) implementation_->collator = std::move(collator);
}

LocalizedCollator::~LocalizedCollator() = default;

bool LocalizedCollator::operator()(std::string_view left, std::string_view right) const {
    if (const auto& collator = implementation_->collator) {
        UErrorCode error = U_ZERO_ERROR;
        const UCollationResult order = collator->compareUTF8(
            icu::StringPiece(left.data(), static_cast<std::int32_t>(left.size())),
            icu::StringPiece(right.data(), static_cast<std::int32_t>(right.size())), error);
        if (U_SUCCESS(error) && order != UCOL_EQUAL) return order == UCOL_LESS;
    }
    return left < right;
}

}  // namespace pelkora
