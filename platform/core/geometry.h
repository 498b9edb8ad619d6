// Small geometry values in 64-bit floats. Canvas space is y-up with the origin bottom-left
// unless a caller says otherwise.
#pragma once

#include <algorithm>
#include <cmath>

namespace qv {

struct Point {
    double x = 0, y = 0;
    friend constexpr bool operator==(const Point &, const Point &) = default;
};

struct Size {
    double width = 0, height = 0;
    friend constexpr bool operator==(const Size &, const Size &) = default;
};

struct Rect {
    double x = 0, y = 0, width = 0, height = 0;

    constexpr double minX() const noexcept { return x; }
    constexpr double minY() const noexcept { return y; }
    constexpr double maxX() const noexcept { return x + width; }
    constexpr double maxY() const noexcept { return y + height; }
    constexpr double midX() const noexcept { return x + width / 2; }
    constexpr double midY() const noexcept { return y + height / 2; }
    constexpr Point origin() const noexcept { return {x, y}; }
    constexpr Size size() const noexcept { return {width, height}; }
    constexpr bool isEmpty() const noexcept { return !(width > 0) || !(height > 0); }

    // Shrinks by d on every side; a rectangle that would turn inside out becomes empty at its
    // centre rather than getting a negative size.
    constexpr Rect insetBy(double dx, double dy) const noexcept {
        double w = width - 2 * dx, h = height - 2 * dy;
        if (!(w >= 0) || !(h >= 0)) return {midX(), midY(), 0, 0};
        return {x + dx, y + dy, w, h};
    }
    // Smallest rectangle on whole pixels that contains this one.
    Rect integral() const noexcept {
        double x0 = std::floor(x), y0 = std::floor(y);
        return {x0, y0, std::ceil(maxX()) - x0, std::ceil(maxY()) - y0};
    }

    friend constexpr bool operator==(const Rect &, const Rect &) = default;
};

} // namespace qv
