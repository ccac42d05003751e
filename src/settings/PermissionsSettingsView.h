#pragma once

#include "platform/appkit/Button.h"
#include "platform/appkit/StackView.h"
#include "settings/PermissionActionRow.h"
#include "settings/PermissionSettingsController.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarpelix {

// The Permissions page: the cards of Accessibility, terminal Automation, Clipboard and the
// Keyboard troubleshooting section, filled from the shared permission model. Its owner puts
// `cards()` on the page and calls update() after the model's refresh() or change. Main thread
// only.
class PermissionsSettingsView : public std::enable_shared_from_this<PermissionsSettingsView> {
public:
    struct Token {
        explicit Token() = default;
    };
    explicit PermissionsSettingsView(Token, std::shared_ptr<PermissionSettingsController> controller);

    // Builds the page and shows the controller's snapshot.
    static std::shared_ptr<PermissionsSettingsView>
    create(std::shared_ptr<PermissionSettingsController> controller);

    static constexpr double defaultCardSpacing = 12;
    // A card holding `views` in a leading-aligned column `spacing` apart, 20 points from the
    // card's sides and 16 from its top and bottom; every view but a button is as wide as the
    // column.
    static std::shared_ptr<platform::View> card(const std::vector<std::shared_ptr<platform::View>>& views,
                                                double spacing = defaultCardSpacing);

    // Applies the controller's current snapshot to every row.
    void update();
    // The disclosure button's action: shows or hides the troubleshooting content.
    void toggleTroubleshooting();

    const std::vector<std::shared_ptr<platform::View>>& cards() const { return cards_; }
    PermissionActionRow& accessibility() const { return *accessibility_; }
    PermissionActionRow& clipboard() const { return *clipboard_; }
    PermissionActionRow& inputMonitoring() const { return *inputMonitoring_; }
    platform::Button& troubleshootingButton() const { return *troubleshootingButton_; }
    platform::StackView& troubleshootingContent() const { return *troubleshootingContent_; }
    // The Automation row of a terminal id; none for an unknown id.
    PermissionActionRow* terminal(const std::string& id) const;

private:
    void build();
    void wireActions();

    std::shared_ptr<PermissionSettingsController> controller_;
    std::vector<std::shared_ptr<platform::View>> cards_;
    std::shared_ptr<PermissionActionRow> accessibility_;
    std::shared_ptr<PermissionActionRow> clipboard_;
    std::shared_ptr<PermissionActionRow> inputMonitoring_;
    std::shared_ptr<platform::Button> troubleshootingButton_;
    std::shared_ptr<platform::StackView> troubleshootingContent_;
    std::map<std::string, std::shared_ptr<PermissionActionRow>> terminals_;
};

} // namespace tarpelix
