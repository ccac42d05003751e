#include "gallery/SettingsPageHost.h"

#include "platform/appkit/ClipView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "ui/InterfaceStyle.h"
#include "ui/PageDocumentView.h"

namespace tarpelix::gallery {

using namespace platform;

namespace {

// The page's document: as wide as the scroll view, as tall as its content.
class PageDocument final : public PageDocumentView {
public:
    PageDocument() : PageDocumentView(InterfaceStyle::Spacing::pageInset, InterfaceStyle::Spacing::pageInset) {}
};

} // namespace

std::shared_ptr<Window> settingsPageWindow(const std::string& title, const std::optional<std::string>& subtitle,
                                           const std::vector<std::shared_ptr<View>>& cards, Size size) {
    auto window = Window::create({{0, 0}, size}, WindowStyle::titled | WindowStyle::closable);
    window->setTitle("Tarpelix");
    auto& content = *window->contentView();
    auto scroll = ScrollView::create();
    scroll->setFrame(content.bounds());
    scroll->setHasVerticalScroller(true);
    scroll->setAutohidesScrollers(true);
    scroll->setDrawsBackground(false);
    content.addSubview(scroll);
    auto document = std::make_shared<PageDocument>();
    document->setFrame({0, 0, size.width, size.height});
    scroll->setDocumentView(document);

    auto heading = Label::labelWithString(title);
    heading->setFont(InterfaceStyle::Font::title());
    auto header = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                        InterfaceStyle::Spacing::related, {heading});
    ViewConstraints constraints;
    if (subtitle) {
        auto line = InterfaceStyle::label(*subtitle, true);
        header->addArrangedSubview(line);
        constraints.push_back(line->widthAnchor().constraintEqualTo(header->widthAnchor()));
    }
    auto page = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                      InterfaceStyle::Spacing::group, {header});
    for (const auto& card : cards) page->addArrangedSubview(card);
    page->setCustomSpacing(InterfaceStyle::Spacing::pageInset, header.get());
    document->addSubview(page);
    const double inset = InterfaceStyle::Spacing::pageInset;
    constraints.insert(constraints.end(),
                       {
                           page->leadingAnchor().constraintEqualTo(document->leadingAnchor(), inset),
                           page->trailingAnchor().constraintEqualTo(document->trailingAnchor(), -inset),
                           page->topAnchor().constraintEqualTo(document->topAnchor(), inset),
                           header->widthAnchor().constraintEqualTo(page->widthAnchor()),
                       });
    for (const auto& card : cards) constraints.push_back(card->widthAnchor().constraintEqualTo(page->widthAnchor()));
    ViewConstraint::activate(constraints);
    return window;
}

} // namespace tarpelix::gallery
