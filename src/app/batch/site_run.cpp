#include "app/batch/site_run.h"

#include "app/open_commands.h"
#include "app/run_sequence.h"
#include "io/climatology_file.h"
#include "io/climatology_table.h"
#include "io/data_file_names.h"
#include "io/file_bytes.h"
#include "io/site_file.h"
#include "io/weather_file.h"
#include "model/climatology_estimation.h"
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

// Keeps the warnings instead of showing them.
struct CollectingNotifier : Notifier {
    std::vector<std::string> Texts;
    void Warning(const std::string& text) override { Texts.push_back(text); }
};

// A site's inputs, from its entry in the list: every file must be there.
class SiteSources : public RunSources {
public:
    SiteSources(const SiteEntry& site, WeatherTables& tables, const ClimateEstimate* estimate)
        : Site(site), Tables(tables), Estimate(estimate) {}

    Notifier& Messages() override { return Failing; }

    bool ReadSite(TModel& model) override {
        if (Site.SiteFile.empty())
            model.Site = Site.Params;
        else
            ReadSiteFile(model, Site.SiteFile, Failing);
        return true;
    }

    std::optional<std::string> ReadWeather(TModel& model) override {
        if (Site.FromGrid)
            if (const auto fault = Tables.GridFaults.find(Site.Id); fault != Tables.GridFaults.end())
                throw KelmarError(fault->second);
        if (IsWeatherTableName(Site.WeatherFile)) {
            Tables.Get(Site.WeatherFile).Store(model, Site.Id);
            return Leaf(Site.WeatherFile);
        }
        ReadWeatherFile(model, Site.WeatherFile, Failing);
        return Leaf(WeatherFileName(Site.WeatherFile));
    }

    std::optional<std::string> ReadClimatology(TModel& model) override {
        if (Estimate && !Site.WeatherFile.empty()) return EstimateFromSiteRecord(model);
        ReadSiteClimatology(model);
        return Leaf(ClimatologyFileName(Site.ClimateFile));
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
    // The climate_file: a climatology file, or the site's rows of a tidy table.
    void ReadSiteClimatology(TModel& model) {
        if (IsClimatologyTableName(Site.ClimateFile))
            Tables.Climatology(Site.ClimateFile).Store(model, Site.Id);
        else
            ReadClimatologyFile(model, Site.ClimateFile, Failing);
    }

    // The climatology `kelmar-cli estimate` makes of the site's record over
    // the reference years, read back as from the file it writes. The soil
    // fields it cannot give (a month without soil temperature, and the
    // regression of the month after it) come from the climate_file; only
    // then is a coefficient still missing an error, as it is for a run from
    // that file.
    std::string EstimateFromSiteRecord(TModel& model) {
        // The record is read into a model of its own: the site's model is
        // to run as one that read a climatology file and nothing else.
        auto record = std::make_unique<TModel>();
        std::string years = Estimate->Reference ? Estimate->Reference->Text() : std::string();
        const auto where = [&] {
            return "\nin the climatology estimated for the site \"" + Site.Id + "\" from \"" + Site.WeatherFile + "\"" +
                   (years.empty() ? std::string() : " over the years " + years);
        };
        std::string name;
        CollectingNotifier shortfall;  // judged once the climate_file filled what it may
        try {
            const std::string recordName = *ReadWeather(*record);
            if (!Estimate->Reference) years = EstimateYearsText(*record);
            name = UseEstimateOfRecord(model, *record, recordName, Estimate->Reference, shortfall);
        } catch (const KelmarError& e) {
            throw KelmarError(e.what() + where());
        }
        // A record too short for any regression says so before its soil does.
        const int recordYears = YearsForEstimate(record->Weather, record->Settings);
        if (recordYears < YEARS_FOR_REGRESSIONS && !shortfall.Texts.empty())
            throw KelmarError(shortfall.Texts.front() + where());
        const std::string soilless = MonthsWithoutSoil(model.Climate);
        if (!soilless.empty() && Site.ClimateFile.empty())
            throw KelmarError("The weather record \"" + Site.WeatherFile + "\" of the site \"" + Site.Id +
                              "\" has no soil temperature in month " + soilless + " of the years " + years +
                              ", so the climatology estimated from it has none there; give the site a climate_file, "
                              "whose soil-temperature fields (av_Ts, std_Ts, Bss, Bsa, Ss) then fill those months, or "
                              "soil temperatures (tsoil) for them in the record.");
        if (!Site.ClimateFile.empty() && (!soilless.empty() || !shortfall.Texts.empty())) {
            ReadSiteClimatology(*record);
            FillSoilMonths(model.Climate, record->Climate);
        }
        if (const auto missing = RegressionShortfall(model.Climate, recordYears))
            throw KelmarError(*missing + where());
        return name;
    }

    const SiteEntry& Site;
    WeatherTables& Tables;
    const ClimateEstimate* Estimate;
    FailingNotifier Failing;
};

// A run that ended without one whole year has nothing to show; it would leave
// the site without rows and without an error.
void RequireAWholeYear(const TModel& model, const SiteEntry& site, bool simulated) {
    if (model.AvailableYears >= 1) return;
    if (!simulated)
        throw KelmarError("The weather record \"" + site.WeatherFile + "\" of the site \"" + site.Id +
                          "\" holds no whole year: a run needs at least one year of twelve months, January to "
                          "December, with air temperature and precipitation.");
    throw KelmarError("The run from the climatology \"" + site.ClimateFile + "\" gave no whole year: a run needs at "
                      "least one year of twelve months.");
}

}  // namespace

namespace {

// The entry of `fileName` in `tables`, read on first use by `read` from the
// file's bytes; raises the error its reading gave.
template <typename Table, typename Read>
const Table& TableOf(std::map<std::string, Table>& tables, std::mutex& lock, const std::string& fileName,
                     DataFileLimit limit, const char* notFound, Read&& read) {
    std::lock_guard<std::mutex> guard(lock);
    auto [entry, added] = tables.try_emplace(fileName);
    if (added) {
        try {
            FailingNotifier notifier;
            const std::optional<std::string> bytes = ReadDataFile(fileName, notFound, limit, notifier);
            entry->second.Read = read(*bytes, fileName);
        } catch (const KelmarError& e) {
            entry->second.Error = e.what();
        }
    }
    if (!entry->second.Read) throw KelmarError(entry->second.Error);
    return entry->second;
}

}  // namespace

const WeatherTable& WeatherTables::Get(const std::string& fileName) {
    return *TableOf(Tables, Lock, fileName, WEATHER_TABLE_LIMIT, WEATHER_NOT_FOUND_MESSAGE, ReadWeatherTableBytes).Read;
}

const ClimatologyTable& WeatherTables::Climatology(const std::string& fileName) {
    return *TableOf(Climatologies, Lock, fileName, CLIMATOLOGY_TABLE_LIMIT, CLIMATOLOGY_NOT_FOUND_MESSAGE,
                    ReadClimatologyTableBytes)
                .Read;
}

void RunSite(TModel& model, const SiteEntry& site, std::uint32_t seed, WeatherTables& tables) {
    RunSite(model, site, RandomSource(seed), tables, nullptr);
}

void RunSite(TModel& model, const SiteEntry& site, const RandomSource& start, WeatherTables& tables,
             const TScenario* scenario, const ClimateEstimate* estimate) {
    model.Random = start;
    SiteSources sources(site, tables, estimate);
    model.Settings.InpDat = !site.WeatherFile.empty() && !estimate;
    RaiseIfClimatologyError(model.Settings.InpDat ? RunFromWeatherSequence(model, sources, scenario)
                                 : RunSimulatedSequence(model, sources, scenario));
    RequireAWholeYear(model, site, !model.Settings.InpDat);
}

}  // namespace kelmar::batch
