// The outcome of a model routine over a list of separations l: the
// magnifications, or the first elliptic failure met together with the
// separation it was met at, l[index].
//
// It is an Outcome of the magnifications (the same test for success, value and
// static message), and more: a failure cannot be made without its index, so
// every failing path of a list loop says where it stopped.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "elliptic/outcome.hpp"

namespace lumevaro {

// An elliptic failure met at l[index] = separation.
struct SeparationFailure {
    Failure failure;
    std::size_t index;
    double separation;
};

class [[nodiscard]] ListOutcome : public Outcome<std::vector<double>> {
public:
    ListOutcome(std::vector<double> values) : Outcome<std::vector<double>>(std::move(values)) {}
    ListOutcome(SeparationFailure failure)
        : Outcome<std::vector<double>>(failure.failure),
          index_(failure.index),
          separation_(failure.separation) {}

    // The failure with its place; meaningful only when the outcome failed.
    SeparationFailure separation_failure() const noexcept {
        return SeparationFailure{failure(), index_, separation_};
    }

private:
    std::size_t index_ = 0;
    double separation_ = 0.0;
};

}  // namespace lumevaro
