#pragma once

#include "platform/appkit/Button.h"
#include "platform/appkit/Label.h"
#include "settings/HelpTopicButton.h"
#include "settings/OfflineHelp.h"

#include <functional>
#include <memory>

namespace tarpelix {

// One collapsible help topic: the header row over the body text and, for a topic that leads
// to another Settings page, its button. Starts collapsed. Main thread only.
class HelpTopicView : public platform::View {
public:
    using Navigate = std::function<void(OfflineHelp::Destination)>;

    struct Token {
        explicit Token() = default;
    };
    HelpTopicView(Token, OfflineHelp::Section section, Navigate navigate);
    // Made through create(), which wires the buttons to the topic.
    static std::shared_ptr<HelpTopicView> create(OfflineHelp::Section section, Navigate navigate);

    bool isExpanded() const { return !detail_->isHidden(); }
    // Opens or closes the topic and brings the window's layout, Tab order and scroller along.
    void toggle();
    // Shows the Settings page the topic leads to, when it leads to one.
    void openDestination();

    HelpTopicButton& disclosureButton() const { return *disclosureButton_; }
    platform::Label& bodyLabel() const { return *bodyLabel_; }
    // None when the topic has no destination.
    platform::Button* navigationButton() const { return navigationButton_.get(); }
    platform::View& detail() const { return *detail_; }
    const OfflineHelp::Section& section() const { return section_; }

private:
    void build();

    std::shared_ptr<HelpTopicButton> disclosureButton_;
    std::shared_ptr<platform::Label> bodyLabel_;
    std::shared_ptr<platform::Button> navigationButton_;
    std::shared_ptr<platform::View> detail_;
    OfflineHelp::Section section_;
    Navigate navigate_;
};

} // namespace tarpelix
