#include "app/region/region_batch.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>

#include "app/batch/batch_folder.h"
#include "app/region/region_source.h"
#include "model/errors.h"

namespace kelmar::region {

namespace {

namespace fs = std::filesystem;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
// Chunks and site ids named in a message before "and N more".
constexpr std::size_t SHOWN = 10;

// "1.2.3" as numbers, for comparing versions; parts that are no number count 0.
std::vector<long> VersionParts(const std::string& version) {
    std::vector<long> parts;
    std::stringstream in(version);
    std::string part;
    while (std::getline(in, part, '.')) {
        char* end = nullptr;
        parts.push_back(std::strtol(part.c_str(), &end, 10));
    }
    return parts;
}
bool Newer(const std::string& found, const std::string& mine) {
    const std::vector<long> a = VersionParts(mine), b = VersionParts(found);
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The manifest of `dir`, refused when there is none, it is newer than this
// program or its batch is not finished.
batch::Manifest FinishedManifest(const fs::path& dir, const std::string& programVersion) {
    const std::string name = dir.string();
    const auto text = batch::ReadSmallFile(dir / batch::MANIFEST_NAME);
    if (!text)
        throw KelmarError("The folder \"" + name + "\" holds no batch: it has no " + batch::MANIFEST_NAME + ".");
    const std::string header = text->substr(0, text->find('\n'));
    const std::string prefix = "kelmar-batch-manifest ";
    if (header.starts_with(prefix) && header != batch::MANIFEST_HEADER)
        throw KelmarError("The manifest of the batch in \"" + name + "\" is of a newer format (" + header +
                          "; this program reads " + batch::MANIFEST_HEADER + "): open it with the program that wrote it.");
    const auto manifest = batch::Manifest::Parse(*text);
    if (!manifest) throw KelmarError("The manifest of the batch in \"" + name + "\" cannot be read.");
    if (Newer(manifest->Version, programVersion))
        throw KelmarError("The batch in \"" + name + "\" was written by kelmar-cli " + manifest->Version +
                          ", newer than this program (" + programVersion + "): open it with that version or later.");
    if (manifest->JoinedFailed) return *manifest;
    std::vector<std::string> missing;
    std::int64_t missingCount = 0;
    for (std::int64_t chunk = 0; chunk < manifest->Chunks(); ++chunk) {
        if (fs::exists(batch::DonePath(dir, chunk))) continue;
        if (missing.size() < SHOWN) missing.push_back(std::to_string(chunk));
        ++missingCount;
    }
    const std::string chunks = std::to_string(manifest->Chunks());
    if (missingCount == 0)
        throw KelmarError("The batch in \"" + name + "\" has all " + chunks +
                          " chunks done but its outputs are not joined: run kelmar-cli merge \"" + name + "\".");
    std::string list = Joined(missing);
    if (missingCount > static_cast<std::int64_t>(SHOWN))
        list += " and " + std::to_string(missingCount - static_cast<std::int64_t>(SHOWN)) + " more";
    throw KelmarError("The batch in \"" + name + "\" is not finished: chunks " + list + " of " + chunks +
                      " (numbered from 0) are not done. Finish it with kelmar-cli batch --resume, or merge its shards.");
}

}  // namespace

double Percentile(std::vector<double>& values, double p) {
    if (values.empty()) return NaN;
    std::sort(values.begin(), values.end());
    const double rank = (static_cast<double>(values.size()) - 1) * p / 100;
    const auto below = static_cast<std::size_t>(std::floor(rank));
    const std::size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (rank - static_cast<double>(below)) * (values[above] - values[below]);
}

RegionBatch::RegionBatch(std::unique_ptr<RegionSource> source) : Source(std::move(source)) {}
RegionBatch::RegionBatch(RegionBatch&&) noexcept = default;
RegionBatch& RegionBatch::operator=(RegionBatch&&) noexcept = default;
RegionBatch::~RegionBatch() = default;

RegionBatch RegionBatch::Open(const std::string& dir, const std::string& programVersion, const std::string& sitesFile) {
    const batch::Manifest manifest = FinishedManifest(dir, programVersion);
    if (manifest.Summary)
        throw KelmarError("The batch in \"" + dir + "\" ran with --summary: it holds summaries across the replicates "
                          "(summary_monthly.csv), not each site's results, and maps are made from the latter. Run "
                          "the batch without --summary (with --format netcdf or both for the fastest maps).");
    if (fs::exists(fs::path(dir) / "results.nc")) {
        std::unique_ptr<RegionSource> source = NetcdfSource(dir);
        const std::string version = source->ResultsVersion();
        if (Newer(version, programVersion))
            throw KelmarError("The results file \"" + (fs::path(dir) / "results.nc").string() +
                              "\" was written by kelmar-cli " + version + ", newer than this program (" +
                              programVersion + "): open it with that version or later.");
        return RegionBatch(std::move(source));
    }
    return RegionBatch(CsvSource(dir, manifest, sitesFile));
}

const RegionContents& RegionBatch::Contents() const { return Source->Contents(); }
RegionSite RegionBatch::SiteInfo(std::int64_t index) {
    if (index < 0 || index >= Contents().Sites)
        throw KelmarError("The batch has sites 0 to " + std::to_string(Contents().Sites - 1) + ", not " +
                          std::to_string(index) + ".");
    return Source->Site(index);
}
std::uint64_t RegionBatch::ValuesRead() const { return Source->ValuesRead(); }

}  // namespace kelmar::region
