#include "models/array.hpp"

#include <algorithm>

namespace lumevaro {

std::size_t element_count(const Shape& shape) noexcept {
    std::size_t count = 1;
    for (const std::size_t extent : shape) count *= extent;
    return count;
}

std::string shape_text(const Shape& shape) {
    std::string text = "(";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(shape[i]);
    }
    if (shape.size() == 1) text += ",";
    return text + ")";
}

std::string element_name(std::string_view name, const Shape& shape, std::size_t position) {
    std::string text(name);
    if (shape.empty()) return text;
    // The multi-index of a flat C-order position, last axis first.
    std::vector<std::size_t> index(shape.size());
    for (std::size_t axis = shape.size(); axis-- > 0;) {
        const std::size_t extent = shape[axis] == 0 ? 1 : shape[axis];
        index[axis] = position % extent;
        position /= extent;
    }
    text += "[";
    for (std::size_t axis = 0; axis < index.size(); ++axis) {
        if (axis > 0) text += ", ";
        text += std::to_string(index[axis]);
    }
    return text + "]";
}

Shape stacked(std::size_t n, const Shape& shape) {
    Shape result;
    result.reserve(shape.size() + 1);
    result.push_back(n);
    result.insert(result.end(), shape.begin(), shape.end());
    return result;
}

std::optional<Shape> broadcast_shapes(std::span<const Shape> shapes) {
    std::size_t axes = 0;
    for (const Shape& shape : shapes) axes = std::max(axes, shape.size());
    Shape result(axes, 1);
    for (const Shape& shape : shapes) {
        const std::size_t offset = axes - shape.size();
        for (std::size_t axis = 0; axis < shape.size(); ++axis) {
            std::size_t& extent = result[offset + axis];
            if (shape[axis] == extent || shape[axis] == 1) continue;
            if (extent != 1) return std::nullopt;
            extent = shape[axis];
        }
    }
    return result;
}

BroadcastWalk::BroadcastWalk(const Shape& result, std::span<const Shape> operands)
    : extents_(result), counter_(result.size(), 0), strides_(operands.size() * result.size(), 0),
      positions_(operands.size(), 0) {
    const std::size_t axes = result.size();
    for (std::size_t k = 0; k < operands.size(); ++k) {
        const Shape& shape = operands[k];
        const std::size_t offset = axes - shape.size();
        std::size_t stride = 1;
        for (std::size_t axis = shape.size(); axis-- > 0;) {
            if (shape[axis] != 1) strides_[k * axes + offset + axis] = stride;
            stride *= shape[axis];
        }
    }
}

void BroadcastWalk::next() noexcept {
    const std::size_t axes = extents_.size();
    for (std::size_t axis = axes; axis-- > 0;) {
        if (++counter_[axis] < extents_[axis]) {
            for (std::size_t k = 0; k < positions_.size(); ++k) positions_[k] += strides_[k * axes + axis];
            return;
        }
        // Back to the start of this axis, then carry into the one before.
        for (std::size_t k = 0; k < positions_.size(); ++k) {
            positions_[k] -= (extents_[axis] - 1) * strides_[k * axes + axis];
        }
        counter_[axis] = 0;
    }
}

std::span<double> Array::slice(std::size_t k) noexcept {
    const std::size_t stride = shape_.empty() || shape_[0] == 0 ? 0 : values_.size() / shape_[0];
    return std::span<double>(values_.data() + k * stride, stride);
}

std::span<const double> Array::slice(std::size_t k) const noexcept {
    const std::size_t stride = shape_.empty() || shape_[0] == 0 ? 0 : values_.size() / shape_[0];
    return std::span<const double>(values_.data() + k * stride, stride);
}

}  // namespace lumevaro
