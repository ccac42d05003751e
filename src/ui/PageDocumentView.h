#pragma once

#include "platform/appkit/ClipView.h"
#include "platform/appkit/View.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix {

// The document of a page that scrolls: flipped, so the content stacks from the top; as wide as
// the visible area and as tall as its one subview with the insets above and below it (at
// least the visible height until that subview is added).
class PageDocumentView : public platform::View, public platform::ScrollableDocument {
public:
    PageDocumentView(double topInset, double bottomInset) : topInset_(topInset), bottomInset_(bottomInset) {}

    bool isFlipped() const override { return true; }
    void fitToVisibleSize(platform::Size visible) override;
    void layout() override;

private:
    double contentHeight(double fallback) const;

    double topInset_;
    double bottomInset_;
};

// The document of a page of cards, as the Settings pages are: the page inset on every side.
class CardPageDocumentView final : public PageDocumentView {
public:
    CardPageDocumentView();
    // Lays out the page: its title, the subtitle under it when there is one, then the cards,
    // each as wide as the page.
    void fill(const std::string& title, const std::optional<std::string>& subtitle,
              const std::vector<std::shared_ptr<platform::View>>& cards);
};

} // namespace tarpelix
