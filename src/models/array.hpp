// Real arrays of any shape: the separations and times the array functions
// take, and the values and derivatives they return.
//
// An Array holds its values in C order (the last index varies fastest) with
// its shape; a 0-d array holds one value. The models read and write the
// values as one flat sequence; the shape only says how the caller sees them,
// and names an element in a message the way numpy indexes it: l[2, 5].
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumevaro {

using Shape = std::vector<std::size_t>;

// The number of elements of an array of this shape (1 for a 0-d array).
std::size_t element_count(const Shape& shape) noexcept;

// "(3, 4)", "(5,)", "()": a shape as Python writes a tuple.
std::string shape_text(const Shape& shape);

// The element at flat position `position` of an array named `name` of this
// shape, as numpy indexes it: "l[2, 5]" (2-d), "l[7]" (1-d), "l" (0-d).
std::string element_name(std::string_view name, const Shape& shape, std::size_t position);

// {n, shape...}: n arrays of this shape stacked along a new leading axis.
Shape stacked(std::size_t n, const Shape& shape);

// The shape that shapes broadcast to, as numpy broadcasts them (aligned at
// their last axes, each extent the result's or 1), or nothing when they do
// not.
std::optional<Shape> broadcast_shapes(std::span<const Shape> shapes);

// The elements of a broadcast shape in C order, with each operand's flat
// position at the current one: for (walk; ...; walk.next()) walk.at(k).
class BroadcastWalk {
public:
    BroadcastWalk(const Shape& result, std::span<const Shape> operands);
    std::size_t at(std::size_t operand) const noexcept { return positions_[operand]; }
    void next() noexcept;

private:
    Shape extents_;
    std::vector<std::size_t> counter_;
    // strides_[operand · axes + axis]: the operand's step along the result's
    // axis (0 where it is broadcast).
    std::vector<std::size_t> strides_;
    std::vector<std::size_t> positions_;
};

class Array {
public:
    // An empty one-dimensional array.
    Array() : shape_{0} {}
    // Zeros of this shape.
    explicit Array(Shape shape) : shape_(std::move(shape)), values_(element_count(shape_)) {}
    // The values, in C order, of an array of this shape (as many as it holds).
    Array(Shape shape, std::vector<double> values) : shape_(std::move(shape)), values_(std::move(values)) {}
    // A one-dimensional array of these values.
    Array(std::vector<double> values) : shape_{values.size()}, values_(std::move(values)) {}
    Array(std::initializer_list<double> values) : shape_{values.size()}, values_(values) {}

    const Shape& shape() const noexcept { return shape_; }
    std::size_t ndim() const noexcept { return shape_.size(); }
    std::size_t size() const noexcept { return values_.size(); }
    bool empty() const noexcept { return values_.empty(); }

    double* data() noexcept { return values_.data(); }
    const double* data() const noexcept { return values_.data(); }
    double& operator[](std::size_t i) noexcept { return values_[i]; }
    double operator[](std::size_t i) const noexcept { return values_[i]; }
    double* begin() noexcept { return values_.data(); }
    double* end() noexcept { return values_.data() + values_.size(); }
    const double* begin() const noexcept { return values_.data(); }
    const double* end() const noexcept { return values_.data() + values_.size(); }

    // The k-th sub-array along the leading axis, as flat values.
    std::span<double> slice(std::size_t k) noexcept;
    std::span<const double> slice(std::size_t k) const noexcept;

    const std::vector<double>& values() const noexcept { return values_; }
    // The k-th sub-array along the leading axis, as a vector of its values.
    std::vector<double> row(std::size_t k) const {
        const std::span<const double> values = slice(k);
        return std::vector<double>(values.begin(), values.end());
    }

    friend bool operator==(const Array&, const Array&) = default;

    // The values, leaving the array empty.
    std::vector<double> take_values() && noexcept { return std::move(values_); }

private:
    Shape shape_;
    std::vector<double> values_;
};

}  // namespace lumevaro
