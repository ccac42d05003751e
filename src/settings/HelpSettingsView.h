#pragma once

#include "settings/HelpTopicView.h"

#include <memory>
#include <vector>

namespace tarpelix {

// The Help page of Settings: the "Paste an image" card over one card of the eleven collapsible
// topics. `navigate` shows another Settings page. Main thread only.
class HelpSettingsView : public platform::View {
public:
    struct Token {
        explicit Token() = default;
    };
    // Made through create(), which builds the page.
    explicit HelpSettingsView(Token);
    static std::shared_ptr<HelpSettingsView> create(const HelpTopicView::Navigate& navigate);

    // The topic views in display order.
    const std::vector<std::shared_ptr<HelpTopicView>>& topics() const { return topics_; }
    // The destination button of every topic that has one, in topic order.
    std::vector<platform::Button*> navigationButtons() const;

private:
    void build(const HelpTopicView::Navigate& navigate);

    std::vector<std::shared_ptr<HelpTopicView>> topics_;
};

} // namespace tarpelix
