#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarpelix::platform {

// A quantity the layout solves for, such as a view's leading edge or width. Copies share one
// identity; two variables made separately are different even when their names are equal.
class LayoutVariable {
public:
    explicit LayoutVariable(std::string name = {});

    const std::string& name() const { return data_->name; }
    bool operator==(const LayoutVariable& other) const { return data_ == other.data_; }

private:
    friend class LayoutSolver;
    struct Data {
        std::string name;
    };
    std::shared_ptr<const Data> data_;
};

struct LayoutTerm {
    LayoutVariable variable;
    double coefficient = 1;
};

// A linear expression: the sum of the terms plus a constant. Variables and numbers convert to
// expressions, so `label + 10` and `2 * width - 4` read as written.
struct LayoutExpression {
    LayoutExpression() = default;
    LayoutExpression(double value) : constant(value) {}
    LayoutExpression(const LayoutVariable& variable) : terms{{variable, 1}} {}

    std::vector<LayoutTerm> terms;
    double constant = 0;
};

LayoutExpression operator+(LayoutExpression lhs, const LayoutExpression& rhs);
LayoutExpression operator-(LayoutExpression lhs, const LayoutExpression& rhs);
LayoutExpression operator-(LayoutExpression expression);
LayoutExpression operator*(LayoutExpression expression, double factor);
LayoutExpression operator*(double factor, LayoutExpression expression);

enum class LayoutRelation { lessThanOrEqual, equal, greaterThanOrEqual };

// `expression relation 0`, held at a priority from 1 to 1000. Priority 1000 is required; any
// lower priority outranks every number of constraints at lower priorities (priorities are
// compared as levels, never added up as weights). Within one priority each unit of error
// counts the same. Priorities above 1000 count as required, below 1 as 1.
struct LayoutConstraint {
    static constexpr double required = 1000;

    LayoutExpression expression;
    LayoutRelation relation = LayoutRelation::equal;
    double priority = required;
    std::string identifier;

    // `lhs relation rhs`.
    static LayoutConstraint make(const LayoutExpression& lhs, LayoutRelation relation,
                                 const LayoutExpression& rhs, double priority = required,
                                 std::string identifier = {});
};

// An incremental Cassowary solver: a simplex tableau of unrestricted variables and restricted
// slack, error and dummy variables, re-optimised after every change, so values can be read at
// any time. The objective is lexicographic, one level per priority in use.
//
// A required constraint that cannot hold together with those already added is not added: it
// is broken, reported once to the broken handler, listed by brokenConstraints(), and solving
// goes on without it. It stays broken (it is not retried when other constraints are removed)
// until its constant changes, which tries it again; a retry that fails again is not reported
// again. A constraint with a number that is not finite is broken the same way.
//
// Changing the constant of a required constraint removes and re-adds it. For a constraint of
// lower priority, which can always be added, the change is applied to the tableau in place and
// the dual simplex restores feasibility. Not thread-safe: one thread uses one solver.
class LayoutSolver {
public:
    using Handle = std::uint64_t; // 0 is never a handle
    using BrokenHandler = std::function<void(const LayoutConstraint&)>;

    LayoutSolver();
    ~LayoutSolver();
    LayoutSolver(LayoutSolver&&) noexcept;
    LayoutSolver& operator=(LayoutSolver&&) noexcept;

    // Adds the constraint and solves; the handle identifies it even when it is broken.
    Handle add(LayoutConstraint constraint);
    // Removes the constraint and solves; an unknown handle changes nothing.
    void remove(Handle handle);
    // Sets the constant of the constraint's expression and solves.
    void setConstant(Handle handle, double constant);

    bool contains(Handle handle) const;
    bool isBroken(Handle handle) const;
    // The broken constraints still held, in the order they were added.
    std::vector<LayoutConstraint> brokenConstraints() const;
    // Called once for each constraint that becomes broken, after the solver is consistent
    // again; it may call back into the solver.
    void setBrokenHandler(BrokenHandler handler);

    // The solved value; 0 for a variable no constraint mentions.
    double value(const LayoutVariable& variable) const;
    // Whether the constraints leave the variable's value open: it takes part in no constraint,
    // or it can be moved, alone or with others, without breaking a required constraint and
    // without adding error at any priority. Found from the optimal tableau: the variable is
    // a free parameter, or its row holds a parameter that costs nothing at every priority and
    // can move away from its current value. A move blocked only by degeneracy (a bound met
    // exactly by several constraints) is not detected, so an answer of true is always right.
    bool isAmbiguous(const LayoutVariable& variable) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tarpelix::platform
