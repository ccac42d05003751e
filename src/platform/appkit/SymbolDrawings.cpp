#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Symbols.h"

#include <cmath>
#include <initializer_list>
#include <map>
#include <numbers>

// Our own line drawings of the symbols the windows show, in a 24 × 24 box with y up.
namespace tarpelix::platform::symbols {

namespace {

using G = GraphicsContext;

void stroke(G& g, const Pen& pen, const Path& path) {
    g.setLineWidth(pen.lineWidth);
    g.setLineCap(LineCap::round);
    g.setLineJoin(LineJoin::round);
    g.stroke(path, pen.color);
}

void fill(G& g, const Pen& pen, const Path& path) { g.fill(path, pen.color); }

Path poly(std::initializer_list<Point> points, bool closed = false) {
    Path p;
    for (Point point : points) p.lineTo(point);
    if (closed) p.close();
    return p;
}

Path rr(double x, double y, double w, double h, double r) { return Path::roundedRect({x, y, w, h}, r, r); }
Path circle(double cx, double cy, double r) { return Path::oval({cx - r, cy - r, 2 * r, 2 * r}); }
void line(G& g, const Pen& pen, double x0, double y0, double x1, double y1) {
    stroke(g, pen, Path::line({x0, y0}, {x1, y1}));
}
// A round dot that grows with the weight, for the points of "!" and "?" and key caps.
void dot(G& g, const Pen& pen, double cx, double cy) { fill(g, pen, circle(cx, cy, pen.lineWidth * 0.72)); }

// Two strokes meeting at `tip`, opening backwards from `degrees` (the direction it points).
void arrowHead(G& g, const Pen& pen, Point tip, double degrees, double length = 4.5) {
    const double a = degrees * std::numbers::pi / 180;
    auto wing = [&](double turn) {
        const double b = a + std::numbers::pi + turn;
        return Point{tip.x + length * std::cos(b), tip.y + length * std::sin(b)};
    };
    stroke(g, pen, poly({wing(0.7), tip, wing(-0.7)}));
}

Point onCircle(Point c, double r, double degrees) {
    const double a = degrees * std::numbers::pi / 180;
    return {c.x + r * std::cos(a), c.y + r * std::sin(a)};
}

void ring(G& g, const Pen& p) { stroke(g, p, circle(12, 12, 9.5)); }

void grid2x2(G& g, const Pen& p) {
    for (double x : {3.0, 13.0}) {
        for (double y : {3.0, 13.0}) stroke(g, p, rr(x, y, 8, 8, 2));
    }
}

void keyboard(G& g, const Pen& p) {
    stroke(g, p, rr(2, 5.5, 20, 13, 2.5));
    for (double y : {14.5, 11.5}) {
        for (double x : {5.5, 9.2, 12.9, 16.6}) dot(g, p, x + 0.9, y);
    }
    line(g, p, 8, 8.5, 16, 8.5);
}

void calendarBody(G& g, const Pen& p, double right) {
    stroke(g, p, rr(3, 3, right - 3, 16.5, 2.5));
    line(g, p, 3, 14.5, right, 14.5);
    line(g, p, 7.5, 17.5, 7.5, 21.5);
    line(g, p, right - 4.5, 17.5, right - 4.5, 21.5);
}

void calendar(G& g, const Pen& p) {
    calendarBody(g, p, 21);
    for (double y : {10.8, 6.8}) {
        for (double x : {7.5, 12.0, 16.5}) dot(g, p, x, y);
    }
}

void calendarBadgeCheckmark(G& g, const Pen& p) {
    calendarBody(g, p, 17);
    dot(g, p, 7, 10.5);
    dot(g, p, 11, 10.5);
    stroke(g, p, circle(17.5, 6.5, 5));
    stroke(g, p, poly({{15.2, 6.7}, {16.9, 5}, {19.8, 8.2}}));
}

void clockArrowCirclepath(G& g, const Pen& p) {
    Path arc;
    arc.arc({12, 12}, 9, 135, 75);
    stroke(g, p, arc);
    arrowHead(g, p, onCircle({12, 12}, 9, 135), 45, 4);
    stroke(g, p, poly({{12, 17}, {12, 12}, {15.5, 10}}));
}

void document(G& g, const Pen& p, double bottom) {
    stroke(g, p, poly({{18, 12}, {18, 17}, {13, 22}, {4, 22}, {4, bottom}, {10, bottom}}));
    stroke(g, p, poly({{13, 22}, {13, 17}, {18, 17}}));
}

void docTextMagnifyingglass(G& g, const Pen& p) {
    document(g, p, 2);
    line(g, p, 7.5, 17, 9.5, 17);
    line(g, p, 7.5, 13.5, 12, 13.5);
    line(g, p, 7.5, 10, 9, 10);
    stroke(g, p, circle(15, 7.5, 3.8));
    line(g, p, 17.8, 4.7, 21, 1.5);
}

Path bubble(double x, double y, double w, double h, Point tailTip, double tailX0, double tailX1) {
    Path p = rr(x, y, w, h, std::min(h / 2.5, 4.5));
    p.append(poly({{tailX0, y + 0.4}, tailTip, {tailX1, y + 0.4}}));
    return p;
}

void quoteBubble(G& g, const Pen& p) {
    stroke(g, p, bubble(2, 6, 20, 15, {5.5, 2.5}, 6.5, 10));
    for (double x : {9.0, 15.0}) {
        fill(g, p, circle(x, 14.5, 1.7));
        stroke(g, p, poly({{x + 1.4, 14.3}, {x + 0.9, 12.2}, {x - 0.8, 11}}));
    }
}

void terminal(G& g, const Pen& p) {
    stroke(g, p, rr(2, 3, 20, 18, 3));
    stroke(g, p, poly({{6, 15.5}, {9.5, 12.5}, {6, 9.5}}));
    line(g, p, 11.5, 9.5, 17, 9.5);
}

void bubblesLeftRight(G& g, const Pen& p) {
    stroke(g, p, bubble(2, 10, 13, 11, {3.8, 7}, 4.5, 8));
    stroke(g, p, bubble(9, 4, 13, 10, {20.2, 1}, 16, 19.5));
}

void docOnClipboard(G& g, const Pen& p) {
    stroke(g, p, rr(4, 2, 16, 18.5, 2.5));
    stroke(g, p, rr(8.5, 18.5, 7, 4, 1.5));
    line(g, p, 8, 14, 16, 14);
    line(g, p, 8, 10.5, 16, 10.5);
    line(g, p, 8, 7, 12.5, 7);
}

void arrowUpRight(G& g, const Pen& p) {
    line(g, p, 6, 6, 18, 18);
    stroke(g, p, poly({{8.5, 18}, {18, 18}, {18, 8.5}}));
}

void network(G& g, const Pen& p) {
    ring(g, p);
    stroke(g, p, Path::oval({7.6, 2.5, 8.8, 19}));
    line(g, p, 2.5, 12, 21.5, 12);
    line(g, p, 4.2, 16.8, 19.8, 16.8);
    line(g, p, 4.2, 7.2, 19.8, 7.2);
}

void gearshape(G& g, const Pen& p) {
    Path gear;
    const Point c{12, 12};
    for (int i = 0; i < 8; ++i) {
        const double a = i * 45.0;
        gear.lineTo(onCircle(c, 7.6, a - 15));
        gear.lineTo(onCircle(c, 10, a - 8));
        gear.lineTo(onCircle(c, 10, a + 8));
        gear.lineTo(onCircle(c, 7.6, a + 15));
    }
    gear.close();
    stroke(g, p, gear);
    stroke(g, p, circle(12, 12, 3));
}

void arrowCounterclockwise(G& g, const Pen& p) {
    Path arc;
    arc.arc({12, 12}, 8.5, 150, 210, true);
    stroke(g, p, arc);
    arrowHead(g, p, onCircle({12, 12}, 8.5, 150), 240, 4.5);
}

void desktopcomputer(G& g, const Pen& p) {
    stroke(g, p, rr(2, 7.5, 20, 13.5, 2));
    stroke(g, p, poly({{10, 7.5}, {9.3, 3.5}}));
    stroke(g, p, poly({{14, 7.5}, {14.7, 3.5}}));
    line(g, p, 7, 3.5, 17, 3.5);
}

void lockShield(G& g, const Pen& p) {
    Path shield;
    shield.moveTo({12, 22});
    shield.lineTo({20, 19});
    shield.lineTo({20, 12.5});
    shield.curveTo({12, 2}, {20, 7.5}, {16.5, 3.8});
    shield.curveTo({4, 12.5}, {7.5, 3.8}, {4, 7.5});
    shield.lineTo({4, 19});
    shield.close();
    stroke(g, p, shield);
    fill(g, p, rr(8.5, 7.5, 7, 5.5, 1.2));
    Path shackle;
    shackle.moveTo({9.8, 13});
    shackle.arc({12, 14.6}, 2.2, 180, 0, true);
    shackle.lineTo({14.2, 13});
    stroke(g, p, shackle);
}

void handRaised(G& g, const Pen& p) {
    line(g, p, 7.5, 11, 7.5, 16.5);
    line(g, p, 10.5, 12, 10.5, 20);
    line(g, p, 13.5, 12, 13.5, 20.5);
    line(g, p, 16.5, 11.5, 16.5, 18);
    line(g, p, 5.8, 8.5, 3.5, 11.5);
    Path palm;
    palm.moveTo({7.5, 11});
    palm.lineTo({6, 8});
    palm.curveTo({12.5, 2}, {6.5, 4.5}, {9, 2});
    palm.curveTo({18.5, 8}, {16, 2}, {18.5, 4.5});
    palm.lineTo({16.5, 11.5});
    stroke(g, p, palm);
}

void checkmarkCircle(G& g, const Pen& p) {
    ring(g, p);
    stroke(g, p, poly({{7.5, 12.2}, {10.6, 8.8}, {16.5, 15.4}}));
}

void internaldrive(G& g, const Pen& p) {
    stroke(g, p, rr(2, 7, 20, 10, 2.5));
    line(g, p, 5.5, 10.3, 11, 10.3);
    dot(g, p, 17.5, 10.3);
}

void exclamationMark(G& g, const Pen& p, double top, double bottom, double dotY) {
    line(g, p, 12, top, 12, bottom);
    dot(g, p, 12, dotY);
}

void exclamationmarkCircle(G& g, const Pen& p) {
    ring(g, p);
    exclamationMark(g, p, 16.5, 11, 7.6);
}

void waveformPathEcg(G& g, const Pen& p) {
    stroke(g, p, poly({{2, 12}, {6.5, 12}, {8.5, 16.5}, {11.5, 4.5}, {14.5, 19.5}, {17, 12}, {22, 12}}));
}

void exclamationmarkTriangle(G& g, const Pen& p) {
    stroke(g, p, poly({{12, 21}, {21.8, 3.5}, {2.2, 3.5}}, true));
    exclamationMark(g, p, 15.2, 10.2, 6.9);
}

void questionmarkCircle(G& g, const Pen& p) {
    ring(g, p);
    Path hook;
    hook.arc({12, 14.3}, 3, 165, 300, true);
    hook.lineTo({12, 10.2});
    hook.lineTo({12, 9.6});
    stroke(g, p, hook);
    dot(g, p, 12, 6.8);
}

void infoCircle(G& g, const Pen& p) {
    ring(g, p);
    line(g, p, 12, 7, 12, 12.5);
    dot(g, p, 12, 16);
}

void power(G& g, const Pen& p) {
    Path arc;
    arc.arc({12, 11.5}, 8, 60, 120, true);
    stroke(g, p, arc);
    line(g, p, 12, 21.5, 12, 12);
}

void xmarkCircle(G& g, const Pen& p) {
    ring(g, p);
    line(g, p, 8.6, 8.6, 15.4, 15.4);
    line(g, p, 8.6, 15.4, 15.4, 8.6);
}

void arrowDownCircle(G& g, const Pen& p) {
    ring(g, p);
    line(g, p, 12, 17, 12, 7.2);
    stroke(g, p, poly({{8, 11}, {12, 7}, {16, 11}}));
}

void arrowRight(G& g, const Pen& p) {
    line(g, p, 3, 12, 21, 12);
    stroke(g, p, poly({{14, 19}, {21, 12}, {14, 5}}));
}

void rectangleBottomthirdInsetFilled(G& g, const Pen& p) {
    stroke(g, p, rr(2, 4, 20, 16, 3));
    fill(g, p, rr(5, 7, 14, 4.5, 1.2));
}

void chevronRight(G& g, const Pen& p) { stroke(g, p, poly({{9, 19}, {16, 12}, {9, 5}})); }

void photoOnRectangle(G& g, const Pen& p) {
    stroke(g, p, poly({{6, 16}, {6, 20.5}, {22, 20.5}, {22, 8}, {19, 8}}));
    stroke(g, p, rr(2, 3, 16, 12.5, 2));
    stroke(g, p, poly({{4.5, 5.8}, {8.5, 10}, {11, 7.5}, {12.8, 9.3}, {15.8, 5.8}}));
    dot(g, p, 13.2, 12.3);
}

void chevronDown(G& g, const Pen& p) { stroke(g, p, poly({{5, 15}, {12, 8}, {19, 15}})); }

struct Entry {
    const char* name;
    Drawing drawing;
};

constexpr Entry entries[] = {
    {"rectangle.grid.2x2", grid2x2},
    {"keyboard", keyboard},
    {"calendar.badge.checkmark", calendarBadgeCheckmark},
    {"clock.arrow.circlepath", clockArrowCirclepath},
    {"calendar", calendar},
    {"doc.text.magnifyingglass", docTextMagnifyingglass},
    {"quote.bubble", quoteBubble},
    {"terminal", terminal},
    {"bubble.left.and.bubble.right", bubblesLeftRight},
    {"doc.on.clipboard", docOnClipboard},
    {"arrow.up.right", arrowUpRight},
    {"network", network},
    {"gearshape", gearshape},
    {"arrow.counterclockwise", arrowCounterclockwise},
    {"desktopcomputer", desktopcomputer},
    {"lock.shield", lockShield},
    {"hand.raised", handRaised},
    {"checkmark.circle", checkmarkCircle},
    {"internaldrive", internaldrive},
    {"exclamationmark.circle", exclamationmarkCircle},
    {"waveform.path.ecg", waveformPathEcg},
    {"exclamationmark.triangle", exclamationmarkTriangle},
    {"questionmark.circle", questionmarkCircle},
    {"info.circle", infoCircle},
    {"power", power},
    {"xmark.circle", xmarkCircle},
    {"arrow.down.circle", arrowDownCircle},
    {"arrow.right", arrowRight},
    {"rectangle.bottomthird.inset.filled", rectangleBottomthirdInsetFilled},
    {"chevron.right", chevronRight},
    {"photo.on.rectangle", photoOnRectangle},
    {"chevron.down", chevronDown},
};

} // namespace

const std::vector<std::string>& names() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> result;
        for (const auto& entry : entries) result.emplace_back(entry.name);
        return result;
    }();
    return list;
}

Drawing drawing(const std::string& name) {
    static const std::map<std::string, Drawing, std::less<>> table = [] {
        std::map<std::string, Drawing, std::less<>> result;
        for (const auto& entry : entries) result.emplace(entry.name, entry.drawing);
        return result;
    }();
    auto found = table.find(name);
    return found == table.end() ? nullptr : found->second;
}

} // namespace tarpelix::platform::symbols
