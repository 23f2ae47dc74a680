#pragma once

// A small value-or-error type for expected failures.
//
// std::expected is C++23 and not usable with every compiler we build with (the
// fuzzing build uses clang 14), so the modules return this instead. An error
// type is normally an enumeration or a small struct carrying the user-facing text.

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace pelkora {

template <typename E>
class Unexpected {
  public:
    explicit Unexpected(E error) : error_(std::move(error)) {}
    E& error() & { return error_; }
    E&& error() && { return std::move(error_); }

  private:
    E error_;
};

template <typename E>
Unexpected(E) -> Unexpected<E>;

template <typename T, typename E>
class [[nodiscard]] Expected {
  public:
    using value_type = T;
    using error_type = E;

    template <typename U = T>
    requires std::is_constructible_v<T, U&&> Expected(U&& value)
        : storage_(std::in_place_index<0>, std::forward<U>(value)) {}
    template <typename G>
    Expected(Unexpected<G> error) : storage_(std::in_place_index<1>, std::move(error).error()) {}

    bool has_value() const { return storage_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & {
        assert(has_value());
        return std::get<0>(storage_);
    }
    const T& value() const& {
        assert(has_value());
        return std::get<0>(storage_);
    }
    T&& value() && {
        assert(has_value());
        return std::get<0>(std::move(storage_));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const E& error() const {
        assert(!has_value());
        return std::get<1>(storage_);
    }

    template <typename U>
    T value_or(U&& fallback) const& {
        return has_value() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

  private:
    std::variant<T, E> storage_;
};

template <typename E>
class [[nodiscard]] Expected<void, E> {
  public:
    using value_type = void;
    using error_type = E;

    Expected() = default;
    template <typename G>
    Expected(Unexpected<G> error) : error_(std::move(error).error()), failed_(true) {}

    bool has_value() const { return !failed_; }
    explicit operator bool() const { return has_value(); }
    const E& error() const {
        assert(failed_);
        return error_;
    }

  private:
    E error_{};
    bool failed_ = false;
};

}  // namespace pelkora
