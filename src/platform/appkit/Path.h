#pragma once

#include "platform/foundation/Geometry.h"

#include <array>
#include <vector>

namespace tarpelix::platform {

// A vector path of straight lines and cubic curves, in points with y up.
class Path {
public:
    enum class ElementType { moveTo, lineTo, curveTo, closePath };
    // curveTo: points[0] and [1] are the control points, [2] the end point.
    struct Element {
        ElementType type = ElementType::moveTo;
        std::array<Point, 3> points{};
        bool operator==(const Element&) const = default;
    };
    // A subpath flattened to straight segments.
    struct Polyline {
        std::vector<Point> points;
        bool closed = false;
    };

    static Path rect(const Rect& rect);
    static Path roundedRect(const Rect& rect, double xRadius, double yRadius);
    static Path oval(const Rect& rect);
    static Path line(Point from, Point to);

    void moveTo(Point point);
    void lineTo(Point point);
    void curveTo(Point end, Point control1, Point control2);
    void close();
    // A circular arc counter-clockwise (y up) from startDegrees to endDegrees, or clockwise.
    // Joined by a line from the current point, or starting a subpath when there is none.
    void arc(Point center, double radius, double startDegrees, double endDegrees, bool clockwise = false);
    void append(const Path& other);

    const std::vector<Element>& elements() const { return elements_; }
    bool isEmpty() const { return elements_.empty(); }
    // The smallest rectangle holding every point and control point.
    Rect bounds() const;
    Path transformed(const AffineTransform& transform) const;

    std::vector<Polyline> flattened(double tolerance = 0.05) const;
    double length() const;
    // The part of the path between two fractions of its length (0...1), as a stroke with a
    // start and an end draws it.
    Path trimmed(double start, double end) const;

    bool operator==(const Path&) const = default;

private:
    std::vector<Element> elements_;
    bool hasCurrentPoint_ = false;
    Point subpathStart_;
    Point current_;
};

} // namespace tarpelix::platform
