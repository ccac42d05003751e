#pragma once

#include "platform/appkit/Layer.h"
#include "platform/appkit/View.h"
#include "platform/foundation/NotificationCenter.h"

#include <functional>
#include <memory>

namespace tarpelix {

// The overlay's spinner: a faint full ring (`track`) under an accent-coloured arc of 72 % of it
// that turns once every 0.85 seconds while running, unless Reduce Motion is on: then the arc
// stands still. Colours follow the appearance; a change of the accessibility display options
// adds or removes the rotation of a running indicator without restarting it. Main thread only.
class PasteOverlayActivityIndicator final : public platform::View {
public:
    using ReduceMotion = std::function<bool()>;
    // The key of the arc's rotation animation.
    static inline const std::string rotationKey = "rotation";

    // Made through create(), which registers the display-options observer.
    explicit PasteOverlayActivityIndicator(ReduceMotion reduceMotion);
    ~PasteOverlayActivityIndicator() override;

    // `reduceMotion` is asked whenever the motion is brought up to date; by default the
    // workspace's Reduce Motion display option.
    static std::shared_ptr<PasteOverlayActivityIndicator> create(ReduceMotion reduceMotion = defaultReduceMotion());
    static ReduceMotion defaultReduceMotion();

    // Shows the indicator and rotates the arc unless motion is reduced.
    void startAnimation();
    // Hides it and removes the rotation.
    void stopAnimation();
    bool isRunning() const { return isRunning_; }

    const platform::ShapeLayer& track() const { return *track_; }
    const platform::ShapeLayer& arc() const { return *arc_; }

    void layout() override;
    void viewDidChangeEffectiveAppearance() override;

private:
    void refreshColors();
    void refreshMotion();

    std::shared_ptr<platform::ShapeLayer> track_;
    std::shared_ptr<platform::ShapeLayer> arc_;
    ReduceMotion reduceMotion_;
    platform::NotificationObserver accessibilityObserver;
    bool isRunning_ = false;
};

} // namespace tarpelix
