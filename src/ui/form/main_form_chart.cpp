// The chart views: what the nine series hold for the selected view and tab,
// and the view and year selectors.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
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

// What the digits typed into the year box select among the calendar years
// first..last.
struct YearEntry {
    bool Partial = false;  // the start of a year of the range: more digits may follow
    int Year = 0;          // otherwise the year to draw: the one typed, or the nearest of the range
};

YearEntry ReadYearEntry(const QString& digits, int first, int last) {
    bool ok = false;
    const qlonglong typed = digits.toLongLong(&ok);
    // Only digits can be typed: a text that does not convert is a number
    // too long for any integer, beyond the range.
    if (!ok) return {false, last};
    if (typed >= first && typed <= last) return {false, static_cast<int>(typed)};
    // At most the 500 years a run holds.
    for (int year = first; year <= last; ++year)
        if (QString::number(year).startsWith(digits)) return {true, 0};
    // Digits that start no year of the range are read as the start of a
    // year as long as the range's first: "2" of 1961..1990 lies after it,
    // "18" before it.
    qlonglong padded = typed;
    for (qsizetype n = digits.size(); n < QString::number(first).size(); ++n) padded *= 10;
    return {false, padded < first ? first : last};
}

}  // namespace

int TMainForm::SelectedMonth() const { return Ui.ChartViewBox->currentIndex(); }

void TMainForm::SetSelectedMonth(int index) { Ui.ChartViewBox->setCurrentIndex(index); }

// The year slider holds the calendar year drawn; the box shows it, or
// digits being typed.
int TMainForm::SelectedYear() const { return Ui.YearSlider->value() - State.CalendarOffset(); }

void TMainForm::SetSelectedYear(int yearIndex) { Ui.YearSlider->setValue(yearIndex + State.CalendarOffset()); }

void TMainForm::FollowReleasedYears() {
    // With none released the year controls are off and keep their range.
    if (State.ReleasedYears() <= 0) return;
    const int first = State.CalendarOffset() + 1;
    const int last = State.CalendarOffset() + State.ReleasedYears();
    {
        // The year drawn stays where the range still holds it.
        const QSignalBlocker blocker(Ui.YearSlider);
        Ui.YearSlider->setRange(first, last);
    }
    ShowSelectedYear();
}

void TMainForm::ShowSelectedYear() {
    const QString year = QString::number(Ui.YearSlider->value());
    if (Ui.YearBox->text() != year) Ui.YearBox->setText(year);
}

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
    const bool annualCourse = SelectedMonth() == ANNUAL_COURSE_VIEW;
    // The annual course names its year once there are years to draw.
    const QString shown = annualCourse && State.ReleasedYears() > 0
                              ? viewText + ", " + QString::number(Ui.YearSlider->value())
                              : viewText;
    const auto refresh = [this] {
        if (SelectedMonth() == ANNUAL_COURSE_VIEW)
            RefreshChart(SelectedYear(), SelectedYear());
        else
            RefreshChart(1, State.ReleasedYears());
    };

    if (Ui.Pages->currentIndex() == INPUT_TAB) {
        ReadSiteParamsFromGrid();
        refresh();
        chart.SetTitle((Model.Settings.InpDat ? "Input weather (" : "Simulated weather (") + shown + ")" + scenario);
        chart.RightAxis()->setTitleText("Precipitation, mm");
        chart.ShowGroup(SeriesGroup::Input);
    } else {
        chart.SetTitle("Results (" + shown + ")" + scenario);
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
    const YearEntry entry = ReadYearEntry(Ui.YearBox->text(), Ui.YearSlider->minimum(), Ui.YearSlider->maximum());
    // The start of a year: the chart keeps its year until the digits make one.
    if (entry.Partial) return;
    // The box shows the year drawn: a corrected number (0 typed, a year
    // outside those released, leading zeros) is written back, which runs
    // this handler again with the year itself.
    if (Ui.YearBox->text() != QString::number(entry.Year)) {
        Ui.YearBox->setText(QString::number(entry.Year));
        return;
    }
    Ui.YearSlider->setValue(entry.Year);
    ShowChartOfPage();
}

void TMainForm::YearBoxLeft() {
    // Digits left unfinished (the start of a year) or an emptied box give
    // way to the year drawn.
    ShowSelectedYear();
}

}  // namespace kelmar::ui
