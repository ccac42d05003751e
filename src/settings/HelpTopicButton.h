#pragma once

#include "ui/LinkRowButton.h"

#include <memory>
#include <string>

namespace tarpelix {

// The header row of a help topic: icon, title and a chevron that shows whether the topic is
// open. A click anywhere on the row presses it. Main thread only.
class HelpTopicButton : public LinkRowButton {
public:
    // Made through create(), which lays the row out.
    explicit HelpTopicButton(const std::string& title);
    static std::shared_ptr<HelpTopicButton> create(const std::string& title, InterfaceIcon icon);

    // Shows the expanded or collapsed chevron and tells the screen reader the same.
    void setExpanded(bool expanded);

    platform::Label& titleLabel() const { return *titleLabel_; }
    platform::ImageView& chevron() const { return *chevron_; }

private:
    void build(const std::string& title, InterfaceIcon icon);

    std::shared_ptr<platform::Label> titleLabel_;
    std::shared_ptr<platform::ImageView> chevron_;
};

} // namespace tarpelix
