// summary_monthly.csv and summary_annual.csv (batch_summary.h): per site
// and scenario, the summaries across its replicates, written once the
// scenario's last replicate is added.
#pragma once

#include "app/batch/batch_summary.h"
#include "app/batch/sinks/batch_sink.h"

namespace kelmar::batch {

class SummarySink final : public BatchSink {
public:
    // `realizations`: the replicates of a simulated site; `digits`:
    // significant digits of the numbers (0: shortest).
    SummarySink(int realizations, int digits);
    std::vector<std::string> Outputs() const override;
    void MakeTexts(const TaskRun& run, std::span<std::string> texts) const override;
    void Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) override;
    void Join(const JoinedChunks& chunks, std::ostream& err) const override;

private:
    ReplicateSummaries Group;  // of the site and scenario being written
    int Digits;
};

}  // namespace kelmar::batch
