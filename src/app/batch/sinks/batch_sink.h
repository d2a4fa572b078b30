// A sink: one kind of output of a batch (the CSV tables, the errors, the
// netCDF values, the summaries), from the texts of each task to the joined
// outputs. The batch knows its sinks only through this interface, so that
// a new kind of output is a new sink and a line of the table in
// sinks/sink_list.cpp, and nothing else changes.
//
// A sink's life in a run: its streams are opened (each process appends to
// its own, parts/<stem><suffix>, starting with the stream's header); for
// every task, in any order and on any thread, MakeTexts makes what can be
// made from the run alone; the writer then calls Add for each task in list
// order, and CloseChunk at the end of each chunk before the chunk's byte
// ranges are measured and recorded. Once every chunk is done, Join makes the
// sink's outputs from the chunks' ranges of its streams.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch/batch_folder.h"
#include "app/batch/batch_records.h"
#include "app/batch/task_cursor.h"
#include "app/batch/stream_digest.h"
#include "model/model_state.h"

namespace kelmar::batch {

// A task's run as the sinks see it.
struct TaskRun {
    const Task& Where;
    const TModel& Model;  // its results are the run's only when !Failed
    std::uint32_t Seed = 0;  // the state the run started from, recorded in the rows
    bool Failed = false;
    std::string_view Error;  // the message of a failed run
};

// The chunks of a finished batch, every one in list order, as the join sees them.
struct JoinedChunks {
    std::filesystem::path Dir;
    const Manifest& Batch;
    const std::vector<ChunkRecord>& Records;
    // Where the sink's streams begin among the ranges of a record.
    std::size_t FirstStream = 0;

    const ByteRange& Range(const ChunkRecord& record, std::size_t stream) const {
        return record.Ranges[FirstStream + stream];
    }
};

class BatchSink {
public:
    virtual ~BatchSink() = default;

    // The sink's streams, in the order of the done-files' lines.
    const std::vector<StreamSpec>& Streams() const { return StreamList; }
    // The files Join makes in the batch's folder, which a folder without a
    // manifest must not already hold.
    virtual std::vector<std::string> Outputs() const = 0;

    // Makes the texts of a task, one per stream (the slot's own strings,
    // reused from task to task: cleared here, then filled), from the run
    // alone; on any thread.
    virtual void MakeTexts(const TaskRun& run, std::span<std::string> texts) const = 0;
    // Appends a task to the sink's streams, in list order, on the writer's thread.
    virtual void Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) = 0;
    // The chunk's last task was added: whatever the sink holds back goes to
    // its streams, and the streams hand their bytes to the system.
    virtual void CloseChunk(std::span<ChunkStream* const> streams) {
        for (ChunkStream* stream : streams) stream->Flush();
    }
    // Makes the sink's outputs from the chunks; may tell `err` why one was
    // not made.
    virtual void Join(const JoinedChunks& chunks, std::ostream& err) const = 0;

protected:
    explicit BatchSink(std::vector<StreamSpec> streams) : StreamList(std::move(streams)) {}

private:
    std::vector<StreamSpec> StreamList;
};

// Puts stream `stream` of every chunk, in chunk order, under `output` as a
// CSV table starting with the table's header. When one process's stream holds every
// chunk in order and nothing else (a run on one machine), the stream itself
// takes the name: nothing is copied. Otherwise (shards) the chunks are
// copied into a new table.
void JoinCsvTable(const JoinedChunks& chunks, const StreamSpec& table, std::size_t stream, const std::string& output);

}  // namespace kelmar::batch
