#include "app/batch/chunk_writer.h"

#include <algorithm>
#include <exception>
#include <span>

#include "app/batch/batch_folder.h"
#include "io/path_names.h"
#include "model/errors.h"

namespace kelmar::batch {

ChunkWriter::ChunkWriter(const std::filesystem::path& dir, const Manifest& manifest, SinkList& sinks,
                         const std::string& stem, std::string shard,
                         const std::vector<std::optional<std::uint64_t>>& keep, bool open, ProgressReporter& progress,
                         BatchStop& stop)
    : Dir(dir),
      Batch(manifest),
      Sinks(sinks),
      Specs(StreamsOf(sinks)),
      Starts(StreamStarts(sinks)),
      Progress(progress),
      Stop(stop) {
    Chunk.Stream = stem;
    Chunk.Shard = std::move(shard);
    Chunk.Ranges.resize(Specs.size());
    Chunk.Checks.resize(Specs.size());
    try {
        if (open)
            for (std::size_t k = 0; k < Specs.size(); ++k) {
                Streams.push_back(std::make_unique<AppendingFile>(Utf8Name(StreamPath(dir, stem, Specs[k])),
                                                                  keep[k] ? &*keep[k] : nullptr, Specs[k].Header));
                // A stream with a header is a table of text lines.
                Digested.push_back(std::make_unique<ChunkStream>(*Streams.back(), !Specs[k].Header.empty()));
                Open.push_back(Digested.back().get());
            }
    } catch (const std::exception& e) {
        Stop.Fail(e.what());
    }
    Recorder = std::thread([this] { Record(); });
}

ChunkWriter::~ChunkWriter() { Finish(); }

void ChunkWriter::Add(const TaskSlot& slot) {
    if (Stop.Stopped()) return;
    const Task& task = slot.Where;
    try {
        if (task.FirstOfSite) SiteFailed = SiteHasRows = false;
        if (task.First) {
            Chunk.Failed = 0;
            Accounted = 0;
            Chunk.FirstYear.reset();
            Chunk.LastYear.reset();
            for (std::size_t k = 0; k < Open.size(); ++k) {
                Chunk.Ranges[k].Offset = Open[k]->Size();
                Open[k]->StartChunk();
            }
        }
        const TaskRun run = slot.Run();
        const auto streamsOf = [&](std::size_t sink) {
            return std::span<ChunkStream* const>(Open).subspan(Starts[sink], Starts[sink + 1] - Starts[sink]);
        };
        for (std::size_t s = 0; s < Sinks.size(); ++s)
            Sinks[s]->Add(run, std::span<const std::string>(slot.Texts).subspan(Starts[s], Starts[s + 1] - Starts[s]),
                          streamsOf(s));
        if (slot.Failed) {
            if (!SiteFailed) ++Chunk.Failed;  // sites, not tasks
            SiteFailed = true;
        } else if (slot.Model->AvailableYears > 0) {
            const TModel& model = *slot.Model;
            const std::int32_t first = model.Results.At(1, 1).Year;
            const std::int32_t last = model.Results.At(model.AvailableYears, 12).Year;
            Chunk.FirstYear = std::min(Chunk.FirstYear.value_or(first), first);
            Chunk.LastYear = std::max(Chunk.LastYear.value_or(last), last);
            SiteHasRows = true;
        }
        if (task.LastOfSite) {
            if (!SiteFailed && !SiteHasRows)
                throw KelmarError("The site \"" + task.Site.Id + "\" on line " + std::to_string(task.Site.Line) +
                                  " of the site list ran without a result and without an error; its chunk " +
                                  std::to_string(task.Chunk) + " was not recorded.");
            ++Accounted;
            if (!Progress.SiteDone(SiteFailed)) Stop.Cancel();
        }
        if (task.Last) {
            if (Accounted != task.ChunkSiteCount)
                throw KelmarError("Chunk " + std::to_string(task.Chunk) + " of the batch holds " +
                                  std::to_string(Accounted) + " of its " + std::to_string(task.ChunkSiteCount) +
                                  " sites; it was not recorded.");
            for (std::size_t s = 0; s < Sinks.size(); ++s) Sinks[s]->CloseChunk(streamsOf(s));
            for (std::size_t k = 0; k < Open.size(); ++k) {
                Chunk.Ranges[k].Bytes = Open[k]->Size() - Chunk.Ranges[k].Offset;
                Chunk.Checks[k] = Open[k]->Check();
            }
            Chunk.SiteCount = task.ChunkSiteCount;
            std::lock_guard<std::mutex> guard(Lock);
            Queue.push_back({task.Chunk, Chunk});
            Ready.notify_one();
        }
    } catch (const std::exception& e) {
        Stop.Fail(e.what());
    }
}

std::int64_t ChunkWriter::Finish() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Done = true;
        Ready.notify_one();
    }
    if (Recorder.joinable()) Recorder.join();
    return RecordedFailed.load();
}

void ChunkWriter::Record() {
    for (;;) {
        std::unique_lock<std::mutex> lock(Lock);
        Ready.wait(lock, [&] { return Done || !Queue.empty(); });
        if (Queue.empty()) return;
        Finished finished = std::move(Queue.front());
        Queue.pop_front();
        lock.unlock();
        Recorded(finished.Chunk, finished.Record);
    }
}

// The chunk's bytes made durable, then its done-file written.
void ChunkWriter::Recorded(std::int64_t chunk, const ChunkRecord& record) {
    if (SyncFailed) return;
    try {
        for (const std::unique_ptr<AppendingFile>& stream : Streams) stream->SyncWritten();
        RecordChunk(Dir, Batch, chunk, record, Specs);
        RecordedFailed += record.Failed;
    } catch (const std::exception& e) {
        SyncFailed = true;
        Stop.Fail(e.what());
    }
}

}  // namespace kelmar::batch
