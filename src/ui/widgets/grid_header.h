// The fixed rows and columns of a string grid, drawn as headers that stay in
// place while the body scrolls: the header row above the body, the fixed
// columns left of it (one header section per row, painting every fixed
// column of that row), and the corner where they meet.
#pragma once

#include <QHeaderView>
#include <QWidget>

namespace kelmar::ui {

class StringGrid;

class GridHeader : public QHeaderView {
    Q_OBJECT

public:
    GridHeader(Qt::Orientation orientation, const StringGrid& grid);

    QSize sizeHint() const override;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    const StringGrid& Grid;
};

// The fixed cells of the header row that lie in fixed columns.
class GridCorner : public QWidget {
    Q_OBJECT

public:
    GridCorner(const StringGrid& grid, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const StringGrid& Grid;
};

}  // namespace kelmar::ui
