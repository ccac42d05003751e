#include "platform/appkit/WindowLayout.h"

#include "platform/appkit/View.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"

#include <cmath>
#include <unordered_set>

namespace tarpelix::platform {

namespace {

// What each generated constraint of a view is, as the second half of its key.
enum Kind {
    viewConstraint,
    contentLeft, contentTop, contentWidth, contentHeight, contentMinWidth, contentMinHeight,
    frameLeft, frameTop, frameWidth, frameHeight,
    huggingWidth, compressionWidth, huggingHeight, compressionHeight,
};

constexpr double tolerance = 1e-6;

// Solved values come out of floating-point pivots: 42 may read 41.99999999999.
double snapped(double value) { return std::round(value / tolerance) * tolerance; }

bool hasMetric(double value) { return value != View::noIntrinsicMetric; }

// Merges the terms of each variable and drops those that cancel.
void normalize(LayoutExpression& expression) {
    std::vector<LayoutTerm> merged;
    for (const LayoutTerm& term : expression.terms) {
        auto found = std::find_if(merged.begin(), merged.end(), [&](const LayoutTerm& t) { return t.variable == term.variable; });
        if (found == merged.end()) {
            merged.push_back(term);
        } else {
            found->coefficient += term.coefficient;
        }
    }
    std::erase_if(merged, [](const LayoutTerm& t) { return std::abs(t.coefficient) < 1e-12; });
    expression.terms = std::move(merged);
}

// Whether the two differ at most in their constants.
bool sameShape(const LayoutConstraint& a, const LayoutConstraint& b) {
    if (a.relation != b.relation || a.priority != b.priority || a.identifier != b.identifier ||
        a.expression.terms.size() != b.expression.terms.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.expression.terms.size(); ++i) {
        if (!(a.expression.terms[i].variable == b.expression.terms[i].variable) ||
            a.expression.terms[i].coefficient != b.expression.terms[i].coefficient) {
            return false;
        }
    }
    return true;
}

void collect(View* view, std::vector<View*>& views) {
    views.push_back(view);
    for (const auto& subview : view->subviews()) collect(subview.get(), views);
}

std::string describe(const View* view, const char* what, double value) {
    return layoutName(view) + "." + what + " " + std::to_string(value);
}

} // namespace

WindowLayout::WindowLayout(Window& window) : window_(window) { resetSolver(); }

void WindowLayout::resetSolver() {
    solver_ = LayoutSolver();
    installed_.clear();
    // A constraint that stays broken from pass to pass is reported once.
    solver_.setBrokenHandler([this](const LayoutConstraint& constraint) {
        if (!reportedBroken_.insert(constraint.identifier).second) return;
        reports_.push_back({WindowLayoutIssue::Kind::brokenConstraint, "broken: " + constraint.identifier, {}});
    });
}

WindowLayout::~WindowLayout() = default;

std::vector<WindowLayoutIssue> WindowLayout::issues() const {
    auto all = reports_;
    all.insert(all.end(), findings_.begin(), findings_.end());
    return all;
}

WindowLayout::Variables& WindowLayout::variables(const View* view) {
    auto found = variables_.find(view);
    if (found != variables_.end()) return found->second;
    const std::string name = layoutName(view);
    return variables_
        .emplace(view, Variables{LayoutVariable(name + ".left"), LayoutVariable(name + ".top"),
                                 LayoutVariable(name + ".width"), LayoutVariable(name + ".height")})
        .first->second;
}

LayoutExpression WindowLayout::attribute(const View* view, int which) {
    const Variables& v = variables(view);
    switch (LayoutAttribute(which)) {
    case LayoutAttribute::left:
    case LayoutAttribute::leading: return v.left;
    case LayoutAttribute::right:
    case LayoutAttribute::trailing: return v.left + v.width;
    case LayoutAttribute::top: return v.top;
    case LayoutAttribute::bottom: return v.top + v.height;
    case LayoutAttribute::width: return v.width;
    case LayoutAttribute::height: return v.height;
    case LayoutAttribute::centerX: return v.left + 0.5 * v.width;
    case LayoutAttribute::centerY: return v.top + 0.5 * v.height;
    case LayoutAttribute::firstBaseline: {
        // A view without text has its baseline at its bottom edge.
        const double offset = view->firstBaselineOffsetFromTop();
        return hasMetric(offset) ? v.top + offset : v.top + v.height;
    }
    }
    return 0;
}

void WindowLayout::put(const Key& key, LayoutConstraint constraint) {
    normalize(constraint.expression);
    auto found = installed_.find(key);
    if (found != installed_.end()) {
        Installed& installed = found->second;
        if (sameShape(installed.constraint, constraint)) {
            if (installed.constraint.expression.constant != constraint.expression.constant) {
                installed.constraint.expression.constant = constraint.expression.constant;
                solver_.setConstant(installed.handle, constraint.expression.constant);
            }
            return;
        }
        solver_.remove(installed.handle);
        installed_.erase(found);
    }
    const LayoutSolver::Handle handle = solver_.add(constraint);
    installed_.emplace(key, Installed{std::move(constraint), handle});
}

void WindowLayout::gatherAutoresizing(const View& view) {
    // The frame as set, kept in place relative to the superview and moved or stretched by the
    // mask as the superview's size changes (the same shares View::setFrame applies).
    const View& superview = *view.superview();
    const Variables& v = variables(&view);
    const Variables& s = variables(&superview);
    const Size size = superview.frame().size;
    const Point origin = superview.bounds().origin;
    const Rect frame = view.frame().offsetBy(-origin.x, -origin.y);
    const auto shares = autoresizingShares(view.autoresizingMask(), frame, size);
    const LayoutExpression dw = s.width - size.width;
    const LayoutExpression dh = s.height - size.height;
    const LayoutExpression minY = frame.origin.y + shares.minY * dh;
    const LayoutExpression height = frame.size.height + shares.height * dh;
    const std::string name = layoutName(&view) + " frame";
    const auto eq = [&](const LayoutExpression& lhs, const LayoutExpression& rhs) {
        return LayoutConstraint::make(lhs, LayoutRelation::equal, rhs, LayoutConstraint::required, name);
    };
    put({&view, frameLeft}, eq(v.left - s.left, frame.origin.x + shares.minX * dw));
    put({&view, frameWidth}, eq(v.width, frame.size.width + shares.width * dw));
    put({&view, frameHeight}, eq(v.height, height));
    put({&view, frameTop}, superview.isFlipped() ? eq(v.top - s.top, minY) : eq(v.top - s.top, s.height - minY - height));
}

void WindowLayout::gatherIntrinsic(const View& view) {
    const Variables& v = variables(&view);
    const Size intrinsic = view.intrinsicContentSize();
    const auto keep = [&](const LayoutVariable& variable, double value, LayoutAxis axis, int hugging,
                          int compression, const char* what) {
        put({&view, hugging}, LayoutConstraint::make(variable, LayoutRelation::lessThanOrEqual, value,
                                                     view.contentHuggingPriority(axis),
                                                     describe(&view, what, value) + " (hugging)"));
        put({&view, compression}, LayoutConstraint::make(variable, LayoutRelation::greaterThanOrEqual, value,
                                                         view.contentCompressionResistancePriority(axis),
                                                         describe(&view, what, value) + " (compression resistance)"));
    };
    if (hasMetric(intrinsic.width)) keep(v.width, intrinsic.width, LayoutAxis::horizontal, huggingWidth, compressionWidth, "width");
    // A wrapping view's height is measured at the width it was last given (its intrinsic
    // width before its first pass) and measured again after solving.
    auto wrapped = wrapHeights_.find(&view);
    if (wrapped == wrapHeights_.end()) {
        const double width = view.frame().size.width > 0 ? view.frame().size.width : std::max(0.0, intrinsic.width);
        const double height = view.heightForWidth(width);
        if (hasMetric(height)) wrapped = wrapHeights_.emplace(&view, height).first;
    }
    const double height = wrapped != wrapHeights_.end() ? wrapped->second : intrinsic.height;
    if (hasMetric(height)) keep(v.height, height, LayoutAxis::vertical, huggingHeight, compressionHeight, "height");
}

void WindowLayout::run() {
    View* content = window_.contentView().get();
    if (!content) return;
    std::vector<View*> views;
    collect(content, views);
    for (View* view : views) view->updateConstraints();
    views.clear();
    collect(content, views);

    // The views with constraints of any kind, and their ancestors up to the content view.
    std::unordered_set<const View*> involved;
    std::vector<ViewConstraint*> constraints;
    for (View* view : views) {
        if (!view->translatesAutoresizingMaskIntoConstraints()) involved.insert(view);
        for (const auto& constraint : view->constraints()) {
            constraints.push_back(constraint.get());
            involved.insert(constraint->firstItem());
            if (constraint->secondItem()) involved.insert(constraint->secondItem());
        }
    }
    if (involved.empty()) {
        resetSolver();
        variables_.clear();
        wrapHeights_.clear();
        findings_.clear();
        return;
    }
    for (View* view : views) {
        if (!involved.contains(view)) continue;
        for (const View* up = view; up && up != content; up = up->superview()) involved.insert(up->superview());
    }
    involved.insert(content);
    std::vector<View*> participants;
    for (View* view : views) {
        if (involved.contains(view)) participants.push_back(view);
    }

    // Each pass starts from a fresh solver: removing and re-adding constraints incrementally
    // left a required constraint unsatisfied after a stack view rebuilt its constraints.
    // Constants changed within the pass (wrapping heights) still go to the solver in place.
    resetSolver();
    std::erase_if(wrapHeights_, [&](const auto& entry) { return !involved.contains(entry.first); });

    // The content view fills the window's content rectangle, which gives way at priority 500.
    const Variables& c = variables(content);
    const Size contentSize = window_.contentRectForFrameRect(window_.frame()).size;
    const Size minimum = window_.contentMinSize();
    const auto make = [](const LayoutExpression& lhs, LayoutRelation relation, double rhs, double priority,
                         std::string name) { return LayoutConstraint::make(lhs, relation, rhs, priority, std::move(name)); };
    const auto windowSize = [&](Size size) {
        put({content, contentWidth}, make(c.width, LayoutRelation::equal, size.width, LayoutPriority::windowSizeStayPut, "window width"));
        put({content, contentHeight}, make(c.height, LayoutRelation::equal, size.height, LayoutPriority::windowSizeStayPut, "window height"));
    };
    put({content, contentLeft}, make(c.left, LayoutRelation::equal, 0, LayoutConstraint::required, "content left"));
    put({content, contentTop}, make(c.top, LayoutRelation::equal, 0, LayoutConstraint::required, "content top"));
    windowSize(contentSize);
    put({content, contentMinWidth}, make(c.width, LayoutRelation::greaterThanOrEqual, minimum.width, LayoutConstraint::required, "window minimum width"));
    put({content, contentMinHeight}, make(c.height, LayoutRelation::greaterThanOrEqual, minimum.height, LayoutConstraint::required, "window minimum height"));

    for (View* view : participants) {
        if (view == content) continue;
        if (view->translatesAutoresizingMaskIntoConstraints()) {
            gatherAutoresizing(*view);
        } else {
            gatherIntrinsic(*view);
        }
    }
    for (ViewConstraint* constraint : constraints) {
        LayoutExpression rhs = constraint->constant();
        if (View* second = constraint->secondItem()) {
            rhs = attribute(second, int(constraint->secondAttribute())) * constraint->multiplier() + rhs;
        }
        put({constraint, viewConstraint},
            LayoutConstraint::make(attribute(constraint->firstItem(), int(constraint->firstAttribute())),
                                   constraint->relation(), rhs, constraint->priority(), constraint->description()));
    }
    std::erase_if(variables_, [&](const auto& entry) { return !involved.contains(entry.first); });

    // Wrapping views: measured at their solved widths until no height changes.
    findings_.clear();
    std::vector<const View*> unsettled;
    for (int round = 0; round < maximumWrappingRounds; ++round) {
        unsettled.clear();
        for (auto& [view, height] : wrapHeights_) {
            const double measured = view->heightForWidth(std::max(0.0, solver_.value(variables(view).width)));
            if (std::abs(measured - height) <= tolerance) continue;
            height = measured;
            unsettled.push_back(view);
        }
        if (unsettled.empty()) break;
        for (const View* view : unsettled) gatherIntrinsic(*view);
    }
    for (const View* view : unsettled) {
        findings_.push_back({WindowLayoutIssue::Kind::unsettledWrapping, "unsettled wrapping: " + layoutName(view),
                             const_cast<View*>(view)->sharedView()});
    }

    // The window takes the size its content needs.
    const Size needed{snapped(solver_.value(c.width)), snapped(solver_.value(c.height))};
    if (std::abs(needed.width - contentSize.width) > tolerance || std::abs(needed.height - contentSize.height) > tolerance) {
        if (needed.width > contentSize.width + tolerance || needed.height > contentSize.height + tolerance) {
            reports_.push_back({WindowLayoutIssue::Kind::windowGrew,
                                "window content grew from " + std::to_string(contentSize.width) + "x" +
                                    std::to_string(contentSize.height) + " to " + std::to_string(needed.width) + "x" +
                                    std::to_string(needed.height),
                                {}});
        }
        window_.setContentSize(needed);
        windowSize(window_.contentRectForFrameRect(window_.frame()).size);
    }

    // Frames in each superview's coordinates, superviews first (y down in the solver).
    for (View* view : participants) {
        if (view == content || view->translatesAutoresizingMaskIntoConstraints()) continue;
        const View& superview = *view->superview();
        const Variables& v = variables(view);
        const Variables& s = variables(&superview);
        const Point origin = superview.bounds().origin;
        const double width = snapped(solver_.value(v.width));
        const double height = snapped(solver_.value(v.height));
        const double below = snapped(solver_.value(v.top) - solver_.value(s.top));
        const double x = snapped(solver_.value(v.left) - solver_.value(s.left)) + origin.x;
        const double y = superview.isFlipped() ? below + origin.y
                                               : snapped(solver_.value(s.height)) - below - height + origin.y;
        view->setFrame({x, y, width, height});
    }

    for (View* view : participants) {
        if (view->translatesAutoresizingMaskIntoConstraints() || view->isHiddenOrHasHiddenAncestor()) continue;
        const Variables& v = variables(view);
        const bool horizontal = solver_.isAmbiguous(v.left) || solver_.isAmbiguous(v.width);
        const bool vertical = solver_.isAmbiguous(v.top) || solver_.isAmbiguous(v.height);
        if (!horizontal && !vertical) continue;
        findings_.push_back({WindowLayoutIssue::Kind::ambiguousFrame,
                             "ambiguous " + std::string(horizontal && vertical ? "frame" : horizontal ? "horizontal position or width" : "vertical position or height") +
                                 ": " + layoutName(view),
                             view->sharedView()});
    }
}

} // namespace tarpelix::platform
