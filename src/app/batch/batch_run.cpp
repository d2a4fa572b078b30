// A batch in three steps: the plan (batch_plan.h), the pipeline that runs
// the pending chunks' tasks on all cores and writes them in list order,
// and the join of every chunk into the outputs (batch_join.h). What the
// outputs are is the sinks' business (sinks/sink_list.h).
#include "app/batch/batch_run.h"

#include <tbb/info.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <exception>
#include <ostream>

#include "app/batch/batch_folder.h"
#include "app/batch/batch_join.h"
#include "app/batch/batch_plan.h"
#include "app/batch/batch_progress.h"
#include "app/batch/netcdf_stream.h"
#include "app/batch/sinks/netcdf_sink.h"
#include "app/batch/sinks/sink_list.h"
#include "app/batch/chunk_writer.h"
#include "app/batch/task_cursor.h"
#include "app/batch/task_runner.h"
#include "io/path_names.h"
#include "model/errors.h"

namespace kelmar::batch {

namespace {

// Threads a batch runs on: those asked for (every core by default), but no
// more than the tasks still to run, nor than the cores the process may use:
// the thread pool (oneTBB) starts no more workers than that whatever an
// arena asks, and each task in flight holds its records (about 1.3 MB for a
// century). A cap of what was asked is said on `err`.
int JobsFor(const BatchPlan& plan, const BatchOptions& options, std::ostream& err) {
    const std::int64_t tasks = std::max<std::int64_t>(
        1, (plan.ShareSites - plan.DoneSites) *
               static_cast<std::int64_t>(plan.Scenarios ? std::max<std::size_t>(1, plan.Scenarios->Scenarios.size()) : 1) *
               plan.Batch.Realizations());
    const std::int64_t cores = std::max(1, tbb::info::default_concurrency());
    const std::int64_t most = std::min(tasks, cores);
    if (options.Jobs <= 0) return static_cast<int>(most);
    if (options.Jobs <= most) return options.Jobs;
    err << "kelmar-cli: --jobs " << options.Jobs << " capped to " << most << " ("
        << (most == tasks ? "the tasks of the batch" : "the cores") << ")\n";
    return static_cast<int>(most);
}

// The netCDF sink of a run that writes results.nc while its sites run, or
// null. It must know the files' time axis before any site ran and hold
// every task of the batch: one process running the whole list (no shard,
// no chunk of an earlier run, whose tasks are only in the values parts) of
// simulated-weather sites, whose years are the batch's start year and run
// years. An observed-weather record's years are known only once the record
// is read and cut to whole years (a look at every file before the run would
// be a second reader of them), so a list holding one joins as before; so
// does a run whose sites ended up spanning other years (the stream is
// dropped, see NetcdfSink::Join).
NetcdfSink* StreamsNetcdf(BatchPlan& plan) {
    if (plan.Sharded || plan.DoneSites > 0 || plan.Pending.empty() || plan.Inputs.ObservedWeather) return nullptr;
    for (const auto& sink : plan.Sinks)
        if (auto* netcdf = dynamic_cast<NetcdfSink*>(sink.get())) return netcdf;
    return nullptr;
}

// Waits, however the pipeline ended, until the netCDF stream gave back
// every slot it holds, before the slots go.
struct StreamDrain {
    NetcdfStream* Stream;
    ~StreamDrain() {
        if (Stream) Stream->Drain();
    }
};

// Runs the plan's pending chunks: the tasks from the cursor, in list order;
// their runs and texts on `jobs` threads; the writer in list order again,
// handing each task to the netCDF stream of `netcdf` when not null.
// Gives the failed sites of the chunks recorded.
std::int64_t RunPending(BatchPlan& plan, const BatchOptions& options, NetcdfSink* netcdf, ProgressReporter& progress,
                        BatchStop& stop, std::ostream& err) {
    const int jobs = JobsFor(plan, options, err);
    // Two slots per job, so that every job has a task to run while the
    // writer appends the one before; each made when first needed. A third
    // per job while the netCDF stream holds the tasks it writes, so that
    // the jobs go on meanwhile.
    SlotPool slots(static_cast<std::size_t>((netcdf ? 3 : 2) * jobs), plan.Streams.size());
    NetcdfStream* stream =
        netcdf ? &netcdf->StartStream(plan.Dir, plan.Batch,
                                      plan.Scenarios ? plan.Scenarios->Scenarios : std::vector<TScenario>(),
                                      [&slots](TaskSlot* slot) { slots.Give(slot); })
               : nullptr;
    const StreamDrain drain{stream};
    TaskCursor cursor(*plan.List, plan.Pending, plan.Batch.ChunkSites, plan.Scenarios ? &*plan.Scenarios : nullptr,
                      static_cast<int>(plan.Batch.Realizations()), plan.Batch.EstimateClimate);
    TaskRunner runner(plan.Batch, plan.Sinks, plan.GridSites);
    ChunkWriter writer(plan.Dir, plan.Batch, plan.Sinks, plan.Stem, ShardText(options.Share), plan.Keep,
                       !plan.Pending.empty(), progress, stop);

    // The next task of the pending chunks, in list order.
    const auto next = [&](tbb::flow_control& control) -> TaskSlot* {
        if (stop.Stopped()) {
            control.stop();
            return nullptr;
        }
        TaskSlot* slot = slots.Take();
        try {
            if (cursor.Next(slot->Where)) return slot;
        } catch (const std::exception& e) {
            stop.Fail(e.what());
        }
        slots.Give(slot);
        control.stop();
        return nullptr;
    };
    // The run and its texts, on any thread.
    const auto run = [&](TaskSlot* slot) {
        runner.Run(*slot);
        return slot;
    };
    // The writer, in list order again.
    const auto write = [&](TaskSlot* slot) {
        writer.Add(*slot);
        if (stream)
            stream->Add(slot);
        else
            slots.Give(slot);
    };

    if (!progress.Start()) stop.Cancel();
    tbb::task_arena arena(jobs);
    arena.execute([&] {
        tbb::parallel_pipeline(static_cast<std::size_t>(2 * jobs),
                               tbb::make_filter<void, TaskSlot*>(tbb::filter_mode::serial_in_order, next) &
                                   tbb::make_filter<TaskSlot*, TaskSlot*>(tbb::filter_mode::parallel, run) &
                                   tbb::make_filter<TaskSlot*, void>(tbb::filter_mode::serial_in_order, write));
    });
    const std::int64_t failed = writer.Finish();
    if (stream) stream->Drain();
    // The tasks' memory goes before the tables are joined, so that the
    // records of the joining do not add to the peak.
    slots.Clear();
    cursor.Release();
    return failed;
}

// What a command that found the batch finished gives: the count of its
// failed sites again, after removing what a kill left of its parts.
BatchSummary FinishedBatch(const std::filesystem::path& dir, const Manifest& manifest, bool keepParts, std::ostream& err) {
    // Its tables are all that is left of it: one gone cannot be made again
    // (results.nc is not looked for: a batch without a year of results has none).
    for (const auto& sink : MakeSinks(manifest))
        for (const std::string& name : sink->Outputs())
            if (name.ends_with(".csv") && !std::filesystem::exists(dir / name))
                throw KelmarError("The batch in \"" + Utf8Name(dir) + "\" is finished and its parts were removed, but \"" +
                                  name + "\" is gone; run the batch again in another folder.");
    RemoveLeftTemporaries(dir);  // of a process killed while it marked the manifest
    if (!keepParts)
        if (const std::string why = RemoveParts(dir); !why.empty()) err << "warning: parts kept: " << why << ".\n";
    err << FinishedNote(dir) << '\n';
    BatchSummary summary;
    summary.Sites = manifest.Sites;
    summary.BaseSeed = manifest.BaseSeed;
    summary.Failed = *manifest.JoinedFailed;
    summary.Merged = true;
    return summary;
}

// Once the outputs are in place: the manifest marked, then the parts removed.
void RemoveJoinedParts(const std::filesystem::path& dir, Manifest& manifest, std::int64_t failed,
                       const std::filesystem::path& ownLock, std::ostream& err) {
    MarkJoined(dir, manifest, failed);
    if (const std::string why = RemoveParts(dir, ownLock); !why.empty())
        err << "warning: parts kept: " << why << "; a later merge of \"" << Utf8Name(dir) << "\" removes them.\n";
}

}  // namespace

BatchSummary RunBatch(const BatchOptions& options, std::ostream& err) {
    BatchPlan plan = PlanBatch(options, err);
    if (plan.Batch.JoinedFailed) return FinishedBatch(plan.Dir, plan.Batch, options.KeepParts, err);

    ProgressReporter progress(options.OnProgress, plan.ShareSites, plan.DoneSites);
    BatchStop stop;
    NetcdfSink* const netcdf = StreamsNetcdf(plan);
    const std::int64_t ranFailed = RunPending(plan, options, netcdf, progress, stop, err);
    progress.Finish();
    if (stop.Cancelled() && stop.Error().empty())
        throw Cancelled("The batch was stopped; the chunks finished so far are kept: run the same command with "
                        "--resume to go on.");
    if (!stop.Error().empty())
        throw KelmarError(stop.Error() + "\nThe batch stopped; the chunks finished so far are kept: run the same command with "
                                         "--resume to go on.");

    // Rows added after the last block was read leave every block as it
    // was; the whole list is compared before the batch says it finished.
    plan.List->CheckUnchanged();

    BatchSummary summary;
    summary.Sites = plan.Batch.Sites;
    summary.BaseSeed = plan.Batch.BaseSeed;
    summary.Ran = plan.ShareSites - plan.DoneSites;
    if (plan.Sharded) {
        summary.Failed = plan.DoneFailed + ranFailed;
        err << "Shard " << ShardText(options.Share) << " finished its " << plan.ShareSites << " of " << plan.Batch.Sites
            << " sites; once every shard has finished, join them with: kelmar-cli merge " << options.OutDir << '\n';
        return summary;
    }
    // The chunks of earlier runs were checked when the plan found them,
    // this run's were written here.
    summary.Failed = JoinParts(plan.Dir, plan.Batch, err, ByteCheck::Sizes, netcdf ? &plan.Sinks : nullptr);
    summary.Merged = true;
    summary.NetcdfStreamed = netcdf && netcdf->Streamed();
    if (!options.KeepParts)
        RemoveJoinedParts(plan.Dir, plan.Batch, summary.Failed, plan.Dir / PARTS_FOLDER / (plan.Stem + ".lock"), err);
    return summary;
}

BatchSummary MergeBatch(const std::string& dirName, const std::string& version, std::ostream& err, bool keepParts) {
    const std::filesystem::path dir = PathOf(dirName);
    const std::optional<std::string> text = ReadSmallFile(dir / MANIFEST_NAME);
    if (!text) throw KelmarError("The folder \"" + dirName + "\" holds no batch (no " + MANIFEST_NAME + ").");
    const std::optional<Manifest> manifest = Manifest::Parse(*text);
    if (!manifest) throw KelmarError("The file \"" + Utf8Name(dir / MANIFEST_NAME) + "\" is not a batch manifest.");
    if (manifest->Version != version)
        throw KelmarError("The batch in \"" + dirName + "\" was made by kelmar-cli " + manifest->Version + "; this is " +
                          version + ". Merge it with the version that made it.");
    if (manifest->JoinedFailed) return FinishedBatch(dir, *manifest, keepParts, err);
    RemoveLeftTemporaries(dir);
    BatchSummary summary;
    summary.Sites = manifest->Sites;
    summary.BaseSeed = manifest->BaseSeed;
    summary.Failed = JoinParts(dir, *manifest, err);
    summary.Merged = true;
    if (!keepParts) {
        Manifest joined = *manifest;
        RemoveJoinedParts(dir, joined, summary.Failed, {}, err);
    }
    return summary;
}

}  // namespace kelmar::batch
