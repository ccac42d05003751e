#pragma once

#include "platform/appkit/LayoutAnchor.h"
#include "platform/appkit/LayoutSolver.h"

#include <memory>
#include <string>
#include <vector>

namespace tarpelix::platform {

class View;

// `first.attribute relation second.attribute × multiplier + constant` between views, or
// `first.attribute relation constant` without a second view. Made inactive (by the anchors);
// activating installs it on the nearest common ancestor of its views, whose window then solves
// it. It refers to its views weakly; a view leaving its superview takes with it the active
// constraints that cross the cut. Main thread only.
class ViewConstraint : public std::enable_shared_from_this<ViewConstraint> {
public:
    static std::shared_ptr<ViewConstraint> create(View* first, LayoutAttribute firstAttribute, LayoutRelation relation,
                                                  View* second, LayoutAttribute secondAttribute, double multiplier,
                                                  double constant);

    View* firstItem() const { return first_.lock().get(); }
    LayoutAttribute firstAttribute() const { return firstAttribute_; }
    LayoutRelation relation() const { return relation_; }
    View* secondItem() const { return second_.lock().get(); }
    LayoutAttribute secondAttribute() const { return secondAttribute_; }
    double multiplier() const { return multiplier_; }
    double constant() const { return constant_; }
    void setConstant(double constant);
    // 1 to 1000 (required, the default).
    double priority() const { return priority_; }
    void setPriority(double priority);
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }

    bool isActive() const { return installedOn_ != nullptr; }
    // Activating a constraint whose views share no ancestor (or are gone) is a programming
    // error: it throws std::logic_error and the constraint stays inactive.
    void setActive(bool active);
    static void activate(const std::vector<std::shared_ptr<ViewConstraint>>& constraints);
    static void deactivate(const std::vector<std::shared_ptr<ViewConstraint>>& constraints);

    // "label.width == 208" with the views' identifiers (or their kinds), for reports.
    std::string description() const;

private:
    friend class View;
    ViewConstraint() = default;
    void changed() const;

    std::weak_ptr<View> first_;
    LayoutAttribute firstAttribute_ = LayoutAttribute::left;
    LayoutRelation relation_ = LayoutRelation::equal;
    std::weak_ptr<View> second_;
    bool hasSecond_ = false;
    LayoutAttribute secondAttribute_ = LayoutAttribute::left;
    double multiplier_ = 1;
    double constant_ = 0;
    double priority_ = LayoutConstraint::required;
    std::string identifier_;
    View* installedOn_ = nullptr;
};

// A view's identifier, or its address when it has none, in layout reports.
std::string layoutName(const View* view);

using ViewConstraints = std::vector<std::shared_ptr<ViewConstraint>>;

} // namespace tarpelix::platform
