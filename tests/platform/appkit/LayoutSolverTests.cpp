#include "platform/appkit/LayoutSolver.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using namespace tarpelix::platform;

namespace {

constexpr double required = LayoutConstraint::required;
constexpr double tolerance = 1e-6;

LayoutConstraint eq(const LayoutExpression& lhs, const LayoutExpression& rhs, double priority = required,
                    std::string identifier = {}) {
    return LayoutConstraint::make(lhs, LayoutRelation::equal, rhs, priority, std::move(identifier));
}
LayoutConstraint le(const LayoutExpression& lhs, const LayoutExpression& rhs, double priority = required,
                    std::string identifier = {}) {
    return LayoutConstraint::make(lhs, LayoutRelation::lessThanOrEqual, rhs, priority, std::move(identifier));
}
LayoutConstraint ge(const LayoutExpression& lhs, const LayoutExpression& rhs, double priority = required,
                    std::string identifier = {}) {
    return LayoutConstraint::make(lhs, LayoutRelation::greaterThanOrEqual, rhs, priority, std::move(identifier));
}

std::vector<std::string> identifiers(const std::vector<LayoutConstraint>& constraints) {
    std::vector<std::string> result;
    for (const LayoutConstraint& constraint : constraints) result.push_back(constraint.identifier);
    return result;
}

// A label's intrinsic width becomes two constraints: hugging keeps it from growing, compression
// resistance from shrinking.
void addIntrinsicWidth(LayoutSolver& solver, const LayoutVariable& width, double intrinsic, double hugging = 250,
                       double compressionResistance = 750) {
    solver.add(le(width, intrinsic, hugging, "hugging"));
    solver.add(ge(width, intrinsic, compressionResistance, "compression"));
}

TEST(LayoutSolverTest, OverlayRowMatchesHandComputedFrames) {
    struct Case {
        double intrinsic;
        double panelWidthPriority;
        double labelTrailing;
        double panelWidth;
    };
    const Case cases[] = {
        {208, required, 250, 264}, // fits exactly
        {150, required, 192, 264}, // hugging keeps a short label at its width
        {300, required, 250, 264}, // compressed to 208 by the required panel width
        {300, 500, 342, 356},      // compression resistance outranks a weaker panel width: it grows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "intrinsic " << c.intrinsic << ", panel width priority " << c.panelWidthPriority);
        LayoutVariable panelLeading("panel.leading"), panelWidth("panel.width");
        LayoutVariable indicatorLeading("indicator.leading"), indicatorWidth("indicator.width");
        LayoutVariable labelLeading("label.leading"), labelWidth("label.width");
        LayoutSolver solver;
        solver.add(eq(panelLeading, 0));
        solver.add(eq(panelWidth, 264, c.panelWidthPriority));
        solver.add(eq(indicatorLeading, panelLeading + 14));
        solver.add(eq(indicatorWidth, 18));
        solver.add(eq(labelLeading, indicatorLeading + indicatorWidth + 10));
        solver.add(le(labelLeading + labelWidth, panelLeading + panelWidth - 14));
        addIntrinsicWidth(solver, labelWidth, c.intrinsic);

        EXPECT_NEAR(solver.value(indicatorLeading), 14, tolerance);
        EXPECT_NEAR(solver.value(indicatorLeading) + solver.value(indicatorWidth), 32, tolerance);
        EXPECT_NEAR(solver.value(labelLeading), 42, tolerance);
        EXPECT_NEAR(solver.value(labelLeading) + solver.value(labelWidth), c.labelTrailing, tolerance);
        EXPECT_NEAR(solver.value(panelWidth), c.panelWidth, tolerance);
        for (const LayoutVariable& v : {panelWidth, indicatorLeading, labelLeading, labelWidth}) {
            EXPECT_FALSE(solver.isAmbiguous(v)) << v.name();
        }
        EXPECT_TRUE(solver.brokenConstraints().empty());
    }
}

TEST(LayoutSolverTest, CompressionResistanceAndHuggingYieldOnlyToStrongerConstraints) {
    // A view of intrinsic width 200 (hugging 250, compression resistance 750) that its
    // container asks to be another width at some priority.
    struct Case {
        double containerWidth;
        double priority;
        double expected;
    };
    const Case cases[] = {
        {150, 500, 200},      // smaller at 500: compression resistance wins
        {150, 751, 150},      // smaller, stronger than compression resistance
        {150, required, 150}, // smaller, required
        {260, 249, 200},      // larger at 249: hugging wins
        {260, 500, 260},      // larger at 500: hugging yields
        {260, required, 260}, // larger, required
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.containerWidth << " at " << c.priority);
        LayoutVariable width("width");
        LayoutSolver solver;
        addIntrinsicWidth(solver, width, 200);
        solver.add(eq(width, c.containerWidth, c.priority));
        EXPECT_NEAR(solver.value(width), c.expected, tolerance);
        EXPECT_FALSE(solver.isAmbiguous(width));
    }
}

TEST(LayoutSolverTest, OneStrongerConstraintOutweighsAThousandWeakerOnes) {
    struct Case {
        const char* name;
        double strongPriority;
        double weakPriority;
        std::function<LayoutConstraint(const LayoutVariable&, double priority)> strong, weak;
        int weakCount;
        double expected;
    };
    auto equalTo = [](double value) {
        return [value](const LayoutVariable& x, double priority) { return eq(x, value, priority); };
    };
    const Case cases[] = {
        {"required against 999", required, 999, equalTo(10), equalTo(20), 1000, 10},
        {"999 against 998", 999, 998, equalTo(10), equalTo(20), 1000, 10},
        {"2 against 1", 2, 1, equalTo(10), equalTo(20), 100, 10},
        {"required bound against 999", required, 999, [](const LayoutVariable& x, double p) { return le(x, 10, p); },
         [](const LayoutVariable& x, double p) { return ge(x, 20, p); }, 100, 10},
        // Within one priority the errors add up: the many win.
        {"one against many at 500", 500, 500, equalTo(10), equalTo(20), 100, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutVariable x("x");
        LayoutSolver solver;
        for (int i = 0; i < c.weakCount; ++i) {
            if (i == c.weakCount / 2) solver.add(c.strong(x, c.strongPriority)); // order does not matter
            solver.add(c.weak(x, c.weakPriority));
        }
        EXPECT_NEAR(solver.value(x), c.expected, tolerance);
        EXPECT_TRUE(solver.brokenConstraints().empty());
    }
}

TEST(LayoutSolverTest, ConflictingRequiredConstraintsAreBrokenAndReportedOnce) {
    LayoutVariable width("width"), trailing("trailing");
    LayoutSolver solver;
    std::vector<std::string> reports;
    solver.setBrokenHandler([&](const LayoutConstraint& constraint) { reports.push_back(constraint.identifier); });

    const auto first = solver.add(eq(width, 100, required, "first"));
    const auto second = solver.add(eq(width, 120, required, "second"));
    const auto third = solver.add(ge(width, 150, required, "third"));
    solver.add(eq(trailing, width + 5));
    solver.add(eq(width, 300, 999)); // weaker: loses without being broken

    EXPECT_EQ(reports, (std::vector<std::string>{"second", "third"}));
    EXPECT_FALSE(solver.isBroken(first));
    EXPECT_TRUE(solver.isBroken(second));
    EXPECT_NEAR(solver.value(width), 100, tolerance);
    EXPECT_NEAR(solver.value(trailing), 105, tolerance); // layout goes on after the conflicts

    solver.remove(second);
    EXPECT_FALSE(solver.contains(second));
    EXPECT_EQ(identifiers(solver.brokenConstraints()), (std::vector<std::string>{"third"}));

    // A new constant retries a broken constraint: width >= 90 now holds.
    solver.setConstant(third, -90);
    EXPECT_FALSE(solver.isBroken(third));
    solver.setConstant(first, -130);
    EXPECT_NEAR(solver.value(trailing), 135, tolerance);

    // width == 50 contradicts width >= 90: broken, reported once, the rest still solved.
    solver.setConstant(first, -50);
    solver.setConstant(first, -60);
    EXPECT_TRUE(solver.isBroken(first));
    EXPECT_EQ(reports, (std::vector<std::string>{"second", "third", "first"}));
    EXPECT_NEAR(solver.value(width), 300, tolerance);
    EXPECT_NEAR(solver.value(trailing), 305, tolerance);

    // A number that is not finite never reaches the tableau.
    solver.add(eq(width, std::numeric_limits<double>::quiet_NaN(), 250, "not a number"));
    EXPECT_EQ(reports.back(), "not a number");
    EXPECT_NEAR(solver.value(width), 300, tolerance);
}

TEST(LayoutSolverTest, UnderconstrainedVariablesAreAmbiguous) {
    struct Case {
        const char* name;
        std::function<void(LayoutSolver&, const LayoutVariable& x)> constrain;
        bool ambiguous;
    };
    const Case cases[] = {
        {"no constraint at all", [](LayoutSolver&, const LayoutVariable&) {}, true},
        {"only x >= 0", [](LayoutSolver& s, const LayoutVariable& x) { s.add(ge(x, 0)); }, true},
        {"bounds of equal weight", [](LayoutSolver& s, const LayoutVariable& x) {
             s.add(ge(x, 0, 250));
             s.add(le(x, 100, 250));
         }, true},
        {"equal weights pulling apart", [](LayoutSolver& s, const LayoutVariable& x) {
             s.add(eq(x, 10, 500));
             s.add(eq(x, 20, 500));
         }, true},
        {"trailing of a view with no leading", [](LayoutSolver& s, const LayoutVariable& x) {
             LayoutVariable leading, width;
             s.add(eq(width, 50));
             s.add(eq(x, leading + width));
         }, true},
        {"x == 100", [](LayoutSolver& s, const LayoutVariable& x) { s.add(eq(x, 100)); }, false},
        {"x >= 0 held by a weak value", [](LayoutSolver& s, const LayoutVariable& x) {
             s.add(ge(x, 0));
             s.add(eq(x, 50, 250));
         }, false},
        {"bounds meeting at 10", [](LayoutSolver& s, const LayoutVariable& x) {
             s.add(ge(x, 10));
             s.add(le(x, 10));
         }, false},
        {"unequal weights pulling apart", [](LayoutSolver& s, const LayoutVariable& x) {
             s.add(eq(x, 10, 250));
             s.add(eq(x, 20, 251));
         }, false},
        {"through another variable", [](LayoutSolver& s, const LayoutVariable& x) {
             LayoutVariable y;
             s.add(eq(x + y, 100));
             s.add(eq(y, 30, 250));
         }, false},
    };
    for (const Case& c : cases) {
        LayoutVariable x("x");
        LayoutSolver solver;
        c.constrain(solver, x);
        EXPECT_EQ(solver.isAmbiguous(x), c.ambiguous) << c.name;
    }
}

// Random small systems changed step by step (adds, removals, new constants) give the values a
// fresh solver gives for the constraints held. Each variable has a weak stay at a priority of
// its own, below all others, which makes the solution unique.
TEST(LayoutSolverTest, IncrementalChangesEqualAFreshSolve) {
    std::mt19937 random(19);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const double priorities[] = {required, required, 750, 500, 250, 100};
    const LayoutRelation relations[] = {LayoutRelation::lessThanOrEqual, LayoutRelation::equal,
                                        LayoutRelation::greaterThanOrEqual};

    for (int system = 0; system < 100; ++system) {
        std::vector<LayoutVariable> variables(pick(2, 5));
        std::vector<LayoutConstraint> stays;
        for (std::size_t i = 0; i < variables.size(); ++i) {
            stays.push_back(eq(variables[i], pick(-50, 50), static_cast<double>(i + 1)));
        }
        auto randomConstraint = [&] {
            LayoutExpression expression = pick(-60, 60);
            for (int terms = pick(1, 3); terms > 0; --terms) {
                const double coefficient = pick(-2, 2);
                expression = expression + coefficient * LayoutExpression(variables[pick(0, int(variables.size()) - 1)]);
            }
            return LayoutConstraint{expression, relations[pick(0, 2)], priorities[pick(0, 5)], {}};
        };

        struct Held {
            LayoutSolver::Handle handle;
            LayoutConstraint constraint;
        };
        LayoutSolver solver;
        std::vector<Held> held;
        std::vector<LayoutSolver::Handle> stayHandles;
        for (const LayoutConstraint& stay : stays) stayHandles.push_back(solver.add(stay));
        for (int step = 0; step < 30; ++step) {
            const int action = held.empty() ? 0 : pick(0, 10);
            if (action == 10) {
                // A rebuild, as a stack view does: copies of all the constraints go in while the
                // originals are still there, then the originals go in a random order.
                std::vector<Held> old = std::move(held);
                held.clear();
                for (const Held& h : old) held.push_back({solver.add(h.constraint), h.constraint});
                std::shuffle(old.begin(), old.end(), random);
                for (const Held& h : old) solver.remove(h.handle);
            } else if (action < 5) {
                LayoutConstraint constraint = randomConstraint();
                held.push_back({solver.add(constraint), constraint});
            } else if (action < 8) {
                const std::size_t index = pick(0, int(held.size()) - 1);
                solver.remove(held[index].handle);
                held.erase(held.begin() + index);
            } else {
                Held& changed = held[pick(0, int(held.size()) - 1)];
                changed.constraint.expression.constant = pick(-60, 60);
                solver.setConstant(changed.handle, changed.constraint.expression.constant);
            }

            // The constraints held and not broken hold together, so a fresh solver breaks none.
            LayoutSolver fresh;
            for (const LayoutConstraint& stay : stays) fresh.add(stay);
            for (const Held& h : held) {
                if (!solver.isBroken(h.handle)) fresh.add(h.constraint);
            }
            SCOPED_TRACE(testing::Message() << "system " << system << ", step " << step);
            ASSERT_TRUE(fresh.brokenConstraints().empty());
            for (const LayoutVariable& v : variables) {
                ASSERT_NEAR(solver.value(v), fresh.value(v), tolerance);
                EXPECT_FALSE(solver.isAmbiguous(v));
            }
            for (const Held& h : held) {
                if (solver.isBroken(h.handle) || h.constraint.priority < required) continue;
                double lhs = h.constraint.expression.constant;
                for (const LayoutTerm& term : h.constraint.expression.terms) lhs += term.coefficient * solver.value(term.variable);
                if (h.constraint.relation != LayoutRelation::greaterThanOrEqual) {
                    EXPECT_LE(lhs, tolerance);
                }
                if (h.constraint.relation != LayoutRelation::lessThanOrEqual) {
                    EXPECT_GE(lhs, -tolerance);
                }
            }
        }

        // With every constraint gone nothing is fixed; the same constraints again solve as before.
        std::vector<double> before;
        for (const LayoutVariable& v : variables) before.push_back(solver.value(v));
        for (const auto handle : stayHandles) solver.remove(handle);
        std::vector<LayoutConstraint> active;
        for (const Held& h : held) {
            if (!solver.isBroken(h.handle)) active.push_back(h.constraint);
            solver.remove(h.handle);
        }
        for (const LayoutVariable& v : variables) ASSERT_TRUE(solver.isAmbiguous(v));
        for (const LayoutConstraint& stay : stays) solver.add(stay);
        for (const LayoutConstraint& constraint : active) solver.add(constraint);
        for (std::size_t i = 0; i < variables.size(); ++i) ASSERT_NEAR(solver.value(variables[i]), before[i], tolerance);
    }
}

// A vertical stack of a (hidden until now) and b, aligned at the leading edge, shows a again:
// its constraints are rebuilt in place, the new set added before the old is removed, so b's
// edges are briefly held twice. Removing the first copy must leave the second in force.
TEST(LayoutSolverTest, AStackRebuiltInPlaceKeepsTheEdgesItStillHolds) {
    struct Frame {
        LayoutVariable left, top, width, height;
    };
    Frame content, a, b, stack;
    LayoutSolver solver;
    solver.add(eq(content.left, 0));
    solver.add(eq(content.top, 0));
    solver.add(eq(content.width, 200, 500));
    solver.add(eq(content.height, 200, 500));
    solver.add(ge(content.width, 0));
    solver.add(ge(content.height, 0));
    for (auto [frame, width] : {std::pair{&a, 40.0}, std::pair{&b, 60.0}}) {
        addIntrinsicWidth(solver, frame->width, width);
        addIntrinsicWidth(solver, frame->height, 20); // the same priorities in height
    }
    solver.add(eq(stack.left, content.left));
    solver.add(eq(stack.top, content.top));
    auto leading = [&](const Frame& f) { return eq(f.left, stack.left); };
    auto trailing = [&](const Frame& f) { return le(f.left + f.width, stack.left + stack.width); };
    auto bottom = [&] { return eq(stack.top + stack.height, b.top + b.height); };

    const auto oldWidth = solver.add(eq(stack.width, 0, 250));
    const auto oldTop = solver.add(eq(b.top, stack.top));
    const auto oldBottom = solver.add(bottom());
    const auto oldLeading = solver.add(leading(b));
    const auto oldTrailing = solver.add(trailing(b));
    ASSERT_NEAR(solver.value(b.left), 0, tolerance);

    solver.remove(oldTop);
    solver.add(eq(stack.width, 0, 250));
    solver.remove(oldWidth);
    solver.add(eq(a.top, stack.top));
    solver.add(leading(a));
    solver.add(trailing(a));
    solver.add(eq(b.top, a.top + a.height + 8));
    solver.add(bottom());
    solver.add(leading(b));
    solver.add(trailing(b));
    for (const auto handle : {oldLeading, oldBottom, oldTrailing}) solver.remove(handle);

    EXPECT_TRUE(solver.brokenConstraints().empty());
    struct Expected {
        const char* name;
        const LayoutVariable& variable;
        double value;
    };
    for (const Expected& e : {Expected{"b.left", b.left, 0}, Expected{"a.left", a.left, 0},
                              Expected{"stack.width", stack.width, 60}, Expected{"stack.height", stack.height, 48},
                              Expected{"b.top", b.top, 28}}) {
        EXPECT_NEAR(solver.value(e.variable), e.value, tolerance) << e.name;
    }
}

} // namespace
