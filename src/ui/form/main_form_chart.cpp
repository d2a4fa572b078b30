// The chart views: what the nine series hold for the selected view and tab,
// and the view and year selectors.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTabWidget>
#include <QValueAxis>

#include <algorithm>

#include "ui/widgets/line_chart.h"
#include "ui/form/main_form.h"
#include "ui/widgets/updown_spinner.h"

namespace kelmar::ui {

namespace {

// Items of the view selector.
constexpr int MONTH_BY_MONTH_VIEW = 0;
constexpr int ANNUAL_COURSE_VIEW = 1;
constexpr int ANNUAL_AVERAGE_VIEW = 2;
constexpr int DECEMBER_VIEW = 14;
constexpr int INPUT_TAB = 0;

using SeriesPoints = LineChart::AllPoints;

void AppendRecord(SeriesPoints& points, double x, const TResultRecord& record) {
    for (int s = 0; s < SERIES_COUNT; ++s)
        points[static_cast<std::size_t>(s)].append(QPointF(x, record.*Info(SeriesAt(s)).Field));
}

void ReserveAll(SeriesPoints& points, int count) {
    for (auto& list : points) list.reserve(count);
}

}  // namespace

int TMainForm::SelectedMonth() const { return Ui.ChartViewBox->currentIndex(); }

void TMainForm::SetSelectedMonth(int index) { Ui.ChartViewBox->setCurrentIndex(index); }

int TMainForm::SelectedYear() const { return Ui.YearSpinner->Position(); }

void TMainForm::SetSelectedYear(int yearIndex) { Ui.YearSpinner->SetPosition(yearIndex); }

void TMainForm::RefreshChart(int first, int last) {
    LineChart& chart = *Ui.Chart;
    const TRunSettings& settings = Model.Settings;
    const int offset = State.CalendarOffset();
    // Only released years are shown, and never beyond the results table.
    const int released = State.ReleasedInTable();
    const int view = SelectedMonth();
    SeriesPoints points;

    if (view == MONTH_BY_MONTH_VIEW || view == ANNUAL_COURSE_VIEW) {
        chart.SetBottomAutomatic(true);
        chart.BottomAxis()->setTitleText("Number of months");
        chart.SetBottomIncrement(0);
        if (view == MONTH_BY_MONTH_VIEW) {
            ReserveAll(points, 12 * released);
            for (int i = 1; i <= released; ++i)
                for (int m = 1; m <= 12; ++m) AppendRecord(points, (i - 1) * 12 + m, Model.Results.At(i, m));
        } else if (first >= 1 && first <= released) {
            for (int m = 1; m <= 12; ++m) AppendRecord(points, m, Model.Results.At(first, m));
        }
    } else if (view >= ANNUAL_AVERAGE_VIEW && view <= DECEMBER_VIEW && last >= first) {
        const int slot = view - ANNUAL_AVERAGE_VIEW;
        chart.BottomAxis()->setTitleText("Number of years");
        chart.SetBottomMaximum(State.ReleasedYears() + offset);
        chart.SetBottomMinimum(settings.YearBeg);
        chart.SetBottomIncrement(State.ReleasedYears() == 2 ? 1 : 0);
        const int from = std::max(first, 1);
        const int to = std::min(last, released);
        ReserveAll(points, std::max(to - from + 1, 0));
        for (int i = from; i <= to; ++i) AppendRecord(points, i + offset, Model.Results.At(i, slot));
    }

    chart.SetAllPoints(std::move(points));
}

void TMainForm::ShowChartOfPage() {
    LineChart& chart = *Ui.Chart;
    const QString viewText = Ui.ChartViewBox->currentText();
    // On a line of its own: beside the view's name it would be cut at the
    // window's design width. Chart titles take HTML.
    const QString scenario = ScenarioText.isEmpty() ? QString() : "<br>" + ScenarioText.toHtmlEscaped();
    const auto refresh = [this] {
        if (SelectedMonth() == ANNUAL_COURSE_VIEW)
            RefreshChart(SelectedYear(), SelectedYear());
        else
            RefreshChart(1, State.ReleasedYears());
    };

    if (Ui.Pages->currentIndex() == INPUT_TAB) {
        ReadSiteParamsFromGrid();
        refresh();
        chart.SetTitle((Model.Settings.InpDat ? "Input weather (" : "Simulated weather (") + viewText + ")" + scenario);
        chart.RightAxis()->setTitleText("Precipitation, mm");
        chart.ShowGroup(SeriesGroup::Input);
    } else {
        chart.SetTitle("Results (" + viewText + ")" + scenario);
        chart.RightAxis()->setTitleText("Moisture, %");
        if (State.ReleasedYears() > 0) chart.show();
        refresh();
        chart.ShowGroup(SeriesGroup::Results);
    }
}

void TMainForm::ChartViewChosen() {
    const bool annualCourse = SelectedMonth() == ANNUAL_COURSE_VIEW;
    for (QWidget* control : std::initializer_list<QWidget*>{Ui.YearLabel, Ui.YearBox, Ui.YearSlider, Ui.YearSpinner})
        control->setEnabled(annualCourse);
    ShowChartOfPage();
}

void TMainForm::YearSliderMoved() {
    Ui.YearBox->setText(QString::number(Ui.YearSlider->value()));
    ShowChartOfPage();
}

void TMainForm::YearBoxEdited() {
    if (SelectedMonth() != ANNUAL_COURSE_VIEW || Ui.YearBox->text().isEmpty()) return;
    const int year = std::max(std::min(SelectedYear(), State.ReleasedYears()), 1);
    // The box shows the year drawn: a corrected number (0 typed, a year
    // beyond those shown, leading zeros) is written back, which runs this
    // handler again with the year itself.
    if (Ui.YearBox->text() != QString::number(year)) {
        SetSelectedYear(year);
        return;
    }
    Ui.YearSlider->setValue(year);
    ShowChartOfPage();
}

}  // namespace kelmar::ui
