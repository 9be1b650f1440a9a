// An internal failure: a consistency check in model code that does not hold
// (for instance a brightness table whose radii and brightnesses differ in
// length). It unwinds to the Python call frame, which alone catches it and
// raises it as PanicException. Numerical failures never take this road: they
// travel as Outcome values.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace lumevaro {

class InternalFailure : public std::exception {
public:
    explicit InternalFailure(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

}  // namespace lumevaro
