// results.nc and results_annual.nc: every task's monthly and annual results
// as CF netCDF files. Each process
// appends the numbers of each task to its values stream (batch_netcdf.h);
// the join writes the file from them, one site at a time.
#pragma once

#include "app/batch/sinks/batch_sink.h"

namespace kelmar::batch {

class NetcdfSink final : public BatchSink {
public:
    // `replicates`: of the batch, 0 when not asked for (a site of observed
    // weather then has replicate 0 alone). `toRun`: the sink of a run of a
    // site list, which loads the netCDF writer at once, so that a program
    // without its module says so before any site runs rather than at the
    // join (raises KelmarError naming the paths tried).
    NetcdfSink(std::int64_t replicates, bool toRun);
    std::vector<std::string> Outputs() const override;
    void MakeTexts(const TaskRun& run, std::span<std::string> texts) const override;
    void Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) override;
    void Join(const JoinedChunks& chunks, std::ostream& err) const override;

private:
    std::int64_t Replicates;
};

}  // namespace kelmar::batch
