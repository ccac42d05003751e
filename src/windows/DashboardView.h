#pragma once

#include "platform/appkit/Label.h"
#include "platform/appkit/View.h"
#include "platform/foundation/URL.h"
#include "storage/PasteUsage.h"
#include "ui/InterfaceIcon.h"
#include "ui/LinkRowButton.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix {

// A full-width row of the dashboard's Resources card that opens a web page: the icon, the
// title and an external-link mark. Main thread only.
class DashboardLinkButton final : public LinkRowButton {
public:
    struct Token {
        explicit Token() = default;
    };
    DashboardLinkButton(Token, const std::string& title, InterfaceIcon icon);
    static std::shared_ptr<DashboardLinkButton> create(const std::string& title, InterfaceIcon icon);
};

// The usage dashboard: the estimated time saved with a one-line summary, three metric cards
// (successful pastes, days used, using since) and the Resources card whose rows open the
// testimonial draft and the support page. It only formats what update() gives it; numbers and
// dates follow the desktop's locale. Main thread only.
class DashboardView final : public platform::View {
public:
    // Opens a link; false when nothing could open it.
    using OpenURL = std::function<bool(const platform::URL&)>;

    // The text the testimonial draft starts with.
    static const std::string testimonialText;
    static constexpr const char* linkFailure = "Couldn\u2019t open your browser. Try again.";
    // Identifiers of the three metric values, which clip a value wider than their card.
    static constexpr const char* pastesIdentifier = "dashboard.pastes";
    static constexpr const char* daysIdentifier = "dashboard.days";
    static constexpr const char* sinceIdentifier = "dashboard.since";

    struct Token {
        explicit Token() = default;
    };
    DashboardView(Token, OpenURL openURL);
    // Made through create(), which wires the link rows to the view. The default opener hands
    // the link to the workspace.
    static std::shared_ptr<DashboardView> create(OpenURL openURL = openWithWorkspace);
    static bool openWithWorkspace(const platform::URL& url);

    // Fills every figure from the usage; none means the figures are unavailable.
    void update(const std::optional<PasteUsage>& usage);

    // "2 hours, 1 minute": hours (grouped in the desktop's locale) and minutes, or minutes
    // alone, or seconds alone below a minute.
    static std::string durationText(std::int64_t seconds);

    static const platform::URL& supportURL();
    // The compose-post intent with the draft text and the product's home page.
    static platform::URL testimonialURL();

    // The link rows' actions.
    void share();
    void support();

    platform::Label& timeTitleLabel() const { return *timeTitleLabel_; }
    platform::Label& timeLabel() const { return *timeLabel_; }
    platform::Label& summaryLabel() const { return *summaryLabel_; }
    platform::Label& pastesLabel() const { return *pastesLabel_; }
    platform::Label& daysLabel() const { return *daysLabel_; }
    platform::Label& sinceLabel() const { return *sinceLabel_; }
    DashboardLinkButton& shareButton() const { return *shareButton_; }
    DashboardLinkButton& supportButton() const { return *supportButton_; }
    platform::Label& actionStatus() const { return *actionStatus_; }

private:
    void open(const platform::URL& url);

    std::shared_ptr<platform::Label> timeTitleLabel_;
    std::shared_ptr<platform::Label> timeLabel_;
    std::shared_ptr<platform::Label> summaryLabel_;
    std::shared_ptr<platform::Label> pastesLabel_;
    std::shared_ptr<platform::Label> daysLabel_;
    std::shared_ptr<platform::Label> sinceLabel_;
    std::shared_ptr<DashboardLinkButton> shareButton_;
    std::shared_ptr<DashboardLinkButton> supportButton_;
    std::shared_ptr<platform::Label> actionStatus_;
    OpenURL openURL_;
};

} // namespace tarpelix
