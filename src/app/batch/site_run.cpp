#include "app/batch/site_run.h"

#include "app/run_sequence.h"
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

// A site's inputs, from its entry in the list: every file must be there.
class SiteSources : public RunSources {
public:
    SiteSources(const SiteEntry& site, WeatherTables& tables) : Site(site), Tables(tables) {}

    Notifier& Messages() override { return Failing; }

    bool ReadSite(TModel& model) override {
        if (Site.SiteFile.empty())
            model.Site = Site.Params;
        else
            ReadSiteFile(model, Site.SiteFile, Failing);
        return true;
    }

    std::optional<std::string> ReadWeather(TModel& model) override {
        if (IsWeatherTableName(Site.WeatherFile)) {
            Tables.Get(Site.WeatherFile).Store(model, Site.Id);
            return Leaf(Site.WeatherFile);
        }
        ReadWeatherFile(model, Site.WeatherFile, Failing);
        return Leaf(WeatherFileName(Site.WeatherFile));
    }

    std::optional<std::string> ReadClimatology(TModel& model) override {
        ReadClimatologyFile(model, Site.ClimateFile, Failing);
        return Leaf(ReplaceExtension(Site.ClimateFile, CLIMATOLOGY_EXTENSION));
    }

    // Unlike `simulate`, no gap is filled from an empty climatology.
    std::string ReadGapClimatology(TModel& model, const std::string& weatherName) override {
        if (Site.ClimateFile.empty())
            throw KelmarError("The weather record \"" + weatherName +
                              "\" has months without a soil temperature; give the site a climate_file whose "
                              "generator fills them.");
        return *ReadClimatology(model);
    }

private:
    const SiteEntry& Site;
    WeatherTables& Tables;
    FailingNotifier Failing;
};

// A run that ended without one whole year has nothing to show; it would leave
// the site without rows and without an error.
void RequireAWholeYear(const TModel& model, const SiteEntry& site) {
    if (model.AvailableYears >= 1) return;
    if (!site.WeatherFile.empty())
        throw KelmarError("The weather record \"" + site.WeatherFile + "\" of the site \"" + site.Id +
                          "\" holds no whole year: a run needs at least one year of twelve months, January to "
                          "December, with air temperature and precipitation.");
    throw KelmarError("The run from the climatology \"" + site.ClimateFile + "\" gave no whole year: a run needs at "
                      "least one year of twelve months.");
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
    RunSite(model, site, RandomSource(seed), tables, nullptr);
}

void RunSite(TModel& model, const SiteEntry& site, const RandomSource& start, WeatherTables& tables,
             const TScenario* scenario) {
    model.Random = start;
    SiteSources sources(site, tables);
    model.Settings.InpDat = !site.WeatherFile.empty();
    RaiseIfClimatologyError(model.Settings.InpDat ? RunFromWeatherSequence(model, sources, scenario)
                                 : RunSimulatedSequence(model, sources, scenario));
    RequireAWholeYear(model, site);
}

}  // namespace kelmar::batch
