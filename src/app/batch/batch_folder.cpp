#include "app/batch/batch_folder.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <unistd.h>

#include "app/batch/batch_grid.h"
#include "app/batch/stream_digest.h"
#include "io/file_bytes.h"
#include "io/file_stream.h"
#include "io/path_names.h"
#include "io/posix_file.h"
#include "model/errors.h"

namespace fs = std::filesystem;

namespace kelmar::batch {

namespace {

std::vector<std::string> NamesOf(const std::vector<StreamSpec>& streams) {
    std::vector<std::string> names;
    for (const StreamSpec& stream : streams) names.push_back(stream.Name);
    return names;
}

// Refuses a manifest in force that differs from the one this run wants.
void CheckSameBatch(const fs::path& dir, const Manifest& found, const Manifest& wanted,
                    const std::function<std::string(const Manifest& found)>& inputChange) {
    const auto refuse = [&](const std::string& what) {
        throw KelmarError("The batch in \"" + Utf8Name(dir) + "\" was started with " + what +
                          "; its parts cannot be joined with this run. Run as it was started, or choose another folder.");
    };
    if (found.Version != wanted.Version) refuse("kelmar-cli " + found.Version + " (this is " + wanted.Version + ")");
    if (found.ListHash != wanted.ListHash || found.Sites != wanted.Sites) refuse("another site list");
    if (found.BaseSeed != wanted.BaseSeed) refuse("--seed " + std::to_string(found.BaseSeed));
    if (found.ChunkSites != wanted.ChunkSites) refuse("chunks of " + std::to_string(found.ChunkSites) + " sites");
    if (found.Format != wanted.Format) refuse("--format " + found.Format);
    if (found.ScenariosHash != wanted.ScenariosHash || found.Scenarios != wanted.Scenarios)
        refuse(found.ScenariosHash.empty() ? std::string("no --scenarios") : "another scenario list");
    if (found.Replicates != wanted.Replicates)
        refuse(found.Replicates == 0 ? std::string("no --replicates") : "--replicates " + std::to_string(found.Replicates));
    if (found.Rng != wanted.Rng) refuse("--rng " + found.Rng);
    if (found.Summary != wanted.Summary) refuse(found.Summary ? "--summary" : "no --summary");
    if (found.NetcdfPrecision != wanted.NetcdfPrecision) refuse("--netcdf-precision " + found.NetcdfPrecision);
    if (found.NetcdfDeflate != wanted.NetcdfDeflate) refuse("--netcdf-deflate " + std::to_string(found.NetcdfDeflate));
    if (found.CsvDigits != wanted.CsvDigits) {
        const auto digits = [](std::int64_t n) {
            return n == 0 ? std::string("the shortest numbers (no --csv-digits)") : "--csv-digits " + std::to_string(n);
        };
        refuse(digits(found.CsvDigits) + " (this run asks for " + digits(wanted.CsvDigits) + ")");
    }
    if (found.GridOptions != wanted.GridOptions)
        refuse(found.GridOptions.empty() ? std::string("no --grid")
               : wanted.GridOptions.empty() ? std::string("--grid")
                                            : std::string("other --grid options (--method, --max-distance, --var, --units)"));
    if (found.InputsHash != wanted.InputsHash) {
        const std::string change = inputChange ? inputChange(found) : std::string();
        refuse("other input files" + (change.empty() ? std::string() : ": " + change));
    }
}

}  // namespace

std::string StreamStem(const Shard& share) {
    return "shard-" + std::to_string(share.Index) + "-of-" + std::to_string(share.Count);
}

fs::path StreamPath(const fs::path& dir, const std::string& stem, const StreamSpec& stream) {
    return dir / PARTS_FOLDER / (stem + stream.Suffix);
}

fs::path DonePath(const fs::path& dir, std::int64_t chunk) {
    char stem[32];
    std::snprintf(stem, sizeof stem, "chunk-%06lld.done", static_cast<long long>(chunk));
    return dir / PARTS_FOLDER / stem;
}

std::string ShardText(const std::optional<Shard>& share) {
    return share ? std::to_string(share->Index) + "/" + std::to_string(share->Count) : "0/1";
}

std::optional<std::string> ReadSmallFile(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    return bytes;
}

Manifest SettleManifest(const fs::path& dir, Manifest wanted, bool seedGiven, bool resume, bool joining,
                        const std::vector<std::string>& outputs,
                        const std::function<std::string(const Manifest& found)>& inputChange) {
    const fs::path path = dir / MANIFEST_NAME;
    std::optional<std::string> existing = ReadSmallFile(path);
    if (!existing) {
        for (const std::string& name : outputs)
            if (fs::exists(dir / name))
                throw KelmarError("The folder \"" + Utf8Name(dir) + "\" already holds \"" + name +
                                  "\" but no batch manifest; choose an empty folder so that nothing is overwritten.");
        // Written whole under a temporary name, then linked to the manifest's
        // name only if no other process has made one meanwhile.
        TemporaryFile temporary;
        int error = temporary.Create(dir);
        if (error == 0) error = WriteAll(temporary.Fd(), wanted.Text());
        if (error == 0 && ::fsync(temporary.Fd()) != 0) error = errno;
        if (error == 0) error = temporary.LinkTo(MANIFEST_NAME);
        if (error == 0) {
            SyncFolder(temporary.Folder());
            return wanted;
        }
        if (error != EEXIST)
            throw KelmarError("Cannot create the file \"" + Utf8Name(path) + "\" (" +
                              std::generic_category().message(error) + ").");
        existing = ReadSmallFile(path);  // another shard was first
        if (!existing) throw KelmarError("Cannot read the file \"" + Utf8Name(path) + "\".");
        joining = true;
    } else if (!resume && !joining) {
        const std::optional<Manifest> found = Manifest::Parse(*existing);
        if (found && found->JoinedFailed)
            throw KelmarError("The folder \"" + Utf8Name(dir) +
                              "\" already holds a finished batch (its outputs are joined and its parts removed); "
                              "choose another folder.");
        throw KelmarError("The folder \"" + Utf8Name(dir) +
                          "\" already holds a batch; run with --resume to finish it, or choose another folder.");
    }
    const std::optional<Manifest> found = Manifest::Parse(*existing);
    if (!found) throw KelmarError("The file \"" + Utf8Name(path) + "\" is not a batch manifest.");
    if (!seedGiven) wanted.BaseSeed = found->BaseSeed;  // a resumed batch or a late shard takes the batch's seed
    CheckSameBatch(dir, *found, wanted, inputChange);
    return *found;
}

std::optional<ChunkRecord> FinishedChunk(const fs::path& dir, const Manifest& manifest, std::int64_t chunk,
                                         const std::vector<StreamSpec>& streams, bool* foreign, std::string* fault,
                                         ByteCheck check) {
    const fs::path donePath = DonePath(dir, chunk);
    const std::optional<std::string> text = ReadSmallFile(donePath);
    if (!text) return std::nullopt;
    ChunkRecord record;
    const ChunkVerdict verdict = ParseChunk(*text, manifest, chunk, NamesOf(streams), record);
    if (verdict == ChunkVerdict::Foreign && foreign) *foreign = true;
    const auto refuse = [&](const std::string& why) -> std::optional<ChunkRecord> {
        if (fault) *fault = why;
        return std::nullopt;
    };
    if (verdict == ChunkVerdict::Broken)
        return refuse("its done-file \"" + Utf8Name(donePath) + "\" is cut short or was changed after it was written");
    if (verdict != ChunkVerdict::Recorded) return std::nullopt;
    for (std::size_t k = 0; k < streams.size(); ++k) {
        const fs::path path = StreamPath(dir, record.Stream, streams[k]);
        const ByteRange& range = record.Ranges[k];
        std::error_code error;
        const auto size = fs::file_size(path, error);
        if (error || size < range.End())
            return refuse("its stream " + streams[k].Name + " \"" + Utf8Name(path) + "\" is shorter than its done-file records");
        if (check == ByteCheck::Sizes) continue;
        const bool text = record.Checks[k].Lines >= 0;
        if (CheckOfRange(path, range.Offset, range.Bytes, text) != record.Checks[k])
            return refuse("the bytes " + std::to_string(range.Offset) + " to " + std::to_string(range.End()) +
                          " of its stream " + streams[k].Name + " \"" + Utf8Name(path) + "\" differ from the checksum" +
                          (text ? " and line count" : "") + " its done-file records");
    }
    return record;
}

void RecordChunk(const fs::path& dir, const Manifest& manifest, std::int64_t chunk, const ChunkRecord& record,
                 const std::vector<StreamSpec>& streams) {
    WriteFileAtomically(Utf8Name(DonePath(dir, chunk)), ChunkText(manifest, chunk, record, NamesOf(streams)));
}

void MarkJoined(const fs::path& dir, Manifest& manifest, std::int64_t failed) {
    manifest.JoinedFailed = failed;
    WriteFileAtomically(Utf8Name(dir / MANIFEST_NAME), manifest.Text());
}

namespace {

// "shard-K-of-N" followed by a stream's suffix or ".lock", "chunk-NNNNNN.done":
// the names a batch gives its parts.
bool IsDoneName(const std::string& name) { return name.starts_with("chunk-") && name.ends_with(".done"); }
bool IsShardName(const std::string& name) { return name.starts_with("shard-") && name.find("-of-") != std::string::npos; }

}  // namespace

std::string RemoveParts(const fs::path& dir, const fs::path& ownLock) {
    const fs::path parts = dir / PARTS_FOLDER;
    std::error_code error;
    std::vector<fs::path> done, streams, locks;
    for (fs::directory_iterator it(parts, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (IsDoneName(name))
            done.push_back(it->path());
        else if (IsShardName(name))
            (name.ends_with(".lock") ? locks : streams).push_back(it->path());
        else if (name == GRID_RECORDS_FILE)
            streams.push_back(it->path());
    }
    if (error == std::errc::no_such_file_or_directory) return {};  // nothing left to remove
    if (error) return "the folder \"" + Utf8Name(parts) + "\" cannot be read (" + error.message() + ")";
    // Every other share's lock is taken first: a process still at work
    // (a shard started again) keeps every part.
    std::vector<FileLock> held;
    for (const fs::path& lock : locks) {
        if (lock.filename() == ownLock.filename()) continue;
        try {
            held.emplace_back(Utf8Name(lock));
        } catch (const KelmarError&) {
            return "another kelmar-cli holds \"" + Utf8Name(lock) + "\"";
        }
    }
    // Done-files before the streams they point into: at no moment does a
    // record name bytes that are gone.
    for (const auto* group : {&done, &streams, &locks})
        for (const fs::path& file : *group) fs::remove(file, error);
    SyncFolder(parts);
    RemoveStaleTemporaries(parts);
    if (fs::remove(parts, error)) SyncFolder(dir);  // only when empty: anything else in it stays
    return {};
}

std::string FinishedNote(const fs::path& dir) {
    return "The batch in \"" + Utf8Name(dir) +
           "\" is finished: its outputs are joined and its parts removed. Nothing was run or merged.";
}

void RemoveLeftTemporaries(const fs::path& dir) {
    RemoveStaleTemporaries(dir);
    RemoveStaleTemporaries(dir / PARTS_FOLDER);
}

}  // namespace kelmar::batch
