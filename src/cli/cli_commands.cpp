#include "cli/cli_commands.h"

#include <cmath>

#include "app/region/region_batch.h"

#include <cstdlib>
#include <memory>

#include "app/batch/batch_run.h"
#include "app/climate_estimate.h"
#include "app/command_paths.h"
#include "app/ensemble.h"
#include "app/grid/extract_run.h"
#include "app/grid/position_record.h"
#include "app/open_commands.h"
#include "app/presentation/grid_texts.h"
#include "app/random_streams.h"
#include "app/save_commands.h"
#include "app/scenario_request.h"
#include "app/session.h"
#include "app/table_output.h"
#include "cli/progress_line.h"
#include "model/climatology_estimation.h"
#include "model/errors.h"

namespace kelmar::cli {

namespace {

// Answers the commands' file dialogs from the command line and prints the
// warnings the window would show in a message box.
class TerminalView : public WorkflowView {
public:
    TerminalView(const CliOptions& options, std::ostream& err) : Options(options), Err(err) {}

    std::optional<std::string> AskFile(FileDialog dialog) override {
        switch (dialog) {
            case FileDialog::SiteForRun:
                return Options.site;
            case FileDialog::WeatherForRun:
            case FileDialog::WeatherForEstimate:
                return Options.weather;
            case FileDialog::ClimatologyForSimulation:
                return Options.climate;
            case FileDialog::ClimatologyForGaps:
                if (!Options.climate.empty()) return Options.climate;
                Err << "note: the weather record has missing soil temperatures and no --climate was "
                       "given; the generator fills them from an empty climatology\n";
                return std::nullopt;
            default:
                return std::nullopt;
        }
    }

    void Warning(const std::string& text) override { Err << text << '\n'; }
    std::string WeatherSiteId() const override { return Options.siteId; }

private:
    const CliOptions& Options;
    std::ostream& Err;
};

void WriteOutputs(const CliOptions& options, const TModel& model, std::ostream& err) {
    if (!options.results.empty()) {
        // The years a person would have released in the window, all by default.
        Session session(model);
        session.SetReleasedYears(options.years.value_or(model.AvailableYears));
        if (!session.HasYearsToSave())
            err << "note: no year to write; " << options.results << " was not written\n";
        else
            session.WriteResults(options.results);
    }
    if (!options.table.empty()) WriteResultsTable(options.table, model);
}

}  // namespace

namespace {

// How the options take a record from a grid (extract, simulate --grid).
grid::ExtractOptions GridOptionsOf(const CliOptions& options) {
    grid::ExtractOptions extract;
    extract.GridFiles = options.grids;
    extract.Method = options.method == "bilinear" ? grid::GridMethod::Bilinear : grid::GridMethod::Nearest;
    extract.MaxDistanceKm = options.maxDistance.value_or(grid::DEFAULT_MAX_DISTANCE_KM);
    const auto keyed = [](const std::vector<std::string>& pairs, std::array<std::string, 3>& target) {
        for (const std::string& pair : pairs) {
            const std::size_t equals = pair.find('=');
            for (std::size_t k = 0; k < grid::RECORD_KEYS.size(); ++k)
                if (pair.compare(0, equals, grid::RECORD_KEYS[k]) == 0) target[k] = pair.substr(equals + 1);
        }
    };
    keyed(options.gridVars, extract.VariableNames);
    keyed(options.gridUnits, extract.Units);
    return extract;
}

// The scenario the options give, or none.
std::optional<TScenario> ScenarioOf(const CliOptions& options) {
    return MakeScenario({options.scenario, options.deltaT, options.precipFactor});
}

}  // namespace

int RunSimulate(const CliOptions& options, std::ostream& out, std::ostream& err) {
    auto model = std::make_unique<TModel>();
    if (options.seed) model->Random.SetState(*options.seed);
    const RandomKind rng = *streams::KindNamed(options.rng);  // checked by ParseCommandLine
    // Without --seed the seed comes from the clock, as the 32-bit state does.
    const std::uint64_t seed = options.wideSeed.value_or(model->Random.State());
    if (rng == RandomKind::Pcg64) streams::StartStream(model->Random, rng, seed, 0);
    TerminalView view(options, err);
    try {
        const std::optional<TScenario> scenario = ScenarioOf(options);
        const TScenario* change = scenario ? &*scenario : nullptr;
        // --grid's record, taken before the run as extract takes a site's.
        std::optional<HeldWeather> held;
        if (!options.grids.empty()) held = grid::TakePositionRecord(GridOptionsOf(options), *options.lat, *options.lon, err);
        const HeldWeather* record = held ? &*held : nullptr;
        const bool fromFile = (!options.weather.empty() || held) && !options.estimateClimate;
        model->Settings.InpDat = fromFile;
        model->Settings.SimulatedYearBeg = options.startYear.value_or(1);
        model->Settings.SimulatedYears = options.runYears.value_or(MAX_YEARS);
        std::optional<ReferenceYears> reference;
        if (!options.reference.empty()) reference = ParseReferenceYears(options.reference);
        const OpenResult result = options.estimateClimate ? OpenFilesEstimated(*model, view, change, reference, record)
                                  : fromFile              ? OpenFilesFromWeather(*model, view, change, record)
                                                          : OpenFilesSimulated(*model, view, change);
        if (!result.ran || result.outcome == RunOutcome::ClimatologyError) return EXIT_FAILED;
        if (options.replicates) {
            EnsembleOptions ensemble;
            ensemble.Replicates = *options.replicates;
            ensemble.Rng = rng;
            ensemble.Seed = seed;
            ensemble.Jobs = options.jobs.value_or(0);
            ensemble.Summary = options.summary;
            ensemble.CsvDigits = options.csvDigits.value_or(0);
            ensemble.SiteId = FileStem(result.read.site);
            ensemble.ScenarioName = ScenarioColumn(change);
            ensemble.OutDir = options.out;
            ensemble.Version = VERSION;
            RunEnsemble(*model, change, ensemble);
            out << "Ran " << ensemble.Replicates << " replicates of " << model->AvailableYears
                << " years of weather into " << options.out << " (" << RandomKindName(rng) << ", seed " << seed
                << ")\n";
            if (scenario) out << "Scenario " << scenario->Describe() << '\n';
            return EXIT_OK;
        }
        // A file named on the command line that is missing is not a success.
        if (result.gapClimatologyNotFound) return EXIT_FAILED;
        if (fromFile)
            out << "There are " << model->AvailableYears << " years in \"" << result.weatherFileName << "\"\n";
        else
            out << "Simulated " << model->AvailableYears << " years of weather\n";
        if (rng == RandomKind::Pcg64) out << "Random source " << RandomKindName(rng) << ", seed " << seed << '\n';
        if (scenario) out << "Scenario " << scenario->Describe() << '\n';
        WriteOutputs(options, *model, err);
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

int RunEstimate(const CliOptions& options, std::ostream& out, std::ostream& err) {
    auto model = std::make_unique<TModel>();
    TerminalView view(options, err);
    try {
        const bool estimated = options.reference.empty()
                                   ? GenerateClimatology(*model, view)
                                   : GenerateClimatologyOver(*model, view, ParseReferenceYears(options.reference));
        if (!estimated) return EXIT_FAILED;
        // The command line refused an output over an input before anything was read.
        SaveClimatology(options.output, ClimatologyValueTexts(model->Climate), RunInputs{});
        out << "Estimated a climatology from " << YearsForEstimate(model->Weather, model->Settings) << " years, written to "
            << options.output << '\n';
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

namespace {

// The last line of a batch or merge: what was done, or how many sites failed.
int Summarize(const batch::BatchSummary& summary, const std::string& dir, std::ostream& out, std::ostream& err) {
    if (summary.Failed > 0) {
        err << "kelmar-cli: " << summary.Failed << " of " << summary.Sites << " sites failed; their messages are in "
            << (summary.Merged ? dir + "/errors.csv" : "the errors parts of " + dir + "/parts") << '\n';
        return EXIT_FAILED;
    }
    if (summary.Merged)
        out << "Ran " << summary.Sites << " sites into " << dir << " (base seed " << summary.BaseSeed << ")\n";
    return EXIT_OK;
}

}  // namespace

int RunBatchCommand(const CliOptions& options, std::ostream& out, std::ostream& err, bool stderrIsTerminal) {
    try {
        batch::BatchOptions batchOptions;
        batchOptions.SitesFile = options.sites;
        batchOptions.OutDir = options.out;
        batchOptions.Jobs = options.jobs.value_or(0);
        batchOptions.Seed = options.seed;
        batchOptions.Resume = options.resume;
        batchOptions.Format = batch::ParseOutputFormat(options.format);
        batchOptions.Share = options.shard.empty()
                                 ? batch::ShardFromEnvironment([](const char* name) { return std::getenv(name); })
                                 : std::optional<batch::Shard>(batch::ParseShard(options.shard));
        ProgressLine progress(options.quiet      ? ProgressStyle::None
                              : stderrIsTerminal ? ProgressStyle::Terminal
                                                 : ProgressStyle::Plain,
                              err);
        batchOptions.OnProgress = std::ref(progress);
        batchOptions.Version = VERSION;
        batchOptions.ScenariosFile = options.scenario;
        batchOptions.Replicates = options.replicates.value_or(0);
        batchOptions.Rng = *streams::KindNamed(options.rng);
        batchOptions.Summary = options.summary;
        batchOptions.StartYear = options.startYear.value_or(1);
        batchOptions.RunYears = options.runYears.value_or(MAX_YEARS);
        batchOptions.NetcdfPrecision = options.netcdfPrecision;
        batchOptions.NetcdfDeflate = options.netcdfDeflate.value_or(0);
        batchOptions.CsvDigits = options.csvDigits.value_or(0);
        batchOptions.KeepParts = options.keepParts;
        batchOptions.EstimateClimate = options.estimateClimate;
        if (!options.reference.empty()) batchOptions.Reference = ParseReferenceYears(options.reference);
        batchOptions.SaveClimate = options.saveClimate;
        if (!options.grids.empty()) batchOptions.Grid = GridOptionsOf(options);
        return Summarize(batch::RunBatch(batchOptions, err), options.out, out, err);
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return EXIT_FAILED;
    }
}

int RunMergeCommand(const CliOptions& options, std::ostream& out, std::ostream& err) {
    try {
        return Summarize(batch::MergeBatch(options.out, VERSION, err, options.keepParts), options.out, out, err);
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return EXIT_FAILED;
    }
}

int RunExtractCommand(const CliOptions& options, std::ostream& out, std::ostream& err) {
    try {
        grid::ExtractRequest request;
        request.SitesFile = options.sites;
        request.OutFile = options.out;
        request.CellsFile = options.cells;
        request.Options = GridOptionsOf(options);
        const grid::ExtractSummary summary = grid::RunExtract(request, err);
        if (summary.Failed > 0) {
            err << "kelmar-cli: " << summary.Failed << " of " << summary.Sites << " sites failed; the other "
                << summary.Sites - summary.Failed << " are in " << options.out << '\n';
            return EXIT_FAILED;
        }
        out << "Extracted " << summary.Sites << " sites into " << options.out << '\n';
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

namespace {

// The readers' and the estimate's warnings, printed as they come.
class TerminalNotifier : public Notifier {
public:
    explicit TerminalNotifier(std::ostream& err) : Err(err) {}
    void Warning(const std::string& text) override { Err << text << '\n'; }

private:
    std::ostream& Err;
};

}  // namespace

int RunCheckCommand(const CliOptions& options, std::ostream& out, std::ostream& err, CheckFigureWriter* figure,
                    const std::string& whyNoFigure) {
    auto model = std::make_unique<TModel>();
    TerminalNotifier notifier(err);
    try {
        CheckInputs inputs;
        inputs.Weather = options.weather;
        inputs.SiteId = options.siteId;
        inputs.Climate = options.climate;
        inputs.Years = options.years.value_or(MAX_YEARS);
        inputs.Seed = options.seed;
        const std::optional<GeneratorCheck> check = RunGeneratorCheck(*model, inputs, notifier);
        if (!check) return EXIT_FAILED;
        const std::vector<std::string> written = WriteCheckOutputs(*check, options.out, figure);
        out << "Checked the weather generator on " << check->RecordYears << " years of \"" << check->RecordName
            << "\" against " << check->SimulatedYears << " simulated years (seed " << check->Seed << ", "
            << (check->ClimateName.empty() ? "climatology estimated from the record"
                                           : "climatology \"" + check->ClimateName + "\"")
            << "); wrote";
        for (const std::string& file : written) out << ' ' << file;
        out << '\n';
        if (!figure && whyNoFigure.empty())
            err << "note: check.png and check.svg need the window's libraries (Qt 6), which this build of "
                   "kelmar-cli does not have; only the table was written\n";
        else if (!figure)
            err << "note: check.png and check.svg were not drawn, only the table was written: " << whyNoFigure
                << '\n';
        for (const std::string& line : CheckVerdicts(*check)) out << line << '\n';
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

namespace {

// The default size of a map picture, pixels.
constexpr int MAP_WIDTH = 1000, MAP_HEIGHT = 800;

region::MapRequest MapRequestOf(const CliOptions& options) {
    region::MapRequest request;
    request.Variable = options.mapVar;
    request.Months = options.mapMonths;
    request.FirstYear = options.mapFirstYear;
    request.LastYear = options.mapLastYear;
    request.Scenario = options.mapScenario;
    request.Realization = options.realization;
    request.Percentile = options.percentile.value_or(50);
    if (!options.mapDiff.empty()) {
        request.Statistic = region::MapStatistic::Difference;
        request.OtherScenario = options.mapDiff;
    } else if (options.mapStat == "percentile") {
        request.Statistic = region::MapStatistic::Percentile;
    } else if (options.mapStat == "spread") {
        request.Statistic = region::MapStatistic::Spread;
    }
    return request;
}

}  // namespace

int RunMapCommand(const CliOptions& options, std::ostream& out, std::ostream& err, region::RegionMapWriter* writer,
                  const std::string& whyNoWriter) {
    try {
        region::RegionBatch batch = region::RegionBatch::Open(options.mapDir, VERSION, options.sites);
        const region::RegionMap map = batch.Map(MapRequestOf(options));
        if (!writer) {
            err << "kelmar-cli: map draws with the window's libraries, and " << whyNoWriter << '\n';
            return EXIT_FAILED;
        }
        writer->Write(map, options.out, options.width.value_or(MAP_WIDTH), options.height.value_or(MAP_HEIGHT));
        std::int64_t without = 0;
        for (double value : map.Value) without += std::isnan(value) ? 1 : 0;
        out << "Wrote " << options.out << ": " << map.Title << " (" << map.Units << "), " << map.Value.size()
            << " sites";
        if (without > 0) out << ", " << without << " without a value in the period";
        out << '\n';
    } catch (const std::exception& e) {
        err << e.what() << '\n';
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

}  // namespace kelmar::cli
