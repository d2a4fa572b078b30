#include "app/batch/batch_records.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <string_view>
#include <system_error>

#include "app/batch/batch_inputs.h"
#include "app/climate_estimate.h"
#include "app/random_streams.h"
#include "io/csv_text.h"
#include "model/errors.h"
#include "model/run_model.h"

namespace kelmar::batch {

namespace {

// The done-file's last line: the digest of the lines before it.
constexpr const char* RECORD_DIGEST_KEY = "done_xxh3";

using KeyValues = std::map<std::string, std::string>;

// The key=value lines after the header line `header`; empty when the first
// line is not `header`. A later line without '=' is passed over.
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

std::string Get(const KeyValues& values, const std::string& key) {
    const auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
}

}  // namespace

std::string SimulatedYearsDifference(const Manifest& found, const Manifest& wanted) {
    std::string was, is;
    const auto add = [&](const char* option, std::int32_t before, std::int32_t now) {
        if (before == now) return;
        const std::string separator = was.empty() ? "" : " ";
        was += separator + option + " " + std::to_string(before);
        is += separator + option + " " + std::to_string(now);
    };
    add("--start-year", found.StartYear, wanted.StartYear);
    add("--run-years", found.RunYears, wanted.RunYears);
    return was.empty() ? std::string() : was + " (this run: " + is + ")";
}

std::string ClimateEstimateDifference(const Manifest& found, const Manifest& wanted) {
    const auto describe = [](const Manifest& m) {
        std::string options = m.EstimateClimate ? "--estimate-climate" : "no --estimate-climate";
        if (!m.Reference.empty()) options += " --reference " + m.Reference;
        if (m.SaveClimate) options += " --save-climate";
        return options;
    };
    const std::string was = describe(found), is = describe(wanted);
    return was == is ? std::string() : was + " (this run: " + is + ")";
}

std::int64_t ToInt(const std::string& text, std::int64_t fallback) {
    std::int64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && !text.empty() ? value : fallback;
}

std::int64_t Manifest::SitesOfChunk(std::int64_t chunk) const {
    return std::min(ChunkSites, Sites - chunk * ChunkSites);
}

std::string Manifest::IdentityLines() const {
    std::string lines = "version=" + Version + "\nsite_list_fnv1a64=" + ListHash + "\nsites=" + std::to_string(Sites) +
                        "\nchunk_sites=" + std::to_string(ChunkSites) + "\nbase_seed=" + std::to_string(BaseSeed) + "\n";
    if (!ScenariosHash.empty())
        lines += "scenario_list_fnv1a64=" + ScenariosHash + "\nscenarios=" + std::to_string(Scenarios) + "\n";
    if (Replicates > 0) lines += "replicates=" + std::to_string(Replicates) + "\n";
    if (Summary) lines += "summary=1\n";
    if (Rng != "lcg32") lines += "rng=" + Rng + "\n";
    // Before the format's line, so that a manifest cut after either is no manifest.
    if (NetcdfPrecision != "double") lines += "netcdf_precision=" + NetcdfPrecision + "\n";
    if (NetcdfDeflate != 0) lines += "netcdf_deflate=" + std::to_string(NetcdfDeflate) + "\n";
    if (!InputsHash.empty()) lines += "inputs_xxh3=" + InputsHash + "\n";
    if (StartYear != 1) lines += "start_year=" + std::to_string(StartYear) + "\n";
    if (RunYears != MAX_YEARS) lines += "run_years=" + std::to_string(RunYears) + "\n";
    if (CsvDigits != 0) lines += "csv_digits=" + std::to_string(CsvDigits) + "\n";
    if (EstimateClimate) lines += "estimate_climate=1\n";
    if (!Reference.empty()) lines += "reference=" + Reference + "\n";
    if (SaveClimate) lines += "save_climate=1\n";
    if (!GridOptions.empty()) lines += "grid_options_xxh3=" + GridOptions + "\n";
    return lines;
}

std::string Manifest::Text() const {
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
    if (!InputsHash.empty()) {
        std::string identities;
        for (const std::string& identity : InputIdentities) identities += (identities.empty() ? "" : ",") + identity;
        text += "input_files=" + identities + "\n";
    }
    if (JoinedFailed) text += "joined_failed_sites=" + std::to_string(*JoinedFailed) + "\n";
    return text;
}

std::optional<Manifest> Manifest::Parse(const std::string& text) {
    // Its last line ends like every other: a file without it was cut short.
    if (text.empty() || text.back() != '\n') return std::nullopt;
    const KeyValues v = ParseKeyValues(text, MANIFEST_HEADER);
    if (v.empty()) return std::nullopt;
    Manifest m;
    m.Version = Get(v, "version");
    m.ListHash = Get(v, "site_list_fnv1a64");
    m.Sites = ToInt(Get(v, "sites"));
    m.ChunkSites = ToInt(Get(v, "chunk_sites"));
    const std::int64_t seed = ToInt(Get(v, "base_seed"));
    m.Format = Get(v, "format");
    m.ScenariosHash = Get(v, "scenario_list_fnv1a64");
    m.Scenarios = ToInt(Get(v, "scenarios"), 0);
    m.Replicates = ToInt(Get(v, "replicates"), 0);
    m.Summary = Get(v, "summary") == "1";
    if (const std::string rng = Get(v, "rng"); !rng.empty()) m.Rng = rng;
    if (const std::string names = Get(v, "scenario_names"); !names.empty()) {
        try {
            // Read as a piece of a file, not a whole one, so that a name
            // starting with a byte-order mark keeps it (a whole file's
            // reader drops one at its start).
            CsvReader reader(names, "manifest.txt", 1);
            reader.Next(m.ScenarioNames);
        } catch (const KelmarError&) {
            return std::nullopt;
        }
    }
    if (const std::string precision = Get(v, "netcdf_precision"); !precision.empty()) m.NetcdfPrecision = precision;
    if (const std::string deflate = Get(v, "netcdf_deflate"); !deflate.empty()) m.NetcdfDeflate = ToInt(deflate, -1);
    if ((m.NetcdfPrecision != "double" && m.NetcdfPrecision != "single") || m.NetcdfDeflate < 0 || m.NetcdfDeflate > 9)
        return std::nullopt;
    m.InputsHash = Get(v, "inputs_xxh3");
    if (const std::string digits = Get(v, "csv_digits"); !digits.empty()) {
        m.CsvDigits = ToInt(digits);
        if (m.CsvDigits < 1 || m.CsvDigits > 17) return std::nullopt;
    }
    const std::string estimate = Get(v, "estimate_climate"), save = Get(v, "save_climate");
    m.EstimateClimate = estimate == "1";
    m.SaveClimate = save == "1";
    m.Reference = Get(v, "reference");
    if ((!estimate.empty() && !m.EstimateClimate) || (!save.empty() && !m.SaveClimate)) return std::nullopt;
    if (!m.Reference.empty()) {
        if (!m.EstimateClimate) return std::nullopt;
        try {
            if (ParseReferenceYears(m.Reference).Text() != m.Reference) return std::nullopt;
        } catch (const KelmarError&) {
            return std::nullopt;
        }
    }
    m.GridOptions = Get(v, "grid_options_xxh3");
    if (const std::string identities = Get(v, "input_files"); !identities.empty())
        for (std::size_t start = 0; start <= identities.size();) {
            const std::size_t end = std::min(identities.find(',', start), identities.size());
            m.InputIdentities.push_back(identities.substr(start, end - start));
            start = end + 1;
        }
    // The digest is of the identities: a manifest whose two disagree was changed.
    if (m.InputsHash != (m.InputsHash.empty() && m.InputIdentities.empty() ? std::string()
                                                                             : FoldIdentities(m.InputIdentities)))
        return std::nullopt;
    // Absent: the defaults; present, a whole number in range.
    const std::string startText = Get(v, "start_year"), runText = Get(v, "run_years");
    const std::int64_t startYear = startText.empty() ? 1 : ToInt(startText);
    const std::int64_t runYears = runText.empty() ? MAX_YEARS : ToInt(runText);
    if (runYears < 1 || runYears > MAX_YEARS || startYear < 1 ||
        startYear > LastSimulatedYearBeg(static_cast<std::int32_t>(runYears)))
        return std::nullopt;
    m.StartYear = static_cast<std::int32_t>(startYear);
    m.RunYears = static_cast<std::int32_t>(runYears);
    if (const std::string joined = Get(v, "joined_failed_sites"); !joined.empty()) {
        m.JoinedFailed = ToInt(joined);
        if (*m.JoinedFailed < 0 || *m.JoinedFailed > m.Sites) return std::nullopt;
    }
    if (static_cast<std::int64_t>(m.ScenarioNames.size()) != m.Scenarios) return std::nullopt;
    if ((!m.ScenariosHash.empty() && m.Scenarios <= 0) || m.Replicates < 0 || !streams::KindNamed(m.Rng))
        return std::nullopt;
    if (m.Version.empty() || m.ListHash.empty() || m.Sites <= 0 || m.ChunkSites <= 0 || seed < 0 ||
        seed > 0xFFFFFFFFll || m.Format.empty())
        return std::nullopt;
    m.BaseSeed = static_cast<std::uint32_t>(seed);
    return m;
}

std::string ChunkText(const Manifest& manifest, std::int64_t chunk, const ChunkRecord& record,
                      const std::vector<std::string>& streams) {
    std::string done = std::string(CHUNK_HEADER) + "\n" + manifest.IdentityLines();
    done += "chunk=" + std::to_string(chunk) + "\nfirst_site=" + std::to_string(chunk * manifest.ChunkSites) +
            "\nsite_count=" + std::to_string(record.SiteCount) + "\nfailed=" + std::to_string(record.Failed) +
            "\nstream=" + record.Stream + "\n";
    for (std::size_t k = 0; k < streams.size(); ++k) {
        done += streams[k] + "_offset=" + std::to_string(record.Ranges[k].Offset) + "\n" + streams[k] +
                "_bytes=" + std::to_string(record.Ranges[k].Bytes) + "\n";
        done += streams[k] + "_xxh3=" + DigestHex(record.Checks[k].Hash) + "\n";
        if (record.Checks[k].Lines >= 0) done += streams[k] + "_lines=" + std::to_string(record.Checks[k].Lines) + "\n";
    }
    if (record.FirstYear)
        done += "first_year=" + std::to_string(*record.FirstYear) + "\nlast_year=" + std::to_string(*record.LastYear) + "\n";
    done += "shard=" + record.Shard + "\n";
    done += std::string(RECORD_DIGEST_KEY) + "=" + DigestHex(DigestOf(done)) + "\n";
    return done;
}

ChunkVerdict ParseChunk(const std::string& text, const Manifest& manifest, std::int64_t chunk,
                        const std::vector<std::string>& streams, ChunkRecord& record) {
    const std::string prefix = std::string(CHUNK_HEADER) + "\n" + manifest.IdentityLines();
    if (text.compare(0, prefix.size(), prefix) != 0)
        // A file cut short within the lines of this batch is no other batch's.
        return text.size() < prefix.size() && prefix.compare(0, text.size(), text) == 0 ? ChunkVerdict::Broken
                                                                                        : ChunkVerdict::Foreign;
    // The identity ends where the chunk's own lines begin: a batch whose
    // last keys this one lacks (years asked for, say) is another batch.
    const std::string_view chunkKey = "chunk=", after = std::string_view(text).substr(prefix.size());
    if (after.substr(0, chunkKey.size()) != chunkKey.substr(0, std::min(after.size(), chunkKey.size())))
        return ChunkVerdict::Foreign;
    // The digest's line comes last: a file without it, or without the line
    // end after it, was cut short; one whose lines differ from the digest
    // was changed after it was written.
    if (text.back() != '\n') return ChunkVerdict::Broken;
    const std::size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
    const std::string digestLine = std::string(RECORD_DIGEST_KEY) + "=";
    if (text.compare(lastLine, digestLine.size(), digestLine) != 0 ||
        text.substr(lastLine + digestLine.size(), text.size() - 1 - lastLine - digestLine.size()) !=
            DigestHex(DigestOf(std::string_view(text).substr(0, lastLine))))
        return ChunkVerdict::Broken;
    const KeyValues v = ParseKeyValues(text, CHUNK_HEADER);
    if (ToInt(Get(v, "chunk")) != chunk) return ChunkVerdict::Broken;
    ChunkRecord parsed;
    parsed.Stream = Get(v, "stream");
    // A stem of this folder's own, never a path elsewhere.
    if (parsed.Stream.empty() || parsed.Stream.find_first_of("/\\") != std::string::npos || parsed.Stream[0] == '.')
        return ChunkVerdict::Broken;
    for (const std::string& stream : streams) {
        const std::int64_t offset = ToInt(Get(v, stream + "_offset"));
        const std::int64_t bytes = ToInt(Get(v, stream + "_bytes"));
        if (offset < 0 || bytes < 0) return ChunkVerdict::Broken;
        parsed.Ranges.push_back({static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(bytes)});
        const std::string hash = Get(v, stream + "_xxh3");
        const std::string lines = Get(v, stream + "_lines");
        StreamCheck check;
        check.Lines = lines.empty() ? -1 : ToInt(lines, -2);
        if (hash.size() != 16 || hash.find_first_not_of("0123456789abcdef") != std::string::npos || check.Lines < -1)
            return ChunkVerdict::Broken;
        check.Hash = std::stoull(hash, nullptr, 16);
        parsed.Checks.push_back(check);
    }
    parsed.Failed = ToInt(Get(v, "failed"), -1);
    parsed.SiteCount = ToInt(Get(v, "site_count"), -1);
    // Every site of the chunk is in it, and no more fail than it holds.
    if (parsed.SiteCount != manifest.SitesOfChunk(chunk) || parsed.Failed < 0 || parsed.Failed > parsed.SiteCount)
        return ChunkVerdict::Broken;
    parsed.Shard = Get(v, "shard");
    try {
        ParseShard(parsed.Shard);
    } catch (const KelmarError&) {
        return ChunkVerdict::Broken;
    }
    const std::string firstText = Get(v, "first_year"), lastText = Get(v, "last_year");
    if (firstText.empty() != lastText.empty()) return ChunkVerdict::Broken;  // a year span needs both ends
    const std::int64_t first = ToInt(firstText, -1), last = ToInt(lastText, -1);
    if (first > 0 && last >= first) {
        parsed.FirstYear = static_cast<std::int32_t>(first);
        parsed.LastYear = static_cast<std::int32_t>(last);
    }
    record = std::move(parsed);
    return ChunkVerdict::Recorded;
}

}  // namespace kelmar::batch
