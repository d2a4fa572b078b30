// The heaviest thing the window does for one user action: a Step that
// releases all 500 simulated years fills the results grid and the
// input-weather grid with 6,000 rows each and refreshes the chart twice
// with 6,000 points in each of nine series, then paints it. Run offscreen:
//   QT_QPA_PLATFORM=offscreen build/bench/kelmar-ui-bench
#include <QApplication>
#include <QCheckBox>
#include <QTabWidget>

#include <benchmark/benchmark.h>

#include <memory>

#include "ui/widgets/line_chart.h"
#include "ui/widgets/series_legend.h"
#include "ui/ui_fixtures.h"

namespace {

using kelmar::testing::CommandedWindow;
using kelmar::testing::ReleaseYears;
using kelmar::testing::SimulatedRunModel;

constexpr int ALL_YEARS = 500;

// Closes the window of one iteration (the next one's window starts with no
// year released); false, with the benchmark marked failed, when the Step
// fell short.
bool CloseAfterFullStep(benchmark::State& state, std::unique_ptr<CommandedWindow>& window) {
    const bool released = window->form.AppSession().ReleasedYears() == ALL_YEARS;
    window.reset();
    if (!released) state.SkipWithError("the Step did not release every year");
    return released;
}

// Grid fills and chart refreshes of the Step, on a fresh window each time.
void BM_StepReleasingAllYears(benchmark::State& state) {
    auto model = SimulatedRunModel(2024);
    const int tab = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<CommandedWindow>(*model);
        window->form.Controls().Pages->setCurrentIndex(tab);
        state.ResumeTiming();

        ReleaseYears(*window, ALL_YEARS);

        state.PauseTiming();
        if (!CloseAfterFullStep(state, window)) break;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StepReleasingAllYears)->Arg(0)->Arg(3)->ArgName("tab")->Unit(benchmark::kMillisecond);

// Counts the paint events a widget receives.
class PaintCount : public QObject {
public:
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++Count;
        return false;
    }
};

// The same Step on a shown window with every listed series switched on,
// including the event loop's pass that lays out and paints it, the chart's
// lines of 6,000 points each included. (A forced repaint of the window does
// not stand for this: it may run before the chart's scene reports its
// changes, and then leaves the chart's own painting for later.)
void BM_StepReleasingAllYearsPainted(benchmark::State& state) {
    auto model = SimulatedRunModel(2024);
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<CommandedWindow>(*model);
        kelmar::ui::TMainForm& form = window->form;
        form.resize(1280, 800);
        form.show();
        form.Controls().Pages->setCurrentIndex(3);
        // 1: the lines reduced to what the plot's pixel columns show; 0: every point.
        form.Controls().Chart->SetLineReduction(state.range(0) != 0);
        ReleaseYears(*window, 1);
        kelmar::ui::SeriesLegend& legend = *form.Controls().Chart->Legend();
        for (int s = 0; s < kelmar::ui::SERIES_COUNT; ++s)
            if (legend.IsListed(kelmar::ui::SeriesAt(s))) legend.Entry(kelmar::ui::SeriesAt(s))->click();
        QApplication::processEvents();
        PaintCount chartPaints;
        form.Controls().Chart->viewport()->installEventFilter(&chartPaints);
        state.ResumeTiming();

        ReleaseYears(*window, ALL_YEARS);
        QApplication::processEvents();

        state.PauseTiming();
        if (chartPaints.Count == 0) {
            state.SkipWithError("the chart was not painted");
            break;
        }
        if (!CloseAfterFullStep(state, window)) break;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StepReleasingAllYearsPainted)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
