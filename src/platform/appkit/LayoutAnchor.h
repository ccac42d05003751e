#pragma once

#include "platform/appkit/LayoutSolver.h"

#include <memory>

namespace tarpelix::platform {

class View;
class ViewConstraint;

// The edge, size, centre or first baseline of a view that a constraint relates. Constraints
// read y downwards: `a.top == b.bottom + 8` puts a 8 points below b, flipped or not.
enum class LayoutAttribute { left, right, top, bottom, leading, trailing, width, height, centerX, centerY, firstBaseline };

// One attribute of one view, from which constraints are made (inactive until activated).
// The typed anchors below only relate anchors of the same kind: x to x, y to y, size to size.
class LayoutAnchor {
public:
    View* view() const { return view_; }
    LayoutAttribute attribute() const { return attribute_; }

protected:
    LayoutAnchor(View* view, LayoutAttribute attribute) : view_(view), attribute_(attribute) {}
    std::shared_ptr<ViewConstraint> make(LayoutRelation relation, const LayoutAnchor* other, double multiplier,
                                         double constant) const;

private:
    View* view_;
    LayoutAttribute attribute_;
};

// `this relation other + constant`.
template <class Anchor>
class TypedLayoutAnchor : public LayoutAnchor {
public:
    std::shared_ptr<ViewConstraint> constraintEqualTo(const Anchor& other, double constant = 0) const {
        return make(LayoutRelation::equal, &other, 1, constant);
    }
    std::shared_ptr<ViewConstraint> constraintGreaterThanOrEqualTo(const Anchor& other, double constant = 0) const {
        return make(LayoutRelation::greaterThanOrEqual, &other, 1, constant);
    }
    std::shared_ptr<ViewConstraint> constraintLessThanOrEqualTo(const Anchor& other, double constant = 0) const {
        return make(LayoutRelation::lessThanOrEqual, &other, 1, constant);
    }

protected:
    using LayoutAnchor::LayoutAnchor;
};

class XAxisAnchor : public TypedLayoutAnchor<XAxisAnchor> {
public:
    XAxisAnchor(View* view, LayoutAttribute attribute) : TypedLayoutAnchor(view, attribute) {}
};

class YAxisAnchor : public TypedLayoutAnchor<YAxisAnchor> {
public:
    YAxisAnchor(View* view, LayoutAttribute attribute) : TypedLayoutAnchor(view, attribute) {}
};

// A width or height: also relates to another size times a multiplier, or to a constant.
class DimensionAnchor : public TypedLayoutAnchor<DimensionAnchor> {
public:
    DimensionAnchor(View* view, LayoutAttribute attribute) : TypedLayoutAnchor(view, attribute) {}
    using TypedLayoutAnchor::constraintEqualTo;
    using TypedLayoutAnchor::constraintGreaterThanOrEqualTo;
    using TypedLayoutAnchor::constraintLessThanOrEqualTo;

    std::shared_ptr<ViewConstraint> constraintEqualTo(const DimensionAnchor& other, double multiplier,
                                                      double constant) const {
        return make(LayoutRelation::equal, &other, multiplier, constant);
    }
    std::shared_ptr<ViewConstraint> constraintGreaterThanOrEqualTo(const DimensionAnchor& other, double multiplier,
                                                                   double constant) const {
        return make(LayoutRelation::greaterThanOrEqual, &other, multiplier, constant);
    }
    std::shared_ptr<ViewConstraint> constraintLessThanOrEqualTo(const DimensionAnchor& other, double multiplier,
                                                                double constant) const {
        return make(LayoutRelation::lessThanOrEqual, &other, multiplier, constant);
    }
    std::shared_ptr<ViewConstraint> constraintEqualToConstant(double constant) const {
        return make(LayoutRelation::equal, nullptr, 0, constant);
    }
    std::shared_ptr<ViewConstraint> constraintGreaterThanOrEqualToConstant(double constant) const {
        return make(LayoutRelation::greaterThanOrEqual, nullptr, 0, constant);
    }
    std::shared_ptr<ViewConstraint> constraintLessThanOrEqualToConstant(double constant) const {
        return make(LayoutRelation::lessThanOrEqual, nullptr, 0, constant);
    }
};

} // namespace tarpelix::platform
