#include "ui/widgets/string_grid_model.h"

#include <algorithm>

namespace kelmar::ui {

namespace {
const std::string EMPTY_TEXT;
}

StringGridModel::StringGridModel(int columns, int rows, QObject* parent)
    : QAbstractTableModel(parent), Columns(std::max(columns, 1)), Rows(std::max(rows, 1)) {}

template <typename Change>
void StringGridModel::ChangeLayout(Change change) {
    if (UpdateDepth > 0) {
        change();
        return;
    }
    beginResetModel();
    change();
    endResetModel();
}

void StringGridModel::SetRowCount(int rows) {
    ChangeLayout([&] {
        Rows = std::max(rows, 1);
        if (Rows <= FixedRowCount) FixedRowCount = Rows - 1;
    });
}

void StringGridModel::SetFixedRows(int rows) {
    ChangeLayout([&] { FixedRowCount = std::clamp(rows, 0, std::min(1, Rows - 1)); });
}

void StringGridModel::SetFixedCols(int columns) {
    ChangeLayout([&] { FixedColumnCount = std::clamp(columns, 0, Columns - 1); });
}

void StringGridModel::SetEditing(bool editing) { EditingAllowed = editing; }

const std::string& StringGridModel::Cell(int column, int row) const {
    if (column < 0 || column >= Columns || row < 0 || row >= StoredRows) return EMPTY_TEXT;
    return Cells[static_cast<std::size_t>(row) * Columns + column];
}

void StringGridModel::SetCell(int column, int row, std::string text) {
    if (column < 0 || column >= Columns || row < 0) return;
    if (row >= StoredRows) {
        StoredRows = row + 1;
        Cells.resize(static_cast<std::size_t>(StoredRows) * Columns);
    }
    Cells[static_cast<std::size_t>(row) * Columns + column] = std::move(text);
    if (UpdateDepth > 0 || row >= Rows) return;

    const int bodyColumn = column - FixedColumnCount;
    const int bodyRow = row - FixedRowCount;
    if (bodyRow >= 0 && bodyColumn >= 0) {
        const QModelIndex cell = index(bodyRow, bodyColumn);
        emit dataChanged(cell, cell);
    } else if (bodyColumn >= 0) {
        emit headerDataChanged(Qt::Horizontal, bodyColumn, bodyColumn);
    } else if (bodyRow >= 0) {
        emit headerDataChanged(Qt::Vertical, bodyRow, bodyRow);
    } else {
        emit CornerChanged();
    }
}

TextGrid StringGridModel::Texts() const {
    TextGrid grid(Columns, Rows);
    for (int r = 0; r < Rows; ++r)
        for (int c = 0; c < Columns; ++c) grid.SetCell(c, r, Cell(c, r));
    return grid;
}

void StringGridModel::BeginUpdate() {
    if (UpdateDepth++ == 0) beginResetModel();
}

void StringGridModel::EndUpdate() {
    if (UpdateDepth > 0 && --UpdateDepth == 0) endResetModel();
}

int StringGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows - FixedRowCount;
}

int StringGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns - FixedColumnCount;
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    return QString::fromStdString(Cell(index.column() + FixedColumnCount, index.row() + FixedRowCount));
}

bool StringGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !EditingAllowed) return false;
    SetCell(index.column() + FixedColumnCount, index.row() + FixedRowCount, value.toString().toStdString());
    return true;
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (EditingAllowed) result |= Qt::ItemIsEditable;
    return result;
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal)
        return FixedRowCount > 0 ? QString::fromStdString(Cell(section + FixedColumnCount, 0)) : QString();
    return QString::fromStdString(Cell(0, section + FixedRowCount));
}

}  // namespace kelmar::ui
