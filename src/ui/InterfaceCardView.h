#pragma once

#include "platform/appkit/View.h"
#include "platform/foundation/NotificationCenter.h"

#include <memory>

namespace tarpelix {

// The rounded card behind a group of controls: the control background with a separator-coloured
// border that turns fully opaque under Increase Contrast. It redraws when the accessibility
// display options or its appearance change. Main thread only.
class InterfaceCardView : public platform::View {
public:
    // Made through create(), which registers the display-options observer.
    explicit InterfaceCardView(const platform::Rect& frame = {});
    ~InterfaceCardView() override;

    static std::shared_ptr<InterfaceCardView> create(const platform::Rect& frame = {});

    void viewDidChangeEffectiveAppearance() override;
    void draw(platform::GraphicsContext& context, const platform::Rect& dirtyRect) override;

private:
    platform::NotificationObserver accessibilityObserver;
};

} // namespace tarpelix
