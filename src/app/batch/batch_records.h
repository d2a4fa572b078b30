// The two small text files that hold a batch together on the disk, and
// nothing else: the manifest (what identifies the batch) and a chunk's
// done-file (where the chunk's bytes lie in the streams of the process that
// ran it). Both are lines of key=value under a header line. Finished batches
// on the disk are resumed and merged with these texts, so their bytes are
// kept as they are: a key is written only when its value differs from what a
// batch without it means, and the keys keep their order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batch_run.h"
#include "app/batch/stream_digest.h"

namespace kelmar::batch {

inline constexpr const char* MANIFEST_HEADER = "kelmar-batch-manifest 1";
inline constexpr const char* CHUNK_HEADER = "kelmar-batch-chunk 3";

// What makes two runs parts of the same batch.
struct Manifest {
    std::string Version;
    std::string ListHash;  // FNV-1a 64 of the site list, 16 hex digits
    std::int64_t Sites = 0;
    std::int64_t ChunkSites = CHUNK_SITES;
    std::uint32_t BaseSeed = 0;
    std::string Format;
    // Written only when given, so that a batch without them keeps its bytes.
    std::string ScenariosHash;      // empty: no scenario list
    std::int64_t Scenarios = 0;
    std::int64_t Replicates = 0;    // 0: not asked for
    bool Summary = false;           // summary tables instead of the monthly and annual ones
    std::string Rng = "lcg32";      // the generator: lcg32 or pcg64 (--rng)
    // The scenarios' names, for the netCDF file a merge writes; the list's
    // hash identifies them.
    std::vector<std::string> ScenarioNames;
    // The files the sites name (batch_inputs.h): their identities folded
    // into one digest, which the done-files repeat, and each file's, in the
    // order the list first names them, to tell which one changed.
    std::string InputsHash;
    std::vector<std::string> InputIdentities;
    // The simulated-weather sites' first calendar year and years
    // (BatchOptions); written only when not 1 and MAX_YEARS.
    std::int32_t StartYear = 1;
    std::int32_t RunYears = MAX_YEARS;
    // The type and deflate level of the netCDF files' data variables
    // (--netcdf-precision, --netcdf-deflate); written only when not these,
    // among the identity lines.
    std::string NetcdfPrecision = "double";
    std::int64_t NetcdfDeflate = 0;
    // Significant digits of the CSV tables' numbers (--csv-digits); 0: the
    // shortest text that reads back to the same double. Written only when
    // not 0, so that a batch without it keeps its bytes.
    std::int64_t CsvDigits = 0;
    // The sites with a weather_file run simulated weather from a
    // climatology estimated from their record (--estimate-climate), over
    // the reference years "Y1-Y2" (--reference; empty: each record's whole
    // span), and the climatologies go to climatologies.csv
    // (--save-climate). Written only when asked for, after the other
    // identity lines, so that a batch without them keeps its bytes.
    bool EstimateClimate = false;
    std::string Reference;
    bool SaveClimate = false;
    // XXH3 of the --grid options (GridOptionsDigest); empty: no --grid.
    std::string GridOptions;
    // Set once the outputs are joined and in place, to the failed sites
    // they hold: the batch is finished and its parts may go (a kill while
    // they go leaves this, so that a later command finishes the removal).
    // No identity: the done-files do not repeat it.
    std::optional<std::int64_t> JoinedFailed;

    // The tables have scenario and replicate columns.
    bool Tasks() const { return !ScenariosHash.empty() || Replicates > 0; }
    // Replicates of each simulated site: the spacing of the sites' streams.
    std::int64_t Realizations() const { return Replicates > 1 ? Replicates : 1; }
    std::int64_t Chunks() const { return (Sites + ChunkSites - 1) / ChunkSites; }
    // Sites of chunk `chunk`: ChunkSites, fewer in the last.
    std::int64_t SitesOfChunk(std::int64_t chunk) const;

    // The lines a done-file repeats, so that a chunk of another batch is
    // told from one of this.
    std::string IdentityLines() const;
    // The manifest file.
    std::string Text() const;
    // Nothing when `text` is not a whole manifest (another header, a
    // missing or bad key).
    static std::optional<Manifest> Parse(const std::string& text);
};

struct ByteRange {
    std::uint64_t Offset = 0;
    std::uint64_t Bytes = 0;
    std::uint64_t End() const { return Offset + Bytes; }
};

// A finished chunk as its done-file records it.
struct ChunkRecord {
    std::int64_t Failed = 0;     // sites, not tasks
    std::int64_t SiteCount = -1;
    std::string Shard;           // "K/N"
    std::string Stream;          // the stem of the streams
    // One per stream of the batch, in the order of the names given to
    // ChunkText and ParseChunk.
    std::vector<ByteRange> Ranges;
    // The digest (and for text streams the line ends) of each range, made
    // as the bytes were written: what a merge or --resume checks the
    // streams against.
    std::vector<StreamCheck> Checks;
    std::optional<std::int32_t> FirstYear, LastYear;  // of its sites with results
};

// The done-file of chunk `chunk` of the batch `manifest`; `streams` names
// the streams ("monthly", ...) of `record.Ranges`, in their order. Its last
// line is the digest of every line before it, so that a record edited by
// hand (a count lowered, a range moved) is no record.
std::string ChunkText(const Manifest& manifest, std::int64_t chunk, const ChunkRecord& record,
                      const std::vector<std::string>& streams);

enum class ChunkVerdict {
    Recorded,  // a whole record of this chunk of this batch
    Foreign,   // the done-file of another batch (another version, list, seed, ...)
    Broken,    // of this batch, but not a whole record of this chunk
};

// Reads a done-file back; `record` is set only when Recorded. A stream
// stem that is not a plain name of the parts folder (a path elsewhere, a
// hidden name), counts that do not fit the chunk and a text whose digest
// line does not match it are Broken.
ChunkVerdict ParseChunk(const std::string& text, const Manifest& manifest, std::int64_t chunk,
                        const std::vector<std::string>& streams, ChunkRecord& record);

// What `found`, the manifest of a batch, holds of the simulated years that
// `wanted` does not, as "--start-year 1961 (this run: --start-year 1)";
// empty when they agree.
std::string SimulatedYearsDifference(const Manifest& found, const Manifest& wanted);

// What `found` holds of --estimate-climate, --reference and --save-climate
// that `wanted` does not, as "--reference 1961-1990 (this run: no
// --reference)"; empty when they agree.
std::string ClimateEstimateDifference(const Manifest& found, const Manifest& wanted);

// Whole decimal text, or `fallback`.
std::int64_t ToInt(const std::string& text, std::int64_t fallback = -1);

}  // namespace kelmar::batch
