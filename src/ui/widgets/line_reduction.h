// A line of many points drawn on few pixel columns (twenty months of a
// 500-year run share one column of a plot 300 pixels wide): what shows in a
// column is the span from its lowest to its highest point, so those two are
// kept, in x order, with the line's first and last points. The line drawn
// from them covers the pixels the whole line covers but for the joints
// between columns, at a cost set by the width, not by the points.
#pragma once

#include <QList>
#include <QPointF>

namespace kelmar::ui {

// The points of `line` (x ascending) that show on `columns` pixel columns
// spanning x from `low` to `high`; `line` itself when it has no more than
// two points per column, or when the span or the columns are empty.
QList<QPointF> ReducedLine(const QList<QPointF>& line, int columns, double low, double high);

}  // namespace kelmar::ui
