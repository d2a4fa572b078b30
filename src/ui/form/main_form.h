// The main window: tool bar with the step and chart-view controls, the
// tabbed left pane with the input-weather, site, climatology and results
// grids, the chart behind a splitter, and the status panel. It shows the
// model's records and run settings and holds the session whose released
// years it shows; the commands that read files, run the model and step
// through the years connect to its controls from outside.
#pragma once

#include <QMainWindow>

#include <functional>

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
    void SaturationYesChecked();
    void SaturationNoChecked();
    void PermafrostYesChecked();
    void PermafrostNoChecked();
    void ForestTypeChosen();

    // Results and input-weather grids.
    void ShowResults(int yearCount);
    void ShowInputWeather(int yearCount);
    // Draws over a cell of the input-weather grid after its standard
    // painting: marks in the notice colour the soil temperatures the run
    // filled in (weather from file) or every value (simulated weather).
    void PaintInputWeatherCell(int column, int row, const QRect& rect, GridCanvas& canvas);

    // Chart views.
    int SelectedMonth() const;
    void SetSelectedMonth(int index);
    // The year index of the annual course (1 for the first year released);
    // the year controls show its calendar year.
    int SelectedYear() const;
    void SetSelectedYear(int yearIndex);
    // Gives the year controls the calendar years released so far.
    void FollowReleasedYears();
    void RefreshChart(int first, int last);
    void ShowChartOfPage();
    void ChartViewChosen();
    void YearSliderMoved();
    void YearBoxEdited();
    void YearBoxLeft();

    // What the chart title says of the scenario of the run; empty for none.
    void SetScenarioText(const QString& text) { ScenarioText = text; }

    // Asked before the window closes (Exit, the window manager's close
    // box); false keeps it open.
    void SetCloseGuard(std::function<bool()> guard) { CloseGuard = std::move(guard); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public:

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
    // True when PaintInputWeatherCell draws the cell in the notice colour.
    bool InputWeatherCellMarked(int column, int row) const;
    // Writes the year drawn into the year box.
    void ShowSelectedYear();

    TModel& Model;
    Session State;
    TMainFormControls Ui;
    QString ScenarioText;
    std::function<bool()> CloseGuard;
    bool ForwardingGridKey = false;  // the grid itself is handling a Tab the filter passed on
};

}  // namespace kelmar::ui
