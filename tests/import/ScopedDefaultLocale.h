#pragma once

// Sets ICU's default locale for the life of the object, so that a test reads and writes
// dates as a user of that locale does, whatever the machine's locale is.

#include <unicode/locid.h>

namespace pelkora::test {

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
