// Models after a run and the display half of a Step, shared by the window
// tests, the window benchmark and the screenshot program.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QSlider>

#include <memory>
#include <utility>
#include <vector>

#include "model/model_fixtures.h"
#include "model/run_model.h"
#include "ui/line_chart.h"
#include "ui/main_form.h"

namespace kelmar::testing {

// Simulated weather: the worked site and the boreal climatology run for 500 years.
inline std::unique_ptr<TModel> SimulatedRunModel(std::uint32_t seed) {
    auto model = std::make_unique<TModel>();
    model->Site = WorkedSite();
    model->Climate = BorealClimate();
    model->Random.SetState(seed);
    model->Settings.InpDat = false;
    RecordingNotifier notifier;
    RunModel(*model, notifier);
    model->Settings.YearCount = 0;
    return model;
}

// Weather from file for `years` years from `firstYear`, every soil
// temperature observed except the (year index, month) pairs in `missing`,
// which the run fills in.
inline std::unique_ptr<TModel> FileRunModel(int firstYear, int years,
                                            const std::vector<std::pair<int, int>>& missing = {}) {
    auto model = std::make_unique<TModel>();
    model->Site = WorkedSite();
    model->Climate = BorealClimate();
    model->Random.SetState(7);
    model->Settings.InpDat = true;
    model->Settings.YearBeg = firstYear;
    model->Settings.YearEnd = firstYear + years - 1;
    model->Weather.FillMissing();
    for (int i = 1; i <= years; ++i)
        for (int m = 1; m <= 12; ++m) {
            model->Weather.Tair[i][m] = model->Climate.av_Ta[m] + 0.5 * (i % 3) - 0.5;
            model->Weather.Prec[i][m] = model->Climate.av_P[m] + 2.0 * i;
            model->Weather.Tsoil[i][m] = model->Climate.av_Ts[m] + 0.25 * (i % 4);
        }
    for (const auto& [yearIndex, month] : missing) model->Weather.Tsoil[yearIndex][month] = MISSING_VALUE;
    RecordingNotifier notifier;
    RunModel(*model, notifier);
    model->Settings.YearCount = 0;
    return model;
}

// What a Step that releases years up to yearCount shows: the chart, the
// status text, the results grid, the year slider's range, the yearly views,
// the chart refresh for the current view and tab, and with simulated
// weather the input-weather grid.
inline void ShowReleasedYears(ui::TMainForm& form, const TModel& model, int yearCount) {
    const ui::TMainFormControls& controls = form.Controls();
    controls.Chart1->show();
    controls.Label2->setEnabled(true);
    controls.ComboBox1->setEnabled(true);
    form.SetYearCount(yearCount);
    form.ShowResults(yearCount);
    controls.TrackBar2->setMaximum(yearCount);
    if (yearCount > 1 && controls.ComboBox1->count() == 2)
        controls.ComboBox1->addItems({"Annual average", "January", "February", "March", "April", "May", "June",
                                      "July", "August", "September", "October", "November", "December"});
    if (form.SelectedMonth() == 0)
        form.RefreshChart(form.SelectedYear(), form.SelectedYear());
    else
        form.RefreshChart(1, yearCount);
    form.PageControl1Change();
    if (!model.Settings.InpDat && yearCount > 0) form.ShowInputWeather(yearCount);
}

}  // namespace kelmar::testing
