#include "gallery/SettingsPageHost.h"

#include "platform/appkit/ScrollView.h"
#include "ui/PageDocumentView.h"

namespace tarpelix::gallery {

using namespace platform;

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
    auto document = std::make_shared<CardPageDocumentView>();
    document->setFrame({0, 0, size.width, size.height});
    scroll->setDocumentView(document);
    document->fill(title, subtitle, cards);
    return window;
}

} // namespace tarpelix::gallery
