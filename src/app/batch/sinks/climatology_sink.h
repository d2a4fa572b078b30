// climatologies.csv (--save-climate): the climatology each site ran with,
// one row per month, in list order, as a climate_file reads it back
// (io/climatology_table.h).
#pragma once

#include "app/batch/sinks/batch_sink.h"

namespace kelmar::batch {

class ClimatologySink final : public BatchSink {
public:
    ClimatologySink();
    std::vector<std::string> Outputs() const override;
    void MakeTexts(const TaskRun& run, std::span<std::string> texts) const override;
    void Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) override;
    void Join(const JoinedChunks& chunks, std::ostream& err) const override;

private:
    bool SiteWritten = false;  // the site being written has its rows
};

}  // namespace kelmar::batch
