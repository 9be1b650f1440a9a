// The outcome of a numerical routine: a value, or a failure that carries one
// static message text.
//
// Failures travel as values, never as exceptions: a routine that meets one
// returns it, and every caller that receives one returns it unchanged at once.
// The text is a compile-time constant (a string literal) that lives for the
// whole run; it is never formatted, allocated or freed, and its byte length
// travels with it.
#pragma once

#include <string_view>
#include <utility>

namespace lumevaro {

struct Failure {
    std::string_view message;
};

template <class T>
class [[nodiscard]] Outcome {
public:
    Outcome(T value) : value_(std::move(value)) {}
    Outcome(Failure failure) : message_(failure.message) {}

    // True when the outcome holds a value.
    explicit operator bool() const noexcept { return message_.data() == nullptr; }

    const T& value() const& noexcept { return value_; }
    T& value() & noexcept { return value_; }
    T&& value() && noexcept { return std::move(value_); }
    const T& operator*() const& noexcept { return value_; }

    Failure failure() const noexcept { return Failure{message_}; }
    std::string_view message() const noexcept { return message_; }

private:
    T value_{};
    std::string_view message_{};
};

using Real = Outcome<double>;

}  // namespace lumevaro
