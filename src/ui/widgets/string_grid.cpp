#include "ui/widgets/string_grid.h"

#include <QScrollBar>

#include "ui/widgets/grid_cell_delegate.h"
#include "ui/widgets/grid_header.h"

namespace kelmar::ui {

StringGrid::StringGrid(int columns, int rows, QWidget* parent)
    : QTableView(parent),
      Texts_(columns, rows, this),
      ColWidths(static_cast<std::size_t>(Texts_.ColCount()), DEFAULT_COL_WIDTH),
      Corner(new GridCorner(*this, this)) {
    setHorizontalHeader(new GridHeader(Qt::Horizontal, *this));
    setVerticalHeader(new GridHeader(Qt::Vertical, *this));
    setItemDelegate(new GridCellDelegate(*this));
    setModel(&Texts_);
    setCornerButtonEnabled(false);
    setWordWrap(false);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    // Whole columns: scrolled by pixels, the first column slid under the
    // fixed ones and lost the left of its text (a minus sign).
    setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
    SetEditing(false);
    SetLiveScrolling(false);

    connect(&Texts_, &QAbstractItemModel::modelReset, this, &StringGrid::ApplyLayout);
    connect(&Texts_, &StringGridModel::CornerChanged, Corner, qOverload<>(&QWidget::update));
    ApplyLayout();
}

int StringGrid::ColWidth(int column) const {
    return column >= 0 && column < ColCount() ? ColWidths[static_cast<std::size_t>(column)] : 0;
}

void StringGrid::SetColWidth(int column, int width) {
    if (column < 0 || column >= ColCount()) return;
    ColWidths[static_cast<std::size_t>(column)] = width < 0 ? -1 : width;
    ApplyColumn(column);
    ApplyHeaders();
}

int StringGrid::RowHeight(int row) const {
    const auto found = RowHeights.find(row);
    return found == RowHeights.end() ? DEFAULT_ROW_HEIGHT : found->second;
}

void StringGrid::SetRowHeight(int row, int height) {
    if (row < 0) return;
    if (height == DEFAULT_ROW_HEIGHT)
        RowHeights.erase(row);
    else
        RowHeights[row] = height < 0 ? -1 : height;
    ApplyRow(row);
    ApplyHeaders();
}

int StringGrid::FixedColumnsWidth() const {
    int width = 0;
    for (int c = 0; c < FixedCols(); ++c) width += std::max(ColWidth(c), 0);
    return width;
}

void StringGrid::SetEditing(bool editing) {
    Texts_.SetEditing(editing);
    setEditTriggers(editing ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                  QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked
                            : QAbstractItemView::NoEditTriggers);
}

void StringGrid::SetRowSelect(bool rowSelect) {
    setSelectionBehavior(rowSelect ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

void StringGrid::SetLiveScrolling(bool live) {
    verticalScrollBar()->setTracking(live);
    horizontalScrollBar()->setTracking(live);
}

bool StringGrid::LiveScrolling() const { return verticalScrollBar()->hasTracking(); }

QRect StringGrid::CellRect(int column, int row) const {
    return visualRect(Texts_.index(row - FixedRows(), column - FixedCols()));
}

void StringGrid::ApplyColumn(int column) {
    const int section = column - FixedCols();
    if (section < 0) return;
    const int width = ColWidth(column);
    setColumnHidden(section, width < 0);
    if (width >= 0) horizontalHeader()->resizeSection(section, width);
}

void StringGrid::ApplyRow(int row) {
    const int section = row - FixedRows();
    if (section < 0 || section >= RowCount() - FixedRows()) return;
    const int height = RowHeight(row);
    setRowHidden(section, height < 0);
    if (height >= 0) verticalHeader()->resizeSection(section, height);
}

void StringGrid::ApplyHeaders() {
    horizontalHeader()->setVisible(FixedRows() > 0 && RowHeight(0) >= 0);
    verticalHeader()->setVisible(FixedCols() > 0 && FixedColumnsWidth() > 0);
    updateGeometries();
}

void StringGrid::ApplyLayout() {
    verticalHeader()->setDefaultSectionSize(DEFAULT_ROW_HEIGHT);
    for (int c = FixedCols(); c < ColCount(); ++c) ApplyColumn(c);
    for (const auto& entry : RowHeights) ApplyRow(entry.first);
    ApplyHeaders();
}

void StringGrid::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, dy);
    // At the end of the bar the view puts the last column's right edge at
    // the viewport's, which slides the first visible column under the fixed
    // ones; the column at the bar's value begins at the left edge instead,
    // leaving blank space after the last.
    QScrollBar* bar = horizontalScrollBar();
    if (dx != 0 && bar->value() > 0 && bar->value() == bar->maximum()) {
        horizontalHeader()->setOffsetToSectionPosition(bar->value());
        viewport()->update();
    }
}

void StringGrid::updateGeometries() {
    QTableView::updateGeometries();
    const QHeaderView* columns = horizontalHeader();
    const QHeaderView* rows = verticalHeader();
    const bool cornerShown = !columns->isHidden() && !rows->isHidden();
    Corner->setVisible(cornerShown);
    if (cornerShown) {
        Corner->setGeometry(frameWidth(), frameWidth(), rows->width(), columns->height());
        Corner->raise();
        Corner->update();
    }
}

}  // namespace kelmar::ui
