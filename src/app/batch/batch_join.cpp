#include "app/batch/batch_join.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/batch/batch_folder.h"
#include "app/batch/sinks/sink_list.h"
#include "io/path_names.h"
#include "model/errors.h"

namespace fs = std::filesystem;

namespace kelmar::batch {

namespace {

// The first ten of `chunks`, each with its sites and, after shards of
// `shardCount`, the shard that runs it.
std::string DescribeChunks(const Manifest& manifest, const std::vector<std::int64_t>& chunks, std::int64_t shardCount) {
    std::string text;
    const std::size_t shown = std::min<std::size_t>(chunks.size(), 10);
    for (std::size_t k = 0; k < shown; ++k) {
        const std::int64_t c = chunks[k];
        const std::int64_t first = c * manifest.ChunkSites + 1;
        const std::int64_t last = std::min(manifest.Sites, first + manifest.ChunkSites - 1);
        text += "\n  chunk " + std::to_string(c) + " (sites " + std::to_string(first) + " to " + std::to_string(last);
        if (shardCount > 1) text += ", shard " + std::to_string(c % shardCount) + "/" + std::to_string(shardCount);
        text += ")";
    }
    if (chunks.size() > shown) text += "\n  ... and " + std::to_string(chunks.size() - shown) + " more";
    return text;
}

// The count of shards the done-file of `chunk` names, even when it is no
// whole record: only to name the shard that runs the chunk again.
std::string ShardCountOf(const fs::path& dir, std::int64_t chunk) {
    const std::string text = ReadSmallFile(DonePath(dir, chunk)).value_or(std::string());
    const std::size_t start = text.find("\nshard=");
    if (start == std::string::npos) return {};
    const std::size_t slash = text.find('/', start), end = text.find('\n', start + 1);
    return slash < end && end != std::string::npos ? text.substr(slash + 1, end - slash - 1) : std::string();
}

}  // namespace

std::int64_t JoinParts(const fs::path& dir, const Manifest& manifest, std::ostream& err, ByteCheck check,
                       const SinkList* ran) {
    const SinkList made = ran ? SinkList() : MakeSinks(manifest);
    const SinkList& sinks = ran ? *ran : made;
    const std::vector<StreamSpec> streams = StreamsOf(sinks);
    std::vector<std::int64_t> missing, foreignChunks;
    std::vector<ChunkRecord> records;
    std::int64_t failed = 0;
    std::string shardCount;
    std::string damaged;  // the chunks whose done-file or bytes are not those written
    for (std::int64_t c = 0; c < manifest.Chunks(); ++c) {
        bool foreign = false;
        std::string fault;
        std::optional<ChunkRecord> record = FinishedChunk(dir, manifest, c, streams, &foreign, &fault, check);
        if (foreign) foreignChunks.push_back(c);
        if (!fault.empty()) {
            damaged += DescribeChunks(manifest, {c}, ToInt(ShardCountOf(dir, c), 0)) + ": " + fault;
            continue;
        }
        if (!record) {
            if (!foreign) missing.push_back(c);
            continue;
        }
        failed += record->Failed;
        if (const std::size_t slash = record->Shard.find('/'); slash != std::string::npos)
            shardCount = record->Shard.substr(slash + 1);
        records.push_back(std::move(*record));
    }
    const std::int64_t shards = ToInt(shardCount, 0);
    if (!foreignChunks.empty())
        throw KelmarError("The folder \"" + Utf8Name(dir) + "\" holds parts of another batch (another version, site list or seed):" +
                          DescribeChunks(manifest, foreignChunks, shards) + "\nNothing was merged.");
    if (!damaged.empty())
        throw KelmarError("The batch in \"" + Utf8Name(dir) + "\" has chunks whose parts are not those that were written:" +
                          damaged +
                          "\nRun the shards they belong to again (or the batch with --resume), then merge again. Nothing was merged.");
    if (!missing.empty())
        throw KelmarError("The batch in \"" + Utf8Name(dir) + "\" is not complete: " + std::to_string(missing.size()) +
                          " of " + std::to_string(manifest.Chunks()) + " chunks are not done:" +
                          DescribeChunks(manifest, missing, shards) +
                          "\nRun the shards they belong to (or the batch with --resume), then merge again. Nothing was merged.");

    const std::vector<std::size_t> starts = StreamStarts(sinks);
    for (std::size_t s = 0; s < sinks.size(); ++s) sinks[s]->Join({dir, manifest, records, starts[s]}, err);
    return failed;
}

}  // namespace kelmar::batch
