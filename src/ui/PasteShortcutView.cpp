#include "ui/PasteShortcutView.h"

#include "platform/appkit/Label.h"
#include "platform/appkit/Path.h"
#include "platform/appkit/ViewConstraint.h"
#include "ui/InterfaceStyle.h"

#include <limits>

namespace tarpelix {

using namespace platform;

namespace {

// One keycap: "⌃V" in the code font on a rounded key. Only a picture: the label beside it is
// what the screen reader reads.
class KeycapView final : public View {
public:
    static std::shared_ptr<KeycapView> create() {
        auto keycap = std::make_shared<KeycapView>();
        keycap->setAccessibilityElement(false);
        auto label = Label::labelWithString("⌃V");
        label->setFont(InterfaceStyle::Font::code());
        label->setAccessibilityElement(false);
        label->setTranslatesAutoresizingMaskIntoConstraints(false);
        keycap->addSubview(label);
        ViewConstraint::activate({
            label->leadingAnchor().constraintEqualTo(keycap->leadingAnchor(), 8),
            label->trailingAnchor().constraintEqualTo(keycap->trailingAnchor(), -8),
            label->topAnchor().constraintEqualTo(keycap->topAnchor(), 4),
            label->bottomAnchor().constraintEqualTo(keycap->bottomAnchor(), -4),
        });
        return keycap;
    }

    void viewDidChangeEffectiveAppearance() override { setNeedsDisplay(true); }

    void draw(GraphicsContext& context, const Rect&) override {
        const Path key = Path::roundedRect(bounds().insetBy(0.5, 0.5), 6, 6);
        context.fill(key, Color::quaternaryLabelColor());
        context.setLineWidth(1);
        context.stroke(key, Color::separatorColor());
    }
};

} // namespace

PasteShortcutView::PasteShortcutView() {
    setOrientation(LayoutAxis::horizontal);
    setAlignment(Alignment::center);
    setSpacing(8);
}

std::shared_ptr<PasteShortcutView> PasteShortcutView::create() {
    auto view = std::make_shared<PasteShortcutView>();
    view->addArrangedSubview(KeycapView::create());
    auto label = InterfaceStyle::label("Control+V", false, {});
    // Our wrapping labels take their width from the layout; this one keeps its one-line width
    // so that the shortcut has a width of its own, which the pages that show it hug.
    label->setPreferredMaxLayoutWidth(std::numeric_limits<double>::max());
    view->addArrangedSubview(label);
    return view;
}

} // namespace tarpelix
