// The folder of a batch on the disk (batch_run.h lists what it holds): the
// names of its files, the manifest that claims the folder for one batch,
// and the done-files, read back only when the streams they point into hold
// the bytes they record.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batch_records.h"
#include "app/batch/batch_run.h"

namespace kelmar::batch {

inline constexpr const char* MANIFEST_NAME = "manifest.txt";
inline constexpr const char* PARTS_FOLDER = "parts";

// A stream each process appends to: parts/<stem><Suffix>.
struct StreamSpec {
    std::string Name;    // in the done-files: <Name>_offset, <Name>_bytes
    std::string Suffix;  // ".monthly.csv"
    std::string Header;  // the bytes a new stream starts with
};

// The streams of shard K of N are parts/shard-K-of-N.*; a run on one
// machine is shard 0 of 1.
std::string StreamStem(const Shard& share);
std::filesystem::path StreamPath(const std::filesystem::path& dir, const std::string& stem, const StreamSpec& stream);
std::filesystem::path DonePath(const std::filesystem::path& dir, std::int64_t chunk);
// "K/N" as the done-files record it; "0/1" for a run on one machine.
std::string ShardText(const std::optional<Shard>& share);

// The bytes of a regular file; nothing when there is none or it cannot be read.
std::optional<std::string> ReadSmallFile(const std::filesystem::path& path);

// Creates the manifest `wanted` if the folder has none (exclusively, so that
// shards starting together agree on one), and gives the manifest in force.
// Refuses (KelmarError) a folder without a manifest that holds one of
// `outputs`, a folder of a batch when neither `resume` nor `joining` (a
// shard; a finished batch, Manifest::JoinedFailed, is refused as such), and
// a batch started otherwise than `wanted`; without `seedGiven`
// the batch's seed is taken.
// `inputChange` tells, for a manifest in force whose inputs differ from
// those of `wanted`, which file differs and how.
Manifest SettleManifest(const std::filesystem::path& dir, Manifest wanted, bool seedGiven, bool resume, bool joining,
                        const std::vector<std::string>& outputs,
                        const std::function<std::string(const Manifest& found)>& inputChange = {});

// How far FinishedChunk trusts a done-file's ranges: Sizes, that the streams
// reach as far as it records (for chunks this process recorded itself);
// Digests, that the bytes of each range are those whose digest and line
// count it records (for chunks found on the disk), reading them once.
enum class ByteCheck { Sizes, Digests };

// The record of `chunk` when its done-file belongs to this batch and the
// streams it names hold the bytes it records; nothing otherwise. `foreign`
// is set when the done-file is another batch's; `fault`, when a done-file of
// this batch is there but no record of a finished chunk, to why (naming the
// file, and the stream whose bytes are not those recorded).
std::optional<ChunkRecord> FinishedChunk(const std::filesystem::path& dir, const Manifest& manifest, std::int64_t chunk,
                                         const std::vector<StreamSpec>& streams, bool* foreign = nullptr,
                                         std::string* fault = nullptr, ByteCheck check = ByteCheck::Digests);

// Writes the done-file of `chunk` (atomically: a chunk is finished exactly
// when its done-file is there).
void RecordChunk(const std::filesystem::path& dir, const Manifest& manifest, std::int64_t chunk,
                 const ChunkRecord& record, const std::vector<StreamSpec>& streams);

// Records in the manifest of `dir` that the outputs of `manifest` are joined
// and in place, holding `failed` failed sites (Manifest::JoinedFailed);
// written whole over the old one, so that a kill leaves one or the other.
// Call once the outputs are on the disk, before any part goes.
void MarkJoined(const std::filesystem::path& dir, Manifest& manifest, std::int64_t failed);

// Removes the parts of a batch whose manifest is marked joined: the
// done-files first, then the streams, the locks, temporaries and, when
// nothing else is left in it, the parts folder. `ownLock` is the lock this
// process holds (empty: none); a lock another process holds keeps every
// part, and the message given (empty when the parts went) says so. Files
// that are no part of a batch stay.
std::string RemoveParts(const std::filesystem::path& dir, const std::filesystem::path& ownLock = {});

// The note of a command that found the batch in `dir` finished (its outputs
// joined, its parts removed), with nothing left to run or merge.
std::string FinishedNote(const std::filesystem::path& dir);

// Removes the temporary files that processes killed outright (a kill
// cannot be caught) left in the batch's folders, before anything is written
// there. A temporary file of a process still at work (another shard's)
// holds a lock and is kept.
void RemoveLeftTemporaries(const std::filesystem::path& dir);

}  // namespace kelmar::batch
