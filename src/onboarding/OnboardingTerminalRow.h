#pragma once

#include "onboarding/OnboardingTerminalDiscovery.h"
#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/View.h"
#include "platform/foundation/NotificationCenter.h"

#include <memory>
#include <optional>

namespace tarpelix::platform {
class Button;
class ImageView;
class Label;
} // namespace tarpelix::platform

namespace tarpelix {

// One selectable terminal of the setup's terminal page: a radio button, the terminal's icon,
// its name over "Running" or "Installed", and an "Open" button, on a rounded card that is
// outlined in the accent colour while selected. A click anywhere on the row but "Open" clicks
// its radio button. The buttons carry the name for the screen reader. Main thread only.
class OnboardingTerminalRow final : public platform::View {
public:
    // Made through create(), which lays the row out and observes the display options.
    OnboardingTerminalRow();
    ~OnboardingTerminalRow() override;

    // `image` none: the terminal symbol.
    static std::shared_ptr<OnboardingTerminalRow> create(const OnboardingTerminalDiscovery::Terminal& terminal,
                                                         std::optional<platform::GraphicsImage> image);

    // Shows the running state and the selection; redraws only when the selection changed.
    void update(bool isRunning, bool selected);

    platform::Button& selectionButton() const { return *selectionButton_; }
    platform::Button& openButton() const { return *openButton_; }
    platform::ImageView& iconView() const { return *iconView_; }
    platform::Label& titleLabel() const { return *titleLabel_; }
    platform::Label& statusLabel() const { return *statusLabel_; }
    bool isSelected() const { return isSelected_; }

    View* hitTest(platform::Point pointInSuperview) override;
    void mouseDown(const platform::MouseEvent& event) override;
    bool acceptsFirstMouse(const platform::MouseEvent& event) const override;
    void viewDidChangeEffectiveAppearance() override;
    void draw(platform::GraphicsContext& context, const platform::Rect& dirtyRect) override;

private:
    void build(const OnboardingTerminalDiscovery::Terminal& terminal, std::optional<platform::GraphicsImage> image);

    std::shared_ptr<platform::Button> selectionButton_;
    std::shared_ptr<platform::Button> openButton_;
    std::shared_ptr<platform::ImageView> iconView_;
    std::shared_ptr<platform::Label> titleLabel_;
    std::shared_ptr<platform::Label> statusLabel_;
    bool isSelected_ = false;
    platform::NotificationObserver accessibilityObserver_;
};

} // namespace tarpelix
