#pragma once

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/ClipView.h"
#include "platform/appkit/TextLayout.h"
#include "platform/appkit/View.h"

#include <memory>
#include <string>

namespace tarpelix::platform {

class TextView;

// The area a text view lays its text out in: a size (either dimension may be unbounded) or
// the text view's width less its insets, and the padding at each end of every line.
class TextContainer {
public:
    static constexpr double unbounded = TextLayout::unlimited;

    Size size() const { return size_; }
    void setSize(Size size);
    // Whether the width follows the text view's width (less the container inset).
    bool widthTracksTextView() const { return widthTracks_; }
    void setWidthTracksTextView(bool tracks);
    double lineFragmentPadding() const { return padding_; }
    void setLineFragmentPadding(double padding);

private:
    friend class TextView;
    explicit TextContainer(TextView& owner) : owner_(owner) {}
    TextView& owner_;
    Size size_{unbounded, unbounded};
    bool widthTracks_ = true;
    double padding_ = 5;
};

// Read-only text: attributed text laid out from the top (the view is flipped) in its text
// container, inset by the container inset. A selectable text view takes focus; Command-A or
// "selectAll:" selects the whole text, and Command-C or "copy:" puts the selection on the
// general pasteboard as plain text ("copy:" is enabled only while something is selected).
// As the document of a scroll view it grows to its text: as tall as the text needs, and, when
// its container does not track its width, as wide as its longest line, so long lines scroll
// horizontally. Main thread only.
class TextView : public View, public ScrollableDocument {
public:
    explicit TextView(const Rect& frame = {});

    static std::shared_ptr<TextView> create(const Rect& frame = {}) { return std::make_shared<TextView>(frame); }

    // The text storage. Setting it clears the selection.
    const AttributedString& textStorage() const { return text_; }
    void setAttributedString(AttributedString text);
    // Plain text in the text view's font and colour.
    std::string string() const { return text_.string(); }
    void setString(std::string text);
    // The font and colour of plain text and of runs that set none.
    const Font& font() const { return font_; }
    void setFont(Font font);
    const Color& textColor() const { return textColor_; }
    void setTextColor(Color color);

    bool isEditable() const { return false; }
    bool isSelectable() const { return selectable_; }
    void setSelectable(bool selectable);
    // In UTF-16 units; empty when nothing is selected.
    TextRange selectedRange() const { return selection_; }
    void selectAll();
    // Puts the selected text on the general pasteboard; false (and nothing written) when
    // nothing is selected.
    bool copySelection();

    bool drawsBackground() const { return drawsBackground_; }
    void setDrawsBackground(bool draws);
    const Color& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(Color color);
    // Space between the view's edges and the text container, on each side.
    Size textContainerInset() const { return inset_; }
    void setTextContainerInset(Size inset);
    TextContainer& textContainer() { return container_; }
    const TextContainer& textContainer() const { return container_; }

    // The rectangle the laid-out text takes in its container: the lines' width plus the
    // padding, and their height.
    Rect usedRect() const;

    bool isFlipped() const override { return true; }
    bool acceptsFirstResponder() const override { return selectable_; }
    void fitToVisibleSize(Size visible) override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    void mouseDown(const MouseEvent& event) override;
    void keyDown(const KeyEvent& event) override;
    bool respondsToAction(const std::string& action) const override;
    void performAction(const std::string& action, ActionSender* sender) override;
    bool validateMenuItem(const MenuItem& item) const override;
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::textArea; }
    std::optional<std::string> accessibilityValue() const override { return text_.string(); }

private:
    friend class TextContainer;
    void layoutChanged();
    AttributedString styled() const;
    double layoutWidth() const;

    AttributedString text_;
    Font font_ = Font::systemFont(12);
    Color textColor_ = Color::textColor();
    bool selectable_ = true;
    TextRange selection_;
    bool drawsBackground_ = true;
    Color backgroundColor_ = Color::textBackgroundColor();
    Size inset_;
    TextContainer container_{*this};
};

} // namespace tarpelix::platform
