#include "app/record_commands.h"

#include <algorithm>
#include <memory>

#include "app/open_commands.h"
#include "app/run_sequence.h"
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

// The records of a run as the sources of the run sequence.
class RecordSources : public RunSources {
public:
    RecordSources(const RecordRunInputs& inputs, Notifier& notifier) : Inputs(inputs), Notify(notifier) {}

    Notifier& Messages() override { return Notify; }

    bool ReadSite(TModel& model) override {
        model.Site = *Inputs.Site;
        return true;
    }

    std::optional<std::string> ReadWeather(TModel& model) override {
        model.Weather = Inputs.Weather->Store;
        model.Settings.YearBeg = Inputs.Weather->YearBeg;
        model.Settings.YearEnd = Inputs.Weather->YearEnd;
        return Inputs.WeatherName;
    }

    std::optional<std::string> ReadClimatology(TModel& model) override {
        if (Inputs.Climate == nullptr)
            throw KelmarError("Simulated weather needs a climatology; give a climate or a weather record.");
        UseClimatology(model, *Inputs.Climate, Inputs.ClimateName);
        return Inputs.ClimateName;
    }

    std::string ReadGapClimatology(TModel& model, const std::string& weatherName) override {
        if (Inputs.Climate == nullptr)
            throw KelmarError("The weather record \"" + weatherName +
                              "\" has months without a soil temperature; give a climatology whose generator "
                              "fills them.");
        UseClimatology(model, *Inputs.Climate, Inputs.ClimateName);
        return Inputs.ClimateName;
    }

private:
    const RecordRunInputs& Inputs;
    Notifier& Notify;
};

}  // namespace

void RunRecords(TModel& model, const RecordRunInputs& inputs, Notifier& notifier, const TScenario* scenario) {
    if (inputs.Site == nullptr) throw KelmarError("A run needs a site.");
    RecordSources sources(inputs, notifier);
    model.Settings.InpDat = inputs.Weather != nullptr;
    RaiseIfClimatologyError(model.Settings.InpDat ? RunFromWeatherSequence(model, sources, scenario)
                                 : RunSimulatedSequence(model, sources, scenario));
}

TClimatology EstimateFromWeatherRecord(const WeatherRecord& weather, const std::string& recordName,
                                       Notifier& notifier, const std::optional<ReferenceYears>& reference) {
    auto model = std::make_unique<TModel>();
    model->Weather = weather.Store;
    model->Settings.YearBeg = weather.YearBeg;
    model->Settings.YearEnd = weather.YearEnd;
    if (reference) RestrictToReference(*model, *reference, recordName);
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
