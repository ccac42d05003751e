#include "platform/appkit/TableView.h"

#include "platform/appkit/Events.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/Window.h"

#include <algorithm>
#include <numeric>

namespace tarpelix::platform {

namespace {

// The virtual key codes of the arrow keys that move a table's selection.
constexpr std::uint16_t downArrowKey = 125;
constexpr std::uint16_t upArrowKey = 126;

// The first label of the subtree, depth first; what a row says when its cell names none.
const Label* firstLabel(const View& view) {
    if (const auto* label = dynamic_cast<const Label*>(&view); label && !label->isHidden()) return label;
    for (const auto& subview : view.subviews()) {
        if (const Label* found = firstLabel(*subview)) return found;
    }
    return nullptr;
}

} // namespace

// MARK: TableRowView

TableRowView::TableRowView(TableView& table, int row) : table_(table), row_(row) {
    setAccessibilityElement(true);
    setAccessibilityRole(AccessibilityRole::row);
}

bool TableRowView::isSelected() const { return table_.selectedRowIndexes().count(row_) > 0; }

void TableRowView::draw(GraphicsContext& context, const Rect&) {
    if (!isSelected()) return;
    const Size spacing = table_.intercellSpacing();
    const Rect area = bounds().insetBy(0, spacing.height / 2);
    const bool emphasized = table_.isEmphasized();
    if (table_.style() == TableViewStyle::sourceList) {
        const Color fill = emphasized ? Color::controlAccentColor().withAlphaComponent(0.28)
                                      : Color::quaternaryLabelColor().withAlphaComponent(0.16);
        context.fill(Path::roundedRect(area, 6, 6), fill);
    } else {
        const Color fill = emphasized ? Color::controlAccentColor().withAlphaComponent(0.28) : Color::quaternaryLabelColor();
        context.fill(Path::rect(area), fill);
    }
}

std::string TableRowView::accessibilityLabel() const {
    if (!View::accessibilityLabel().empty()) return View::accessibilityLabel();
    const View* cell = cellView();
    if (!cell) return {};
    if (!cell->accessibilityLabel().empty()) return cell->accessibilityLabel();
    const auto* tableCell = dynamic_cast<const TableCellView*>(cell);
    const Label* label = tableCell && tableCell->textField() ? tableCell->textField() : firstLabel(*cell);
    return label ? label->stringValue() : std::string();
}

std::optional<std::string> TableRowView::accessibilityValue() const {
    if (isSelected()) return std::string("selected");
    return std::nullopt;
}

// MARK: TableView

TableView::TableView(const Rect& frame) : View(frame) {
    setAccessibilityElement(true);
}

void TableView::setRowHeight(double height) {
    rowHeight_ = std::max(1.0, height);
    reloadData();
}

void TableView::setIntercellSpacing(Size spacing) {
    spacing_ = spacing;
    setNeedsLayout(true);
    if (auto* scrollView = enclosingScrollView(*this)) scrollView->tile();
}

void TableView::setStyle(TableViewStyle style) {
    style_ = style;
    if (style == TableViewStyle::sourceList) {
        backgroundColor_ = Color::clear();
        setFocusRingType(FocusRingType::none);
    }
    setNeedsDisplay(true);
}

void TableView::setBackgroundColor(Color color) {
    backgroundColor_ = std::move(color);
    setNeedsDisplay(true);
}

void TableView::reloadData() {
    for (const auto& row : rows_) row->removeFromSuperview();
    rows_.clear();
    heights_.clear();
    auto dataSource = dataSource_.lock();
    auto delegate = delegate_.lock();
    const int count = dataSource ? std::max(0, dataSource->numberOfRows(*this)) : 0;
    const TableColumn* column = columns_.empty() ? nullptr : &columns_.front();
    for (int row = 0; row < count; ++row) {
        auto rowView = std::make_shared<TableRowView>(*this, row);
        heights_.push_back(std::max(1.0, delegate ? delegate->heightOfRow(*this, row).value_or(rowHeight_) : rowHeight_));
        if (delegate) {
            if (auto cell = delegate->viewFor(*this, column, row)) rowView->addSubview(std::move(cell));
        }
        addSubview(rowView);
        rows_.push_back(std::move(rowView));
    }
    std::set<int> kept;
    for (int row : selection_) {
        if (row < count) kept.insert(row);
    }
    if (kept != selection_) changeSelection(std::move(kept));
    setNeedsLayout(true);
    layout();
    if (auto* scrollView = enclosingScrollView(*this)) scrollView->tile();
}

double TableView::totalHeight() const {
    return std::accumulate(heights_.begin(), heights_.end(), 0.0) + spacing_.height * double(heights_.size());
}

Rect TableView::rectOfRow(int row) const {
    if (row < 0 || row >= numberOfRows()) return {};
    double y = 0;
    for (int i = 0; i < row; ++i) y += heights_[std::size_t(i)] + spacing_.height;
    return {0, y, bounds().width(), heights_[std::size_t(row)] + spacing_.height};
}

int TableView::rowAtPoint(Point point) const {
    if (point.x < 0 || point.x >= bounds().width()) return -1;
    for (int row = 0; row < numberOfRows(); ++row) {
        const Rect rect = rectOfRow(row);
        if (point.y >= rect.minY() && point.y < rect.maxY()) return row;
    }
    return -1;
}

TableRowView* TableView::rowView(int row) const {
    return row >= 0 && row < numberOfRows() ? rows_[std::size_t(row)].get() : nullptr;
}

View* TableView::viewAtRow(int row) const {
    const TableRowView* view = rowView(row);
    return view ? view->cellView() : nullptr;
}

void TableView::layout() {
    for (int row = 0; row < numberOfRows(); ++row) {
        TableRowView& view = *rows_[std::size_t(row)];
        view.setFrame(rectOfRow(row));
        if (View* cell = view.cellView()) cell->setFrame(view.bounds().insetBy(spacing_.width / 2, spacing_.height / 2));
    }
}

void TableView::fitToVisibleSize(Size visible) {
    setFrameSize({visible.width, std::max(visible.height, totalHeight())});
    layout();
}

void TableView::draw(GraphicsContext& context, const Rect&) {
    context.fill(Path::rect(bounds()), backgroundColor_);
}

bool TableView::isEmphasized() const {
    return window() && window()->isKeyWindow() && window()->firstResponder() == this;
}

void TableView::changeSelection(std::set<int> rows) {
    selection_ = std::move(rows);
    for (const auto& row : rows_) row->setNeedsDisplay(true);
    if (auto delegate = delegate_.lock()) delegate->tableViewSelectionDidChange(*this);
}

void TableView::selectRowIndexes(const std::set<int>& rows, bool byExtendingSelection) {
    std::set<int> chosen = byExtendingSelection ? selection_ : std::set<int>{};
    for (int row : rows) {
        if (row >= 0 && row < numberOfRows()) chosen.insert(row);
    }
    if (!allowsMultipleSelection_ && chosen.size() > 1) {
        // The newly named row wins over what was selected before.
        const auto named = std::find_if(rows.begin(), rows.end(), [&](int row) { return chosen.count(row) > 0; });
        chosen = {named != rows.end() ? *named : *chosen.begin()};
    }
    if (chosen != selection_) changeSelection(std::move(chosen));
}

void TableView::deselectAll() {
    if (allowsEmptySelection_ && !selection_.empty()) changeSelection({});
}

void TableView::scrollRowToVisible(int row) {
    auto* scrollView = enclosingScrollView(*this);
    if (!scrollView || row < 0 || row >= numberOfRows()) return;
    const Rect rect = rectOfRow(row);
    const Rect visible = scrollView->documentVisibleRect();
    Point origin = scrollView->contentView().bounds().origin;
    if (rect.minY() < visible.minY()) {
        origin.y = rect.minY();
    } else if (rect.maxY() > visible.maxY()) {
        origin.y = rect.maxY() - visible.height();
    } else {
        return;
    }
    scrollView->scroll(origin);
}

void TableView::userSelect(int row) {
    if (row < 0 || row >= numberOfRows() || selection_ == std::set<int>{row}) return;
    if (auto delegate = delegate_.lock(); delegate && !delegate->shouldSelectRow(*this, row)) return;
    changeSelection({row});
    scrollRowToVisible(row);
}

void TableView::mouseDown(const MouseEvent& event) {
    if (window()) window()->makeFirstResponder(this);
    const int row = rowAtPoint(convertPoint(event.locationInWindow, nullptr));
    if (row >= 0) {
        userSelect(row);
    } else {
        deselectAll();
    }
}

void TableView::keyDown(const KeyEvent& event) {
    const EventFlags others = EventFlag::command | EventFlag::control | EventFlag::alternate | EventFlag::shift;
    if ((event.keyCode == downArrowKey || event.keyCode == upArrowKey) && (event.modifierFlags & others) == 0) {
        const int step = event.keyCode == downArrowKey ? 1 : -1;
        const int current = selection_.empty() ? (step > 0 ? -1 : numberOfRows()) : selectedRow();
        // The nearest row in that direction the delegate lets the user select.
        for (int row = current + step; row >= 0 && row < numberOfRows(); row += step) {
            auto delegate = delegate_.lock();
            if (delegate && !delegate->shouldSelectRow(*this, row)) continue;
            changeSelection({row});
            scrollRowToVisible(row);
            break;
        }
        return;
    }
    View::keyDown(event);
}

} // namespace tarpelix::platform
