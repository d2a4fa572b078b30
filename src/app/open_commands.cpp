#include "app/open_commands.h"

#include "app/run_sequence.h"

#include "io/climatology_file.h"
#include "io/climatology_table.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "model/errors.h"
#include "model/run_checks.h"
#include "model/climatology_estimation.h"

namespace kelmar {

bool ReadSite(TModel& model, const std::string& fileName, WorkflowView& view) {
    if (!ReadSiteFile(model, fileName, view)) return false;
    view.SiteFileRead();
    return true;
}

bool AskAndReadSite(TModel& model, WorkflowView& view, OpenResult& result) {
    const auto siteName = view.AskFile(FileDialog::SiteForRun);
    if (!siteName || !ReadSite(model, *siteName, view)) return false;
    result.read.site = SiteFileName(*siteName);
    view.ShowSiteParams();
    return true;
}

bool ReadClimatology(TModel& model, const std::string& fileName, WorkflowView& view) {
    if (!ReadAnyClimatologyFile(model, fileName, view.WeatherSiteId(), view)) return false;
    view.ClimatologyFileRead();
    return true;
}

bool ReadWeather(TModel& model, const std::string& fileName, WorkflowView& view) {
    bool found = false;
    try {
        found = ReadWeatherFile(model, fileName, view, view.WeatherSiteId());
    } catch (...) {
        view.WeatherFileOpened();  // it was found, then failed part-way
        throw;
    }
    if (found) view.WeatherFileOpened();
    return found;
}

namespace {

// The open commands' inputs: each file asked for in its dialog, read, and
// shown; the names read go to the command's result.
class DialogSources : public RunSources {
public:
    DialogSources(WorkflowView& view, OpenResult& result, const HeldWeather* held = nullptr)
        : View(view), Result(result), Held(held) {}

    Notifier& Messages() override { return View; }

    bool ReadSite(TModel& model) override { return AskAndReadSite(model, View, Result); }

    std::optional<std::string> ReadWeather(TModel& model) override {
        if (Held) {
            UseHeldWeather(model, *Held);
            Result.weatherFileName = Held->Name;
            return Held->Name;
        }
        const auto weatherName = View.AskFile(FileDialog::WeatherForRun);
        if (!weatherName || !kelmar::ReadWeather(model, *weatherName, View)) return std::nullopt;
        Result.read.weather = WeatherFileName(*weatherName);
        Result.weatherFileName = Utf8Name(PathOf(*weatherName).filename());
        return Result.weatherFileName;
    }

    std::optional<std::string> ReadClimatology(TModel& model) override {
        const auto climateName = View.AskFile(FileDialog::ClimatologyForSimulation);
        if (!climateName || !kelmar::ReadClimatology(model, *climateName, View)) return std::nullopt;
        Result.read.climatology = ClimatologyFileName(*climateName);
        return Utf8Name(PathOf(*climateName).filename());
    }

    // Without a climatology the run goes on all the same.
    std::string ReadGapClimatology(TModel& model, const std::string&) override {
        const auto climateName = View.AskFile(FileDialog::ClimatologyForGaps);
        if (climateName && kelmar::ReadClimatology(model, *climateName, View)) {
            Result.read.climatology = ReplaceExtension(*climateName, CLIMATOLOGY_EXTENSION);
            View.ShowClimatology();
            return Utf8Name(PathOf(*climateName).filename());
        }
        if (climateName) Result.gapClimatologyNotFound = true;
        return {};
    }

private:
    WorkflowView& View;
    OpenResult& Result;
    const HeldWeather* Held;
};

}  // namespace

void UseHeldWeather(TModel& model, const HeldWeather& held) {
    model.Weather = held.Record.Store;
    model.Settings.YearBeg = held.Record.YearBeg;
    model.Settings.YearEnd = held.Record.YearEnd;
}

OpenResult OpenFilesFromWeather(TModel& model, WorkflowView& view, const TScenario* scenario, const HeldWeather* held) {
    OpenResult result;
    DialogSources sources(view, result, held);
    const SequenceOutcome outcome = RunFromWeatherSequence(model, sources, scenario);
    result.ran = outcome.Ran;
    result.outcome = outcome.Outcome;
    return result;
}

OpenResult OpenFilesSimulated(TModel& model, WorkflowView& view, const TScenario* scenario) {
    OpenResult result;
    DialogSources sources(view, result);
    const SequenceOutcome outcome = RunSimulatedSequence(model, sources, scenario);
    result.ran = outcome.Ran;
    result.outcome = outcome.Outcome;
    if (outcome.Ran) view.ShowClimatology();
    return result;
}

bool GenerateClimatology(TModel& model, WorkflowView& view) {
    const auto weatherName = view.AskFile(FileDialog::WeatherForEstimate);
    if (!weatherName || !ReadWeather(model, *weatherName, view)) return false;
    EstimateFromRecord(model, Utf8Name(PathOf(*weatherName).filename()), view);
    view.ShowClimatology();
    return true;
}

void EstimateFromRecord(TModel& model, const std::string& recordName, Notifier& notifier) {
    const int years = YearsForEstimate(model.Weather, model.Settings);
    if (years == 0)
        throw KelmarError("The weather record \"" + recordName +
                          "\" has no year with an air temperature or a precipitation; no climatology can be "
                          "estimated from it.");
    const TClimatology before = model.Climate;
    EstimateClimatology(model.Climate, model.Weather, model.Settings);
    try {
        RequireFiniteClimatology(model.Climate);
    } catch (const KelmarError&) {
        model.Climate = before;
        throw;
    }
    if (const auto shortfall = RegressionShortfall(model.Climate, years)) notifier.Warning(*shortfall);
}

}  // namespace kelmar
