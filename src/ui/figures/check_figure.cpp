#include "ui/figures/check_figure.h"

#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

#include "ui/figures/offscreen_application.h"
#include "ui/pictures/chart_pictures.h"
#include "ui/widgets/axis_scale.h"
#include "ui/widgets/line_chart.h"
#include "ui/widgets/chart_series.h"
#include "ui/widgets/win_color.h"

namespace kelmar::ui {

namespace {

// Pixels of one panel and of the heading above the three.
constexpr int PANEL_WIDTH = 560;
constexpr int PANEL_HEIGHT = 500;
// A panel's title: smaller than the window chart's 19 pixels, three panels
// sharing the width of one figure.
constexpr int TITLE_FONT_PIXELS = 17;
constexpr int LINE_WIDTH = 2;
// The observed band: the variable's colour this share of the way to white.
// An opaque tint rather than transparency, which not every SVG reader draws.
constexpr double BAND_TINT = 0.75;
// The simulated series: dark grey, dashed, against the variable's own colour.
const QColor SIMULATED_COLOR(64, 64, 64);

// The colour the window's chart gives the variable.
QColor ColorOf(CheckVariable variable) {
    switch (variable) {
        case CheckVariable::Tair: return WinColor(Info(ChartSeries::Tair).Color);
        case CheckVariable::Prec: return WinColor(Info(ChartSeries::Prec).Color);
        case CheckVariable::Tsoil: return WinColor(Info(ChartSeries::Tsoil).Color);
    }
    return Qt::black;
}

QString TitleOf(CheckVariable variable) {
    switch (variable) {
        case CheckVariable::Tair: return QString::fromUtf8("Air temperature, \u00b0C");
        case CheckVariable::Prec: return QStringLiteral("Precipitation, mm");
        case CheckVariable::Tsoil: return QString::fromUtf8("Soil temperature under grass, \u00b0C");
    }
    return {};
}

QValueAxis* MakeAxis(const QString& title) {
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setTitleFont(PixelFont(QApplication::font(), CHART_AXIS_TITLE_FONT_PIXELS));
    axis->setMinorTickCount(0);
    axis->setTickType(QValueAxis::TicksDynamic);
    return axis;
}

// The y range the series need, widened as the window's chart widens it.
struct Span {
    double Low = std::numeric_limits<double>::max();
    double High = std::numeric_limits<double>::lowest();
    void Add(double value) {
        Low = std::min(Low, value);
        High = std::max(High, value);
    }
};

// The mean line and the band of one standard deviation around it, for the
// months with values (none when no month has one). Precipitation's band
// stops at 0 mm.
struct SampleSeries {
    QLineSeries* Mean = nullptr;
    QAreaSeries* Band = nullptr;
};

SampleSeries MakeSample(QChart& chart, const std::array<MonthSample, 13>& months, bool nonNegative,
                        const QColor& color, const QString& name, bool dashed, Span& span) {
    auto* upper = new QLineSeries(&chart);
    auto* lower = new QLineSeries(&chart);
    auto* mean = new QLineSeries(&chart);
    for (int m = 1; m <= 12; ++m) {
        const MonthSample& s = months[m];
        if (s.Count == 0) continue;
        const double low = nonNegative ? std::max(0.0, s.Mean - s.StdDev) : s.Mean - s.StdDev;
        mean->append(m, s.Mean);
        upper->append(m, s.Mean + s.StdDev);
        lower->append(m, low);
        span.Add(low);
        span.Add(s.Mean + s.StdDev);
    }
    if (mean->count() == 0) return {};
    auto* band = new QAreaSeries(upper, lower);
    QPen pen(color, LINE_WIDTH);
    if (dashed) {
        // Drawn as its edges only, so that the observed band beneath shows.
        pen.setStyle(Qt::DashLine);
        band->setBrush(Qt::NoBrush);
        band->setPen(QPen(color, 1, Qt::DashLine));
    } else {
        const auto tint = [](int channel) { return channel + static_cast<int>((255 - channel) * BAND_TINT); };
        band->setBrush(QColor(tint(color.red()), tint(color.green()), tint(color.blue())));
        band->setPen(Qt::NoPen);
    }
    mean->setPen(pen);
    mean->setPointsVisible(true);
    mean->setName(name);
    return {mean, band};
}

QChartView* MakePanel(const GeneratorCheck& check, const VariableCheck& variable) {
    auto* chart = new QChart;
    chart->setBackgroundRoundness(0);
    chart->setTitleFont(PixelFont(QApplication::font(), TITLE_FONT_PIXELS));
    chart->setTitleBrush(Qt::black);
    QString title = TitleOf(variable.Variable);
    if (!variable.NotChecked.empty()) title += " (not checked)";
    chart->setTitle(title);

    Span span;
    const bool precipitation = variable.Variable == CheckVariable::Prec;
    const SampleSeries observed =
        MakeSample(*chart, variable.Observed, precipitation, ColorOf(variable.Variable), "observed", false, span);
    const SampleSeries simulated =
        MakeSample(*chart, variable.Simulated, precipitation, SIMULATED_COLOR, "simulated", true, span);
    // The observed band, the simulated band's dashed edges over it, then the
    // lines, the observed on top: where the two agree, the record's colour
    // stays visible.
    std::vector<QAbstractSeries*> series;
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(observed.Band),
                               static_cast<QAbstractSeries*>(simulated.Band),
                               static_cast<QAbstractSeries*>(simulated.Mean),
                               static_cast<QAbstractSeries*>(observed.Mean)}) {
        if (!s) continue;
        s->setParent(nullptr);
        chart->addSeries(s);
        series.push_back(s);
    }

    // Months where a test of the variable fails, on the observed mean.
    auto* fails = new QScatterSeries;
    fails->setName("a test fails (Holm, 5 %)");
    fails->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    fails->setMarkerSize(14);
    fails->setBrush(Qt::NoBrush);
    fails->setBorderColor(Qt::black);
    fails->setPen(QPen(Qt::black, LINE_WIDTH));
    for (int m = 1; m <= 12; ++m) {
        const bool failed = std::any_of(check.Rows.begin(), check.Rows.end(), [&](const CheckRow& row) {
            return row.Variable == variable.Variable && row.Month == m && row.Fails;
        });
        if (failed) fails->append(m, variable.Observed[m].Mean);
    }
    chart->addSeries(fails);
    series.push_back(fails);

    auto* months = MakeAxis("month");
    months->setRange(0.5, 12.5);
    months->setTickAnchor(1);
    months->setTickInterval(1);
    months->setLabelFormat("%.0f");
    auto* values = MakeAxis(precipitation ? "mm" : QString::fromUtf8("\u00b0C"));
    if (span.Low > span.High) span.Add(0);
    const AxisRange range = RoundedRange(span.Low, span.High, CHART_SIDE_AXIS_INTERVALS);
    values->setRange(range.Min, range.Max);
    values->setTickAnchor(range.Min);
    values->setTickInterval(range.Step);
    values->setLabelFormat(QString("%.%1f").arg(LabelDecimals(range.Step)));
    chart->addAxis(months, Qt::AlignBottom);
    chart->addAxis(values, Qt::AlignLeft);
    for (QAbstractSeries* s : series) {
        s->attachAxis(months);
        s->attachAxis(values);
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    // The legend lists the lines (the heading explains the bands), and the
    // failure marker only where a month fails.
    for (QAbstractSeries* band : {static_cast<QAbstractSeries*>(observed.Band),
                                  static_cast<QAbstractSeries*>(simulated.Band)})
        if (band)
            for (QLegendMarker* marker : chart->legend()->markers(band)) marker->setVisible(false);
    if (fails->count() == 0)
        for (QLegendMarker* marker : chart->legend()->markers(fails)) marker->setVisible(false);

    auto* view = new QChartView(chart);
    view->setRenderHint(QPainter::Antialiasing);
    view->setFrameShape(QFrame::NoFrame);
    view->setMinimumSize(PANEL_WIDTH, PANEL_HEIGHT);
    return view;
}

class QtCheckFigureWriter : public CheckFigureWriter {
public:
    void Write(const GeneratorCheck& check, const std::string& pngFile, const std::string& svgFile) override {
        const CriticalMessagesOnly quiet;
        Application.Ensure();
        QWidget figure;
        figure.setAttribute(Qt::WA_DontShowOnScreen, true);
        QPalette palette = figure.palette();
        palette.setColor(QPalette::Window, Qt::white);
        figure.setPalette(palette);
        figure.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&figure);
        auto* heading = new QLabel(
            QStringLiteral("Weather generator check: \"%1\", %2 years observed, against %3 simulated years "
                           "(seed %4, climatology %5). Lines: monthly means; bands: \u00b1 1 standard deviation.")
                .arg(QString::fromStdString(check.RecordName))
                .arg(check.RecordYears)
                .arg(check.SimulatedYears)
                .arg(check.Seed)
                .arg(check.ClimateName.empty() ? QStringLiteral("estimated from the record")
                                               : "\"" + QString::fromStdString(check.ClimateName) + "\""));
        heading->setFont(PixelFont(QApplication::font(), CHART_AXIS_TITLE_FONT_PIXELS, false));
        layout->addWidget(heading);
        auto* panels = new QHBoxLayout;
        for (const VariableCheck& variable : check.Variables) panels->addWidget(MakePanel(check, variable));
        layout->addLayout(panels);
        figure.show();
        QApplication::processEvents();
        SaveWidgetAsPng(figure, QString::fromStdString(pngFile));
        SaveWidgetAsSvg(figure, QString::fromStdString(svgFile));
    }

private:
    OffscreenApplication Application;
};

}  // namespace

std::unique_ptr<CheckFigureWriter> MakeCheckFigureWriter() { return std::make_unique<QtCheckFigureWriter>(); }

}  // namespace kelmar::ui

extern "C" __attribute__((visibility("default"))) kelmar::CheckFigureWriter* kelmar_new_check_figure_writer() {
    return kelmar::ui::MakeCheckFigureWriter().release();
}
