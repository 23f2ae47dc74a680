#pragma once

// Type-safe printf-style formatting for the runtime log's format strings.
//
// The log's format strings come in the style of the Apple string formatter ("%@", "%lu",
// "%{public}@", "%1$@"), so this formatter reads that dialect. Arguments travel as a span
// of FormatArgument values instead of C varargs: a wrong argument can never be read as
// the wrong type, only printed as what it is.

#include <array>
#include <concepts>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace pelkora {

// One value to be put in place of a placeholder; owns a copy of its text.
class FormatArgument {
  public:
    using Value = std::variant<std::string, std::int64_t, std::uint64_t, double, bool>;

    // Keeps the text as is.
    FormatArgument(std::string text) : value_(std::move(text)) {}
    // Keeps a copy of the text.
    FormatArgument(std::string_view text) : value_(std::string(text)) {}
    // Keeps a copy of the text; a null pointer is kept as the text "(null)".
    FormatArgument(const char* text) : value_(std::string(text != nullptr ? text : "(null)")) {}
    // Keeps the path's text in its native form.
    FormatArgument(const std::filesystem::path& path) : value_(path.string()) {}
    // Keeps the truth value; printed as "true" or "false" by %@ and %s, as 1 or 0 by %d.
    FormatArgument(bool value) : value_(value) {}
    // Keeps an integer of any width and signedness without loss.
    template <std::integral T>
    requires(!std::same_as<T, bool>) FormatArgument(T value) {
        static_assert(sizeof(T) <= sizeof(std::int64_t), "wider integers are not supported");
        if constexpr (std::is_signed_v<T>) {
            value_ = static_cast<std::int64_t>(value);
        } else {
            value_ = static_cast<std::uint64_t>(value);
        }
    }
    // Keeps a floating-point number as a double.
    template <std::floating_point T>
    FormatArgument(T value) : value_(static_cast<double>(value)) {}

    // The value as kept.
    const Value& value() const { return value_; }

  private:
    Value value_;
};

// Formats the arguments into the format string. Never reads past the arguments: a missing
// argument prints "(null)", an argument of another type than the conversion expects prints
// as what it is, an unknown conversion and a lone trailing '%' are copied literally, and
// "{...}" qualifiers such as "{public}" after the '%' are dropped.
std::string formatString(std::string_view format, std::span<const FormatArgument> arguments);

// Formats the given values into the format string, as formatString does.
template <typename... Args>
std::string formatMessage(std::string_view format, const Args&... args) {
    const std::array<FormatArgument, sizeof...(Args)> arguments{FormatArgument(args)...};
    return formatString(format, arguments);
}

}  // namespace pelkora
