// The end of a batch's pipeline: the tasks, in list order, appended by the
// sinks to this process's streams; at the end of each chunk the streams
// are made durable and the chunk's done-file written (batch_folder.h) by
// a recorder thread, so that the writer and the runs go on while the disk
// catches up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/batch/batch_progress.h"
#include "app/batch/batch_records.h"
#include "app/batch/sinks/sink_list.h"
#include "app/batch/stream_digest.h"
#include "app/batch/task_runner.h"
#include "io/file_stream.h"

namespace kelmar::batch {

class ChunkWriter {
public:
    // Opens the streams parts/<stem>.* of `sinks` when `open` (chunks are
    // pending), going on after the first keep[k] bytes of stream k when
    // given (those of the chunks already recorded in it) and anew
    // otherwise; a stream that cannot be opened stops the batch. `shard`
    // is recorded in the done-files.
    ChunkWriter(const std::filesystem::path& dir, const Manifest& manifest, SinkList& sinks, const std::string& stem,
                std::string shard, const std::vector<std::optional<std::uint64_t>>& keep, bool open,
                ProgressReporter& progress, BatchStop& stop);
    ~ChunkWriter();
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // Appends the slot's task; the tasks come in list order, one at a time.
    // A failure stops the batch; so does the caller's callback.
    void Add(const TaskSlot& slot);
    // Waits until every finished chunk is recorded; gives the failed sites
    // of the chunks recorded.
    std::int64_t Finish();

private:
    // The recorder: a plain thread rather than a stage of the pipeline, as
    // it spends its time waiting in fsync for the disk; a stage would hold a
    // worker of the jobs' arena meanwhile, and the pipeline's tokens (tasks,
    // not chunks) would not let a chunk's flush overlap the next chunk's runs.
    void Record();
    void Recorded(std::int64_t chunk, const ChunkRecord& record);

    const std::filesystem::path Dir;
    const Manifest& Batch;
    SinkList& Sinks;
    const std::vector<StreamSpec> Specs;
    const std::vector<std::size_t> Starts;  // of each sink's streams
    std::vector<std::unique_ptr<AppendingFile>> Streams;
    // The same with the digests of the chunk being written, as the sinks take them.
    std::vector<std::unique_ptr<ChunkStream>> Digested;
    std::vector<ChunkStream*> Open;
    ProgressReporter& Progress;
    BatchStop& Stop;

    ChunkRecord Chunk;        // the chunk being written
    bool SiteFailed = false;  // of the site being written: a task of it failed
    bool SiteHasRows = false;  // of the site being written: a task of it has results
    // Sites of the chunk with results or an error row: every one, or the
    // chunk is not recorded.
    std::int64_t Accounted = 0;

    std::atomic<std::int64_t> RecordedFailed{0};
    // A chunk the writer finished is recorded even when the writer fails
    // later; after a failed flush nothing is (a later flush may succeed
    // without the bytes the failed one lost).
    bool SyncFailed = false;
    struct Finished {
        std::int64_t Chunk;
        ChunkRecord Record;
    };
    std::mutex Lock;
    std::condition_variable Ready;
    std::deque<Finished> Queue;
    bool Done = false;
    std::thread Recorder;
};

}  // namespace kelmar::batch
