#pragma once

#include "platform/appkit/Application.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"
#include "ui/InterfaceStyle.h"

#include <memory>
#include <vector>

namespace tarpelix::testing {

// A window holding a Settings page's views as the Settings window will: a column of them,
// each as wide as the page, 24 points inside its edges, key in the active application. Laid
// out before it is returned.
inline std::shared_ptr<platform::Window> hostPage(const std::vector<std::shared_ptr<platform::View>>& views,
                                                  double width = 651, double height = 1600) {
    using namespace platform;
    auto window = Window::create({0, 0, width, height}, WindowStyle::titled);
    auto stack = StackView::create(views);
    stack->setOrientation(LayoutAxis::vertical);
    stack->setAlignment(StackView::Alignment::leading);
    stack->setSpacing(InterfaceStyle::Spacing::group);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto& content = *window->contentView();
    content.addSubview(stack);
    const double inset = InterfaceStyle::Spacing::pageInset;
    ViewConstraints constraints = {
        stack->leadingAnchor().constraintEqualTo(content.leadingAnchor(), inset),
        stack->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -inset),
        stack->topAnchor().constraintEqualTo(content.topAnchor(), inset),
    };
    for (const auto& view : views)
        constraints.push_back(view->widthAnchor().constraintEqualTo(stack->widthAnchor()));
    ViewConstraint::activate(constraints);
    Application::shared().activate(); // so that a first click reaches the views
    window->makeKeyAndOrderFront();
    window->layoutIfNeeded();
    return window;
}

} // namespace tarpelix::testing
