// results.nc and results_annual.nc: every task's monthly and annual results
// as CF netCDF files. Each process
// appends the numbers of each task to its values stream (batch_netcdf.h);
// the join writes the file from them, one site at a time, unless the run
// wrote it while its sites ran (StartStream, netcdf_stream.h).
#pragma once

#include <functional>
#include <memory>

#include "app/batch/sinks/batch_sink.h"
#include "model/scenario.h"

namespace kelmar::batch {

class NetcdfStream;
struct TaskSlot;

class NetcdfSink final : public BatchSink {
public:
    // `replicates`: of the batch, 0 when not asked for (a site of observed
    // weather then has replicate 0 alone). `toRun`: the sink of a run of a
    // site list, which loads the netCDF writer at once, so that a program
    // without its module says so before any site runs rather than at the
    // join (raises KelmarError naming the paths tried).
    // `estimateClimate`: the sites with a weather_file run simulated weather.
    NetcdfSink(std::int64_t replicates, bool toRun, bool estimateClimate = false);
    ~NetcdfSink() override;
    // Starts writing the files of the batch `manifest` in `dir` while its
    // sites run, on a time axis of its simulated years; the pipeline hands
    // the stream every task in list order. The join then puts the files in
    // place, or writes them from the values when the stream did not hold
    // them whole.
    // `scenarios`: the definitions of the manifest's scenarios, in order.
    NetcdfStream& StartStream(const std::filesystem::path& dir, const Manifest& manifest,
                              const std::vector<TScenario>& scenarios, std::function<void(TaskSlot*)> giveBack);
    // The join put the files written while the sites ran in place.
    bool Streamed() const { return StreamedFiles; }
    std::vector<std::string> Outputs() const override;
    void MakeTexts(const TaskRun& run, std::span<std::string> texts) const override;
    void Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) override;
    void Join(const JoinedChunks& chunks, std::ostream& err) const override;

private:
    std::int64_t Replicates;
    bool EstimateClimate;
    std::unique_ptr<NetcdfStream> Stream;
    mutable bool StreamedFiles = false;
};

}  // namespace kelmar::batch
