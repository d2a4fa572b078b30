// The tidy tables of every task's results: monthly.csv and annual.csv
// (batch_tables.h), each task's rows in list order.
#pragma once

#include "app/batch/sinks/batch_sink.h"

namespace kelmar::batch {

class TableSink final : public BatchSink {
public:
    // `tasks`: a batch of scenarios or replicates, whose rows have their
    // columns; `digits`: significant digits of the numbers (0: shortest).
    TableSink(bool tasks, int digits);
    std::vector<std::string> Outputs() const override;
    void MakeTexts(const TaskRun& run, std::span<std::string> texts) const override;
    void Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) override;
    void Join(const JoinedChunks& chunks, std::ostream& err) const override;

private:
    bool Tasks;
    int Digits;
};

}  // namespace kelmar::batch
