// The result of a model function that validates its arguments: its value, or
// the message of the ValueError that names the argument at fault.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace lumevaro {

struct InvalidArgument {
    std::string message;
};

template <class T>
class [[nodiscard]] Checked {
public:
    Checked(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Checked(InvalidArgument invalid) : state_(std::in_place_index<1>, std::move(invalid)) {}

    explicit operator bool() const noexcept { return state_.index() == 0; }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const std::string& message() const { return std::get<1>(state_).message; }

private:
    std::variant<T, InvalidArgument> state_;
};

}  // namespace lumevaro
