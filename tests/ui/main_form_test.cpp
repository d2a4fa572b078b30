// The window as it opens: every named control with its text, hint and
// enabled state, the grids' headers, the hidden parts and the empty chart.
#include <QAbstractButton>
#include <QApplication>
#include <QToolButton>
#include <QHeaderView>
#include <QRadioButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTabWidget>
#include <QValueAxis>
#include <QLineSeries>
#include <QMenu>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/presentation/grid_texts.h"
#include "ui/widgets/line_chart.h"
#include "ui/form/main_form.h"
#include "ui/widgets/series_legend.h"
#include "ui/widgets/string_grid.h"
#include "ui/widgets/updown_spinner.h"

namespace kelmar::ui {
namespace {

QString ShownText(const QWidget* widget) {
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
    if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
    if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text();
    if (auto* combo = qobject_cast<const QComboBox*>(widget)) return combo->currentText();
    return {};
}

// A model as the program starts it: nothing loaded, weather from file.
std::unique_ptr<TModel> StartModel() {
    auto model = std::make_unique<TModel>();
    model->Settings.InpDat = true;
    return model;
}

class MainFormTest : public ::testing::Test {
protected:
    std::unique_ptr<TModel> model = StartModel();
    TMainForm form{*model};
};

TEST_F(MainFormTest, ControlsOpenWithTheirTextsHintsAndStates) {
    struct Case {
        const char* name;
        const char* text;
        const char* hint;
        bool enabled;
    };
    const Case cases[] = {
        {"SaveResultsButton", "", "Save file", false},
        {"InitialiseButton", "", "Initialisation", false},
        {"StepLabel", "Step (years):", "", false},
        {"StepSlider", "", "", false},
        {"StepYearsBox", "1", "", false},
        {"StepButton", "", "Step", false},
        {"ChartViewLabel", "Data on the chart:", "", false},
        {"ChartViewBox", "Month by month", "", false},
        {"YearLabel", "Select year:", "", false},
        {"YearSlider", "", "", false},
        {"YearBox", "1", "", false},
        {"YearSpinner", "", "", true},
        {"ExitButton", "", "Exit", true},
        {"ObservedWeatherButton", "Weather from file", "", true},
        {"OpenObservedFilesButton", "Open files", "Open file", true},
        {"SimulatedWeatherButton", "Simulated weather", "", true},
        {"OpenSimulatedFilesButton", "Open files", "", false},
        {"FileSummaryLabel", "", "", true},
        {"SaveWeatherButton", "Save File", "", false},
        {"SaturationYesButton", "Yes", "", true},
        {"SaturationNoButton", "No", "", true},
        {"PermafrostYesButton", "Yes", "", true},
        {"PermafrostNoButton", "No", "", true},
        {"ForestTypeBox", "Other", "", true},
        {"SaveSiteButton", "Save file", "", true},
        {"GenerateClimatologyButton", "Generate file", "", true},
        {"SaveClimatologyButton", "Save file", "", true},
        {"YearCountLabel", "    0 years", "", true},
        {"NoticeLabel", "", "", true},
    };
    for (const Case& c : cases) {
        const QWidget* control = form.findChild<QWidget*>(c.name);
        ASSERT_NE(control, nullptr) << c.name;
        EXPECT_EQ(ShownText(control), QString::fromUtf8(c.text)) << c.name;
        EXPECT_EQ(control->toolTip(), QString::fromUtf8(c.hint)) << c.name;
        EXPECT_EQ(control->isEnabled(), c.enabled) << c.name;
    }

    const TMainFormControls& ui = form.Controls();
    EXPECT_EQ(form.windowTitle(), "KELMAR");
    EXPECT_EQ(form.minimumSize(), QSize(640, 400));
    EXPECT_TRUE(ui.ObservedWeatherButton->isChecked());
    for (const QRadioButton* button : {ui.SimulatedWeatherButton, ui.SaturationYesButton, ui.SaturationNoButton,
                                       ui.PermafrostYesButton, ui.PermafrostNoButton})
        EXPECT_FALSE(button->isChecked()) << button->objectName().toStdString();

    ASSERT_EQ(ui.Pages->count(), 4);
    const char* captions[] = {"Input", "Site params", "Climatology", "Results"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ui.Pages->tabText(i), captions[i]);
    EXPECT_EQ(ui.Pages->currentIndex(), 0);

    EXPECT_EQ(ui.ChartViewBox->count(), 2);
    EXPECT_EQ(ui.ChartViewBox->itemText(1), "Annual course");
    ASSERT_EQ(ui.ForestTypeBox->count(), 5);
    EXPECT_EQ(ui.ForestTypeBox->itemText(4), "Oak");
    EXPECT_EQ(ui.StepSlider->minimum(), 0);
    EXPECT_EQ(ui.StepSlider->maximum(), 10);
    EXPECT_EQ(ui.StepSlider->value(), 0);
    EXPECT_EQ(ui.YearSlider->minimum(), 1);
    EXPECT_EQ(ui.YearSlider->maximum(), 10);
    EXPECT_EQ(ui.YearSlider->value(), 1);
    EXPECT_EQ(ui.YearSpinner->Minimum(), 1);
    EXPECT_EQ(ui.YearSpinner->Maximum(), 9999) << "the last calendar year a run may reach";
    EXPECT_EQ(form.SelectedYear(), 1);
    EXPECT_EQ(form.SelectedMonth(), 0);
}

TEST_F(MainFormTest, GridsOpenWithHeadersLabelsAndHiddenParts) {
    const TMainFormControls& ui = form.Controls();
    EXPECT_TRUE(ui.InputWeatherGrid->isHidden());
    EXPECT_TRUE(ui.ResultsGrid->isHidden());
    EXPECT_FALSE(ui.SiteGrid->isHidden());
    EXPECT_FALSE(ui.ClimatologyGrid->isHidden());

    struct GridShape {
        const StringGrid* grid;
        int columns, rows, fixedCols, fixedRows;
        std::vector<int> widths;
    };
    const GridShape shapes[] = {
        {ui.InputWeatherGrid, 6, 2, 2, 1, {55, 55, 55, 55, 55, 55}},
        {ui.SiteGrid, 2, 15, 1, 0, {100, 100}},
        {ui.ClimatologyGrid, 13, 13, 1, 1, {36, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60}},
        {ui.ResultsGrid, 8, 2, 2, 1, {36, 40, 55, 55, 70, 70, 70, 70}},
    };
    for (const GridShape& s : shapes) {
        const std::string name = s.grid->objectName().toStdString();
        EXPECT_EQ(s.grid->ColCount(), s.columns) << name;
        EXPECT_EQ(s.grid->RowCount(), s.rows) << name;
        EXPECT_EQ(s.grid->FixedCols(), s.fixedCols) << name;
        EXPECT_EQ(s.grid->FixedRows(), s.fixedRows) << name;
        for (int c = 0; c < s.columns; ++c) EXPECT_EQ(s.grid->ColWidth(c), s.widths[c]) << name << " column " << c;
        EXPECT_EQ(s.grid->RowHeight(1), 18) << name;
    }

    const char* resultsHeaders[] = {"Year",        "Month",       "T_ff, \u00b0C", "T_ms, \u00b0C",
                                    "W_ff, %vol.", "W_ms, %vol.", "W_ff, %m.",     "W_ms, %m."};
    for (int c = 0; c < 8; ++c) EXPECT_EQ(ui.ResultsGrid->Cell(c, 0), resultsHeaders[c]);
    EXPECT_EQ(ui.ResultsGrid->horizontalHeader()->model()->headerData(0, Qt::Horizontal).toString(),
              QString::fromUtf8("T_ff, \u00b0C"));

    EXPECT_EQ(ui.ClimatologyGrid->Cell(0, 0), "");
    EXPECT_EQ(ui.ClimatologyGrid->Cell(1, 0), "av_Ta, \u00b0C");
    EXPECT_EQ(ui.ClimatologyGrid->Cell(12, 0), "Ss, \u00b0C");
    EXPECT_EQ(ui.ClimatologyGrid->Cell(0, 1), "Jan");
    EXPECT_EQ(ui.ClimatologyGrid->Cell(0, 12), "Dec");
    EXPECT_EQ(ui.ClimatologyGrid->Cell(5, 6), "");

    EXPECT_EQ(ui.SiteGrid->Cell(0, 1), "M_ff, kg/m\u00b2");
    EXPECT_EQ(ui.SiteGrid->Cell(0, 5), "W_SAT_ff, vol.%");
    EXPECT_EQ(ui.SiteGrid->Cell(0, 14), "fortype");
    EXPECT_EQ(ui.SiteGrid->Cell(1, 0), "");
    for (int r = 0; r < 15; ++r) {
        const bool flagRow = r >= 12;
        EXPECT_EQ(ui.SiteGrid->RowHeight(r), flagRow ? -1 : 18) << "row " << r;
        EXPECT_EQ(ui.SiteGrid->isRowHidden(r), flagRow) << "row " << r;
    }
    EXPECT_TRUE(ui.SiteGrid->Texts().RowCount() == 15 && ui.SiteGrid->Texts().Cell(0, 11) == "Corr");
}

TEST_F(MainFormTest, ChartOpensHiddenWithDesignTitlesAndNoSeriesInTheLegend) {
    const LineChart& chart = *form.Controls().Chart;
    EXPECT_TRUE(chart.isHidden());
    EXPECT_EQ(chart.Title(), "Input");
    EXPECT_EQ(chart.BottomAxis()->titleText(), "number of steps");
    EXPECT_EQ(chart.LeftAxis()->titleText(), QString::fromUtf8("Temperature, \u00b0\u0421"));
    EXPECT_EQ(chart.RightAxis()->titleText(), "precipitation, mm");
    EXPECT_FALSE(chart.BottomAutomatic());
    EXPECT_EQ(chart.BottomAxis()->max(), 24);
    EXPECT_FALSE(chart.chart()->legend()->isVisible());

    const char* titles[] = {"Tair, \u00b0C", "Tsoil, \u00b0C", "Prec", "T_ff, \u00b0C", "T_ms, \u00b0C",
                            "W_ff, %vol.", "W_ms, %vol.", "W_ff, %m.", "W_ms, %m."};
    const QColor colors[] = {{187, 0, 0},   {255, 0, 255}, {0, 147, 147},  {255, 112, 43}, {18, 64, 0},
                             {134, 53, 140}, {251, 251, 0}, {47, 255, 47}, {0, 0, 160}};
    const bool onLeft[] = {true, true, false, true, true, false, false, false, false};
    for (int i = 0; i < SERIES_COUNT; ++i) {
        const ChartSeries id = SeriesAt(i);
        QLineSeries* series = chart.Series(id);
        EXPECT_EQ(series->name(), QString::fromUtf8(titles[i])) << i;
        EXPECT_EQ(series->pen().color(), colors[i]) << i;
        EXPECT_EQ(series->pen().width(), 2) << i;
        EXPECT_EQ(series->attachedAxes().contains(onLeft[i] ? chart.LeftAxis() : chart.RightAxis()), true) << i;
        EXPECT_EQ(series->count(), 0) << i;
        EXPECT_FALSE(series->isVisible()) << i;
        EXPECT_FALSE(chart.Legend()->IsListed(id)) << i;
        EXPECT_FALSE(chart.Legend()->IsSwitchedOn(id)) << i;
    }
    EXPECT_EQ(chart.rubberBand(), QChartView::NoRubberBand);

    QStringList menu;
    for (const QAction* action : chart.ContextMenu()->actions())
        menu << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(menu, QStringList({"Save as metafile", "Save as bitmap", "Save as PNG", "Save as SVG", "Save as PDF", "-",
                                 "Print preview", "Print"}));
}

// At the smallest window size every tool-bar control is still on the bar,
// whole and apart from its neighbours; at the design size the controls keep
// their design positions.
TEST_F(MainFormTest, ToolBarControlsStayReachableAtTheSmallestSize) {
    const TMainFormControls& ui = form.Controls();
    const std::vector<QWidget*> row = {ui.SaveResultsButton, ui.InitialiseButton, ui.StepLabel,      ui.StepSlider,
                                       ui.StepYearsBox,      ui.StepButton,       ui.ChartViewLabel, ui.ChartViewBox,
                                       ui.YearLabel,         ui.YearSlider,       ui.YearBox,        ui.ExitButton};
    struct Case {
        const char* what;
        QSize size;
    };
    const Case cases[] = {{"smallest", form.minimumSize()}, {"design", QSize(784, 467)}, {"wide", QSize(1400, 800)}};
    form.show();
    for (const Case& c : cases) {
        form.resize(c.size);
        QApplication::processEvents();
        ASSERT_EQ(form.size(), c.size) << c.what;
        const QWidget& bar = *ui.SaveResultsButton->parentWidget();
        ASSERT_EQ(bar.width(), form.width()) << c.what;
        int right = 0;
        for (QWidget* control : row) {
            const QRect place = control->geometry();
            EXPECT_TRUE(bar.rect().contains(place)) << c.what << ": " << control->objectName().toStdString() << " at "
                                                    << place.x() << ".." << place.right() << " on a bar "
                                                    << bar.width() << " wide";
            EXPECT_GE(place.left(), right) << c.what << ": " << control->objectName().toStdString() << " overlaps";
            EXPECT_GE(place.width(), 25) << c.what << ": " << control->objectName().toStdString();
            right = place.right() + 1;
        }
    }
    // At the design size nothing needs to give way.
    form.resize(784, 467);
    QApplication::processEvents();
    EXPECT_EQ(ui.StepSlider->geometry().width(), 106);
    EXPECT_EQ(ui.YearSlider->geometry().width(), 105);
}

}  // namespace
}  // namespace kelmar::ui
