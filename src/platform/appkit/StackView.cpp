#include "platform/appkit/StackView.h"

#include "platform/appkit/Window.h"

#include <algorithm>

namespace tarpelix::platform {

StackView::StackView(const Rect& frame) : View(frame) {}

std::shared_ptr<StackView> StackView::create(const std::vector<std::shared_ptr<View>>& views) {
    auto stack = std::make_shared<StackView>();
    for (const auto& view : views) stack->addArrangedSubview(view);
    return stack;
}

void StackView::changed() {
    dirty_ = true;
    if (window()) window()->setNeedsConstraintLayout();
}

void StackView::setOrientation(LayoutAxis orientation) {
    orientation_ = orientation;
    changed();
}

void StackView::setAlignment(Alignment alignment) {
    alignment_ = alignment;
    changed();
}

void StackView::setDistribution(Distribution distribution) {
    distribution_ = distribution;
    changed();
}

void StackView::setSpacing(double spacing) {
    spacing_ = spacing;
    changed();
}

void StackView::setCustomSpacing(std::optional<double> spacing, const View* after) {
    std::erase_if(customSpacing_, [&](const auto& entry) { return entry.first == after; });
    if (spacing) customSpacing_.emplace_back(after, *spacing);
    changed();
}

std::optional<double> StackView::customSpacing(const View* after) const {
    for (const auto& [view, spacing] : customSpacing_) {
        if (view == after) return spacing;
    }
    return std::nullopt;
}

void StackView::setEdgeInsets(const EdgeInsets& insets) {
    edgeInsets_ = insets;
    changed();
}

void StackView::addArrangedSubview(std::shared_ptr<View> view) { insertArrangedSubview(std::move(view), arranged_.size()); }

void StackView::insertArrangedSubview(std::shared_ptr<View> view, std::size_t index) {
    if (!view || view.get() == this) return;
    removeArrangedSubview(view.get());
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    if (view->superview() != this) addSubview(view);
    arranged_.insert(arranged_.begin() + std::ptrdiff_t(std::min(index, arranged_.size())), std::move(view));
    changed();
}

void StackView::removeArrangedSubview(const View* view) {
    const auto count = std::erase_if(arranged_, [&](const auto& v) { return v.get() == view; });
    if (count) changed();
}

void StackView::willRemoveSubview(View* view) {
    removeArrangedSubview(view);
    std::erase_if(customSpacing_, [&](const auto& entry) { return entry.first == view; });
}

void StackView::updateConstraints() {
    std::vector<const View*> shown;
    for (const auto& view : arranged_) {
        if (!view->isHidden()) shown.push_back(view.get());
    }
    if (!dirty_ && shown == lastShown_) return;
    dirty_ = false;
    lastShown_ = shown;
    ViewConstraint::deactivate(generated_);
    generated_.clear();

    using A = LayoutAttribute;
    const bool row = orientation_ == LayoutAxis::horizontal;
    const A start = row ? A::leading : A::top, end = row ? A::trailing : A::bottom, length = row ? A::width : A::height;
    const A crossStart = row ? A::top : A::leading, crossEnd = row ? A::bottom : A::trailing;
    const A crossCenter = row ? A::centerY : A::centerX, crossLength = row ? A::height : A::width;
    const double startInset = row ? edgeInsets_.left : edgeInsets_.top;
    const double endInset = row ? edgeInsets_.right : edgeInsets_.bottom;
    const double crossStartInset = row ? edgeInsets_.top : edgeInsets_.left;
    const double crossEndInset = row ? edgeInsets_.bottom : edgeInsets_.right;

    const auto add = [&](View* a, A aa, LayoutRelation relation, View* b, A ba, double constant,
                         double priority = LayoutConstraint::required) {
        auto constraint = ViewConstraint::create(a, aa, relation, b, ba, 1, constant);
        constraint->setPriority(priority);
        generated_.push_back(std::move(constraint));
    };
    const auto eq = LayoutRelation::equal, ge = LayoutRelation::greaterThanOrEqual, le = LayoutRelation::lessThanOrEqual;
    const auto cross = row ? LayoutAxis::vertical : LayoutAxis::horizontal;

    enum class Across { start, center, end, baseline } across = Across::center;
    switch (alignment_) {
    case Alignment::leading:
    case Alignment::top: across = Across::start; break;
    case Alignment::trailing:
    case Alignment::bottom: across = Across::end; break;
    case Alignment::center: across = Across::center; break;
    case Alignment::firstBaseline: across = row ? Across::baseline : Across::start; break;
    }

    // The stack is as thick as its thickest view unless something stronger stretches it.
    add(this, crossLength, eq, nullptr, crossLength, crossStartInset + crossEndInset, contentHuggingPriority(cross));
    if (shown.empty()) {
        add(this, length, eq, nullptr, length, startInset + endInset, contentHuggingPriority(orientation_));
    }
    View* first = shown.empty() ? nullptr : const_cast<View*>(shown.front());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        View* view = const_cast<View*>(shown[i]);
        if (i == 0) {
            add(view, start, eq, this, start, startInset);
        } else {
            const View* previous = shown[i - 1];
            add(view, start, eq, const_cast<View*>(previous), end, customSpacing(previous).value_or(spacing_));
        }
        if (i + 1 == shown.size()) add(this, end, eq, view, end, endInset);
        if (distribution_ == Distribution::fillEqually && i > 0) add(view, length, eq, first, length, 0);

        switch (across) {
        case Across::start:
            add(view, crossStart, eq, this, crossStart, crossStartInset);
            add(view, crossEnd, le, this, crossEnd, -crossEndInset);
            break;
        case Across::end:
            add(view, crossEnd, eq, this, crossEnd, -crossEndInset);
            add(view, crossStart, ge, this, crossStart, crossStartInset);
            break;
        case Across::center:
            add(view, crossCenter, eq, this, crossCenter, (crossStartInset - crossEndInset) / 2);
            add(view, crossStart, ge, this, crossStart, crossStartInset);
            break;
        case Across::baseline:
            if (view != first) add(view, A::firstBaseline, eq, first, A::firstBaseline, 0);
            add(view, crossStart, ge, this, crossStart, crossStartInset);
            add(view, crossEnd, le, this, crossEnd, -crossEndInset);
            break;
        }
    }
    ViewConstraint::activate(generated_);
}

} // namespace tarpelix::platform
