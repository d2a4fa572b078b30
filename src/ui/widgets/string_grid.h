// A grid of texts with fixed header rows and columns, the way the window's
// four grids work: cells addressed (column, row) over the whole grid, a
// settable row count, column widths and row heights where -1 hides the
// column or row, in-place editing and whole-row selection where asked, and a
// per-cell painter that draws over a cell after its standard painting.
#pragma once

#include <QTableView>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/presentation/text_grid.h"
#include "ui/widgets/grid_paint.h"
#include "ui/widgets/string_grid_model.h"

namespace kelmar::ui {

class GridCorner;

class StringGrid : public QTableView {
    Q_OBJECT

public:
    // Receives the grid column and row of a body cell, its rectangle and the
    // canvas it was drawn on.
    using CellPainterFunction = std::function<void(int column, int row, const QRect& rect, GridCanvas& canvas)>;

    // Height of every row unless set otherwise, in pixels.
    static constexpr int DEFAULT_ROW_HEIGHT = 18;
    // Width of every column unless set otherwise, in pixels.
    static constexpr int DEFAULT_COL_WIDTH = 64;

    StringGrid(int columns, int rows, QWidget* parent = nullptr);

    int ColCount() const { return Texts_.ColCount(); }
    int RowCount() const { return Texts_.RowCount(); }
    void SetRowCount(int rows) { Texts_.SetRowCount(rows); }
    int FixedRows() const { return Texts_.FixedRows(); }
    void SetFixedRows(int rows) { Texts_.SetFixedRows(rows); }
    int FixedCols() const { return Texts_.FixedCols(); }
    void SetFixedCols(int columns) { Texts_.SetFixedCols(columns); }

    const std::string& Cell(int column, int row) const { return Texts_.Cell(column, row); }
    void SetCell(int column, int row, std::string text) { Texts_.SetCell(column, row, std::move(text)); }
    // The texts of every column and of rows 0..RowCount() - 1, as the file
    // writers take them.
    TextGrid Texts() const { return Texts_.Texts(); }
    StringGridModel& TextModel() { return Texts_; }

    // Width in pixels; -1 hides the column.
    int ColWidth(int column) const;
    void SetColWidth(int column, int width);
    // Height in pixels; -1 hides the row.
    int RowHeight(int row) const;
    void SetRowHeight(int row, int height);
    // Total width of the visible fixed columns.
    int FixedColumnsWidth() const;

    void SetEditing(bool editing);
    // Whole-row selection instead of single cells.
    void SetRowSelect(bool rowSelect);
    // Whether the grid follows the scroll-bar thumb while it is dragged.
    void SetLiveScrolling(bool live);
    bool LiveScrolling() const;

    void SetCellPainter(CellPainterFunction painter) { Painter = std::move(painter); }
    const CellPainterFunction& CellPainter() const { return Painter; }

    // The rectangle of a body cell in viewport coordinates (empty when hidden).
    QRect CellRect(int column, int row) const;

protected:
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;

private:
    // Put the widths, heights and hidden rows and columns on the view; the
    // view forgets them whenever the model resets.
    void ApplyLayout();
    void ApplyColumn(int column);
    void ApplyRow(int row);
    void ApplyHeaders();

    StringGridModel Texts_;
    std::vector<int> ColWidths;
    std::map<int, int> RowHeights;  // rows whose height differs from the default
    CellPainterFunction Painter;
    GridCorner* Corner;
};

// Holds a grid's views still while many cells and the row count change, and
// refreshes them once at the end.
class GridUpdate {
public:
    explicit GridUpdate(StringGrid& grid) : Model(grid.TextModel()) { Model.BeginUpdate(); }
    ~GridUpdate() { Model.EndUpdate(); }
    GridUpdate(const GridUpdate&) = delete;
    GridUpdate& operator=(const GridUpdate&) = delete;

private:
    StringGridModel& Model;
};

}  // namespace kelmar::ui
