#pragma once

#include "platform/appkit/ClipView.h"
#include "platform/appkit/View.h"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarpelix::platform {

class ImageView;
class Label;
class TableView;

// A column of a table: an identifier the delegate tells columns apart by. Our tables show
// one column as wide as the table, and no header.
struct TableColumn {
    std::string identifier;
};

// A cell of a view-based table: a view that may name the label and image view it shows.
class TableCellView : public View {
public:
    using View::View;
    static std::shared_ptr<TableCellView> create(const Rect& frame = {}) { return std::make_shared<TableCellView>(frame); }

    Label* textField() const { return textField_.get(); }
    void setTextField(std::shared_ptr<Label> label) { textField_ = std::move(label); }
    ImageView* imageView() const { return imageView_.get(); }
    void setImageView(std::shared_ptr<ImageView> view) { imageView_ = std::move(view); }

private:
    std::shared_ptr<Label> textField_;
    std::shared_ptr<ImageView> imageView_;
};

class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfRows(TableView& tableView) = 0;
};

class TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;
    // The view that shows the row's cell; none leaves the row empty.
    virtual std::shared_ptr<View> viewFor(TableView& tableView, const TableColumn* column, int row) = 0;
    // The row's height; none is the table's row height.
    virtual std::optional<double> heightOfRow(TableView&, int /*row*/) { return std::nullopt; }
    // Asked before the user's click or arrow key selects a row (not before a selection the
    // program makes).
    virtual bool shouldSelectRow(TableView&, int /*row*/) { return true; }
    // Told once per change of the selection.
    virtual void tableViewSelectionDidChange(TableView&) {}
};

enum class TableViewStyle { plain, sourceList };

// One row of a table: it holds the row's cell view, draws the selection behind it and is the
// row a screen reader reads (the cell's text, and "selected").
class TableRowView final : public View {
public:
    TableRowView(TableView& table, int row);
    int row() const { return row_; }
    View* cellView() const { return subviews().empty() ? nullptr : subviews().front().get(); }
    bool isSelected() const;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    std::string accessibilityLabel() const override;
    std::optional<std::string> accessibilityValue() const override;

private:
    TableView& table_;
    int row_;
};

// A view-based table of one column: the data source says how many rows there are, the
// delegate gives each row's view and height and hears of selection changes. Rows are laid out
// top down (the table is flipped), each as tall as its height plus the vertical intercell
// spacing, the cell inset by half the spacing. A click selects the row under it; Up and Down
// move the selection while the table has focus. Main thread only.
class TableView : public View, public ScrollableDocument {
public:
    explicit TableView(const Rect& frame = {});

    static std::shared_ptr<TableView> create(const Rect& frame = {}) { return std::make_shared<TableView>(frame); }

    void setDataSource(std::weak_ptr<TableViewDataSource> dataSource) { dataSource_ = std::move(dataSource); }
    void setDelegate(std::weak_ptr<TableViewDelegate> delegate) { delegate_ = std::move(delegate); }
    void addTableColumn(TableColumn column) { columns_.push_back(std::move(column)); }
    const std::vector<TableColumn>& tableColumns() const { return columns_; }

    double rowHeight() const { return rowHeight_; }
    void setRowHeight(double height);
    Size intercellSpacing() const { return spacing_; }
    void setIntercellSpacing(Size spacing);
    TableViewStyle style() const { return style_; }
    // The source-list style draws the selection as a rounded highlight on a clear background.
    void setStyle(TableViewStyle style);
    const Color& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(Color color);
    bool allowsEmptySelection() const { return allowsEmptySelection_; }
    void setAllowsEmptySelection(bool allows) { allowsEmptySelection_ = allows; }
    bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
    void setAllowsMultipleSelection(bool allows) { allowsMultipleSelection_ = allows; }

    // Asks the data source and the delegate again; the selection keeps the rows that remain.
    void reloadData();
    int numberOfRows() const { return int(rows_.size()); }
    // In the table's (flipped) coordinates.
    Rect rectOfRow(int row) const;
    // The row at a point of the table's coordinates; -1 for none.
    int rowAtPoint(Point point) const;
    TableRowView* rowView(int row) const;
    View* viewAtRow(int row) const;

    const std::set<int>& selectedRowIndexes() const { return selection_; }
    // The first selected row; -1 for none.
    int selectedRow() const { return selection_.empty() ? -1 : *selection_.begin(); }
    // Selects the rows (added to the selection when extending); rows out of range are left
    // out, and a table without multiple selection keeps only the first. The delegate hears
    // once when the selection changed.
    void selectRowIndexes(const std::set<int>& rows, bool byExtendingSelection);
    // Clears the selection unless the table requires one.
    void deselectAll();
    void scrollRowToVisible(int row);

    bool isFlipped() const override { return true; }
    bool acceptsFirstResponder() const override { return true; }
    void fitToVisibleSize(Size visible) override;
    void layout() override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    void mouseDown(const MouseEvent& event) override;
    void keyDown(const KeyEvent& event) override;
    AccessibilityRole accessibilityRole() const override { return AccessibilityRole::table; }

    // Whether the selection draws in the accent colour: the table has focus in the key window.
    bool isEmphasized() const;

private:
    void changeSelection(std::set<int> rows);
    // Selects the row the user chose, when the delegate agrees.
    void userSelect(int row);
    double totalHeight() const;

    std::weak_ptr<TableViewDataSource> dataSource_;
    std::weak_ptr<TableViewDelegate> delegate_;
    std::vector<TableColumn> columns_;
    std::vector<std::shared_ptr<TableRowView>> rows_;
    std::vector<double> heights_;
    std::set<int> selection_;
    double rowHeight_ = 24;
    Size spacing_{3, 2};
    TableViewStyle style_ = TableViewStyle::plain;
    Color backgroundColor_ = Color::controlBackgroundColor();
    bool allowsEmptySelection_ = true;
    bool allowsMultipleSelection_ = false;
};

} // namespace tarpelix::platform
