#pragma once

// Numbers as plain digit strings, optionally padded to a fixed width, as a postal code or
// an identifier is written. ICU does the work; none of its types appear here.

#include <optional>
#include <string>

namespace pelkora {

// Where padding characters go, relative to a sign or other prefix and suffix.
enum class PaddingPosition { beforePrefix, afterPrefix, beforeSuffix, afterSuffix };

// A number formatter with default settings: no style, so digits only, no grouping and no
// fraction (a fraction is rounded half to even). Without a format width nothing is padded.
class NumberFormatter {
  public:
    // The least number of characters of a result; 0 turns padding off. Padding only ever
    // adds characters, so a longer number keeps all its digits.
    void setFormatWidth(int width) { formatWidth_ = width < 0 ? 0 : width; }
    int formatWidth() const { return formatWidth_; }
    // One character (UTF-8) that fills up to the format width; a space by default.
    void setPaddingCharacter(std::string character) { paddingCharacter_ = std::move(character); }
    const std::string& paddingCharacter() const { return paddingCharacter_; }
    void setPaddingPosition(PaddingPosition position) { paddingPosition_ = position; }
    PaddingPosition paddingPosition() const { return paddingPosition_; }

    // The number as text; none for a number that is not finite.
    std::optional<std::string> string(double number) const;

  private:
    int formatWidth_ = 0;
    std::string paddingCharacter_ = " ";
    PaddingPosition paddingPosition_ = PaddingPosition::beforePrefix;
};

// The number in decimal style for reading, in the notation of the locale (the user's when
// empty): grouping separators, at most three fraction digits rounded half to even, e.g.
// "1,234.5" in English and "1.234,5" in German. None for a number that is not finite.
std::optional<std::string> decimalStyleString(double number,
                                              const std::string& localeIdentifier = {});

}  // namespace pelkora
