#include "app/batch/batch_run.h"

#include <tbb/info.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

#include "app/batch/batch_netcdf.h"
#include "app/batch/batch_summary.h"
#include "app/batch/batch_tables.h"
#include "app/batch/scenario_list.h"
#include "app/batch/site_list.h"
#include "app/batch/site_run.h"
#include "app/random_streams.h"
#include "io/csv_text.h"
#include "io/file_bytes.h"
#include "io/file_output.h"
#include "io/file_stream.h"
#include "io/posix_file.h"
#include "model/errors.h"
#include "numerics/random_source.h"

namespace fs = std::filesystem;

namespace kelmar::batch {

namespace {

constexpr const char* MANIFEST_NAME = "manifest.txt";
constexpr const char* PARTS_FOLDER = "parts";
constexpr const char* MANIFEST_HEADER = "kelmar-batch-manifest 1";
constexpr const char* CHUNK_HEADER = "kelmar-batch-chunk 2";
constexpr const char* NETCDF_NAME = "results.nc";

// What a batch writes for each site, one stream of each per process. The
// first three are the CSV tables (header included, so that a whole run's
// stream is the finished table); the values are the numbers of the netCDF
// output (batch_netcdf.h).
// With --summary the summary tables take the place of the monthly and annual ones.
enum Kind { MONTHLY, ANNUAL, ERRORS, VALUES, SUMMARY_MONTHLY, SUMMARY_ANNUAL, KIND_COUNT };
constexpr const char* KIND_NAMES[KIND_COUNT] = {"monthly", "annual", "errors", "values", "summary_monthly", "summary_annual"};
constexpr const char* STREAM_SUFFIXES[KIND_COUNT] = {".monthly.csv", ".annual.csv", ".errors.csv", ".values.bin",
                                                     ".summary_monthly.csv", ".summary_annual.csv"};
constexpr const char* OUTPUT_NAMES[KIND_COUNT] = {"monthly.csv", "annual.csv", "errors.csv", "",
                                                  "summary_monthly.csv", "summary_annual.csv"};
constexpr int TABLE_KINDS[] = {MONTHLY, ANNUAL, ERRORS, SUMMARY_MONTHLY, SUMMARY_ANNUAL};
using Kinds = std::array<bool, KIND_COUNT>;

// The streams a format needs: the errors always, for the failed sites' messages.
Kinds KindsOf(OutputFormat format, bool summary) {
    if (summary) return {false, false, true, false, true, true};  // CSV only
    switch (format) {
        case OutputFormat::Csv: return {true, true, true, false, false, false};
        case OutputFormat::NetCdf: return {false, false, true, true, false, false};
        case OutputFormat::Both: return {true, true, true, true, false, false};
    }
    return {true, true, true, false, false, false};
}

// `tasks`: a batch of scenarios or replicates, whose tables have their columns.
std::string StreamHeader(int kind, bool tasks) {
    switch (kind) {
        case MONTHLY: return MonthlyHeader(tasks);
        case ANNUAL: return AnnualHeader(tasks);
        case ERRORS: return std::string(ERRORS_HEADER);
        case SUMMARY_MONTHLY: return SummaryMonthlyHeader();
        case SUMMARY_ANNUAL: return SummaryAnnualHeader();
        default: return {};
    }
}

std::string Hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

using KeyValues = std::map<std::string, std::string>;

KeyValues ParseKeyValues(const std::string& text, const char* header) {
    KeyValues values;
    std::size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (first) {
            if (line != header) return {};
            first = false;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
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

std::int64_t ToInt(const std::string& text, std::int64_t fallback = -1) {
    std::int64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && !text.empty() ? value : fallback;
}

// What makes two runs parts of the same batch.
struct Manifest {
    std::string Version;
    std::string ListHash;
    std::int64_t Sites = 0;
    std::int64_t ChunkSites = CHUNK_SITES;
    std::uint32_t BaseSeed = 0;
    std::string Format;
    // Written only when given, so that a batch without them keeps its bytes.
    std::string ScenariosHash;      // empty: no scenario list
    std::int64_t Scenarios = 0;
    std::int64_t Replicates = 0;    // 0: not asked for
    bool Summary = false;           // summary tables instead of the monthly and annual ones
    std::string Rng = "lcg32";  // the generator: lcg32 or pcg64 (--rng)
    // The scenarios' names, for the netCDF file a merge writes; the list's
    // hash identifies them.
    std::vector<std::string> ScenarioNames;

    // The tables have scenario and replicate columns.
    bool Tasks() const { return !ScenariosHash.empty() || Replicates > 0; }
    // Replicates of each simulated site: the spacing of the sites' streams.
    std::int64_t Realizations() const { return std::max<std::int64_t>(Replicates, 1); }

    std::string IdentityLines() const {
        std::string lines = "version=" + Version + "\nsite_list_fnv1a64=" + ListHash + "\nsites=" + std::to_string(Sites) +
                            "\nchunk_sites=" + std::to_string(ChunkSites) + "\nbase_seed=" + std::to_string(BaseSeed) + "\n";
        if (!ScenariosHash.empty())
            lines += "scenario_list_fnv1a64=" + ScenariosHash + "\nscenarios=" + std::to_string(Scenarios) + "\n";
        if (Replicates > 0) lines += "replicates=" + std::to_string(Replicates) + "\n";
        if (Summary) lines += "summary=1\n";
        if (Rng != "lcg32") lines += "rng=" + Rng + "\n";
        return lines;
    }
    std::string Text() const {
        std::string text = std::string(MANIFEST_HEADER) + "\n" + IdentityLines() + "format=" + Format + "\n";
        if (!ScenarioNames.empty()) {
            // One line of CSV: the names hold no line end (the list refuses one).
            std::string names;
            for (const std::string& name : ScenarioNames) {
                if (!names.empty()) names.push_back(',');
                AppendCsvField(names, name);
            }
            text += "scenario_names=" + names + "\n";
        }
        return text;
    }
    std::int64_t Chunks() const { return (Sites + ChunkSites - 1) / ChunkSites; }

    static std::optional<Manifest> Parse(const std::string& text) {
        const KeyValues v = ParseKeyValues(text, MANIFEST_HEADER);
        if (v.empty()) return std::nullopt;
        Manifest m;
        const auto get = [&](const char* key) {
            const auto found = v.find(key);
            return found == v.end() ? std::string() : found->second;
        };
        m.Version = get("version");
        m.ListHash = get("site_list_fnv1a64");
        m.Sites = ToInt(get("sites"));
        m.ChunkSites = ToInt(get("chunk_sites"));
        const std::int64_t seed = ToInt(get("base_seed"));
        m.Format = get("format");
        m.ScenariosHash = get("scenario_list_fnv1a64");
        m.Scenarios = ToInt(get("scenarios"), 0);
        m.Replicates = ToInt(get("replicates"), 0);
        m.Summary = get("summary") == "1";
        if (const std::string rng = get("rng"); !rng.empty()) m.Rng = rng;
        if (const std::string names = get("scenario_names"); !names.empty()) {
            try {
                CsvReader reader(names, MANIFEST_NAME);
                reader.Next(m.ScenarioNames);
            } catch (const KelmarError&) {
                return std::nullopt;
            }
        }
        if (static_cast<std::int64_t>(m.ScenarioNames.size()) != m.Scenarios) return std::nullopt;
        if ((!m.ScenariosHash.empty() && m.Scenarios <= 0) || m.Replicates < 0 ||
            !streams::KindNamed(m.Rng))
            return std::nullopt;
        if (m.Version.empty() || m.ListHash.empty() || m.Sites <= 0 || m.ChunkSites <= 0 || seed < 0 ||
            seed > 0xFFFFFFFFll || m.Format.empty())
            return std::nullopt;
        m.BaseSeed = static_cast<std::uint32_t>(seed);
        return m;
    }
};

std::string ChunkStem(std::int64_t chunk) {
    char stem[32];
    std::snprintf(stem, sizeof stem, "chunk-%06lld", static_cast<long long>(chunk));
    return stem;
}

fs::path DonePath(const fs::path& dir, std::int64_t chunk) { return dir / PARTS_FOLDER / (ChunkStem(chunk) + ".done"); }

// The streams of shard K of N are parts/shard-K-of-N.*; a run on one
// machine is shard 0 of 1.
std::string StreamStem(const Shard& share) {
    return "shard-" + std::to_string(share.Index) + "-of-" + std::to_string(share.Count);
}
fs::path StreamPath(const fs::path& dir, const std::string& stem, int kind) {
    return dir / PARTS_FOLDER / (stem + STREAM_SUFFIXES[kind]);
}

struct ByteRange {
    std::uint64_t Offset = 0;
    std::uint64_t Bytes = 0;
    std::uint64_t End() const { return Offset + Bytes; }
};

// A finished chunk as its done-file records it: where its bytes lie in the
// streams of the process that ran it.
struct ChunkRecord {
    std::int64_t Failed = 0;
    std::int64_t SiteCount = 0;
    std::string Shard;
    std::string Stream;  // the stem of the streams
    std::array<ByteRange, KIND_COUNT> Ranges{};
    std::optional<std::int32_t> FirstYear, LastYear;  // of its sites with results
};

// The chunk's record when its done-file belongs to this batch and the
// streams it names hold the bytes it records; nothing otherwise. `foreign`
// is set when the done-file is another batch's.
std::optional<ChunkRecord> FinishedChunk(const fs::path& dir, const Manifest& manifest, std::int64_t chunk,
                                         bool* foreign = nullptr) {
    const std::optional<std::string> text = ReadSmallFile(DonePath(dir, chunk));
    if (!text) return std::nullopt;
    const std::string identity = manifest.IdentityLines();
    const std::string prefix = std::string(CHUNK_HEADER) + "\n" + identity;
    if (text->compare(0, prefix.size(), prefix) != 0) {
        if (foreign) *foreign = true;
        return std::nullopt;
    }
    const KeyValues v = ParseKeyValues(*text, CHUNK_HEADER);
    const auto get = [&](const std::string& key) {
        const auto found = v.find(key);
        return found == v.end() ? std::string() : found->second;
    };
    if (ToInt(get("chunk")) != chunk) return std::nullopt;
    ChunkRecord record;
    record.Stream = get("stream");
    // A stem of this folder's own, never a path elsewhere.
    if (record.Stream.empty() || record.Stream.find_first_of("/\\") != std::string::npos || record.Stream[0] == '.')
        return std::nullopt;
    const Kinds kinds = KindsOf(ParseOutputFormat(manifest.Format), manifest.Summary);
    for (int kind = 0; kind < KIND_COUNT; ++kind) {
        if (!kinds[kind]) continue;
        const std::int64_t offset = ToInt(get(std::string(KIND_NAMES[kind]) + "_offset"));
        const std::int64_t bytes = ToInt(get(std::string(KIND_NAMES[kind]) + "_bytes"));
        if (offset < 0 || bytes < 0) return std::nullopt;
        record.Ranges[kind] = {static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(bytes)};
        std::error_code error;
        const auto size = fs::file_size(StreamPath(dir, record.Stream, kind), error);
        if (error || size < record.Ranges[kind].End()) return std::nullopt;
    }
    record.Failed = ToInt(get("failed"), 0);
    record.SiteCount = ToInt(get("site_count"), -1);
    record.Shard = get("shard");
    const std::int64_t first = ToInt(get("first_year"), -1), last = ToInt(get("last_year"), -1);
    if (first > 0 && last >= first) {
        record.FirstYear = static_cast<std::int32_t>(first);
        record.LastYear = static_cast<std::int32_t>(last);
    }
    return record;
}

// Counts the finished sites and reports them to the caller's callback,
// which may ask the batch to stop.
class ProgressReporter {
public:
    ProgressReporter(const ProgressCallback& callback, std::int64_t total, std::int64_t alreadyDone)
        : Callback(callback) {
        Report.Total = total;
        Report.Done = Report.Before = alreadyDone;
    }
    // Before the first site runs; false: the caller asked to stop.
    bool Start() { return !Callback || Callback(Report); }
    // From the writer, one site at a time; false: the caller asked to stop.
    bool SiteDone(bool failed) {
        ++Report.Done;
        if (failed) ++Report.Failed;
        return !Callback || Callback(Report);
    }
    void Finish() {
        Report.Finished = true;
        if (Callback) Callback(Report);
    }

private:
    const ProgressCallback& Callback;
    ProgressReport Report;
};

// The done-file of a chunk, written once its bytes are on the disk: a chunk
// is finished exactly when its done-file is there.
void RecordChunk(const fs::path& dir, const Manifest& manifest, std::int64_t chunk, std::int64_t siteCount,
                 const ChunkRecord& record, const Kinds& kinds) {
    std::string done = std::string(CHUNK_HEADER) + "\n" + manifest.IdentityLines();
    done += "chunk=" + std::to_string(chunk) + "\nfirst_site=" + std::to_string(chunk * manifest.ChunkSites) +
            "\nsite_count=" + std::to_string(siteCount) + "\nfailed=" + std::to_string(record.Failed) +
            "\nstream=" + record.Stream + "\n";
    for (int kind = 0; kind < KIND_COUNT; ++kind) {
        if (!kinds[kind]) continue;
        done += std::string(KIND_NAMES[kind]) + "_offset=" + std::to_string(record.Ranges[kind].Offset) + "\n" +
                KIND_NAMES[kind] + "_bytes=" + std::to_string(record.Ranges[kind].Bytes) + "\n";
    }
    if (record.FirstYear)
        done += "first_year=" + std::to_string(*record.FirstYear) + "\nlast_year=" + std::to_string(*record.LastYear) + "\n";
    done += "shard=" + record.Shard + "\n";
    WriteFileAtomically(Utf8Name(DonePath(dir, chunk)), done);
}

// Removes the temporary files that processes killed outright (a kill
// cannot be caught) left in the batch's folders, before anything is written
// there. A temporary file of a process still at work (another shard's)
// holds a lock and is kept.
void RemoveLeftTemporaries(const fs::path& dir) {
    RemoveStaleTemporaries(dir);
    RemoveStaleTemporaries(dir / PARTS_FOLDER);
}

std::string ShardText(const std::optional<Shard>& share) {
    return share ? std::to_string(share->Index) + "/" + std::to_string(share->Count) : "0/1";
}

// Creates the manifest if the folder has none (exclusively, so that shards
// starting together agree on one), and gives the manifest in force.
Manifest SettleManifest(const fs::path& dir, Manifest wanted, bool seedGiven, bool resume, bool joining) {
    const fs::path path = dir / MANIFEST_NAME;
    std::optional<std::string> existing = ReadSmallFile(path);
    if (!existing) {
        for (const char* name : {OUTPUT_NAMES[MONTHLY], OUTPUT_NAMES[ANNUAL], OUTPUT_NAMES[ERRORS],
                                 OUTPUT_NAMES[SUMMARY_MONTHLY], OUTPUT_NAMES[SUMMARY_ANNUAL], NETCDF_NAME})
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
        throw KelmarError("The folder \"" + Utf8Name(dir) +
                          "\" already holds a batch; run with --resume to finish it, or choose another folder.");
    }
    const std::optional<Manifest> found = Manifest::Parse(*existing);
    if (!found) throw KelmarError("The file \"" + Utf8Name(path) + "\" is not a batch manifest.");
    if (!seedGiven) wanted.BaseSeed = found->BaseSeed;  // a resumed batch or a late shard takes the batch's seed
    const auto refuse = [&](const std::string& what) {
        throw KelmarError("The batch in \"" + Utf8Name(dir) + "\" was started with " + what +
                          "; its parts cannot be joined with this run. Run as it was started, or choose another folder.");
    };
    if (found->Version != wanted.Version) refuse("kelmar-cli " + found->Version + " (this is " + wanted.Version + ")");
    if (found->ListHash != wanted.ListHash || found->Sites != wanted.Sites) refuse("another site list");
    if (found->BaseSeed != wanted.BaseSeed) refuse("--seed " + std::to_string(found->BaseSeed));
    if (found->ChunkSites != wanted.ChunkSites) refuse("chunks of " + std::to_string(found->ChunkSites) + " sites");
    if (found->Format != wanted.Format) refuse("--format " + found->Format);
    if (found->ScenariosHash != wanted.ScenariosHash || found->Scenarios != wanted.Scenarios)
        refuse(found->ScenariosHash.empty() ? std::string("no --scenarios") : "another scenario list");
    if (found->Replicates != wanted.Replicates)
        refuse(found->Replicates == 0 ? std::string("no --replicates") : "--replicates " + std::to_string(found->Replicates));
    if (found->Rng != wanted.Rng) refuse("--rng " + found->Rng);
    if (found->Summary != wanted.Summary) refuse(found->Summary ? "--summary" : "no --summary");
    return *found;
}

// Puts the CSV table `kind` of every chunk, in chunk order, under its
// output name. When one stream holds every chunk in order and nothing else
// (a run on one machine), the stream itself takes the name: nothing is
// copied. Otherwise (shards) the chunks are copied into a new table.
void JoinTable(const fs::path& dir, const std::vector<ChunkRecord>& chunks, int kind, bool tasks) {
    const std::string header = StreamHeader(kind, tasks);
    const fs::path output = dir / OUTPUT_NAMES[kind];
    const std::string& stem = chunks.front().Stream;
    const fs::path stream = StreamPath(dir, stem, kind);
    bool whole = true;
    std::uint64_t end = header.size();
    for (const ChunkRecord& chunk : chunks) {
        whole = whole && chunk.Stream == stem && chunk.Ranges[kind].Offset == end;
        end = chunk.Ranges[kind].End();
    }
    std::error_code error;
    whole = whole && fs::file_size(stream, error) == end && !error;
    if (whole && LinkFileDurably(Utf8Name(stream), Utf8Name(output))) return;
    DurableFileStream out(Utf8Name(output));
    out.Write(header);
    for (const ChunkRecord& chunk : chunks)
        out.CopyRange(Utf8Name(StreamPath(dir, chunk.Stream, kind)), chunk.Ranges[kind].Offset, chunk.Ranges[kind].Bytes);
    out.Commit();
}

// Joins the chunks into the outputs of the manifest's format, in chunk
// order: the CSV tables for csv and both, results.nc for netcdf and both.
// The streams stay, so a merge can be repeated.
std::int64_t JoinParts(const fs::path& dir, const Manifest& manifest, std::ostream& err) {
    std::vector<std::int64_t> missing;
    std::vector<std::int64_t> foreignChunks;
    std::vector<ChunkRecord> records;
    std::int64_t failed = 0;
    std::string shardCount;
    for (std::int64_t c = 0; c < manifest.Chunks(); ++c) {
        bool foreign = false;
        std::optional<ChunkRecord> record = FinishedChunk(dir, manifest, c, &foreign);
        if (foreign) foreignChunks.push_back(c);
        if (!record) {
            if (!foreign) missing.push_back(c);
            continue;
        }
        failed += record->Failed;
        if (const std::size_t slash = record->Shard.find('/'); slash != std::string::npos)
            shardCount = record->Shard.substr(slash + 1);
        records.push_back(std::move(*record));
    }
    const auto describe = [&](const std::vector<std::int64_t>& chunks) {
        std::string text;
        const std::size_t shown = std::min<std::size_t>(chunks.size(), 10);
        for (std::size_t k = 0; k < shown; ++k) {
            const std::int64_t c = chunks[k];
            const std::int64_t first = c * manifest.ChunkSites + 1;
            const std::int64_t last = std::min(manifest.Sites, first + manifest.ChunkSites - 1);
            text += "\n  chunk " + std::to_string(c) + " (sites " + std::to_string(first) + " to " + std::to_string(last);
            const std::int64_t count = ToInt(shardCount, 0);
            if (count > 1) text += ", shard " + std::to_string(c % count) + "/" + std::to_string(count);
            text += ")";
        }
        if (chunks.size() > shown) text += "\n  ... and " + std::to_string(chunks.size() - shown) + " more";
        return text;
    };
    if (!foreignChunks.empty())
        throw KelmarError("The folder \"" + Utf8Name(dir) + "\" holds parts of another batch (another version, site list or seed):" +
                          describe(foreignChunks) + "\nNothing was merged.");
    if (!missing.empty())
        throw KelmarError("The batch in \"" + Utf8Name(dir) + "\" is not complete: " + std::to_string(missing.size()) +
                          " of " + std::to_string(manifest.Chunks()) + " chunks are not done:" + describe(missing) +
                          "\nRun the shards they belong to (or the batch with --resume), then merge again. Nothing was merged.");

    const OutputFormat format = ParseOutputFormat(manifest.Format);
    const Kinds kinds = KindsOf(format, manifest.Summary);
    // errors.csv in every format: the failed sites' messages have no other home.
    for (const int kind : TABLE_KINDS)
        if (kinds[kind] && (format != OutputFormat::NetCdf || manifest.Summary || kind == ERRORS))
            JoinTable(dir, records, kind, manifest.Tasks());
    if (kinds[VALUES]) {
        std::vector<ChunkValues> chunks;
        std::optional<std::int32_t> firstYear, lastYear;
        for (std::size_t c = 0; c < records.size(); ++c) {
            const ChunkRecord& record = records[c];
            const std::int64_t sites =
                std::min<std::int64_t>(manifest.ChunkSites, manifest.Sites - static_cast<std::int64_t>(c) * manifest.ChunkSites);
            chunks.push_back({Utf8Name(StreamPath(dir, record.Stream, VALUES)), record.Ranges[VALUES].Offset,
                              record.Ranges[VALUES].Bytes, sites});
            if (!record.FirstYear) continue;
            if (!firstYear || *record.FirstYear < *firstYear) firstYear = record.FirstYear;
            if (!lastYear || *record.LastYear > *lastYear) lastYear = record.LastYear;
        }
        if (!firstYear) {
            err << "kelmar-cli: no site of the batch has results, so " << NETCDF_NAME
                << " (which needs at least one year) was not written\n";
            return failed;
        }
        CfFileDescription description;
        description.Title = "KELMAR soil climate of " + std::to_string(manifest.Sites) + " sites";
        description.Source = "kelmar-cli batch: the soil-climate model run for each site of a site list "
                             "(site list FNV-1a 64 " + manifest.ListHash + ")";
        description.ProgramName = "kelmar-cli";
        description.ProgramVersion = manifest.Version;
        description.BaseSeed = manifest.BaseSeed;
        description.Scenarios = manifest.ScenarioNames;
        description.Realizations = static_cast<int>(manifest.Replicates);
        WriteNetcdfFromValues(Utf8Name(dir / NETCDF_NAME), chunks, manifest.Sites, *firstYear, *lastYear, description);
    }
    return failed;
}

}  // namespace

Shard ParseShard(const std::string& text) {
    const std::size_t slash = text.find('/');
    const std::int64_t k = slash == std::string::npos ? -1 : ToInt(text.substr(0, slash));
    const std::int64_t n = slash == std::string::npos ? -1 : ToInt(text.substr(slash + 1));
    if (k < 0 || n < 1 || k >= n || n > 1000000)
        throw KelmarError("The shard '" + text + "' is not K/N with 0 <= K < N (for example 0/4).");
    return {static_cast<int>(k), static_cast<int>(n)};
}

std::optional<Shard> ShardFromEnvironment(const std::function<const char*(const char*)>& getenv) {
    struct Pair {
        const char* Index;
        const char* Count;
        const char* Offset;  // subtracted from the index when set
    };
    constexpr Pair LAUNCHERS[] = {
        {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_COUNT", "SLURM_ARRAY_TASK_MIN"},
        {"SLURM_PROCID", "SLURM_NTASKS", nullptr},
        {"OMPI_COMM_WORLD_RANK", "OMPI_COMM_WORLD_SIZE", nullptr},
        {"PMI_RANK", "PMI_SIZE", nullptr},
    };
    for (const Pair& launcher : LAUNCHERS) {
        const char* index = getenv(launcher.Index);
        const char* count = getenv(launcher.Count);
        if (!index || !count) continue;
        std::int64_t k = ToInt(index), n = ToInt(count);
        const char* offset = launcher.Offset ? getenv(launcher.Offset) : nullptr;
        if (offset) k -= ToInt(offset, 0);
        if (k < 0 || n < 1 || k >= n)
            throw KelmarError(std::string("The launcher's ") + launcher.Index + "=" + index + " and " + launcher.Count +
                              "=" + count + " do not make a share of the site list; give --shard K/N.");
        if (n == 1) return std::nullopt;
        return Shard{static_cast<int>(k), static_cast<int>(n)};
    }
    return std::nullopt;
}

OutputFormat ParseOutputFormat(const std::string& text) {
    if (text == "csv") return OutputFormat::Csv;
    if (text == "netcdf") return OutputFormat::NetCdf;
    if (text == "both") return OutputFormat::Both;
    throw KelmarError("The format '" + text + "' is not csv, netcdf or both.");
}

const char* FormatName(OutputFormat format) {
    switch (format) {
        case OutputFormat::Csv: return "csv";
        case OutputFormat::NetCdf: return "netcdf";
        case OutputFormat::Both: return "both";
    }
    return "csv";
}

BatchSummary RunBatch(const BatchOptions& options, std::ostream& err) {
    // Checked whole before anything is made; its sites are read again chunk
    // by chunk as they run, so that memory does not grow with the list.
    const SiteListFile list(options.SitesFile, CHUNK_SITES);
    const std::int64_t siteCount = list.Count();
    // The scenarios too, whole, before anything runs.
    std::optional<ScenarioList> scenarios;
    if (!options.ScenariosFile.empty()) scenarios = ReadScenarioList(options.ScenariosFile);
    if (options.Replicates < 0) throw KelmarError("A batch needs at least one replicate.");
    streams::CheckReplicates(options.Rng, static_cast<std::uint64_t>(options.Replicates));
    const bool tasks = scenarios.has_value() || options.Replicates > 0;
    if (options.Summary && options.Replicates == 0)
        throw KelmarError("--summary summarises replicates; give --replicates R.");
    if (options.Summary && options.Format != OutputFormat::Csv)
        throw KelmarError(std::string("--summary writes CSV tables, not --format ") + FormatName(options.Format) + ".");

    const fs::path dir = PathOf(options.OutDir);
    MakeFolders(Utf8Name(dir / PARTS_FOLDER));

    Manifest wanted;
    wanted.Version = options.Version;
    wanted.ListHash = Hex(list.Hash());
    wanted.Sites = siteCount;
    wanted.BaseSeed = options.Seed ? *options.Seed : RandomSource().State();
    wanted.Format = FormatName(options.Format);
    if (scenarios) {
        wanted.ScenariosHash = Hex(scenarios->Hash);
        wanted.Scenarios = static_cast<std::int64_t>(scenarios->Scenarios.size());
        for (const TScenario& scenario : scenarios->Scenarios) wanted.ScenarioNames.push_back(scenario.Name);
    }
    wanted.Replicates = options.Replicates;
    wanted.Summary = options.Summary;
    wanted.Rng = streams::ShortName(options.Rng);
    const bool sharded = options.Share && options.Share->Count > 1;
    const Manifest manifest = SettleManifest(dir, wanted, options.Seed.has_value(), options.Resume, sharded);

    // Streams of sites without a seed of their own repeat beyond the period.
    // Each site takes Realizations() streams.
    const RandomKind rng = *streams::KindNamed(manifest.Rng);
    const auto realizations = static_cast<std::uint64_t>(manifest.Realizations());
    if (const auto warning = streams::RepeatingStreamsWarning(rng, list.LastWithoutSeed(), realizations))
        err << "warning: " << *warning << '\n';

    // Site i replicate r: the site's own seed, or the base seed, and the
    // task's stream of it. Every scenario takes the same.
    const auto startOf = [&](const SiteEntry& site, std::int64_t i, int replicate, std::uint32_t& seed) {
        const auto place = site.Seed ? std::nullopt : std::optional<std::uint64_t>(static_cast<std::uint64_t>(i));
        RandomSource start(0);
        seed = static_cast<std::uint32_t>(streams::StartStream(start, rng, site.Seed.value_or(manifest.BaseSeed),
                                                               streams::StreamIndex(place, realizations, replicate)));
        return start;
    };
    const int scenarioCount = scenarios ? static_cast<int>(scenarios->Scenarios.size()) : 1;
    // A site with replicate 0 alone among replicates: observed weather.
    const auto oneRealization = [&](const SiteEntry& site) { return manifest.Replicates > 0 && !site.WeatherFile.empty(); };
    // Without scenarios the replicates' column reads as `simulate --replicates` writes it.
    const std::string noScenario = "none";

    const Shard share = options.Share.value_or(Shard{});
    const std::string stem = StreamStem(share);
    // One process per share: a second one (a job started twice) would
    // write the same streams and records.
    std::optional<FileLock> shareLock;
    try {
        shareLock.emplace(Utf8Name(dir / PARTS_FOLDER / (stem + ".lock")));
    } catch (const KelmarError& e) {
        throw KelmarError(std::string(e.what()) + " Another kelmar-cli is running " +
                          (sharded ? "shard " + ShardText(options.Share) : std::string("this batch")) + " in \"" +
                          Utf8Name(dir) + "\"; wait for it to end.");
    }
    if (options.Resume) RemoveLeftTemporaries(dir);
    const Kinds kinds = KindsOf(ParseOutputFormat(manifest.Format), manifest.Summary);
    std::vector<std::int64_t> pending;
    std::int64_t shareSites = 0, doneSites = 0, doneFailed = 0;
    // Where this process's streams go on: after the last chunk recorded in them.
    std::array<std::optional<std::uint64_t>, KIND_COUNT> keep;
    for (std::int64_t c = 0; c < manifest.Chunks(); ++c) {
        const bool mine = c % share.Count == share.Index;
        const std::int64_t sites = std::min<std::int64_t>(CHUNK_SITES, siteCount - c * CHUNK_SITES);
        if (mine) shareSites += sites;
        if (!options.Resume) {
            if (mine) pending.push_back(c);
            continue;
        }
        const std::optional<ChunkRecord> record = FinishedChunk(dir, manifest, c);
        if (record && record->Stream == stem)
            for (int kind = 0; kind < KIND_COUNT; ++kind)
                if (kinds[kind]) keep[kind] = std::max(keep[kind].value_or(0), record->Ranges[kind].End());
        if (!mine) continue;
        if (record) {
            doneSites += sites;
            doneFailed += record->Failed;
        } else {
            pending.push_back(c);
        }
    }
    // The chunks to run lose any record left of them (a shard started again
    // without --resume runs its share anew; a record whose bytes were lost
    // is no record) before the streams are made or cut, so that no record
    // can come to point at bytes written for another chunk.
    bool removed = false;
    for (const std::int64_t c : pending) {
        std::error_code ignored;
        removed |= fs::remove(DonePath(dir, c), ignored);
    }
    if (removed) SyncFolder(dir / PARTS_FOLDER);

    ProgressReporter progress(options.OnProgress, shareSites, doneSites);
    std::atomic<bool> cancelled{false};
    WeatherTables tables;
    std::string fatal;  // the first error that stops the batch
    std::mutex fatalLock;
    std::atomic<bool> stop{false};
    const auto fail = [&](const char* what) {
        std::lock_guard<std::mutex> guard(fatalLock);
        if (fatal.empty()) fatal = what;
        stop.store(true);
    };
    std::array<std::unique_ptr<AppendingFile>, KIND_COUNT> streams;
    try {
        if (!pending.empty())
            for (int kind = 0; kind < KIND_COUNT; ++kind)
                if (kinds[kind])
                    streams[kind] = std::make_unique<AppendingFile>(Utf8Name(StreamPath(dir, stem, kind)),
                                                                    keep[kind] ? &*keep[kind] : nullptr,
                                                                    StreamHeader(kind, manifest.Tasks()));
    } catch (const std::exception& e) {
        fail(e.what());
    }

    // The sites in flight: a bounded number of slots, each with the model
    // its site runs in (remade in place for every site: the same state as a
    // model just made, without faulting in its megabyte of tables again) and
    // the texts made from it. Memory is set by the jobs, not by the list.
    const int jobs = options.Jobs > 0 ? options.Jobs : tbb::info::default_concurrency();
    // Two per job, so that every job has a site to run while the writer
    // appends the one before.
    const std::size_t slotCount = static_cast<std::size_t>(2 * jobs);
    struct Slot {
        std::unique_ptr<TModel> Model = std::make_unique<TModel>();
        std::string Monthly, Annual, Error, ValuesHeader;
        SiteEntry Entry;
        std::int64_t Site = 0, Chunk = 0;
        int Scenario = 0, Replicate = 0;  // the site's task
        std::uint32_t Seed = 0;
        // First and last task of the chunk, and of the site.
        bool First = false, Last = false, FirstOfSite = false, LastOfSite = false, Failed = false;
        bool LastOfScenario = false;  // the site's last replicate of its scenario
    };
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<Slot*> freeSlots;
    std::mutex slotLock;
    for (std::size_t k = 0; k < slotCount; ++k) {
        slots.push_back(std::make_unique<Slot>());
        freeSlots.push_back(slots.back().get());
    }
    const auto release = [&](Slot* slot) {
        std::lock_guard<std::mutex> guard(slotLock);
        freeSlots.push_back(slot);
    };

    std::size_t nextChunk = 0;
    std::vector<SiteEntry> block;  // the sites of the chunk being started
    std::int64_t nextSite = pending.empty() ? 0 : pending[0] * CHUNK_SITES;
    int nextScenario = 0, nextReplicate = 0;  // the next task of nextSite
    ChunkRecord chunk;  // the chunk being written
    chunk.Stream = stem;
    chunk.Shard = ShardText(options.Share);
    const bool csv = kinds[MONTHLY], values = kinds[VALUES], summaries = kinds[SUMMARY_MONTHLY];
    ReplicateSummaries group(static_cast<int>(realizations));  // of the site and scenario being written, with --summary
    bool siteFailed = false;  // of the site being written: a task of it failed
    std::string siteError;    // of the site being written: the message of its last error row

    // The recorder: flushes each finished chunk to the disk and then writes
    // its done-file, on a thread of its own, so that the writer and the runs
    // go on while the disk catches up.
    class Recorder {
    public:
        explicit Recorder(std::function<void(std::int64_t, std::int64_t, const ChunkRecord&)> record)
            : Record(std::move(record)), Thread([this] { Loop(); }) {}
        ~Recorder() { Finish(); }
        void Add(std::int64_t chunk, std::int64_t sites, const ChunkRecord& record) {
            std::lock_guard<std::mutex> guard(Lock);
            Queue.push_back({chunk, sites, record});
            Ready.notify_one();
        }
        // Waits until every chunk added is recorded.
        void Finish() {
            {
                std::lock_guard<std::mutex> guard(Lock);
                Done = true;
                Ready.notify_one();
            }
            if (Thread.joinable()) Thread.join();
        }

    private:
        struct Task {
            std::int64_t Chunk, Sites;
            ChunkRecord Record;
        };
        void Loop() {
            for (;;) {
                std::unique_lock<std::mutex> lock(Lock);
                Ready.wait(lock, [&] { return Done || !Queue.empty(); });
                if (Queue.empty()) return;
                Task task = std::move(Queue.front());
                Queue.pop_front();
                lock.unlock();
                Record(task.Chunk, task.Sites, task.Record);
            }
        }
        std::function<void(std::int64_t, std::int64_t, const ChunkRecord&)> Record;
        std::mutex Lock;
        std::condition_variable Ready;
        std::deque<Task> Queue;
        bool Done = false;
        std::thread Thread;
    };
    std::atomic<std::int64_t> recordedFailed{0};
    // A chunk the writer finished is recorded even when the writer fails
    // later; after a failed flush nothing is (a later flush may succeed
    // without the bytes the failed one lost).
    bool syncFailed = false;
    Recorder recorder([&](std::int64_t c, std::int64_t sites, const ChunkRecord& record) {
        if (syncFailed) return;
        try {
            for (const auto& stream : streams)
                if (stream) stream->SyncWritten();
            RecordChunk(dir, manifest, c, sites, record, kinds);
            recordedFailed += record.Failed;
        } catch (const std::exception& e) {
            syncFailed = true;
            fail(e.what());
        }
    });

    if (!progress.Start()) {
        cancelled.store(true);
        stop.store(true);
    }
    tbb::task_arena arena(jobs);
    arena.execute([&] {
        tbb::parallel_pipeline(
            slotCount,
            // The next site of the pending chunks, in list order.
            tbb::make_filter<void, Slot*>(
                tbb::filter_mode::serial_in_order,
                [&](tbb::flow_control& control) -> Slot* {
                    if (stop.load() || nextChunk == pending.size()) {
                        control.stop();
                        return nullptr;
                    }
                    Slot* slot;
                    {
                        std::lock_guard<std::mutex> guard(slotLock);
                        slot = freeSlots.back();
                        freeSlots.pop_back();
                    }
                    const std::int64_t c = pending[nextChunk];
                    const std::int64_t end = std::min(siteCount, (c + 1) * CHUNK_SITES);
                    if (nextSite == c * CHUNK_SITES && nextScenario == 0 && nextReplicate == 0) {  // the chunk's first task
                        try {
                            block = list.ReadBlock(c);
                        } catch (const std::exception& e) {
                            fail(e.what());
                            release(slot);
                            control.stop();
                            return nullptr;
                        }
                    }
                    SiteEntry& entry = block[static_cast<std::size_t>(nextSite - c * CHUNK_SITES)];
                    // Observed weather has one realization.
                    const int replicates = entry.WeatherFile.empty() ? static_cast<int>(realizations) : 1;
                    slot->FirstOfSite = nextScenario == 0 && nextReplicate == 0;
                    slot->LastOfScenario = nextReplicate + 1 == replicates;
                    slot->LastOfSite = nextScenario + 1 == scenarioCount && slot->LastOfScenario;
                    slot->Scenario = nextScenario;
                    slot->Replicate = nextReplicate;
                    if (slot->LastOfSite)
                        slot->Entry = std::move(entry);
                    else
                        slot->Entry = entry;
                    slot->Chunk = c;
                    slot->Site = nextSite;
                    slot->First = nextSite == c * CHUNK_SITES && slot->FirstOfSite;
                    slot->Last = nextSite + 1 == end && slot->LastOfSite;
                    if (!slot->LastOfSite) {
                        if (++nextReplicate == replicates) {
                            nextReplicate = 0;
                            ++nextScenario;
                        }
                    } else {
                        nextScenario = nextReplicate = 0;
                        if (!slot->Last)
                            ++nextSite;
                        else if (++nextChunk < pending.size())
                            nextSite = pending[nextChunk] * CHUNK_SITES;
                    }
                    return slot;
                }) &
                // The run and its texts, on any thread.
                tbb::make_filter<Slot*, Slot*>(
                    tbb::filter_mode::parallel,
                    [&](Slot* slot) -> Slot* {
                        const SiteEntry& site = slot->Entry;
                        const TScenario* scenario = scenarios ? &scenarios->Scenarios[static_cast<std::size_t>(slot->Scenario)] : nullptr;
                        const RandomSource start = startOf(site, slot->Site, slot->Replicate, slot->Seed);
                        slot->Monthly.clear();
                        slot->Annual.clear();
                        slot->Error.clear();
                        slot->Failed = false;
                        TModel& model = *slot->Model;
                        try {
                            std::destroy_at(&model);
                            std::construct_at(&model);
                            RunSite(model, site, start, tables, scenario);
                            if (csv && !summaries)
                                AppendTaskRows(model,
                                               tasks ? RowStart(site.Id, scenario ? &scenario->Name : &noScenario, slot->Replicate)
                                                     : RowStart(site.Id),
                                               slot->Seed, slot->Monthly, slot->Annual);
                            if (values)
                                slot->ValuesHeader = SiteValuesHeader(site.Id, slot->Seed, site.Lat, site.Lon, &model,
                                                                      slot->Scenario, slot->Replicate, oneRealization(site));
                        } catch (const std::exception& e) {
                            slot->Failed = true;
                            slot->Monthly.clear();
                            slot->Annual.clear();
                            slot->Error = e.what();
                            if (values)
                                slot->ValuesHeader = SiteValuesHeader(site.Id, slot->Seed, site.Lat, site.Lon, nullptr,
                                                                      slot->Scenario, slot->Replicate, oneRealization(site));
                        }
                        return slot;
                    }) &
                // The writer, in list order: each chunk's bytes appended to
                // the streams, made durable, then recorded.
                tbb::make_filter<Slot*, void>(tbb::filter_mode::serial_in_order, [&](Slot* slot) {
                    if (stop.load()) {
                        release(slot);
                        return;
                    }
                    try {
                        if (slot->FirstOfSite) {
                            siteFailed = false;
                            siteError.clear();
                        }
                        if (slot->First) {
                            chunk.Failed = 0;
                            chunk.FirstYear.reset();
                            chunk.LastYear.reset();
                            for (int kind = 0; kind < KIND_COUNT; ++kind)
                                if (streams[kind]) chunk.Ranges[kind].Offset = streams[kind]->Size();
                        }
                        const TModel& model = *slot->Model;
                        if (streams[MONTHLY]) streams[MONTHLY]->Write(slot->Monthly);
                        if (streams[ANNUAL]) streams[ANNUAL]->Write(slot->Annual);
                        // A site's tasks that fail alike (a file missing) have one
                        // row, naming the first of them.
                        if (slot->Failed && slot->Error != siteError) {
                            const SiteEntry& site = slot->Entry;
                            std::string where = "\nfor the site on line " + std::to_string(site.Line) + " of \"" + list.FileName() + "\"";
                            if (tasks)
                                where = "\nunder the scenario \"" +
                                        (scenarios ? scenarios->Scenarios[static_cast<std::size_t>(slot->Scenario)].Name : noScenario) +
                                        "\", replicate " + std::to_string(slot->Replicate) + "," + where;
                            std::string row;
                            AppendErrorRow(row, site.Id, slot->Error + where);
                            streams[ERRORS]->Write(row);
                            siteError = slot->Error;
                        }
                        if (streams[VALUES]) {
                            streams[VALUES]->Write(slot->ValuesHeader);
                            if (!slot->Failed) streams[VALUES]->Write(SiteValuesRecords(model));
                        }
                        if (slot->Failed) {
                            if (!siteFailed) ++chunk.Failed;  // sites, not tasks
                            siteFailed = true;
                        } else if (model.AvailableYears > 0) {
                            const std::int32_t first = model.Results.At(1, 1).Year;
                            const std::int32_t last = model.Results.At(model.AvailableYears, 12).Year;
                            chunk.FirstYear = std::min(chunk.FirstYear.value_or(first), first);
                            chunk.LastYear = std::max(chunk.LastYear.value_or(last), last);
                        }
                        if (summaries) {
                            if (!slot->Failed) group.Add(model);
                            if (slot->LastOfScenario) {
                                std::string monthlyRows, annualRows;
                                const std::string& name =
                                    scenarios ? scenarios->Scenarios[static_cast<std::size_t>(slot->Scenario)].Name : noScenario;
                                std::string start = RowStart(slot->Entry.Id);
                                AppendCsvField(start, name);
                                start.push_back(',');
                                group.Append(start, monthlyRows, annualRows);
                                group.Clear();
                                streams[SUMMARY_MONTHLY]->Write(monthlyRows);
                                streams[SUMMARY_ANNUAL]->Write(annualRows);
                            }
                        }
                        if (slot->LastOfSite && !progress.SiteDone(siteFailed)) {
                            cancelled.store(true);
                            stop.store(true);
                        }
                        if (slot->Last) {
                            for (int kind = 0; kind < KIND_COUNT; ++kind) {
                                if (!streams[kind]) continue;
                                streams[kind]->Flush();
                                chunk.Ranges[kind].Bytes = streams[kind]->Size() - chunk.Ranges[kind].Offset;
                            }
                            const std::int64_t sites = std::min(siteCount, (slot->Chunk + 1) * CHUNK_SITES) - slot->Chunk * CHUNK_SITES;
                            recorder.Add(slot->Chunk, sites, chunk);
                        }
                    } catch (const std::exception& e) {
                        fail(e.what());
                    }
                    release(slot);
                }));
    });
    recorder.Finish();
    const std::int64_t ranFailed = recordedFailed.load();
    // The sites' memory goes before the tables are joined, so that the
    // records of the joining do not add to the peak.
    slots.clear();
    freeSlots.clear();
    std::vector<SiteEntry>().swap(block);
    progress.Finish();
    if (cancelled.load() && fatal.empty())
        throw Cancelled("The batch was stopped; the chunks finished so far are kept: run the same command with "
                        "--resume to go on.");
    if (!fatal.empty())
        throw KelmarError(fatal + "\nThe batch stopped; the chunks finished so far are kept: run the same command with "
                                  "--resume to go on.");

    BatchSummary summary;
    summary.Sites = siteCount;
    summary.BaseSeed = manifest.BaseSeed;
    summary.Ran = shareSites - doneSites;
    if (sharded) {
        summary.Failed = doneFailed + ranFailed;
        err << "Shard " << chunk.Shard << " finished its " << shareSites << " of " << siteCount
            << " sites; once every shard has finished, join them with: kelmar-cli merge " << options.OutDir << '\n';
        return summary;
    }
    summary.Failed = JoinParts(dir, manifest, err);
    summary.Merged = true;
    return summary;
}

BatchSummary MergeBatch(const std::string& dirName, const std::string& version, std::ostream& err) {
    const fs::path dir = PathOf(dirName);
    const std::optional<std::string> text = ReadSmallFile(dir / MANIFEST_NAME);
    if (!text) throw KelmarError("The folder \"" + dirName + "\" holds no batch (no " + MANIFEST_NAME + ").");
    const std::optional<Manifest> manifest = Manifest::Parse(*text);
    if (!manifest) throw KelmarError("The file \"" + Utf8Name(dir / MANIFEST_NAME) + "\" is not a batch manifest.");
    if (manifest->Version != version)
        throw KelmarError("The batch in \"" + dirName + "\" was made by kelmar-cli " + manifest->Version + "; this is " +
                          version + ". Merge it with the version that made it.");
    RemoveLeftTemporaries(dir);
    BatchSummary summary;
    summary.Sites = manifest->Sites;
    summary.BaseSeed = manifest->BaseSeed;
    summary.Failed = JoinParts(dir, *manifest, err);
    summary.Merged = true;
    return summary;
}

}  // namespace kelmar::batch
