#pragma once

#include "platform/appkit/Control.h"
#include "platform/appkit/View.h"

#include <memory>

namespace tarpelix::platform {

// A spinning progress indicator (the one style the windows use): twelve spokes fading round
// a circle. Animating is a rotation of its layer, recorded under `animationKey`; the drawing
// itself holds still. Read as a progress indicator. Main thread only.
class ProgressIndicator final : public View {
public:
    static constexpr const char* animationKey = "spin";

    explicit ProgressIndicator(const Rect& frame = {});
    static std::shared_ptr<ProgressIndicator> create() { return std::make_shared<ProgressIndicator>(); }

    ControlSize controlSize() const { return controlSize_; }
    // Regular indicators are 32 points, small ones 16.
    void setControlSize(ControlSize size);
    // Whether a stopped indicator is drawn (on by default).
    bool isDisplayedWhenStopped() const { return displayedWhenStopped_; }
    void setDisplayedWhenStopped(bool displayed);
    bool isAnimating() const { return animating_; }
    void startAnimation();
    void stopAnimation();

    Size intrinsicContentSize() const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

private:
    ControlSize controlSize_ = ControlSize::regular;
    bool displayedWhenStopped_ = true;
    bool animating_ = false;
};

} // namespace tarpelix::platform
