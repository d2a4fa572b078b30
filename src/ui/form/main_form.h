// The main window: tool bar with the step and chart-view controls, the
// tabbed left pane with the input-weather, site, climatology and results
// grids, the chart behind a splitter, and the status panel. It shows the
// model's records and run settings and holds the session whose released
// years it shows; the commands that read files, run the model and step
// through the years connect to its controls from outside.
#pragma once

#include <QMainWindow>

#include "app/presentation/text_grid.h"
#include "app/session.h"
#include "model/model_state.h"
#include "ui/form/main_form_controls.h"

class QRect;

namespace kelmar::ui {

class GridCanvas;

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(TModel& model, QWidget* parent = nullptr);

    const TMainFormControls& Controls() const { return Ui; }

    // The years released and the step size, which the commands change and
    // the chart views read; one for the life of the window.
    Session& AppSession() { return State; }
    const Session& AppSession() const { return State; }
    // Sets the released years and shows them in the status panel.
    void SetYearCount(int yearCount);
    // Shows the session's released years in the status panel.
    void ShowYearCount();

    // Site grid, climatology grid and their controls.
    void ShowSiteParams();
    void ReadSiteParamsFromGrid();
    void ShowClimatology();
    void RadioButton4Click();
    void RadioButton5Click();
    void RadioButton6Click();
    void RadioButton7Click();
    void ComboBox2Change();
    // Raise the conversion error of the first cell of the site grid's values,
    // or of the climatology grid, that is not a number the file readers
    // read back; its second line names the grid row (and column).
    void CheckSiteGridNumbers() const;
    void CheckClimatologyGridNumbers() const;

    // Results and input-weather grids.
    void ShowResults(int yearCount);
    void ShowInputWeather(int yearCount);
    // Draws over a cell of Grid9 after its standard painting: marks in the
    // notice colour the soil temperatures the run filled in (weather from
    // file) or every value (simulated weather).
    void Grid9DrawCell(int ACol, int ARow, const QRect& Rect, GridCanvas& Canvas);

    // Chart views.
    int SelectedMonth() const;
    void SetSelectedMonth(int index);
    int SelectedYear() const;
    void SetSelectedYear(int yearIndex);
    void RefreshChart(int first, int last);
    void PageControl1Change();
    void ComboBox1Change();
    void TrackBar2Change();
    void Edit4Change();

    // What the chart title says of the scenario of the run; empty for none.
    void SetScenarioText(const QString& text) { ScenarioText = text; }

    // The grids' texts as the file writers take them.
    TextGrid SiteGridTexts() const;
    TextGrid ClimatologyGridTexts() const;
    TextGrid InputWeatherGridTexts() const;
    TextGrid ResultsGridTexts() const;

private:
    void FormCreate();
    void BuildWindow();
    QWidget* BuildToolBar();
    QWidget* BuildInputPage();
    QWidget* BuildSitePage();
    QWidget* BuildClimatologyPage();
    QWidget* BuildResultsPage();
    QWidget* BuildChartPanel();
    QWidget* BuildStatusPanel();
    void ConnectHandlers();

    // Sets a site flag and its hidden row of the site grid.
    void SetSiteFlag(std::uint8_t TSiteParams::*flag, int row, int value);
    // True when Grid9DrawCell draws the cell in the notice colour.
    bool Grid9CellMarked(int column, int row) const;

    TModel& Model;
    Session State;
    TMainFormControls Ui;
    QString ScenarioText;
};

}  // namespace kelmar::ui
