#pragma once

#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "ui/InterfaceIcon.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix {

// One permission as a row: an optional icon, a column of title, detail, status line (status
// icon and text) and message, and the action button at the trailing edge. The Permissions
// page and the setup window fill it from the permission model through apply(). Main thread
// only.
class PermissionActionRow : public platform::View {
public:
    struct Token {
        explicit Token() = default;
    };
    // Made through create(), which lays the row out and wires the button to it.
    PermissionActionRow(Token, const std::optional<std::string>& title);

    static std::shared_ptr<PermissionActionRow> create(const std::optional<std::string>& title,
                                                       std::optional<InterfaceIcon> icon,
                                                       const std::optional<std::string>& detail);

    // Shows one state of the permission: status text and icon (green when allowed, grey when
    // optional, orange otherwise), the button ("Checking…" and disabled while busy, hidden
    // unless `showsAction`) and the message line (hidden while empty).
    void apply(const std::string& status, bool allowed, const std::string& action, bool busy, bool enabled,
               const std::optional<std::string>& message, bool optional, bool showsAction);
    // Shows the title and names the button after it for the screen reader.
    void setTitle(const std::string& title);
    // The button's action: runs performAction while the button is enabled.
    void activate();

    platform::Label& status() const { return *status_; }
    platform::ImageView& statusIcon() const { return *statusIcon_; }
    platform::Button& button() const { return *button_; }
    platform::Label& detail() const { return *detail_; }
    platform::Label& message() const { return *message_; }
    platform::Label& titleLabel() const { return *titleLabel_; }
    // The row's icon; none when made without one.
    platform::ImageView* icon() const { return icon_.get(); }

    // What the button does.
    std::function<void()> performAction;
    // The row's title in spoken labels.
    std::optional<std::string> accessibilityTitle;

private:
    void build(const std::optional<std::string>& title, std::optional<InterfaceIcon> icon,
               const std::optional<std::string>& detail);
    void updateButtonLabel();
    void centreOn(platform::View& view);

    std::shared_ptr<platform::Label> status_;
    std::shared_ptr<platform::ImageView> statusIcon_;
    std::shared_ptr<platform::Button> button_;
    std::shared_ptr<platform::Label> detail_;
    std::shared_ptr<platform::Label> message_;
    std::shared_ptr<platform::Label> titleLabel_;
    std::shared_ptr<platform::ImageView> icon_;
    std::shared_ptr<platform::StackView> statusLine_;
    platform::ViewConstraints centring_; // button (and icon) on the title or the status line
};

} // namespace tarpelix
