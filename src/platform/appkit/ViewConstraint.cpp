#include "platform/appkit/ViewConstraint.h"

#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/MainThread.h"

#include <algorithm>
#include <stdexcept>

namespace tarpelix::platform {

namespace {

std::weak_ptr<View> weakView(View* view) {
    if (!view) return {};
    return std::static_pointer_cast<View>(view->weak_from_this().lock());
}

const char* attributeName(LayoutAttribute attribute) {
    switch (attribute) {
    case LayoutAttribute::left: return "left";
    case LayoutAttribute::right: return "right";
    case LayoutAttribute::top: return "top";
    case LayoutAttribute::bottom: return "bottom";
    case LayoutAttribute::leading: return "leading";
    case LayoutAttribute::trailing: return "trailing";
    case LayoutAttribute::width: return "width";
    case LayoutAttribute::height: return "height";
    case LayoutAttribute::centerX: return "centerX";
    case LayoutAttribute::centerY: return "centerY";
    case LayoutAttribute::firstBaseline: return "firstBaseline";
    }
    return "?";
}

} // namespace

std::string layoutName(const View* view) {
    if (!view) return "(gone)";
    return view->identifier().empty() ? "View@" + std::to_string(reinterpret_cast<std::uintptr_t>(view))
                                      : view->identifier();
}

namespace {

std::string number(double value) {
    std::string text = std::to_string(value);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
}

} // namespace

std::shared_ptr<ViewConstraint> LayoutAnchor::make(LayoutRelation relation, const LayoutAnchor* other,
                                                   double multiplier, double constant) const {
    return ViewConstraint::create(view_, attribute_, relation, other ? other->view_ : nullptr,
                                  other ? other->attribute_ : attribute_, multiplier, constant);
}

std::shared_ptr<ViewConstraint> ViewConstraint::create(View* first, LayoutAttribute firstAttribute,
                                                       LayoutRelation relation, View* second,
                                                       LayoutAttribute secondAttribute, double multiplier,
                                                       double constant) {
    std::shared_ptr<ViewConstraint> constraint(new ViewConstraint);
    constraint->first_ = weakView(first);
    constraint->firstAttribute_ = firstAttribute;
    constraint->relation_ = relation;
    constraint->second_ = weakView(second);
    constraint->hasSecond_ = second != nullptr;
    constraint->secondAttribute_ = secondAttribute;
    constraint->multiplier_ = second ? multiplier : 0;
    constraint->constant_ = constant;
    return constraint;
}

void ViewConstraint::changed() const {
    if (installedOn_ && installedOn_->window()) installedOn_->window()->setNeedsConstraintLayout();
}

void ViewConstraint::setConstant(double constant) {
    if (constant == constant_) return;
    constant_ = constant;
    changed();
}

void ViewConstraint::setPriority(double priority) {
    priority = std::clamp(priority, 1.0, LayoutConstraint::required);
    if (priority == priority_) return;
    priority_ = priority;
    changed();
}

void ViewConstraint::setActive(bool active) {
    requireMainThread("ViewConstraint::setActive");
    if (active == isActive()) return;
    if (!active) {
        changed();
        auto& list = installedOn_->constraints_;
        list.erase(std::remove(list.begin(), list.end(), shared_from_this()), list.end());
        installedOn_ = nullptr;
        return;
    }
    View* first = firstItem();
    View* second = secondItem();
    if (!first || (hasSecond_ && !second)) {
        throw std::logic_error("cannot activate " + description() + ": a view is gone or not shared");
    }
    View* ancestor = first;
    while (ancestor && second && !second->isDescendantOf(ancestor)) ancestor = ancestor->superview();
    if (!ancestor) {
        throw std::logic_error("cannot activate " + description() + ": the views have no common ancestor");
    }
    installedOn_ = ancestor;
    ancestor->constraints_.push_back(shared_from_this());
    changed();
}

void ViewConstraint::activate(const std::vector<std::shared_ptr<ViewConstraint>>& constraints) {
    for (const auto& constraint : constraints) constraint->setActive(true);
}

void ViewConstraint::deactivate(const std::vector<std::shared_ptr<ViewConstraint>>& constraints) {
    for (const auto& constraint : constraints) constraint->setActive(false);
}

std::string ViewConstraint::description() const {
    if (!identifier_.empty()) return identifier_;
    static const char* relations[] = {" <= ", " == ", " >= "};
    std::string text = layoutName(firstItem()) + "." + attributeName(firstAttribute_) + relations[int(relation_)];
    if (!hasSecond_) return text + number(constant_);
    text += layoutName(secondItem()) + "." + attributeName(secondAttribute_);
    if (multiplier_ != 1) text += " * " + number(multiplier_);
    if (constant_ != 0) text += (constant_ < 0 ? " - " : " + ") + number(std::abs(constant_));
    return text;
}

} // namespace tarpelix::platform
