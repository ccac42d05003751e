#pragma once

#include "platform/appkit/View.h"
#include "platform/appkit/ViewConstraint.h"

#include <memory>
#include <optional>
#include <vector>

namespace tarpelix::platform {

// Lines up its arranged subviews in a row or a column with constraints of its own: the first
// and last at the edges (within the insets), the others `spacing` apart (or the custom spacing
// after a view), all aligned across. A hidden arranged view is detached: it takes no space
// and no spacing. The stack keeps to its content across its axis at its hugging priority.
class StackView : public View {
public:
    // Across a row: top, center, bottom or first baseline; across a column: leading, center or
    // trailing. Top and leading (bottom and trailing) mean the same start (end) edge either way;
    // first baseline in a column is leading.
    enum class Alignment { leading, center, trailing, top, bottom, firstBaseline };
    // Along the axis: fill keeps the views at the sizes their constraints give them (the one
    // with the lowest hugging priority takes what is left); fillEqually makes them equally long.
    enum class Distribution { fill, fillEqually };

    static constexpr double defaultSpacing = 8;

    explicit StackView(const Rect& frame = {});
    static std::shared_ptr<StackView> create(const std::vector<std::shared_ptr<View>>& views = {});

    LayoutAxis orientation() const { return orientation_; }
    void setOrientation(LayoutAxis orientation);
    Alignment alignment() const { return alignment_; }
    void setAlignment(Alignment alignment);
    Distribution distribution() const { return distribution_; }
    void setDistribution(Distribution distribution);
    double spacing() const { return spacing_; }
    void setSpacing(double spacing);
    // The spacing after the view, instead of `spacing`; none resets it.
    void setCustomSpacing(std::optional<double> spacing, const View* after);
    std::optional<double> customSpacing(const View* after) const;
    EdgeInsets edgeInsets() const { return edgeInsets_; }
    void setEdgeInsets(const EdgeInsets& insets);

    const std::vector<std::shared_ptr<View>>& arrangedSubviews() const { return arranged_; }
    // Adds the view as an arranged subview (and a subview, when it is not one), placed by
    // constraints from now on.
    void addArrangedSubview(std::shared_ptr<View> view);
    void insertArrangedSubview(std::shared_ptr<View> view, std::size_t index);
    // The view stays a subview, no longer arranged.
    void removeArrangedSubview(const View* view);

    void updateConstraints() override;
    void willRemoveSubview(View* view) override;

private:
    void changed();

    LayoutAxis orientation_ = LayoutAxis::horizontal;
    Alignment alignment_ = Alignment::center;
    Distribution distribution_ = Distribution::fill;
    double spacing_ = defaultSpacing;
    std::vector<std::pair<const View*, double>> customSpacing_;
    EdgeInsets edgeInsets_;
    std::vector<std::shared_ptr<View>> arranged_;
    ViewConstraints generated_;
    std::vector<const View*> lastShown_;
    bool dirty_ = true;
};

} // namespace tarpelix::platform
