// The line chart: nine line series on a bottom axis and a left (temperature)
// and right (precipitation or moisture) axis, the check-box legend on the
// right of the plot and the chart's context menu. Mouse zoom and panning are
// off. The window decides what the series hold; the chart fits its axes.
#pragma once

#include <QChartView>
#include <QFont>
#include <QList>
#include <QPointF>

#include <array>

#include "ui/widgets/chart_series.h"

class QLineSeries;
class QValueAxis;
class QMenu;

namespace kelmar::ui {

class SeriesLegend;

// The chart's axis titles, in pixels, and the most label intervals of its
// side axes; other charts that should look like it use them. Every axis
// takes fewer intervals where its plot is too small for its labels with a
// digit's width between them.
inline constexpr int CHART_AXIS_TITLE_FONT_PIXELS = 13;
inline constexpr int CHART_SIDE_AXIS_INTERVALS = 8;

// `base` at `pixels` pixels, bold unless told otherwise.
QFont PixelFont(const QFont& base, int pixels, bool bold = true);

class LineChart : public QChartView {
    Q_OBJECT

public:
    explicit LineChart(QWidget* parent = nullptr);

    QLineSeries* Series(ChartSeries series) const { return SeriesList[static_cast<std::size_t>(series)]; }
    QValueAxis* BottomAxis() const { return Bottom; }
    QValueAxis* LeftAxis() const { return Left; }
    QValueAxis* RightAxis() const { return Right; }
    SeriesLegend* Legend() const { return LegendBox; }
    // "Save as metafile", "Save as bitmap", "Save as PNG", "Save as SVG",
    // "Save as PDF", a separator, "Print preview", "Print".
    QMenu* ContextMenu() const { return Menu; }

    // The title as set (HTML, lines split by <br>). It is drawn in the
    // title font where it fits the chart's width, else in a smaller one down
    // to the axis titles' size; a line still too long is cut with an
    // ellipsis and the whole title shows as the title's tooltip.
    QString Title() const { return FullTitle; }
    void SetTitle(const QString& title);
    // True while the title is drawn cut.
    bool TitleCut() const { return TitleElided; }

    // With automatic scaling the bottom axis spans the points shown; without
    // it, the minimum and maximum set here. A minimum above the maximum, or a
    // maximum below the minimum, is refused, so set the maximum first when
    // both grow.
    bool BottomAutomatic() const { return Automatic; }
    void SetBottomAutomatic(bool automatic) { Automatic = automatic; }
    void SetBottomMinimum(double minimum);
    void SetBottomMaximum(double maximum);
    // Distance between bottom labels; 0 spaces them automatically.
    double BottomIncrement() const { return Increment; }
    void SetBottomIncrement(double increment) { Increment = increment; }

    // The points of every series, x ascending, in series order.
    using AllPoints = std::array<QList<QPointF>, SERIES_COUNT>;
    // Gives every series its points, each series in one call, and fits the
    // axes around them. A series whose points do not change is left alone,
    // and the axes move while the changed series are empty, so that a drawn
    // series lays out its line once.
    void SetAllPoints(AllPoints points);
    // Lists the series of one group in the legend and empties and unlists
    // the others.
    void ShowGroup(SeriesGroup group);
    // Puts the axes around what is shown: the bottom axis as set above, the
    // left and right axes around the switched-on series (or, with none
    // switched on, the listed ones), widened to label values.
    void FitAxes();
    // Every point given to each series; the series themselves hold only
    // what the plot's pixel columns can show (line_reduction.h).
    const QList<QPointF>& AllPointsOf(ChartSeries series) const { return Full[static_cast<std::size_t>(series)]; }
    // Off: the series hold every point (for comparing the two drawings).
    void SetLineReduction(bool on);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void FitAxesAround(const AllPoints& points);
    void FitBottomAxis(const AllPoints& points);
    void FitSideAxis(AxisSide side, const AllPoints& points);
    // Keeps the legend at the right of the plot, its top at 12 % of the
    // chart's height, and leaves room for it beside the plot.
    void PlaceLegend();
    // Gives `series` the points of its full line the plot can show.
    void ShowReduced(int series);
    // The pixel columns of the plot, or of the chart before its layout.
    int PlotColumns() const;
    // The plot's size in pixels; empty before the chart's first layout.
    QSizeF PlotSize() const;
    // Draws the title in the largest font from the title's size down to the
    // axis titles' that fits the chart's width.
    void FitTitle();
    // The most label intervals `axis` can show over `pixels` with its
    // labels a digit's width apart, where each label is `labelExtent`
    // pixels long in the axis's direction.
    static int IntervalsThatFit(double pixels, double labelExtent, const QFont& font, int most);

    std::array<QLineSeries*, SERIES_COUNT> SeriesList{};
    QValueAxis* Bottom;
    QValueAxis* Left;
    QValueAxis* Right;
    SeriesLegend* LegendBox;
    QMenu* Menu;
    bool Automatic = false;
    double Minimum = 0;
    double Maximum = 24;  // the bottom axis shows 24 months before the first refresh
    double Increment = 0;
    AllPoints Full;
    bool Reducing = true;
    int ReducedColumns = 0;  // the columns the series were reduced to
    QString FullTitle;
    bool TitleElided = false;
};

}  // namespace kelmar::ui
