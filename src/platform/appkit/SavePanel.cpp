#include "platform/appkit/SavePanel.h"

#include "platform/appkit/Box.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Label.h"
#include "platform/foundation/MainThread.h"

#include <cstdlib>

namespace tarpelix::platform {

namespace {

struct KnownType {
    const char* identifier;
    const char* extension;
    const char* description;
};
constexpr KnownType knownTypes[] = {
    {"public.plain-text", "txt", "Plain Text"},
    {"public.png", "png", "PNG image"},
    {"public.json", "json", "JSON"},
};

const KnownType* known(const std::string& type) {
    for (const auto& k : knownTypes) {
        if (type == k.identifier) return &k;
    }
    return nullptr;
}

constexpr double margin = 20;
constexpr double labelColumn = 84; // the row titles, right-aligned
constexpr double rowHeight = 22;
constexpr double rowSpacing = 8;

std::filesystem::path defaultDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::error_code error;
    return std::filesystem::current_path(error);
}

// Sets the view's frame from its top-left corner (y up) and adds it.
template <typename V>
std::shared_ptr<V> place(View& parent, std::shared_ptr<V> view, double x, double top, Size size) {
    view->setFrame({x, top - size.height, size.width, size.height});
    parent.addSubview(view);
    return view;
}

} // namespace

std::string ContentType::preferredFilenameExtension(const std::string& type) {
    const auto* k = known(type);
    return k ? k->extension : "";
}

std::string ContentType::localizedDescription(const std::string& type) {
    const auto* k = known(type);
    return k ? k->description : type;
}

// The save panel's window: Save answers with the panel's folder and name, Cancel cancels.
class SavePanelWindow final : public SheetPanel {
public:
    explicit SavePanelWindow(std::weak_ptr<SavePanel> panel)
        : SheetPanel({0, 0, SavePanel::width, 100}), panel_(std::move(panel)) {}

    bool answer(const std::optional<std::filesystem::path>& path) override {
        auto panel = panel_.lock();
        return panel && panel->panel_.get() == this && panel->answer(path);
    }

private:
    std::weak_ptr<SavePanel> panel_;
};

std::shared_ptr<SavePanel> SavePanel::create() { return std::shared_ptr<SavePanel>(new SavePanel()); }

SavePanel::SavePanel() : directory_(defaultDirectory()) { requireMainThread("SavePanel"); }

SavePanel::~SavePanel() = default;

std::string SavePanel::chosenName() const {
    if (name_.empty() || types_.empty()) return name_;
    const std::string extension = ContentType::preferredFilenameExtension(types_.front());
    if (extension.empty() || std::filesystem::path(name_).has_extension()) return name_;
    return name_ + "." + extension;
}

std::optional<std::filesystem::path> SavePanel::url() const {
    if (!chose_ || name_.empty()) return std::nullopt;
    return directory_ / chosenName();
}

SheetPanel& SavePanel::window() {
    if (!panel_) build();
    return *panel_;
}

void SavePanel::build() {
    panel_ = std::make_shared<SavePanelWindow>(weak_from_this());
    View& content = *panel_->contentView();
    const double inner = width - 2 * margin;
    const double fieldX = margin + labelColumn + 8;
    const double fieldWidth = width - margin - fieldX;

    // Measured top-down, then placed once the height is known.
    auto title = Label::labelWithString(title_.empty() ? "Save" : title_);
    title->setFont(Font::boldSystemFont(13));
    title->setAlignment(TextAlignment::center);
    title->setLineBreakMode(LineBreakMode::byTruncatingTail);
    std::shared_ptr<Label> message;
    if (!message_.empty()) {
        message = Label::wrappingLabelWithString(message_);
        message->setFont(Font::systemFont(11));
        message->setTextColor(Color::secondaryLabelColor());
        message->setAlignment(TextAlignment::center);
    }
    std::vector<std::pair<std::string, std::string>> rows = {{"Save As:", name_}, {"Where:", directory_.string()}};
    if (!types_.empty()) rows.emplace_back("Format:", ContentType::localizedDescription(types_.front()));

    std::weak_ptr<SavePanel> weak = weak_from_this();
    auto save = Button::withTitle("Save", "save", [weak](Control&) {
        if (auto panel = weak.lock()) panel->answer(panel->directory_ / panel->name_);
    });
    save->setKeyEquivalent("\r");
    save->setEnabled(!name_.empty());
    auto cancel = Button::withTitle("Cancel", "cancel", [weak](Control&) {
        if (auto panel = weak.lock()) panel->answer(std::nullopt);
    });
    cancel->setKeyEquivalent("\x1b");
    const double buttonHeight = save->intrinsicContentSize().height;

    const double titleHeight = title->intrinsicContentSize().height;
    const double messageHeight = message ? message->heightForWidth(inner) : 0;
    const double height = margin + titleHeight + (message ? 4 + messageHeight : 0) + 16 +
                          double(rows.size()) * rowHeight + double(rows.size() - 1) * rowSpacing + 20 +
                          buttonHeight + 16;
    panel_->setContentSize({width, height});
    content.setFrame({0, 0, width, height});

    double top = height - margin;
    place(content, title, margin, top, {inner, titleHeight});
    top -= titleHeight;
    if (message) {
        top -= 4;
        place(content, message, margin, top, {inner, messageHeight});
        top -= messageHeight;
    }
    top -= 16;
    for (const auto& [caption, value] : rows) {
        auto label = Label::labelWithString(caption);
        label->setAlignment(TextAlignment::right);
        const double labelHeight = label->intrinsicContentSize().height;
        place(content, label, margin, top - (rowHeight - labelHeight) / 2, {labelColumn, labelHeight});
        auto field = Box::custom();
        field->setFillColor(caption == "Save As:" ? Color::textBackgroundColor() : Color::controlBackgroundColor());
        field->setBorderColor(Color::separatorColor());
        field->setBorderWidth(1);
        field->setCornerRadius(5);
        place(content, field, fieldX, top, {fieldWidth, rowHeight});
        auto text = Label::labelWithString(value);
        text->setLineBreakMode(caption == "Where:" ? LineBreakMode::byTruncatingHead : LineBreakMode::byTruncatingTail);
        const double textHeight = text->intrinsicContentSize().height;
        place(*field, text, 6, (rowHeight + textHeight) / 2, {fieldWidth - 12, textHeight});
        top -= rowHeight + rowSpacing;
    }
    top += rowSpacing - 20;

    const double saveWidth = std::max(save->intrinsicContentSize().width, 80.0);
    const double cancelWidth = std::max(cancel->intrinsicContentSize().width, 80.0);
    place(content, save, width - margin - saveWidth, top, {saveWidth, buttonHeight});
    place(content, cancel, width - margin - saveWidth - 12 - cancelWidth, top, {cancelWidth, buttonHeight});
    SheetContents description;
    description.kind = SheetContents::Kind::savePanel;
    description.messageText = message_;
    description.title = title_;
    description.nameFieldValue = name_;
    description.allowedContentTypes = types_;
    description.canCreateDirectories = canCreateDirectories_;
    description.directory = directory_.string();
    panel_->setContents(std::move(description), {save.get(), cancel.get()});
}

void SavePanel::beginSheetModal(Window& window, std::function<void(ModalResponse)> completion) {
    if (panel_ && panel_->isPresented()) return;
    chose_ = false;
    build();
    panel_->present(window, std::move(completion), shared_from_this());
}

bool SavePanel::answer(const std::optional<std::filesystem::path>& path) {
    if (!panel_ || !panel_->isPresented()) return false;
    if (path && (path->filename().empty() || path->parent_path().empty())) return false;
    chose_ = path.has_value();
    if (path) {
        directory_ = path->parent_path();
        name_ = path->filename().string();
    }
    panel_->finish(path ? ModalResponses::OK : ModalResponses::cancel);
    return true;
}

} // namespace tarpelix::platform
