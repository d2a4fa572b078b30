#include "app/batch/batch_run.h"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_for_each.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "app/batch/batch_netcdf.h"
#include "app/batch/batch_tables.h"
#include "app/batch/site_list.h"
#include "app/batch/site_run.h"
#include "io/file_bytes.h"
#include "io/file_stream.h"
#include "model/errors.h"
#include "numerics/random_source.h"

namespace fs = std::filesystem;

namespace kelmar::batch {

namespace {

constexpr const char* MANIFEST_NAME = "manifest.txt";
constexpr const char* PARTS_FOLDER = "parts";
constexpr const char* MANIFEST_HEADER = "kelmar-batch-manifest 1";
constexpr const char* CHUNK_HEADER = "kelmar-batch-chunk 1";
constexpr const char* OUTPUT_NAMES[] = {"monthly.csv", "annual.csv", "errors.csv"};
// The first three parts are joined into the CSV outputs of the same index;
// the site index (batch_tables.h) is the batch's own, read for the netCDF file.
constexpr const char* PART_KINDS[] = {"monthly", "annual", "errors", "sites"};
constexpr int PART_KIND_COUNT = 4;
constexpr int MONTHLY_PART = 0, ANNUAL_PART = 1, SITES_PART = 3;
constexpr const char* NETCDF_NAME = "results.nc";

// Seconds between progress lines: often enough to look alive in a
// terminal, rarely enough not to flood a log file.
constexpr double TERMINAL_INTERVAL = 0.25;
constexpr double PLAIN_INTERVAL = 5.0;

// FNV-1a, 64 bits: identifies the site list's bytes (not a guard against
// forgery, only against joining the parts of two different lists).
std::uint64_t Fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;  // offset basis
    for (const unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;  // FNV prime
    }
    return hash;
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

    std::string IdentityLines() const {
        return "version=" + Version + "\nsite_list_fnv1a64=" + ListHash + "\nsites=" + std::to_string(Sites) +
               "\nchunk_sites=" + std::to_string(ChunkSites) + "\nbase_seed=" + std::to_string(BaseSeed) + "\n";
    }
    std::string Text() const { return std::string(MANIFEST_HEADER) + "\n" + IdentityLines() + "format=" + Format + "\n"; }
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

fs::path PartPath(const fs::path& dir, std::int64_t chunk, int kind) {
    return dir / PARTS_FOLDER / (ChunkStem(chunk) + "." + PART_KINDS[kind] + ".csv");
}
fs::path DonePath(const fs::path& dir, std::int64_t chunk) { return dir / PARTS_FOLDER / (ChunkStem(chunk) + ".done"); }

// A finished chunk as its done-file records it.
struct ChunkRecord {
    std::int64_t Failed = 0;
    std::string Shard;
};

// The chunk's record when its done-file belongs to this batch and its parts
// have the sizes it records; nothing otherwise. `foreign` is set when the
// done-file is another batch's.
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
    if (ToInt(v.count("chunk") ? v.at("chunk") : "") != chunk) return std::nullopt;
    for (int kind = 0; kind < PART_KIND_COUNT; ++kind) {
        std::error_code error;
        const auto size = fs::file_size(PartPath(dir, chunk, kind), error);
        const std::string key = std::string(PART_KINDS[kind]) + "_bytes";
        if (error || !v.count(key) || ToInt(v.at(key)) != static_cast<std::int64_t>(size)) return std::nullopt;
    }
    ChunkRecord record;
    record.Failed = v.count("failed") ? ToInt(v.at("failed"), 0) : 0;
    record.Shard = v.count("shard") ? v.at("shard") : "";
    return record;
}

class Progress {
public:
    Progress(ProgressStyle style, std::ostream& err, std::int64_t total, std::int64_t alreadyDone)
        : Style(style), Err(err), Total(total), Before(alreadyDone), Start(Clock::now()), Last(Start) {}

    void SiteDone(bool failed) {
        Done.fetch_add(1, std::memory_order_relaxed);
        if (failed) Failed.fetch_add(1, std::memory_order_relaxed);
        if (Style == ProgressStyle::None) return;
        std::unique_lock<std::mutex> lock(Lock, std::try_to_lock);
        if (!lock) return;
        const auto now = Clock::now();
        const double interval = Style == ProgressStyle::Terminal ? TERMINAL_INTERVAL : PLAIN_INTERVAL;
        if (std::chrono::duration<double>(now - Last).count() < interval) return;
        Last = now;
        Print(now, false);
    }

    void Finish() {
        if (Style == ProgressStyle::None) return;
        std::lock_guard<std::mutex> lock(Lock);
        Print(Clock::now(), true);
    }

    std::int64_t FailedSoFar() const { return Failed.load(); }

private:
    using Clock = std::chrono::steady_clock;

    void Print(Clock::time_point now, bool last) {
        const std::int64_t done = Done.load(), failed = Failed.load();
        const double seconds = std::chrono::duration<double>(now - Start).count();
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
        char text[160];
        const std::int64_t shown = Before + done;
        int length = std::snprintf(text, sizeof text, "sites %lld/%lld, %.1f sites/s", static_cast<long long>(shown),
                                   static_cast<long long>(Total), rate);
        if (!last && rate > 0) {
            const double left = static_cast<double>(Total - shown) / rate;
            length += std::snprintf(text + length, sizeof text - length, ", %.0f s left", std::ceil(left));
        }
        std::snprintf(text + length, sizeof text - length, ", %lld failed", static_cast<long long>(failed));
        if (Style == ProgressStyle::Terminal)
            Err << "\r\x1b[K" << text << (last ? "\n" : "") << std::flush;
        else
            Err << text << '\n' << std::flush;
    }

    ProgressStyle Style;
    std::ostream& Err;
    std::int64_t Total, Before;
    std::atomic<std::int64_t> Done{0}, Failed{0};
    Clock::time_point Start, Last;
    std::mutex Lock;
};

// The text of a chunk's parts, one string per site and kind.
using ChunkParts = std::array<std::vector<std::string>, PART_KIND_COUNT>;

// Writes the three parts of a chunk, each replaced atomically, then its
// done-file: a chunk is finished exactly when its done-file is there.
void WriteChunk(const fs::path& dir, const Manifest& manifest, std::int64_t chunk, std::int64_t firstSite,
                const ChunkParts& parts, std::int64_t failed, const std::string& shard) {
    std::string done = std::string(CHUNK_HEADER) + "\n" + manifest.IdentityLines();
    done += "chunk=" + std::to_string(chunk) + "\nfirst_site=" + std::to_string(firstSite) +
            "\nsite_count=" + std::to_string(parts[0].size()) + "\nfailed=" + std::to_string(failed) + "\n";
    for (int kind = 0; kind < PART_KIND_COUNT; ++kind) {
        DurableFileStream out(Utf8Name(PartPath(dir, chunk, kind)));
        std::size_t bytes = 0;
        for (const std::string& site : parts[kind]) {
            out.Write(site);
            bytes += site.size();
        }
        out.Commit();
        done += std::string(PART_KINDS[kind]) + "_bytes=" + std::to_string(bytes) + "\n";
    }
    done += "shard=" + shard + "\n";
    WriteFileAtomically(Utf8Name(DonePath(dir, chunk)), done);
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
        for (const char* name : {OUTPUT_NAMES[0], OUTPUT_NAMES[1], OUTPUT_NAMES[2], NETCDF_NAME})
            if (fs::exists(dir / name))
                throw KelmarError("The folder \"" + Utf8Name(dir) + "\" already holds \"" + name +
                                  "\" but no batch manifest; choose an empty folder so that nothing is overwritten.");
        // A name of this process's own, linked to the manifest's name only if
        // no other process has made one meanwhile.
        const fs::path temporary = dir / (std::string(MANIFEST_NAME) + ".new-" + std::to_string(::getpid()) + "-" +
                                          Hex(RandomSource().State()));
        WriteFileAtomically(Utf8Name(temporary), wanted.Text());
        std::error_code error;
        fs::create_hard_link(temporary, path, error);
        fs::remove(temporary);
        if (!error) return wanted;
        if (error != std::errc::file_exists)
            throw KelmarError("Cannot create the file \"" + Utf8Name(path) + "\" (" + error.message() + ").");
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
    return *found;
}

// Joins the parts of every chunk into the outputs of the manifest's format,
// in chunk order: the CSV tables for csv and both, results.nc for netcdf
// and both. The parts stay, so a merge can be repeated.
std::int64_t JoinParts(const fs::path& dir, const Manifest& manifest, std::ostream& err) {
    std::vector<std::int64_t> missing;
    std::vector<std::int64_t> foreignChunks;
    std::int64_t failed = 0;
    std::string shardCount;
    for (std::int64_t c = 0; c < manifest.Chunks(); ++c) {
        bool foreign = false;
        const std::optional<ChunkRecord> record = FinishedChunk(dir, manifest, c, &foreign);
        if (foreign) foreignChunks.push_back(c);
        if (!record) {
            if (!foreign) missing.push_back(c);
            continue;
        }
        failed += record->Failed;
        if (const std::size_t slash = record->Shard.find('/'); slash != std::string::npos)
            shardCount = record->Shard.substr(slash + 1);
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
    if (format != OutputFormat::NetCdf) {
        const std::string headers[] = {MonthlyHeader(), AnnualHeader(), std::string(ERRORS_HEADER)};
        for (int kind = 0; kind < 3; ++kind) {
            DurableFileStream out(Utf8Name(dir / OUTPUT_NAMES[kind]));
            out.Write(headers[kind]);
            for (std::int64_t c = 0; c < manifest.Chunks(); ++c) out.CopyFrom(Utf8Name(PartPath(dir, c, kind)));
            out.Commit();
        }
    }
    if (format != OutputFormat::Csv) {
        std::vector<ChunkPartFiles> chunks;
        for (std::int64_t c = 0; c < manifest.Chunks(); ++c)
            chunks.push_back({Utf8Name(PartPath(dir, c, SITES_PART)), Utf8Name(PartPath(dir, c, MONTHLY_PART)),
                              Utf8Name(PartPath(dir, c, ANNUAL_PART))});
        CfFileDescription description;
        description.Title = "KELMAR soil climate of " + std::to_string(manifest.Sites) + " sites";
        description.Source = "kelmar-cli batch: the soil-climate model run for each site of a site list "
                             "(site list FNV-1a 64 " + manifest.ListHash + ")";
        description.ProgramName = "kelmar-cli";
        description.ProgramVersion = manifest.Version;
        description.BaseSeed = manifest.BaseSeed;
        if (!WriteNetcdfFromParts(Utf8Name(dir / NETCDF_NAME), chunks, manifest.Sites, description))
            err << "kelmar-cli: no site of the batch has results, so " << NETCDF_NAME
                << " (which needs at least one year) was not written\n";
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
    SiteList list = ReadSiteList(options.SitesFile);
    const std::int64_t siteCount = static_cast<std::int64_t>(list.Sites.size());

    const fs::path dir = PathOf(options.OutDir);
    std::error_code error;
    fs::create_directories(dir / PARTS_FOLDER, error);
    if (error)
        throw KelmarError("Cannot create the folder \"" + Utf8Name(dir / PARTS_FOLDER) + "\" (" + error.message() + ").");

    Manifest wanted;
    wanted.Version = options.Version;
    wanted.ListHash = Hex(Fnv1a64(list.Bytes));
    std::string().swap(list.Bytes);  // only its hash is needed from here on: a long list's text is megabytes
    wanted.Sites = siteCount;
    wanted.BaseSeed = options.Seed ? *options.Seed : RandomSource().State();
    wanted.Format = FormatName(options.Format);
    const bool sharded = options.Share && options.Share->Count > 1;
    const Manifest manifest = SettleManifest(dir, wanted, options.Seed.has_value(), options.Resume, sharded);

    // Streams of sites without a seed of their own repeat beyond the period.
    std::int64_t lastStream = -1;
    for (std::int64_t i = 0; i < siteCount; ++i)
        if (!list.Sites[i].Seed) lastStream = i;
    if (lastStream >= static_cast<std::int64_t>(DISJOINT_STREAMS))
        err << "warning: the random streams of the sites repeat: the generator's period holds " << DISJOINT_STREAMS
            << " streams of " << UNIFORMS_PER_SITE << " draws, and the list places " << lastStream + 1
            << " sites; sites " << DISJOINT_STREAMS << " places apart draw overlapping weather\n";

    const auto seedOf = [&](std::int64_t i) {
        return list.Sites[i].Seed ? *list.Sites[i].Seed
                                  : RandomSource::Jump(manifest.BaseSeed, static_cast<std::uint64_t>(i) * UNIFORMS_PER_SITE);
    };

    std::vector<std::int64_t> pending;
    std::int64_t shareSites = 0, doneSites = 0, doneFailed = 0;
    for (std::int64_t c = 0; c < manifest.Chunks(); ++c) {
        if (sharded && c % options.Share->Count != options.Share->Index) continue;
        const std::int64_t sites = std::min<std::int64_t>(CHUNK_SITES, siteCount - c * CHUNK_SITES);
        shareSites += sites;
        if (options.Resume) {
            if (const auto record = FinishedChunk(dir, manifest, c)) {
                doneSites += sites;
                doneFailed += record->Failed;
                continue;
            }
        }
        pending.push_back(c);
    }

    Progress progress(options.Progress, err, shareSites, doneSites);
    WeatherTables tables;
    const std::string shard = ShardText(options.Share);
    std::atomic<bool> stop{false};
    std::mutex fatalLock;
    std::string fatal;
    std::atomic<std::int64_t> ranFailed{0};
    // One model per thread, remade in place for each site: the same state as
    // a model just made, without allocating and faulting in its megabyte of
    // tables again for every site.
    tbb::enumerable_thread_specific<std::unique_ptr<TModel>> models;
    tbb::enumerable_thread_specific<ChunkParts> chunkParts;
    const auto freshModel = [&]() -> TModel& {
        std::unique_ptr<TModel>& model = models.local();
        if (!model) {
            model = std::make_unique<TModel>();
        } else {
            std::destroy_at(model.get());
            std::construct_at(model.get());
        }
        return *model;
    };

    const int jobs = options.Jobs > 0 ? options.Jobs : tbb::info::default_concurrency();
    tbb::task_arena arena(jobs);
    arena.execute([&] {
        tbb::parallel_for_each(pending.begin(), pending.end(), [&](std::int64_t chunk) {
            if (stop.load()) return;
            const std::int64_t first = chunk * CHUNK_SITES;
            const std::size_t count = static_cast<std::size_t>(std::min<std::int64_t>(CHUNK_SITES, siteCount - first));
            // This thread's texts of its last chunk, emptied but keeping their
            // memory: no new pages to fault in and clear for every chunk.
            ChunkParts& parts = chunkParts.local();
            for (auto& part : parts) {
                part.resize(count);
                for (std::string& site : part) site.clear();
            }
            std::atomic<std::int64_t> failed{0};
            // Isolated, so that a thread waiting for this chunk's sites does
            // not start another chunk: memory stays one chunk per job.
            tbb::this_task_arena::isolate([&] {
                tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, 1), [&](const auto& range) {
                    for (std::size_t k = range.begin(); k != range.end(); ++k) {
                        if (stop.load()) return;
                        const SiteEntry& site = list.Sites[first + k];
                        const std::uint32_t seed = seedOf(first + static_cast<std::int64_t>(k));
                        bool ok = true;
                        try {
                            TModel& model = freshModel();
                            RunSite(model, site, seed, tables);
                            AppendSiteRows(model, site.Id, seed, parts[0][k], parts[1][k]);
                            AppendSiteIndexRow(parts[3][k], site.Id, seed, site.Lat, site.Lon, &model);
                        } catch (const std::exception& e) {
                            ok = false;
                            parts[0][k].clear();
                            parts[1][k].clear();
                            parts[3][k].clear();
                            AppendSiteIndexRow(parts[3][k], site.Id, seed, site.Lat, site.Lon, nullptr);
                            AppendErrorRow(parts[2][k], site.Id,
                                           std::string(e.what()) + "\nfor the site on line " + std::to_string(site.Line) +
                                               " of \"" + list.FileName + "\"");
                            failed.fetch_add(1);
                        }
                        progress.SiteDone(!ok);
                    }
                });
            });
            if (stop.load()) return;
            try {
                WriteChunk(dir, manifest, chunk, first, parts, failed.load(), shard);
                ranFailed.fetch_add(failed.load());
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> guard(fatalLock);
                if (fatal.empty()) fatal = e.what();
                stop.store(true);
            }
        });
    });
    progress.Finish();
    if (!fatal.empty())
        throw KelmarError(fatal + "\nThe batch stopped; the chunks finished so far are kept: run the same command with "
                                  "--resume to go on.");

    BatchSummary summary;
    summary.Sites = siteCount;
    summary.BaseSeed = manifest.BaseSeed;
    summary.Ran = shareSites - doneSites;
    if (sharded) {
        summary.Failed = doneFailed + ranFailed.load();
        err << "Shard " << shard << " finished its " << shareSites << " of " << siteCount
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
    BatchSummary summary;
    summary.Sites = manifest->Sites;
    summary.BaseSeed = manifest->BaseSeed;
    summary.Failed = JoinParts(dir, *manifest, err);
    summary.Merged = true;
    return summary;
}

}  // namespace kelmar::batch
