#pragma once

#include <algorithm>
#include <cmath>

namespace tarpelix::platform {

// Plane geometry in points, y growing upwards (the origin of a rectangle is its lower-left corner).

struct Point {
    double x = 0;
    double y = 0;

    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;

    bool operator==(const Size&) const = default;
};

struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    bool operator==(const EdgeInsets&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(Point o, Size s) : origin(o), size(s) {}
    constexpr Rect(double x, double y, double width, double height) : origin{x, y}, size{width, height} {}

    bool operator==(const Rect&) const = default;

    // A rectangle with a negative width or height is read as its normalized equivalent.
    constexpr double minX() const { return std::min(origin.x, origin.x + size.width); }
    constexpr double maxX() const { return std::max(origin.x, origin.x + size.width); }
    constexpr double midX() const { return origin.x + size.width / 2; }
    constexpr double minY() const { return std::min(origin.y, origin.y + size.height); }
    constexpr double maxY() const { return std::max(origin.y, origin.y + size.height); }
    constexpr double midY() const { return origin.y + size.height / 2; }
    constexpr double width() const { return size.width < 0 ? -size.width : size.width; }
    constexpr double height() const { return size.height < 0 ? -size.height : size.height; }
    constexpr Point center() const { return {midX(), midY()}; }

    constexpr bool isEmpty() const { return size.width <= 0 || size.height <= 0; }

    constexpr Rect standardized() const { return {minX(), minY(), width(), height()}; }

    // Shrinks by dx on the left and right and dy at the bottom and top (grows when negative).
    constexpr Rect insetBy(double dx, double dy) const {
        const Rect r = standardized();
        return {r.origin.x + dx, r.origin.y + dy, r.size.width - 2 * dx, r.size.height - 2 * dy};
    }

    constexpr Rect insetBy(const EdgeInsets& insets) const {
        const Rect r = standardized();
        return {r.origin.x + insets.left, r.origin.y + insets.bottom,
                r.size.width - insets.left - insets.right, r.size.height - insets.top - insets.bottom};
    }

    constexpr Rect offsetBy(double dx, double dy) const {
        return {origin.x + dx, origin.y + dy, size.width, size.height};
    }

    // A point on the max edges is outside, as for half-open pixel ranges.
    constexpr bool contains(Point p) const {
        return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }

    constexpr bool contains(const Rect& other) const {
        return !isEmpty() && !other.isEmpty() && other.minX() >= minX() && other.maxX() <= maxX() &&
               other.minY() >= minY() && other.maxY() <= maxY();
    }

    // True when the rectangles share an area (touching edges do not count).
    constexpr bool intersects(const Rect& other) const {
        return !isEmpty() && !other.isEmpty() && minX() < other.maxX() && other.minX() < maxX() &&
               minY() < other.maxY() && other.minY() < maxY();
    }

    // The shared area, or an empty rectangle at the origin when there is none.
    constexpr Rect intersection(const Rect& other) const {
        if (!intersects(other)) return {};
        const double x0 = std::max(minX(), other.minX());
        const double y0 = std::max(minY(), other.minY());
        return {x0, y0, std::min(maxX(), other.maxX()) - x0, std::min(maxY(), other.maxY()) - y0};
    }

    // The smallest rectangle holding both; an empty rectangle adds nothing.
    constexpr Rect unionWith(const Rect& other) const {
        if (isEmpty()) return other.standardized();
        if (other.isEmpty()) return standardized();
        const double x0 = std::min(minX(), other.minX());
        const double y0 = std::min(minY(), other.minY());
        return {x0, y0, std::max(maxX(), other.maxX()) - x0, std::max(maxY(), other.maxY()) - y0};
    }

    // The smallest rectangle with whole-number edges that holds this one.
    Rect integral() const {
        if (isEmpty()) return {};
        const double x0 = std::floor(minX());
        const double y0 = std::floor(minY());
        return {x0, y0, std::ceil(maxX()) - x0, std::ceil(maxY()) - y0};
    }
};

// An affine map  x' = a x + c y + tx,  y' = b x + d y + ty.
struct AffineTransform {
    double a = 1;
    double b = 0;
    double c = 0;
    double d = 1;
    double tx = 0;
    double ty = 0;

    bool operator==(const AffineTransform&) const = default;

    static constexpr AffineTransform identity() { return {}; }
    static constexpr AffineTransform translation(double dx, double dy) { return {1, 0, 0, 1, dx, dy}; }
    static constexpr AffineTransform scaling(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    // Counter-clockwise by `radians` (y up).
    static AffineTransform rotation(double radians) {
        const double cs = std::cos(radians);
        const double sn = std::sin(radians);
        return {cs, sn, -sn, cs, 0, 0};
    }

    constexpr bool isIdentity() const { return *this == AffineTransform{}; }

    // `concat(other)` applies this transform first, then `other`.
    constexpr AffineTransform concat(const AffineTransform& t) const {
        return {a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
                c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
    }

    // These apply the given step before this transform, as a drawing context's CTM does:
    // later-added steps act on coordinates first.
    constexpr AffineTransform translatedBy(double dx, double dy) const {
        return translation(dx, dy).concat(*this);
    }
    constexpr AffineTransform scaledBy(double sx, double sy) const { return scaling(sx, sy).concat(*this); }
    AffineTransform rotatedBy(double radians) const { return rotation(radians).concat(*this); }

    constexpr Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    constexpr Size apply(Size s) const { return {a * s.width + c * s.height, b * s.width + d * s.height}; }

    // The inverse map; a singular transform has none and gives the identity.
    constexpr AffineTransform inverted() const {
        const double det = a * d - b * c;
        if (det == 0) return {};
        return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
    }
};

} // namespace tarpelix::platform
