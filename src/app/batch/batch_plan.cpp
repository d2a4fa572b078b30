#include "app/batch/batch_plan.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "app/batch/batch_tables.h"
#include "app/random_streams.h"
#include "io/file_output.h"
#include "io/path_names.h"
#include "io/posix_file.h"
#include "model/errors.h"
#include "model/run_model.h"
#include "numerics/random_source.h"

namespace fs = std::filesystem;

namespace kelmar::batch {

namespace {

std::string Hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// The lists read and checked whole, and the options against them.
void ReadInputs(const BatchOptions& options, BatchPlan& plan) {
    // Its sites are read again chunk by chunk as they run, so that memory
    // does not grow with the list.
    plan.List = std::make_unique<SiteListFile>(options.SitesFile, CHUNK_SITES, SITE_LIST_READ_BYTES,
                                               options.Grid ? GridRecordsPath(PathOf(options.OutDir)) : std::string());
    if (!options.ScenariosFile.empty()) plan.Scenarios = ReadScenarioList(options.ScenariosFile);
    plan.Inputs = IdentifyInputs(*plan.List);
    if (options.Grid) AddGridInputs(plan.Inputs, *options.Grid);
    if (options.Replicates < 0) throw KelmarError("A batch needs at least one replicate.");
    streams::CheckReplicates(options.Rng, static_cast<std::uint64_t>(options.Replicates));
    if (options.Summary && options.Replicates == 0)
        throw KelmarError("--summary summarises replicates; give --replicates R.");
    if (options.Summary && options.Format != OutputFormat::Csv)
        throw KelmarError(std::string("--summary writes CSV tables, not --format ") + FormatName(options.Format) + ".");
    ValidateSimulatedYears(options.StartYear, options.RunYears, "--start-year", "--run-years");
    if (options.NetcdfPrecision != "double" && options.NetcdfPrecision != "single")
        throw KelmarError("--netcdf-precision needs single or double, not '" + options.NetcdfPrecision + "'.");
    if (options.NetcdfDeflate < 0 || options.NetcdfDeflate > 9)
        throw KelmarError("--netcdf-deflate needs a level from 0 to 9, not " + std::to_string(options.NetcdfDeflate) + ".");
    CheckCsvDigits(options.CsvDigits);
    if (options.CsvDigits != SHORTEST_DIGITS && options.Format == OutputFormat::NetCdf)
        throw KelmarError("--csv-digits sets the numbers of the CSV tables; --format netcdf writes none.");
    if (options.Reference && !options.EstimateClimate)
        throw KelmarError("--reference sets the years of the estimated climatologies; give --estimate-climate.");
    if (options.SaveClimate && !options.EstimateClimate)
        throw KelmarError("--save-climate writes the estimated climatologies; give --estimate-climate.");
}

Manifest WantedManifest(const BatchOptions& options, const BatchPlan& plan) {
    Manifest wanted;
    wanted.Version = options.Version;
    wanted.ListHash = Hex(plan.List->Hash());
    wanted.Sites = plan.List->Count();
    wanted.ChunkSites = CHUNK_SITES;
    wanted.BaseSeed = options.Seed ? *options.Seed : RandomSource().State();
    wanted.Format = FormatName(options.Format);
    if (plan.Scenarios) {
        wanted.ScenariosHash = Hex(plan.Scenarios->Hash);
        wanted.Scenarios = static_cast<std::int64_t>(plan.Scenarios->Scenarios.size());
        for (const TScenario& scenario : plan.Scenarios->Scenarios) wanted.ScenarioNames.push_back(scenario.Name);
    }
    wanted.Replicates = options.Replicates;
    wanted.Summary = options.Summary;
    wanted.Rng = streams::ShortName(options.Rng);
    wanted.InputsHash = plan.Inputs.Hash;
    wanted.InputIdentities = plan.Inputs.Identities();
    wanted.StartYear = options.StartYear;
    wanted.RunYears = options.RunYears;
    wanted.NetcdfPrecision = options.NetcdfPrecision;
    wanted.NetcdfDeflate = options.NetcdfDeflate;
    wanted.CsvDigits = options.CsvDigits;
    wanted.EstimateClimate = options.EstimateClimate;
    if (options.Reference) wanted.Reference = options.Reference->Text();
    wanted.SaveClimate = options.SaveClimate;
    if (options.Grid) wanted.GridOptions = GridOptionsDigest(*options.Grid);
    return wanted;
}

// One process per share: a second one (a job started twice) would write
// the same streams and records.
void LockShare(const BatchOptions& options, BatchPlan& plan) {
    try {
        plan.ShareLock.emplace(Utf8Name(plan.Dir / PARTS_FOLDER / (plan.Stem + ".lock")));
    } catch (const LockHeld& e) {
        throw KelmarError(std::string(e.what()) + " Another kelmar-cli is running " +
                          (plan.Sharded ? "shard " + ShardText(options.Share) : std::string("this batch")) + " in \"" +
                          Utf8Name(plan.Dir) + "\"; wait for it to end.");
    } catch (const KelmarError& e) {
        throw KelmarError(std::string(e.what()) + " The batch folder \"" + Utf8Name(plan.Dir) +
                          "\" must be one this user may write to; give --out such a folder.");
    }
}

// The chunks of the share still to run, those done before, and where this
// process's streams go on.
void FindPending(bool resume, BatchPlan& plan, std::ostream& err) {
    const Manifest& manifest = plan.Batch;
    plan.Keep.assign(plan.Streams.size(), std::nullopt);
    for (std::int64_t c = 0; c < manifest.Chunks(); ++c) {
        const bool mine = c % plan.Share.Count == plan.Share.Index;
        const std::int64_t sites = manifest.SitesOfChunk(c);
        if (mine) plan.ShareSites += sites;
        if (!resume) {
            if (mine) plan.Pending.push_back(c);
            continue;
        }
        // The share's own chunks are run again unless their bytes are
        // those recorded; of another share's only the streams' lengths count
        // (where this process's streams go on).
        std::string fault;
        const std::optional<ChunkRecord> record = FinishedChunk(plan.Dir, manifest, c, plan.Streams, nullptr, &fault,
                                                                mine ? ByteCheck::Digests : ByteCheck::Sizes);
        if (mine && !fault.empty()) err << "warning: chunk " << c << " runs again: " << fault << ".\n";
        if (record && record->Stream == plan.Stem)
            for (std::size_t k = 0; k < plan.Streams.size(); ++k)
                plan.Keep[k] = std::max(plan.Keep[k].value_or(0), record->Ranges[k].End());
        if (!mine) continue;
        if (record) {
            plan.DoneSites += sites;
            plan.DoneFailed += record->Failed;
        } else {
            plan.Pending.push_back(c);
        }
    }
    // The chunks to run lose any record left of them (a shard started again
    // without --resume runs its share anew; a record whose bytes were lost
    // is no record) before the streams are made or cut, so that no record
    // can come to point at bytes written for another chunk.
    bool removed = false;
    for (const std::int64_t c : plan.Pending) {
        std::error_code ignored;
        removed |= fs::remove(DonePath(plan.Dir, c), ignored);
    }
    if (removed) SyncFolder(plan.Dir / PARTS_FOLDER);
}

}  // namespace

BatchPlan PlanBatch(const BatchOptions& options, std::ostream& err) {
    BatchPlan plan;
    ReadInputs(options, plan);
    plan.Dir = PathOf(options.OutDir);
    MakeFolders(Utf8Name(plan.Dir));
    plan.Sharded = options.Share && options.Share->Count > 1;
    const Manifest wanted = WantedManifest(options, plan);
    plan.Batch = SettleManifest(plan.Dir, wanted, options.Seed.has_value(), options.Resume, plan.Sharded,
                                EveryOutputName(), [&](const Manifest& found) {
                                    return DescribeInputChange(plan.Inputs, found.InputIdentities, options.SitesFile);
                                });
    // A resumed batch or a late shard runs the years the batch was started with.
    if (const std::string difference = SimulatedYearsDifference(plan.Batch, wanted); !difference.empty())
        throw KelmarError("The batch in \"" + Utf8Name(plan.Dir) + "\" was started with " + difference +
                          "; its parts cannot be joined with this run. Run as it was started, or choose another folder.");
    if (const std::string difference = ClimateEstimateDifference(plan.Batch, wanted); !difference.empty())
        throw KelmarError("The batch in \"" + Utf8Name(plan.Dir) + "\" was started with " + difference +
                          "; its parts cannot be joined with this run. Run as it was started, or choose another folder.");
    // A finished batch has nothing to run: its parts are gone or going.
    if (plan.Batch.JoinedFailed) return plan;
    MakeFolders(Utf8Name(plan.Dir / PARTS_FOLDER));

    // Streams of sites without a seed of their own repeat beyond the period.
    // Each site takes Realizations() streams.
    if (const auto warning =
            streams::RepeatingStreamsWarning(*streams::KindNamed(plan.Batch.Rng), plan.List->LastWithoutSeed(),
                                             static_cast<std::uint64_t>(plan.Batch.Realizations())))
        err << "warning: " << *warning << '\n';
    for (const auto& warning : {FormulaWarning(plan.List->FormulaIds(), "site ids"),
                                plan.Scenarios ? FormulaWarning(plan.Scenarios->FormulaNames, "scenario names") : std::nullopt})
        if (warning) err << "warning: " << *warning << '\n';

    plan.Share = options.Share.value_or(Shard{});
    plan.Stem = StreamStem(plan.Share);
    LockShare(options, plan);
    if (options.Resume) RemoveLeftTemporaries(plan.Dir);
    plan.Sinks = MakeSinks(plan.Batch, plan.List->FileName());
    plan.Streams = StreamsOf(plan.Sinks);
    FindPending(options.Resume, plan, err);
    if (options.Grid && !plan.Pending.empty()) plan.GridSites = ExtractGridRecords(*plan.List, *options.Grid, plan.Dir, err);
    return plan;
}

}  // namespace kelmar::batch
