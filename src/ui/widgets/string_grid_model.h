// The texts of a string grid and its row and header-row bookkeeping.
//
// Cells are addressed (column, row) over the whole grid, header cells
// included, and kept in one flat vector. The item model a view sees holds
// only the body: the fixed rows and columns are shown by the view's headers.
// Texts written to rows beyond the row count are kept and appear once the
// row count grows to them.
#pragma once

#include <QAbstractTableModel>

#include <string>
#include <vector>

#include "app/presentation/text_grid.h"

namespace kelmar::ui {

class StringGridModel : public QAbstractTableModel {
    Q_OBJECT

public:
    StringGridModel(int columns, int rows, QObject* parent = nullptr);

    int ColCount() const { return Columns; }
    int RowCount() const { return Rows; }
    int FixedCols() const { return FixedColumnCount; }
    int FixedRows() const { return FixedRowCount; }

    // A count below 1 is taken as 1; when the count is no more than the
    // fixed rows, the fixed rows drop to one less than the count.
    void SetRowCount(int rows);
    // The grid has at most one fixed row, its header; a value above that or
    // not below the row count is reduced to fit.
    void SetFixedRows(int rows);
    // Kept below the column count.
    void SetFixedCols(int columns);
    // Whether the body cells may be edited in place.
    void SetEditing(bool editing);
    bool Editing() const { return EditingAllowed; }

    // Empty for a cell never written.
    const std::string& Cell(int column, int row) const;
    void SetCell(int column, int row, std::string text);
    // The cells of rows 0..RowCount() - 1.
    TextGrid Texts() const;

    // Between these, changes notify no view; the last EndUpdate resets the
    // views once. Filling thousands of rows this way costs one reset.
    void BeginUpdate();
    void EndUpdate();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    // A cell of a fixed row and a fixed column (the grid's corner) changed.
    void CornerChanged();

private:
    // Runs a change of the row or column layout, resetting the views unless
    // an update is open.
    template <typename Change>
    void ChangeLayout(Change change);

    int Columns;
    int Rows;
    int FixedColumnCount = 0;
    int FixedRowCount = 0;
    bool EditingAllowed = false;
    int UpdateDepth = 0;
    int StoredRows = 0;
    std::vector<std::string> Cells;  // StoredRows x Columns, row-major
};

}  // namespace kelmar::ui
