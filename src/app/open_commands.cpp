#include "app/open_commands.h"

#include "io/climatology_file.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "model/errors.h"
#include "model/run_checks.h"
#include "model/climatology_estimation.h"

namespace kelmar {

namespace {

// Below this a stored soil temperature is a gap that needs a climatology
// (the store marks gaps with -99.9).
constexpr double SOIL_GAP_LIMIT = -99;

}  // namespace

bool RecordHasSoilGaps(const TModel& model) { return SmallestStoredSoilTemperature(model) < SOIL_GAP_LIMIT; }

bool ReadSite(TModel& model, const std::string& fileName, WorkflowView& view) {
    if (!ReadSiteFile(model, fileName, view)) return false;
    view.SiteFileRead();
    return true;
}

bool ReadClimatology(TModel& model, const std::string& fileName, WorkflowView& view) {
    if (!ReadClimatologyFile(model, fileName, view)) return false;
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

double SmallestStoredSoilTemperature(const TModel& model) {
    double smallest = model.Weather.Tsoil[1][1];
    for (int i = 1; i <= model.AvailableYears; ++i)
        for (int m = 1; m <= 12; ++m)
            if (model.Weather.Tsoil[i][m] < smallest) smallest = model.Weather.Tsoil[i][m];
    return smallest;
}

namespace {

// The first step of both open commands: the site file, read and shown.
bool OpenSite(TModel& model, WorkflowView& view, RunInputs& read) {
    const auto siteName = view.AskFile(FileDialog::SiteForRun);
    if (!siteName || !ReadSite(model, *siteName, view)) return false;
    read.site = SiteFileName(*siteName);
    view.ShowSiteParams();
    return true;
}

}  // namespace

OpenResult OpenFilesFromWeather(TModel& model, WorkflowView& view) {
    OpenResult result;
    if (!OpenSite(model, view, result.read)) return result;

    const auto weatherName = view.AskFile(FileDialog::WeatherForRun);
    if (!weatherName || !ReadWeather(model, *weatherName, view)) return result;
    result.read.weather = WeatherFileName(*weatherName);
    result.weatherFileName = Utf8Name(PathOf(*weatherName).filename());
    // Months without air temperature or precipitation would run as -99.9.
    ValidateWeatherForRun(model, result.weatherFileName);

    // The first run counts the years of the record.
    RunModel(model, view);
    std::string climateFile;
    if (RecordHasSoilGaps(model)) {
        // Gaps in the soil temperature are filled by the generator, which
        // needs a climatology; without one the run goes on all the same.
        const auto climateName = view.AskFile(FileDialog::ClimatologyForGaps);
        if (climateName && ReadClimatology(model, *climateName, view)) {
            result.read.climatology = ReplaceExtension(*climateName, CLIMATOLOGY_EXTENSION);
            view.ShowClimatology();
            climateFile = Utf8Name(PathOf(*climateName).filename());
        } else if (climateName) {
            result.gapClimatologyNotFound = true;
        }
    }
    // Whatever climatology fills the gaps must have the soil equation's
    // coefficients; a refused run keeps nothing of the counting run either.
    try {
        ValidateClimatologyForRun(model, climateFile);
    } catch (const KelmarError&) {
        model.Results.Clear();
        model.AvailableYears = 0;
        throw;
    }
    result.ran = true;
    result.outcome = RunModel(model, view);
    return result;
}

OpenResult OpenFilesSimulated(TModel& model, WorkflowView& view) {
    OpenResult result;
    if (!OpenSite(model, view, result.read)) return result;

    const auto climateName = view.AskFile(FileDialog::ClimatologyForSimulation);
    if (!climateName || !ReadClimatology(model, *climateName, view)) return result;
    result.read.climatology = ReplaceExtension(*climateName, CLIMATOLOGY_EXTENSION);
    ValidateClimatologyForRun(model, Utf8Name(PathOf(*climateName).filename()));

    result.ran = true;
    result.outcome = RunModel(model, view);
    view.ShowClimatology();
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
