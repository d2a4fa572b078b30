#include "ui/widgets/grid_paint.h"

#include <QLinearGradient>

#include "ui/widgets/win_color.h"

namespace kelmar::ui {

namespace {
// Lines between header cells: a muted blue-grey that reads on both the
// header gradient and the grid background.
const QColor FIXED_LINE_COLOR(160, 170, 196);
}  // namespace

void DrawCellText(QPainter& painter, const QRect& cell, int x, int y, const QString& text,
                  const QColor& color) {
    if (text.isEmpty()) return;
    painter.save();
    painter.setClipRect(cell);
    painter.setPen(color);
    painter.drawText(QRect(x, y, cell.right() - x + 1, cell.bottom() - y + 1),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.restore();
}

void PaintFixedCell(QPainter& painter, const QRect& cell, const QString& text) {
    QLinearGradient gradient(cell.topLeft(), cell.bottomLeft());
    gradient.setColorAt(0, Qt::white);
    gradient.setColorAt(1, WinColor(FIXED_CELL_COLOR).darker(104));
    painter.fillRect(cell, gradient);
    painter.save();
    painter.setPen(FIXED_LINE_COLOR);
    painter.drawLine(cell.topRight(), cell.bottomRight());
    painter.drawLine(cell.bottomLeft(), cell.bottomRight());
    painter.restore();
    DrawCellText(painter, cell, cell.left() + CELL_TEXT_OFFSET, cell.top() + CELL_TEXT_OFFSET, text,
                 Qt::black);
}

GridCanvas::GridCanvas(QPainter& painter, const QRect& cell, QBrush brush, QColor fontColor)
    : Painter(painter), Cell(cell), Brush(std::move(brush)), FontColor(fontColor) {}

void GridCanvas::FillRect(const QRect& rect) { Painter.fillRect(rect.intersected(Cell), Brush); }

void GridCanvas::TextOut(int x, int y, const QString& text) {
    DrawCellText(Painter, Cell, x, y, text, FontColor);
}

}  // namespace kelmar::ui
