#include "app/batch/site_run.h"

#include "app/open_commands.h"
#include "io/climatology_file.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "model/errors.h"
#include "model/run_checks.h"
#include "model/run_model.h"

namespace kelmar::batch {

namespace {

// The warnings of the readers and the run: in a batch each one ends the
// site's run with its text (a file not found, an unusable climatology).
class FailingNotifier : public Notifier {
public:
    void Warning(const std::string& text) override { throw KelmarError(text); }
};

std::string Leaf(const std::string& fileName) { return Utf8Name(PathOf(fileName).filename()); }

void ReadSite(TModel& model, const SiteEntry& site, Notifier& notifier) {
    if (site.SiteFile.empty()) {
        model.Site = site.Params;
        return;
    }
    ReadSiteFile(model, site.SiteFile, notifier);
}

void Finish(RunOutcome outcome) {
    if (outcome == RunOutcome::ClimatologyError) throw KelmarError(CLIMATOLOGY_ERROR_MESSAGE);
}

void RunFromWeather(TModel& model, const SiteEntry& site, WeatherTables& tables, Notifier& notifier) {
    model.Settings.InpDat = true;
    std::string weatherName;
    if (IsWeatherTableName(site.WeatherFile)) {
        tables.Get(site.WeatherFile).Store(model, site.Id);
        weatherName = Leaf(site.WeatherFile);
    } else {
        ReadWeatherFile(model, site.WeatherFile, notifier);
        weatherName = Leaf(WeatherFileName(site.WeatherFile));
    }
    ValidateWeatherForRun(model, weatherName);

    // The first run counts the years of the record, as the open command does.
    RunModel(model, notifier);
    std::string climateName;
    if (RecordHasSoilGaps(model)) {
        if (site.ClimateFile.empty())
            throw KelmarError("The weather record \"" + weatherName +
                              "\" has months without a soil temperature; give the site a climate_file whose "
                              "generator fills them.");
        ReadClimatologyFile(model, site.ClimateFile, notifier);
        climateName = Leaf(ReplaceExtension(site.ClimateFile, CLIMATOLOGY_EXTENSION));
    }
    ValidateClimatologyForRun(model, climateName);
    Finish(RunModel(model, notifier));
}

void RunSimulated(TModel& model, const SiteEntry& site, Notifier& notifier) {
    model.Settings.InpDat = false;
    ReadClimatologyFile(model, site.ClimateFile, notifier);
    ValidateClimatologyForRun(model, Leaf(ReplaceExtension(site.ClimateFile, CLIMATOLOGY_EXTENSION)));
    Finish(RunModel(model, notifier));
}

}  // namespace

const WeatherTable& WeatherTables::Get(const std::string& fileName) {
    std::lock_guard<std::mutex> guard(Lock);
    auto [entry, added] = Tables.try_emplace(fileName);
    if (added) {
        try {
            FailingNotifier notifier;
            const std::optional<std::string> bytes = ReadDataFile(
                fileName, WEATHER_NOT_FOUND_MESSAGE, WEATHER_TABLE_LIMIT, notifier);
            entry->second.Table = ReadWeatherTableBytes(*bytes, fileName);
        } catch (const KelmarError& e) {
            entry->second.Error = e.what();
        }
    }
    if (!entry->second.Table) throw KelmarError(entry->second.Error);
    return *entry->second.Table;
}

void RunSite(TModel& model, const SiteEntry& site, std::uint32_t seed, WeatherTables& tables) {
    FailingNotifier notifier;
    model.Random.SetState(seed);
    ReadSite(model, site, notifier);
    if (site.WeatherFile.empty())
        RunSimulated(model, site, notifier);
    else
        RunFromWeather(model, site, tables, notifier);
}

}  // namespace kelmar::batch
