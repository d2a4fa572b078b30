// The last step of a batch, and all of a merge: the chunks' parts joined
// into the outputs of the batch's format, in chunk order. The streams stay:
// whether they go afterwards is the caller's (RemoveParts, batch_folder.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>

#include "app/batch/batch_folder.h"
#include "app/batch/batch_records.h"
#include "app/batch/sinks/sink_list.h"

namespace kelmar::batch {

// Joins every chunk of the batch `manifest` in `dir` and gives the failed
// sites the chunks recorded. Refuses (KelmarError), writing nothing, parts
// of another batch, missing chunks and, with ByteCheck::Digests, chunks
// whose done-file or bytes are not those written, naming them, the shard
// they belong to and the stream. `ran`: the sinks of the run that wrote
// the chunks, which may hold outputs written while it ran; null: the sinks
// of the manifest's format.
std::int64_t JoinParts(const std::filesystem::path& dir, const Manifest& manifest, std::ostream& err,
                       ByteCheck check = ByteCheck::Digests, const SinkList* ran = nullptr);

}  // namespace kelmar::batch
