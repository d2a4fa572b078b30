#include "ui/widgets/grid_header.h"

#include <QPainter>

#include "ui/widgets/grid_paint.h"
#include "ui/widgets/string_grid.h"

namespace kelmar::ui {

namespace {

// Paints the fixed columns of one grid row side by side from x = left.
void PaintFixedColumns(QPainter& painter, const StringGrid& grid, int row, int left, int top, int height) {
    int x = left;
    for (int c = 0; c < grid.FixedCols(); ++c) {
        const int width = grid.ColWidth(c);
        if (width < 0) continue;
        PaintFixedCell(painter, QRect(x, top, width, height), QString::fromStdString(grid.Cell(c, row)));
        x += width;
    }
}

}  // namespace

GridHeader::GridHeader(Qt::Orientation orientation, const StringGrid& grid)
    : QHeaderView(orientation), Grid(grid) {
    setSectionsClickable(false);
    setHighlightSections(false);
    setSectionResizeMode(QHeaderView::Fixed);
    setMinimumSectionSize(1);
}

QSize GridHeader::sizeHint() const {
    QSize size = QHeaderView::sizeHint();
    if (orientation() == Qt::Horizontal)
        size.setHeight(std::max(Grid.RowHeight(0), 0));
    else
        size.setWidth(Grid.FixedColumnsWidth());
    return size;
}

void GridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (orientation() == Qt::Horizontal) {
        const int column = logicalIndex + Grid.FixedCols();
        PaintFixedCell(*painter, rect, QString::fromStdString(Grid.Cell(column, 0)));
    } else {
        const int row = logicalIndex + Grid.FixedRows();
        PaintFixedColumns(*painter, Grid, row, rect.left(), rect.top(), rect.height());
    }
}

GridCorner::GridCorner(const StringGrid& grid, QWidget* parent) : QWidget(parent), Grid(grid) {}

void GridCorner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintFixedColumns(painter, Grid, 0, 0, 0, height());
}

}  // namespace kelmar::ui
