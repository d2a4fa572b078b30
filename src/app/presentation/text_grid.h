// The cell texts of a grid, addressed (column, row) like the window's grids.
// Texts are UTF-8; the file writers turn them into the files' single-byte
// code page.
#pragma once

#include <string>
#include <vector>

namespace kelmar {

class TextGrid {
public:
    TextGrid(int columns, int rows) : Columns(columns), Rows(rows), Cells(columns * rows) {}

    int ColumnCount() const { return Columns; }
    int RowCount() const { return Rows; }
    const std::string& Cell(int column, int row) const { return Cells[row * Columns + column]; }
    // The cell's text, or empty text for a cell outside the grid, which holds none.
    const std::string& CellOrEmpty(int column, int row) const {
        static const std::string empty;
        const bool inside = column >= 0 && column < Columns && row >= 0 && row < Rows;
        return inside ? Cell(column, row) : empty;
    }
    void SetCell(int column, int row, std::string text) { Cells[row * Columns + column] = std::move(text); }

private:
    int Columns;
    int Rows;
    std::vector<std::string> Cells;
};

}  // namespace kelmar
