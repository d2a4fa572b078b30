// errors.csv: a row for each failed site, with the message and where the
// site lies in the list; in every format, as the failed sites' messages
// have no other home.
#pragma once

#include "app/batch/sinks/batch_sink.h"

namespace kelmar::batch {

class ErrorSink final : public BatchSink {
public:
    // `tasks`: a batch of scenarios or replicates, whose messages name the
    // task; `listName`: the site list's file, named in the messages.
    ErrorSink(bool tasks, std::string listName);
    std::vector<std::string> Outputs() const override;
    void MakeTexts(const TaskRun& run, std::span<std::string> texts) const override;
    void Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) override;
    void Join(const JoinedChunks& chunks, std::ostream& err) const override;

private:
    bool Tasks;
    std::string ListName;
    std::string SiteError;  // of the site being written: the message of its last row
};

}  // namespace kelmar::batch
