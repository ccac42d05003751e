#include "platform/appkit/Path.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarpelix::platform {

namespace {

// Control-point distance of a cubic that approximates a quarter circle of radius 1.
constexpr double kappa = 0.5522847498307936;

double distance(Point a, Point b) { return std::hypot(b.x - a.x, b.y - a.y); }

Point lerp(Point a, Point b, double t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; }

Point cubic(Point p0, Point p1, Point p2, Point p3, double t) {
    const double u = 1 - t;
    return {u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
            u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y};
}

} // namespace

Path Path::rect(const Rect& r) {
    Path p;
    p.moveTo({r.minX(), r.minY()});
    p.lineTo({r.maxX(), r.minY()});
    p.lineTo({r.maxX(), r.maxY()});
    p.lineTo({r.minX(), r.maxY()});
    p.close();
    return p;
}

Path Path::roundedRect(const Rect& r, double xRadius, double yRadius) {
    const double rx = std::clamp(xRadius, 0.0, r.width() / 2);
    const double ry = std::clamp(yRadius, 0.0, r.height() / 2);
    if (rx <= 0 || ry <= 0) return rect(r);
    const double x0 = r.minX(), x1 = r.maxX(), y0 = r.minY(), y1 = r.maxY();
    const double kx = rx * kappa, ky = ry * kappa;
    Path p;
    p.moveTo({x0 + rx, y0});
    p.lineTo({x1 - rx, y0});
    p.curveTo({x1, y0 + ry}, {x1 - rx + kx, y0}, {x1, y0 + ry - ky});
    p.lineTo({x1, y1 - ry});
    p.curveTo({x1 - rx, y1}, {x1, y1 - ry + ky}, {x1 - rx + kx, y1});
    p.lineTo({x0 + rx, y1});
    p.curveTo({x0, y1 - ry}, {x0 + rx - kx, y1}, {x0, y1 - ry + ky});
    p.lineTo({x0, y0 + ry});
    p.curveTo({x0 + rx, y0}, {x0, y0 + ry - ky}, {x0 + rx - kx, y0});
    p.close();
    return p;
}

Path Path::oval(const Rect& r) {
    const double cx = r.midX(), cy = r.midY(), rx = r.width() / 2, ry = r.height() / 2;
    const double kx = rx * kappa, ky = ry * kappa;
    Path p;
    p.moveTo({cx + rx, cy});
    p.curveTo({cx, cy + ry}, {cx + rx, cy + ky}, {cx + kx, cy + ry});
    p.curveTo({cx - rx, cy}, {cx - kx, cy + ry}, {cx - rx, cy + ky});
    p.curveTo({cx, cy - ry}, {cx - rx, cy - ky}, {cx - kx, cy - ry});
    p.curveTo({cx + rx, cy}, {cx + kx, cy - ry}, {cx + rx, cy - ky});
    p.close();
    return p;
}

Path Path::line(Point from, Point to) {
    Path p;
    p.moveTo(from);
    p.lineTo(to);
    return p;
}

void Path::moveTo(Point point) {
    elements_.push_back({ElementType::moveTo, {point}});
    hasCurrentPoint_ = true;
    subpathStart_ = current_ = point;
}

void Path::lineTo(Point point) {
    if (!hasCurrentPoint_) return moveTo(point);
    elements_.push_back({ElementType::lineTo, {point}});
    current_ = point;
}

void Path::curveTo(Point end, Point control1, Point control2) {
    if (!hasCurrentPoint_) moveTo(control1);
    elements_.push_back({ElementType::curveTo, {control1, control2, end}});
    current_ = end;
}

void Path::close() {
    if (!hasCurrentPoint_) return;
    elements_.push_back({ElementType::closePath, {}});
    current_ = subpathStart_;
}

void Path::arc(Point center, double radius, double startDegrees, double endDegrees, bool clockwise) {
    double sweep = endDegrees - startDegrees;
    if (clockwise) {
        while (sweep > 0) sweep -= 360;
    } else {
        while (sweep < 0) sweep += 360;
    }
    const double start = startDegrees * std::numbers::pi / 180;
    const double total = sweep * std::numbers::pi / 180;
    const Point first{center.x + radius * std::cos(start), center.y + radius * std::sin(start)};
    if (hasCurrentPoint_) {
        lineTo(first);
    } else {
        moveTo(first);
    }
    // Cubic pieces of at most a quarter turn each.
    const int pieces = std::max(1, int(std::ceil(std::abs(total) / (std::numbers::pi / 2) - 1e-9)));
    const double step = total / pieces;
    const double k = 4.0 / 3.0 * std::tan(step / 4) * radius;
    for (int i = 0; i < pieces; ++i) {
        const double a0 = start + step * i, a1 = a0 + step;
        const Point p0{center.x + radius * std::cos(a0), center.y + radius * std::sin(a0)};
        const Point p1{center.x + radius * std::cos(a1), center.y + radius * std::sin(a1)};
        curveTo(p1, {p0.x - k * std::sin(a0), p0.y + k * std::cos(a0)},
                {p1.x + k * std::sin(a1), p1.y - k * std::cos(a1)});
    }
}

void Path::append(const Path& other) {
    for (const auto& e : other.elements_) {
        switch (e.type) {
        case ElementType::moveTo: moveTo(e.points[0]); break;
        case ElementType::lineTo: lineTo(e.points[0]); break;
        case ElementType::curveTo: curveTo(e.points[2], e.points[0], e.points[1]); break;
        case ElementType::closePath: close(); break;
        }
    }
}

Rect Path::bounds() const {
    bool any = false;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (const auto& e : elements_) {
        const int count = e.type == ElementType::curveTo ? 3 : e.type == ElementType::closePath ? 0 : 1;
        for (int i = 0; i < count; ++i) {
            const Point p = e.points[std::size_t(i)];
            if (!any) {
                x0 = x1 = p.x;
                y0 = y1 = p.y;
                any = true;
            }
            x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
        }
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

Path Path::transformed(const AffineTransform& t) const {
    Path p = *this;
    for (auto& e : p.elements_) {
        for (auto& point : e.points) point = t.apply(point);
    }
    p.subpathStart_ = t.apply(subpathStart_);
    p.current_ = t.apply(current_);
    return p;
}

std::vector<Path::Polyline> Path::flattened(double tolerance) const {
    std::vector<Polyline> lines;
    Point current;
    for (const auto& e : elements_) {
        switch (e.type) {
        case ElementType::moveTo:
            lines.push_back({{e.points[0]}, false});
            current = e.points[0];
            break;
        case ElementType::lineTo:
            lines.back().points.push_back(e.points[0]);
            current = e.points[0];
            break;
        case ElementType::curveTo: {
            const double hull = distance(current, e.points[0]) + distance(e.points[0], e.points[1]) +
                                distance(e.points[1], e.points[2]);
            const int steps = std::clamp(int(std::ceil(std::sqrt(hull / std::max(tolerance, 1e-3)))), 1, 256);
            for (int i = 1; i <= steps; ++i) {
                lines.back().points.push_back(cubic(current, e.points[0], e.points[1], e.points[2], double(i) / steps));
            }
            current = e.points[2];
            break;
        }
        case ElementType::closePath:
            lines.back().closed = true;
            current = lines.back().points.front();
            break;
        }
    }
    return lines;
}

double Path::length() const {
    double total = 0;
    for (const auto& line : flattened()) {
        for (std::size_t i = 1; i < line.points.size(); ++i) total += distance(line.points[i - 1], line.points[i]);
        if (line.closed && line.points.size() > 1) total += distance(line.points.back(), line.points.front());
    }
    return total;
}

Path Path::trimmed(double start, double end) const {
    start = std::clamp(start, 0.0, 1.0);
    end = std::clamp(end, 0.0, 1.0);
    if (start <= 0 && end >= 1) return *this;
    Path result;
    const double total = length();
    if (end <= start || total <= 0) return result;
    const double from = start * total, to = end * total;
    double walked = 0;
    for (auto line : flattened()) {
        if (line.closed && line.points.size() > 1) line.points.push_back(line.points.front());
        bool drawing = false;
        for (std::size_t i = 1; i < line.points.size(); ++i) {
            const Point a = line.points[i - 1], b = line.points[i];
            const double d = distance(a, b);
            const double s0 = walked, s1 = walked + d;
            walked = s1;
            if (s1 <= from || s0 >= to || d == 0) continue;
            const Point p0 = s0 < from ? lerp(a, b, (from - s0) / d) : a;
            const Point p1 = s1 > to ? lerp(a, b, (to - s0) / d) : b;
            if (!drawing) result.moveTo(p0);
            drawing = true;
            result.lineTo(p1);
        }
    }
    return result;
}

} // namespace tarpelix::platform
