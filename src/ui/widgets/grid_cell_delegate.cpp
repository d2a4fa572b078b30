#include "ui/widgets/grid_cell_delegate.h"

#include <QPainter>

#include "ui/widgets/grid_paint.h"
#include "ui/widgets/string_grid.h"

namespace kelmar::ui {

GridCellDelegate::GridCellDelegate(StringGrid& grid) : QStyledItemDelegate(&grid), Grid(grid) {}

void GridCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    const QBrush brush = selected ? palette.highlight() : palette.base();
    const QColor fontColor = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QRect& cell = option.rect;

    painter->fillRect(cell, brush);
    DrawCellText(*painter, cell, cell.left() + CELL_TEXT_OFFSET, cell.top() + CELL_TEXT_OFFSET,
                 index.data().toString(), fontColor);

    if (Grid.CellPainter()) {
        GridCanvas canvas(*painter, cell, brush, fontColor);
        Grid.CellPainter()(index.column() + Grid.FixedCols(), index.row() + Grid.FixedRows(), cell, canvas);
    }
}

}  // namespace kelmar::ui
