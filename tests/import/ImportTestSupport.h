#pragma once

// Helpers the import tests share.

#include <unicode/locid.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mapping/MappedContactProperty.h"

namespace pelkora::test {

// A column mapped to a target with exactly the label given (none: no label at all).
inline MappedContactProperty mappedColumn(std::int64_t index, std::string_view key,
                                          std::optional<std::string_view> subKey = std::nullopt,
                                          std::optional<std::string_view> label = std::nullopt,
                                          std::string title = {}) {
    MappedContactProperty property;
    property.columnIndex = index;
    property.contactProperty = SuggestedContactProperty::target(key, subKey);
    property.contactProperty.systemLabel.reset();
    property.contactProperty.customLabel.reset();
    if (label) property.contactProperty.setLabel(*label);
    property.sourceFieldName = std::move(title);
    return property;
}

// Sets ICU's default locale for the life of the object, so that a test reads and writes
// dates as a user of that locale does, whatever the machine's locale is.
class ScopedDefaultLocale {
  public:
    explicit ScopedDefaultLocale(const char* identifier) : previous_(icu::Locale::getDefault()) {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(identifier), status);
    }
    ~ScopedDefaultLocale() {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(previous_, status);
    }
    ScopedDefaultLocale(const ScopedDefaultLocale&) = delete;
    ScopedDefaultLocale& operator=(const ScopedDefaultLocale&) = delete;

  private:
    icu::Locale previous_;
};

}  // namespace pelkora::test
