#include "app/record_run.h"

#include <algorithm>
#include <memory>

#include "app/open_commands.h"
#include "io/value_text.h"
#include "model/errors.h"
#include "model/lognormal_precipitation.h"
#include "model/run_checks.h"
#include "model/run_model.h"

namespace kelmar {

namespace {

// The derived parameters of the precipitation, as the climatology reader
// makes them; a failure names the climatology and the month as it does.
void UseClimatology(TModel& model, const TClimatology& climate, const std::string& name) {
    model.Climate = climate;
    for (int m = 1; m <= 12; ++m) {
        try {
            DeriveLognormalMonth(model.Climate, m);
        } catch (const KelmarError& e) {
            const std::string what = "av_P and Cv_P of month " + std::to_string(m);
            throw KelmarError(std::string(e.what()) + "\n" +
                              (name.empty() ? "in " + what : "in \"" + name + "\", " + what));
        }
    }
}

void Finish(RunOutcome outcome) {
    if (outcome == RunOutcome::ClimatologyError) throw KelmarError(CLIMATOLOGY_ERROR_MESSAGE);
}

}  // namespace

void RunRecords(TModel& model, const RecordRunInputs& inputs, Notifier& notifier) {
    if (inputs.Site == nullptr) throw KelmarError("A run needs a site.");
    model.Site = *inputs.Site;
    if (inputs.Weather == nullptr) {
        if (inputs.Climate == nullptr)
            throw KelmarError("Simulated weather needs a climatology; give a climate or a weather record.");
        model.Settings.InpDat = false;
        UseClimatology(model, *inputs.Climate, inputs.ClimateName);
        ValidateClimatologyForRun(model, inputs.ClimateName);
        Finish(RunModel(model, notifier));
        return;
    }
    model.Settings.InpDat = true;
    model.Weather = inputs.Weather->Store;
    model.Settings.YearBeg = inputs.Weather->YearBeg;
    model.Settings.YearEnd = inputs.Weather->YearEnd;
    ValidateWeatherForRun(model, inputs.WeatherName);

    // The first run counts the years of the record, as the open command does.
    RunModel(model, notifier);
    std::string climateName;
    if (RecordHasSoilGaps(model)) {
        if (inputs.Climate == nullptr)
            throw KelmarError("The weather record \"" + inputs.WeatherName +
                              "\" has months without a soil temperature; give a climatology whose generator "
                              "fills them.");
        UseClimatology(model, *inputs.Climate, inputs.ClimateName);
        climateName = inputs.ClimateName;
    }
    ValidateClimatologyForRun(model, climateName);
    Finish(RunModel(model, notifier));
}

TClimatology EstimateFromWeatherRecord(const WeatherRecord& weather, const std::string& recordName,
                                       Notifier& notifier) {
    auto model = std::make_unique<TModel>();
    model->Weather = weather.Store;
    model->Settings.YearBeg = weather.YearBeg;
    model->Settings.YearEnd = weather.YearEnd;
    EstimateFromRecord(*model, recordName, notifier);
    return model->Climate;
}

}  // namespace kelmar

namespace kelmar {

std::vector<WeatherRowTexts> WeatherRecordRowTexts(const WeatherRecord& weather) {
    std::vector<WeatherRowTexts> rows;
    const int years = std::clamp(weather.YearEnd - weather.YearBeg + 1, 0, MAX_YEARS);
    rows.reserve(static_cast<std::size_t>(years) * 12);
    for (int i = 1; i <= years; ++i)
        for (int m = 1; m <= 12; ++m)
            rows.push_back({std::to_string(weather.YearBeg + i - 1), std::to_string(m),
                            FormatValue(weather.Store.Tair[i][m]), FormatValue(weather.Store.Prec[i][m]),
                            FormatValue(weather.Store.Tsoil[i][m])});
    return rows;
}

}  // namespace kelmar
