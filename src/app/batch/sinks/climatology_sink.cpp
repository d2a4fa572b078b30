#include "app/batch/sinks/climatology_sink.h"

#include "app/batch/batch_tables.h"
#include "app/batch/climatology_values.h"
#include "io/cf_climatology.h"
#include "io/climatology_table.h"
#include "io/path_names.h"
#include "model/errors.h"

namespace kelmar::batch {

namespace {
constexpr const char* OUTPUT = "climatologies.csv";
constexpr const char* NETCDF_OUTPUT = "climatologies.nc";
constexpr std::int64_t ROWS_PER_SITE = 12;  // a site's months in the table

std::vector<StreamSpec> StreamsOf(bool netcdf) {
    std::vector<StreamSpec> streams{{"climatologies", ".climatologies.csv", ClimatologyTableHeader()}};
    // The values stream has no header: its records say what they hold.
    if (netcdf) streams.push_back({"climatology_values", ".climatologies.bin", std::string()});
    return streams;
}

CfClimatologyDescription DescriptionOf(const Manifest& manifest) {
    CfClimatologyDescription description;
    description.Title = "KELMAR climatologies of the sites of a batch";
    description.Source = "kelmar-cli batch --estimate-climate: the climatology each site of a site list ran with, "
                         "estimated from its weather_file, or its climate_file's for a site without one "
                         "(site list FNV-1a 64 " + manifest.ListHash + ")";
    description.ProgramName = "kelmar-cli";
    description.ProgramVersion = manifest.Version;
    description.ReferencePeriod = manifest.Reference.empty() ? "the whole span of each site's weather record"
                                                             : manifest.Reference;
    description.Deflate = static_cast<int>(manifest.NetcdfDeflate);
    return description;
}
}  // namespace

ClimatologySink::ClimatologySink(bool netcdf, bool toRun) : BatchSink(StreamsOf(netcdf)), Netcdf(netcdf) {
    if (netcdf && toRun) LoadCfClimatologyWriter();
}

// A folder holding either is not taken for a batch's, whatever the format.
std::vector<std::string> ClimatologySink::Outputs() const { return {OUTPUT, NETCDF_OUTPUT}; }

// The climatology as read or estimated: a scenario's changes are given back
// once its run ends (RunUnderScenario).
void ClimatologySink::MakeTexts(const TaskRun& run, std::span<std::string> texts) const {
    std::string& rows = texts[0];
    rows.clear();
    if (Netcdf) texts[1].clear();
    if (run.Failed) return;
    const SiteEntry& site = run.Where.Site;
    const std::string start = RowStart(site.Id);
    for (int m = 1; m <= 12; ++m) {
        rows.append(start).append(std::to_string(m));
        for (const ClimateField& field : CLIMATE_FIELDS) {
            rows.push_back(',');
            AppendShortest(rows, (run.Model.Climate.*field.Values)[m]);
        }
        rows.push_back('\n');
    }
    if (Netcdf) texts[1] = SiteClimatologyRecord(site.Id, site.Lat, site.Lon, run.Model.Climate);
}

// Every task of a site runs from the same climatology: the first that ran
// writes it.
void ClimatologySink::Add(const TaskRun& run, std::span<const std::string> texts,
                          std::span<ChunkStream* const> streams) {
    if (run.Where.FirstOfSite) SiteWritten = false;
    if (run.Failed || SiteWritten) return;
    for (std::size_t k = 0; k < streams.size(); ++k) streams[k]->Write(texts[k]);
    SiteWritten = true;
}

void ClimatologySink::Join(const JoinedChunks& chunks, std::ostream& err) const {
    JoinCsvTable(chunks, Streams()[0], 0, OUTPUT);
    if (Netcdf) JoinNetcdf(chunks, err);
}

void ClimatologySink::JoinNetcdf(const JoinedChunks& chunks, std::ostream& err) const {
    std::vector<ClimatologyChunk> values;
    std::int64_t sites = 0;
    for (const ChunkRecord& record : chunks.Records) {
        const ByteRange& range = chunks.Range(record, 1);
        // The table's rows of the chunk, twelve a site, count its records.
        const std::int64_t rows = record.Checks[chunks.FirstStream].Lines;
        if (rows < 0 || rows % ROWS_PER_SITE != 0)
            throw KelmarError("A done-file of the batch in \"" + Utf8Name(chunks.Dir) + "\" records " +
                              std::to_string(rows) + " climatology rows for a chunk, not twelve a site; remove it "
                              "and run the batch with --resume to make the chunk again.");
        values.push_back({Utf8Name(StreamPath(chunks.Dir, record.Stream, Streams()[1])), range.Offset, range.Bytes,
                          rows / ROWS_PER_SITE});
        sites += rows / ROWS_PER_SITE;
    }
    if (sites == 0) {
        err << "kelmar-cli: no site of the batch ran, so " << NETCDF_OUTPUT << " (which needs at least one site) "
            << "was not written\n";
        return;
    }
    WriteClimatologyNetcdf(Utf8Name(chunks.Dir / NETCDF_OUTPUT), values, DescriptionOf(chunks.Batch));
}

}  // namespace kelmar::batch
