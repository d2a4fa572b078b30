// Draws the body cells of a string grid (text 2 pixels in from the corner,
// on the grid colour or the selection colour) and then hands the cell to the
// grid's per-cell painter, if it has one.
#pragma once

#include <QStyledItemDelegate>

namespace kelmar::ui {

class StringGrid;

class GridCellDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit GridCellDelegate(StringGrid& grid);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    StringGrid& Grid;
};

}  // namespace kelmar::ui
