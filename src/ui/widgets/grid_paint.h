// How the string grids draw a cell: body cells on the grid colour, fixed
// (header) cells with a gradient in the fixed-cell colour, the text always
// 2 pixels right of and below the cell's top-left corner.
#pragma once

#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QRect>
#include <QString>

namespace kelmar::ui {

// Offset of a cell's text from the cell's top-left corner, in pixels.
inline constexpr int CELL_TEXT_OFFSET = 2;

// Writes text with its top-left corner at (x, y), clipped to the cell.
void DrawCellText(QPainter& painter, const QRect& cell, int x, int y, const QString& text,
                  const QColor& color);

// A header cell: gradient background, right and bottom border, text.
void PaintFixedCell(QPainter& painter, const QRect& cell, const QString& text);

// The drawing surface a grid hands to its per-cell painter after it has drawn
// a cell the standard way: a font colour, the brush the cell was filled with,
// rectangle fill and text output.
class GridCanvas {
public:
    GridCanvas(QPainter& painter, const QRect& cell, QBrush brush, QColor fontColor);

    void SetFontColor(const QColor& color) { FontColor = color; }
    QColor GetFontColor() const { return FontColor; }
    // Fills the rectangle with the current brush.
    void FillRect(const QRect& rect);
    // Writes text with its top-left corner at (x, y) in the font colour.
    void TextOut(int x, int y, const QString& text);

private:
    QPainter& Painter;
    QRect Cell;
    QBrush Brush;
    QColor FontColor;
};

}  // namespace kelmar::ui
