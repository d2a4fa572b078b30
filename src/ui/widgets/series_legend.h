// The chart's legend: one entry per series listed in it, in series order,
// each a check box that switches its series on and off. Only the user ticks
// the boxes; the program lists and unlists entries but never changes a tick,
// so a series switched on stays on across refreshes and tab changes.
#pragma once

#include <QWidget>

#include <array>

#include "ui/widgets/chart_series.h"

class QCheckBox;

namespace kelmar::ui {

class SeriesLegend : public QWidget {
    Q_OBJECT

public:
    explicit SeriesLegend(QWidget* parent = nullptr);

    QCheckBox* Entry(ChartSeries series) const { return Entries[static_cast<std::size_t>(series)]; }
    bool IsListed(ChartSeries series) const;
    void SetListed(ChartSeries series, bool listed);
    bool IsSwitchedOn(ChartSeries series) const;

signals:
    void SeriesSwitched(ChartSeries series, bool on);

private:
    std::array<QCheckBox*, SERIES_COUNT> Entries{};
};

}  // namespace kelmar::ui
