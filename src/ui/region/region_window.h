// A batch's region in a window of its own: the map of a statistic of every
// site (RegionMapWidget), the controls that choose it (variable, statistic,
// months, years, scenarios, realization, percentile), what the site last
// clicked is (its id, position, value and parameters) and its course in the
// chart of a single-site run. Every change of a control draws the map
// again from the batch's files (region::RegionBatch reads only what the map
// shows).
#pragma once

#include <QMainWindow>

#include <cstddef>
#include <optional>

#include "app/region/region_batch.h"

class QComboBox;
class QLabel;
class QSpinBox;

namespace kelmar::ui {

class RegionMapWidget;
class SiteCourseChart;
class UserDialogs;

class RegionWindow : public QMainWindow {
    Q_OBJECT

public:
    // Shows `batch`, read from `folder`; the map is drawn at once. Errors of
    // the commands go to `dialogs`.
    RegionWindow(region::RegionBatch batch, const QString& folder, UserDialogs& dialogs, QWidget* parent = nullptr);
    ~RegionWindow() override;

    // The controls, for the keys and the tests.
    QComboBox* VariableBox() const { return Variable; }
    QComboBox* StatisticBox() const { return Statistic; }
    QComboBox* MonthsBox() const { return Months; }
    QSpinBox* FirstYearBox() const { return FirstYear; }
    QSpinBox* LastYearBox() const { return LastYear; }
    QComboBox* ScenarioBox() const { return Scenario; }
    QComboBox* OtherScenarioBox() const { return OtherScenario; }
    QComboBox* RealizationBox() const { return Realization; }
    QSpinBox* PercentileBox() const { return PercentileValue; }
    RegionMapWidget& Map() const { return *MapView; }
    SiteCourseChart& Course() const { return *CourseView; }
    QLabel* SiteLabel() const { return SiteText; }

    // The map as drawn last, and what it was drawn for.
    const region::RegionMap& Shown() const { return ShownMap; }
    region::MapRequest Request() const;

    // Shows site `index` (of the batch's order): its details beside the map
    // and its course under the scenario and realization chosen.
    void ShowSite(std::size_t index);

private:
    QWidget* MakeControls();
    void FillControls();
    // Enables the controls the statistic uses, then draws the map again.
    void ControlsChanged();
    void Redraw();

    region::RegionBatch Batch;
    UserDialogs& Dialogs;
    QComboBox *Variable, *Statistic, *Months, *Scenario, *OtherScenario, *Realization;
    QSpinBox *FirstYear, *LastYear, *PercentileValue;
    QLabel* SiteText;
    RegionMapWidget* MapView;
    SiteCourseChart* CourseView;
    region::RegionMap ShownMap;
    std::optional<std::size_t> ShownSite;
    bool Filling = false;  // the controls are being set up: no redraw per control
};

}  // namespace kelmar::ui
