// climatologies.csv (--save-climate): the climatology each site ran with,
// one row per month, in list order, as a climate_file reads it back
// (io/climatology_table.h); in every format, as it is the file a later run
// reads. With the formats netcdf and both also climatologies.nc, the same
// climatologies on the sites and months (io/cf_climatology.h), joined from
// a values stream of their numbers (app/batch/climatology_values.h).
#pragma once

#include "app/batch/sinks/batch_sink.h"

namespace kelmar::batch {

class ClimatologySink final : public BatchSink {
public:
    // `netcdf`: climatologies.nc as well. `toRun`: the sink of a run of a
    // site list, which loads the netCDF writer at once, so that a program
    // without its module says so before any site runs.
    explicit ClimatologySink(bool netcdf = false, bool toRun = false);
    std::vector<std::string> Outputs() const override;
    void MakeTexts(const TaskRun& run, std::span<std::string> texts) const override;
    void Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) override;
    void Join(const JoinedChunks& chunks, std::ostream& err) const override;

private:
    void JoinNetcdf(const JoinedChunks& chunks, std::ostream& err) const;

    bool Netcdf;
    bool SiteWritten = false;  // the site being written has its rows
};

}  // namespace kelmar::batch
