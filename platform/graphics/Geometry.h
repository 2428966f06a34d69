// Points, sizes, rectangles, edge insets and affine transforms, in points (not pixels).
#pragma once

#include <cmath>
#include <limits>
#include <string>

#include "platform/Value.h"

namespace platform {

struct Point {
    double x = 0;
    double y = 0;

    constexpr Point() = default;
    constexpr Point(double px, double py) : x(px), y(py) {}

    constexpr Point operator+(Point o) const { return {x + o.x, y + o.y}; }
    constexpr Point operator-(Point o) const { return {x - o.x, y - o.y}; }
    constexpr bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;

    constexpr Size() = default;
    constexpr Size(double w, double h) : width(w), height(h) {}

    constexpr bool operator==(const Size&) const = default;
};

// A rectangle is its origin and size; the size may be negative, and the accessors below read
// it the standardised way. The null rectangle (origin at infinity) stands for "no rectangle".
struct Rect {
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(Point o, Size s) : origin(o), size(s) {}
    constexpr Rect(double x, double y, double w, double h) : origin(x, y), size(w, h) {}

    static constexpr Rect null() {
        return {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(), 0,
                0};
    }
    static constexpr Rect zero() { return {}; }

    bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }
    // Empty: null, or no area.
    bool isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }

    double width() const { return std::fabs(size.width); }
    double height() const { return std::fabs(size.height); }
    double minX() const { return size.width < 0 ? origin.x + size.width : origin.x; }
    double minY() const { return size.height < 0 ? origin.y + size.height : origin.y; }
    double maxX() const { return minX() + width(); }
    double maxY() const { return minY() + height(); }
    double midX() const { return minX() + width() / 2; }
    double midY() const { return minY() + height() / 2; }
    Point center() const { return {midX(), midY()}; }

    Rect standardized() const { return {minX(), minY(), width(), height()}; }
    // The smallest rectangle of whole numbers that holds this one.
    Rect integral() const;
    Rect offsetBy(double dx, double dy) const {
        return {origin.x + dx, origin.y + dy, size.width, size.height};
    }
    Rect insetBy(double dx, double dy) const;
    Rect intersection(const Rect& other) const;  // null when they do not meet
    Rect unionWith(const Rect& other) const;
    bool intersects(const Rect& other) const { return !intersection(other).isEmpty(); }
    // Half-open on the far edges, as hit-testing expects.
    bool contains(Point p) const {
        return !isNull() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }

    bool operator==(const Rect& other) const {
        return origin == other.origin && size == other.size;
    }

    std::string description() const;  // "{{x, y}, {w, h}}"
};

struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    constexpr bool operator==(const EdgeInsets&) const = default;
    Rect apply(const Rect& r) const {
        return {r.origin.x + left, r.origin.y + top, r.size.width - left - right,
                r.size.height - top - bottom};
    }
};

// The 2-D affine transform [a b 0; c d 0; tx ty 1] acting on row vectors: x' = a x + c y + tx.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static constexpr AffineTransform identity() { return {}; }
    static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    static AffineTransform rotation(double radians);
    static AffineTransform translation(double dx, double dy) { return {1, 0, 0, 1, dx, dy}; }

    bool isIdentity() const { return *this == identity(); }
    // This transform followed by `then`.
    AffineTransform concat(const AffineTransform& then) const;
    AffineTransform scaled(double sx, double sy) const { return scale(sx, sy).concat(*this); }
    AffineTransform rotated(double radians) const { return rotation(radians).concat(*this); }
    AffineTransform inverted() const;  // itself when not invertible

    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    Rect apply(const Rect& r) const;  // bounding box of the transformed corners

    constexpr bool operator==(const AffineTransform&) const = default;
};

// Rectangles and points travel in notification user information as maps of numbers.
Value toValue(const Rect& r);
Value toValue(Point p);
Rect rectFromValue(const Value& v);  // zero for anything that is not such a map
Point pointFromValue(const Value& v);

}  // namespace platform
