#include "app/batch/sinks/netcdf_sink.h"

#include <algorithm>
#include <climits>

#include "app/batch/batch_netcdf.h"
#include "app/batch/netcdf_stream.h"
#include "io/cf_netcdf.h"
#include "io/path_names.h"

namespace kelmar::batch {

namespace {
constexpr const char* NETCDF_NAME = "results.nc";
constexpr const char* ANNUAL_NETCDF_NAME = "results_annual.nc";

// What the files hold besides their sites and years.
CfFileDescription DescriptionOf(const Manifest& manifest) {
    CfFileDescription description;
    description.Title = "KELMAR soil climate of " + std::to_string(manifest.Sites) + " sites";
    description.Source = "kelmar-cli batch: the soil-climate model run for each site of a site list "
                         "(site list FNV-1a 64 " + manifest.ListHash + ")";
    description.ProgramName = "kelmar-cli";
    description.ProgramVersion = manifest.Version;
    description.BaseSeed = manifest.BaseSeed;
    description.Scenarios = manifest.ScenarioNames;
    description.Realizations = static_cast<int>(manifest.Replicates);
    description.Rng = manifest.Rng;
    description.Precision = manifest.NetcdfPrecision == "single" ? CfPrecision::Single : CfPrecision::Double;
    description.Deflate = static_cast<int>(manifest.NetcdfDeflate);
    description.BlockSites = static_cast<int>(manifest.ChunkSites);
    return description;
}
}  // namespace

// The values stream has no header: its records say what they hold.
NetcdfSink::NetcdfSink(std::int64_t replicates, bool toRun, bool estimateClimate)
    : BatchSink({{"values", ".values.bin", std::string()}}), Replicates(replicates), EstimateClimate(estimateClimate) {
    if (toRun) LoadCfNetcdfWriter();
}

NetcdfSink::~NetcdfSink() = default;

NetcdfStream& NetcdfSink::StartStream(const std::filesystem::path& dir, const Manifest& manifest,
                                      const std::vector<TScenario>& scenarios, std::function<void(TaskSlot*)> giveBack) {
    CfFileDescription description = DescriptionOf(manifest);
    description.SiteCount = static_cast<int>(std::min<std::int64_t>(manifest.Sites, INT_MAX));
    description.FirstYear = manifest.StartYear;
    description.LastYear = manifest.StartYear + manifest.RunYears - 1;
    for (const TScenario& scenario : scenarios) description.ScenarioDefinitions.push_back(RecordedScenario(scenario));
    Stream = std::make_unique<NetcdfStream>(Utf8Name(dir / NETCDF_NAME), Utf8Name(dir / ANNUAL_NETCDF_NAME),
                                            std::move(description), std::max<int>(static_cast<int>(Replicates), 1),
                                            std::move(giveBack));
    return *Stream;
}

std::vector<std::string> NetcdfSink::Outputs() const { return {NETCDF_NAME, ANNUAL_NETCDF_NAME}; }

void NetcdfSink::MakeTexts(const TaskRun& run, std::span<std::string> texts) const {
    const SiteEntry& site = run.Where.Site;
    const bool oneRealization = Replicates > 0 && !site.WeatherFile.empty() && !EstimateClimate;
    texts[0] = SiteValuesHeader(site.Id, run.Seed, site.Lat, site.Lon, run.Failed ? nullptr : &run.Model,
                                run.Where.Scenario, run.Where.Replicate, oneRealization, run.Where.Changes);
}

void NetcdfSink::Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) {
    streams[0]->Write(texts[0]);
    if (!run.Failed) streams[0]->Write(SiteValuesRecords(run.Model));
}

void NetcdfSink::Join(const JoinedChunks& chunks, std::ostream& err) const {
    const Manifest& manifest = chunks.Batch;
    std::vector<ChunkValues> values;
    std::optional<std::int32_t> firstYear, lastYear;
    for (std::size_t c = 0; c < chunks.Records.size(); ++c) {
        const ChunkRecord& record = chunks.Records[c];
        const ByteRange& range = chunks.Range(record, 0);
        values.push_back({Utf8Name(StreamPath(chunks.Dir, record.Stream, Streams()[0])), range.Offset, range.Bytes,
                          manifest.SitesOfChunk(static_cast<std::int64_t>(c))});
        if (!record.FirstYear) continue;
        if (!firstYear || *record.FirstYear < *firstYear) firstYear = record.FirstYear;
        if (!lastYear || *record.LastYear > *lastYear) lastYear = record.LastYear;
    }
    // The files written while the sites ran, when they hold the whole
    // batch; otherwise they are dropped and joined from the values.
    if (Stream && Stream->Finish(manifest.Sites, firstYear.value_or(0), lastYear.value_or(0))) {
        StreamedFiles = true;
        return;
    }
    if (!firstYear) {
        // Nor is the annual file; the message is kept as it has always read.
        err << "kelmar-cli: no site of the batch has results, so " << NETCDF_NAME
            << " (which needs at least one year) was not written\n";
        return;
    }
    WriteNetcdfFromValues(Utf8Name(chunks.Dir / NETCDF_NAME), Utf8Name(chunks.Dir / ANNUAL_NETCDF_NAME), values,
                          manifest.Sites, *firstYear, *lastYear, DescriptionOf(manifest));
}

}  // namespace kelmar::batch
