#include "ui/widgets/line_chart.h"

#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QHelpEvent>
#include <QLineSeries>
#include <QMenu>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/widgets/axis_scale.h"
#include "ui/widgets/line_reduction.h"
#include "ui/widgets/series_legend.h"
#include "ui/widgets/win_color.h"

namespace kelmar::ui {

QFont PixelFont(const QFont& base, int pixels, bool bold) {
    QFont font = base;
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

namespace {

constexpr int TITLE_FONT_PIXELS = 19;
constexpr int SERIES_LINE_WIDTH = 2;
// Gap between the legend and the chart's right edge, in pixels.
constexpr int LEGEND_MARGIN = 8;
// The legend's top, as a share of the chart's height.
constexpr double LEGEND_TOP_SHARE = 0.12;
constexpr int BOTTOM_AXIS_INTERVALS = 10;
// Blank edge around the chart's title, axes and plot, in pixels (the
// legend keeps its own gap on the right).
constexpr int CHART_EDGE = 6;
// Room the chart's title leaves at each end of its line, in pixels: the
// margin of its text item (4 pixels in the chart library) and a pixel for
// rounding.
constexpr int TITLE_SIDE_ROOM = 5;

QValueAxis* MakeAxis(const QString& title, const QFont& base) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setTitleFont(PixelFont(base, CHART_AXIS_TITLE_FONT_PIXELS));
    axis->setGridLineVisible(false);
    axis->setMinorGridLineVisible(false);
    axis->setMinorTickCount(0);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setLabelFormat("%.0f");
    return axis;
}

void SetTicks(QValueAxis& axis, double min, double max, double step) {
    const double anchor = std::floor(min / step) * step;
    if (axis.min() == min && axis.max() == max && axis.tickInterval() == step && axis.tickAnchor() == anchor) return;
    // The axis lays out its labels at every change. An interval wider than
    // both the old and the new range keeps the in-between layouts to a
    // label or two, instead of thousands when a small old interval meets a
    // large new range.
    axis.setTickInterval(std::max({axis.max() - axis.min(), max - min, step}));
    axis.setRange(min, max);
    axis.setTickAnchor(anchor);
    axis.setTickInterval(step);
    axis.setLabelFormat(QString("%.%1f").arg(LabelDecimals(step)));
}

}  // namespace

LineChart::LineChart(QWidget* parent) : QChartView(parent) {
    setObjectName("Chart");
    setRubberBand(QChartView::NoRubberBand);
    setDragMode(QGraphicsView::NoDrag);
    setRenderHint(QPainter::Antialiasing);
    setFrameShape(QFrame::NoFrame);
    // Every change repaints the whole chart. With the view's default minimal
    // updates, a series switched on in the legend (a press and a release on
    // its box) and the axis rescale that follows left pieces of the other
    // series' lines and of the old axis labels on screen until a resize: the
    // rectangles the view repainted did not cover all that the rescale moved.
    // Nearly every change of this chart redraws the whole plot anyway; the
    // painted 500-year Step (bench/ui_bench.cpp) costs a few per cent more
    // at most.
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setBackgroundBrush(WinColor(BACKGROUND_COLOR));

    QChart* plot = chart();
    plot->setBackgroundBrush(WinColor(BACKGROUND_COLOR));
    plot->setBackgroundRoundness(0);
    plot->setTitleFont(PixelFont(font(), TITLE_FONT_PIXELS));
    plot->setTitleBrush(Qt::black);
    FullTitle = "Input";
    plot->setTitle(FullTitle);
    plot->legend()->hide();
    // Narrow blank edges: at the window's smallest size the chart library
    // cuts the side axes' labels once the axes take more than a share of
    // the chart's width, which its own 9-pixel layout margins and 20-pixel
    // chart margins left them too little of.
    plot->layout()->setContentsMargins(0, 0, 0, 0);
    plot->setMargins(QMargins(CHART_EDGE, CHART_EDGE, CHART_EDGE, CHART_EDGE));

    Bottom = MakeAxis("number of steps", font());
    Left = MakeAxis(QString::fromUtf8("Temperature, \u00b0\u0421"), font());
    Right = MakeAxis("precipitation, mm", font());
    plot->addAxis(Bottom, Qt::AlignBottom);
    plot->addAxis(Left, Qt::AlignLeft);
    plot->addAxis(Right, Qt::AlignRight);
    SetTicks(*Bottom, Minimum, Maximum, NiceStep(Maximum - Minimum, BOTTOM_AXIS_INTERVALS));

    for (int i = 0; i < SERIES_COUNT; ++i) {
        const SeriesInfo& info = Info(SeriesAt(i));
        auto* series = new QLineSeries;
        series->setObjectName(info.Name);
        series->setName(QString::fromUtf8(info.Title));
        series->setPen(QPen(WinColor(info.Color), SERIES_LINE_WIDTH));
        series->setPointsVisible(false);
        plot->addSeries(series);
        series->attachAxis(Bottom);
        series->attachAxis(info.Axis == AxisSide::Left ? Left : Right);
        series->setVisible(false);
        SeriesList[static_cast<std::size_t>(i)] = series;
    }

    LegendBox = new SeriesLegend(this);
    connect(LegendBox, &SeriesLegend::SeriesSwitched, this, [this](ChartSeries series, bool on) {
        Series(series)->setVisible(on);
        FitAxes();
    });

    Menu = new QMenu(this);
    Menu->setObjectName("ChartMenu");
    Menu->addAction("Save as metafile")->setObjectName("SaveAsMetafileAction");
    Menu->addAction("Save as bitmap")->setObjectName("SaveAsBitmapAction");
    Menu->addAction("Save as PNG")->setObjectName("SaveAsPngAction");
    Menu->addAction("Save as SVG")->setObjectName("SaveAsSvgAction");
    Menu->addAction("Save as PDF")->setObjectName("SaveAsPdfAction");
    Menu->addSeparator()->setObjectName("N2");
    Menu->addAction("Print preview")->setObjectName("PrintPreviewAction");
    Menu->addAction("Print")->setObjectName("PrintAction");
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { Menu->popup(mapToGlobal(position)); });

    // A plot of another width shows other columns: the lines are reduced
    // again. Its size also sets how many labels the axes have room for;
    // they are fitted again once the chart's layout is done.
    connect(plot, &QChart::plotAreaChanged, this, [this] { FitAxes(); }, Qt::QueuedConnection);
    connect(plot, &QChart::plotAreaChanged, this, [this] {
        if (PlotColumns() == ReducedColumns) return;
        for (int i = 0; i < SERIES_COUNT; ++i)
            if (!Full[static_cast<std::size_t>(i)].isEmpty()) ShowReduced(i);
    });

    PlaceLegend();
}

int LineChart::PlotColumns() const {
    const double width = chart()->plotArea().width() > 1 ? chart()->plotArea().width() : viewport()->width();
    return static_cast<int>(std::ceil(width * devicePixelRatioF()));
}

void LineChart::ShowReduced(int series) {
    ReducedColumns = PlotColumns();
    const QList<QPointF>& full = Full[static_cast<std::size_t>(series)];
    SeriesList[static_cast<std::size_t>(series)]->replace(
        Reducing ? ReducedLine(full, ReducedColumns, Bottom->min(), Bottom->max()) : full);
}

void LineChart::SetLineReduction(bool on) {
    Reducing = on;
    for (int i = 0; i < SERIES_COUNT; ++i)
        if (!Full[static_cast<std::size_t>(i)].isEmpty()) ShowReduced(i);
}

QSizeF LineChart::PlotSize() const {
    const QRectF plot = chart()->plotArea();
    return plot.width() > 1 && plot.height() > 1 ? plot.size() : QSizeF();
}

void LineChart::SetTitle(const QString& title) {
    FullTitle = title;
    FitTitle();
}

void LineChart::FitTitle() {
    // A chart not on screen has no width of its own yet: it keeps the title
    // font until it is shown at its size.
    const QMargins margins = chart()->margins();
    const qreal room = isVisible() ? chart()->size().width() - margins.left() - margins.right() - 2 * TITLE_SIDE_ROOM
                                   : std::numeric_limits<qreal>::max();
    QStringList lines;
    for (const QString& line : FullTitle.split("<br>")) lines << QTextDocumentFragment::fromHtml(line).toPlainText();
    const auto widest = [&lines](const QFont& font) {
        qreal most = 0;
        for (const QString& line : lines) most = std::max(most, QFontMetricsF(font).horizontalAdvance(line));
        return most;
    };
    QFont font = chart()->titleFont();
    font.setPixelSize(TITLE_FONT_PIXELS);
    while (font.pixelSize() > CHART_AXIS_TITLE_FONT_PIXELS && widest(font) > room)
        font.setPixelSize(font.pixelSize() - 1);
    TitleElided = widest(font) > room;
    QString shown = FullTitle;
    if (TitleElided) {
        QStringList cut;
        for (const QString& line : lines)
            cut << QFontMetricsF(font).elidedText(line, Qt::ElideRight, room).toHtmlEscaped();
        shown = cut.join("<br>");
    }
    if (chart()->titleFont() != font) chart()->setTitleFont(font);
    if (chart()->title() != shown) chart()->setTitle(shown);
}

bool LineChart::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (TitleElided && help->pos().y() < chart()->plotArea().top()) {
            QStringList lines;
            for (const QString& line : FullTitle.split("<br>"))
                lines << QTextDocumentFragment::fromHtml(line).toPlainText();
            QToolTip::showText(help->globalPos(), lines.join('\n'), this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QChartView::viewportEvent(event);
}

void LineChart::SetBottomMinimum(double minimum) {
    if (minimum <= Maximum) Minimum = minimum;
}

void LineChart::SetBottomMaximum(double maximum) {
    if (maximum >= Minimum) Maximum = maximum;
}

void LineChart::SetAllPoints(AllPoints points) {
    std::array<bool, SERIES_COUNT> changed{};
    for (int i = 0; i < SERIES_COUNT; ++i) {
        const auto k = static_cast<std::size_t>(i);
        changed[k] = Full[k] != points[k];
        if (changed[k] && SeriesList[k]->count() > 0) SeriesList[k]->clear();
        if (changed[k]) Full[k] = std::move(points[k]);
    }
    const double low = Bottom->min(), high = Bottom->max();
    FitAxesAround(Full);
    // Another bottom axis puts the points in other columns.
    const bool moved = Bottom->min() != low || Bottom->max() != high;
    for (int i = 0; i < SERIES_COUNT; ++i)
        if ((changed[static_cast<std::size_t>(i)] || moved) && !Full[static_cast<std::size_t>(i)].isEmpty())
            ShowReduced(i);
}

void LineChart::ShowGroup(SeriesGroup group) {
    for (int i = 0; i < SERIES_COUNT; ++i) {
        const ChartSeries series = SeriesAt(i);
        const bool listed = Info(series).Group == group;
        if (!listed && Series(series)->count() > 0) Series(series)->clear();
        if (!listed) Full[static_cast<std::size_t>(i)].clear();
        LegendBox->SetListed(series, listed);
    }
    PlaceLegend();
    FitAxes();
}

void LineChart::FitAxes() { FitAxesAround(Full); }

void LineChart::FitAxesAround(const AllPoints& points) {
    FitBottomAxis(points);
    FitSideAxis(AxisSide::Left, points);
    FitSideAxis(AxisSide::Right, points);
}

void LineChart::FitBottomAxis(const AllPoints& points) {
    double low = Minimum;
    double high = Maximum;
    if (Automatic) {
        // Every filled series has the same x values, in ascending order.
        const auto filled = std::find_if(points.begin(), points.end(),
                                         [](const QList<QPointF>& list) { return !list.isEmpty(); });
        if (filled == points.end()) return;
        low = filled->first().x();
        high = filled->last().x();
    }
    if (high <= low) {
        low -= 1;
        high += 1;
    }
    // The labels' width: the wider end, in whole steps' format.
    const QFontMetricsF metrics(Bottom->labelsFont());
    const double labelWidth = std::max(metrics.horizontalAdvance(QString::number(low, 'f', 0)),
                                       metrics.horizontalAdvance(QString::number(high, 'f', 0)));
    const int intervals = IntervalsThatFit(PlotSize().width(), labelWidth, Bottom->labelsFont(), BOTTOM_AXIS_INTERVALS);
    const double step = Increment > 0 ? Increment : std::max(1.0, NiceStep(high - low, intervals));
    SetTicks(*Bottom, low, high, step);
}

void LineChart::FitSideAxis(AxisSide side, const AllPoints& points) {
    // The switched-on series of this axis, or, with none on, the listed ones.
    for (const bool onlySwitchedOn : {true, false}) {
        double low = std::numeric_limits<double>::max();
        double high = std::numeric_limits<double>::lowest();
        for (int i = 0; i < SERIES_COUNT; ++i) {
            const ChartSeries series = SeriesAt(i);
            if (Info(series).Axis != side || !LegendBox->IsListed(series)) continue;
            if (onlySwitchedOn && !LegendBox->IsSwitchedOn(series)) continue;
            for (const QPointF& point : points[static_cast<std::size_t>(i)]) {
                low = std::min(low, point.y());
                high = std::max(high, point.y());
            }
        }
        if (low <= high) {
            const QValueAxis& axis = side == AxisSide::Left ? *Left : *Right;
            const int intervals = IntervalsThatFit(PlotSize().height(), QFontMetricsF(axis.labelsFont()).height(),
                                                   axis.labelsFont(), CHART_SIDE_AXIS_INTERVALS);
            const AxisRange range = RoundedRange(low, high, intervals);
            SetTicks(side == AxisSide::Left ? *Left : *Right, range.Min, range.Max, range.Step);
            return;
        }
    }
}

int LineChart::IntervalsThatFit(double pixels, double labelExtent, const QFont& font, int most) {
    // Before the chart's first layout the plot has no size: the most, which
    // the layout that follows corrects.
    if (!(pixels > 0)) return most;
    const double apart = labelExtent + QFontMetricsF(font).horizontalAdvance('0');
    return std::clamp(static_cast<int>(std::floor(pixels / apart)), 1, most);
}

void LineChart::showEvent(QShowEvent* event) {
    QChartView::showEvent(event);
    FitTitle();
}

void LineChart::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    PlaceLegend();
}

void LineChart::PlaceLegend() {
    const QSize size = LegendBox->sizeHint();
    LegendBox->resize(size);
    LegendBox->move(width() - size.width() - LEGEND_MARGIN, static_cast<int>(height() * LEGEND_TOP_SHARE));
    QMargins margins = chart()->margins();
    margins.setRight(size.width() + 2 * LEGEND_MARGIN);
    chart()->setMargins(margins);
    // The title's room changes with the legend's width.
    FitTitle();
}

}  // namespace kelmar::ui
