#include "ui/widgets/line_reduction.h"

#include <algorithm>
#include <cmath>

namespace kelmar::ui {

namespace {

// The lowest and the highest point of line[first..last], in x order, each once.
void KeepColumn(const QList<QPointF>& line, qsizetype first, qsizetype last, QList<QPointF>& kept) {
    qsizetype lowest = first, highest = first;
    for (qsizetype k = first + 1; k <= last; ++k) {
        if (line[k].y() < line[lowest].y()) lowest = k;
        if (line[k].y() > line[highest].y()) highest = k;
    }
    kept.append(line[std::min(lowest, highest)]);
    if (lowest != highest) kept.append(line[std::max(lowest, highest)]);
}

}  // namespace

QList<QPointF> ReducedLine(const QList<QPointF>& line, int columns, double low, double high) {
    if (columns <= 0 || !(high > low) || line.size() <= 2 * static_cast<qsizetype>(columns)) return line;
    const double perColumn = columns / (high - low);
    const auto columnOf = [&](double x) { return static_cast<long long>(std::floor((x - low) * perColumn)); };
    QList<QPointF> kept;
    kept.reserve(2 * static_cast<qsizetype>(columns) + 4);
    kept.append(line.front());  // the line starts and ends where it does
    qsizetype start = 0;
    for (qsizetype k = 1; k <= line.size(); ++k) {
        if (k < line.size() && columnOf(line[k].x()) == columnOf(line[start].x())) continue;
        KeepColumn(line, start, k - 1, kept);
        start = k;
    }
    kept.append(line.back());
    // The first and last points may also be a column's extreme: kept once.
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    return kept;
}

}  // namespace kelmar::ui
