#include "app/batch/sinks/sink_list.h"

#include "app/batch/batch_run.h"
#include "app/batch/sinks/climatology_sink.h"
#include "app/batch/sinks/error_sink.h"
#include "app/batch/sinks/netcdf_sink.h"
#include "app/batch/sinks/summary_sink.h"
#include "app/batch/sinks/table_sink.h"
#include "model/errors.h"

namespace kelmar::batch {

namespace {

// Every kind of output, with the batches that have it. The order is that of
// the streams in the done-files (kept, as finished batches are read with
// it) and of the outputs a folder without a manifest is checked for.
struct SinkKind {
    bool (*Wanted)(OutputFormat format, const Manifest& manifest);
    std::unique_ptr<BatchSink> (*Make)(const Manifest& manifest, const std::string& listName);
};

const SinkKind SINK_KINDS[] = {
    // With --summary the summary tables take the place of the monthly and annual ones (CSV only).
    {[](OutputFormat format, const Manifest& m) { return !m.Summary && format != OutputFormat::NetCdf; },
     [](const Manifest& m, const std::string&) -> std::unique_ptr<BatchSink> { return std::make_unique<TableSink>(m.Tasks(), static_cast<int>(m.CsvDigits)); }},
    // In every format: the failed sites' messages have no other home.
    {[](OutputFormat, const Manifest&) { return true; },
     [](const Manifest& m, const std::string& listName) -> std::unique_ptr<BatchSink> {
         return std::make_unique<ErrorSink>(m.Tasks(), listName);
     }},
    {[](OutputFormat, const Manifest& m) { return m.Summary; },
     [](const Manifest& m, const std::string&) -> std::unique_ptr<BatchSink> {
         return std::make_unique<SummarySink>(static_cast<int>(m.Realizations()), static_cast<int>(m.CsvDigits));
     }},
    {[](OutputFormat format, const Manifest& m) { return !m.Summary && format != OutputFormat::Csv; },
     [](const Manifest& m, const std::string& listName) -> std::unique_ptr<BatchSink> {
         return std::make_unique<NetcdfSink>(m.Replicates, !listName.empty(), m.EstimateClimate);
     }},
    // Last, so that the done-files of batches without it keep their lines.
    // climatologies.csv in every format (the file a later run reads back),
    // climatologies.nc too with a netCDF format.
    {[](OutputFormat, const Manifest& m) { return m.SaveClimate; },
     [](const Manifest& m, const std::string& listName) -> std::unique_ptr<BatchSink> {
         return std::make_unique<ClimatologySink>(m.Format == "netcdf" || m.Format == "both", !listName.empty());
     }},
};

}  // namespace

SinkList MakeSinks(const Manifest& manifest, const std::string& listName) {
    const OutputFormat format = ParseOutputFormat(manifest.Format);
    SinkList sinks;
    for (const SinkKind& kind : SINK_KINDS)
        if (kind.Wanted(format, manifest)) sinks.push_back(kind.Make(manifest, listName));
    return sinks;
}

std::vector<StreamSpec> StreamsOf(const SinkList& sinks) {
    std::vector<StreamSpec> streams;
    for (const auto& sink : sinks) streams.insert(streams.end(), sink->Streams().begin(), sink->Streams().end());
    return streams;
}

std::vector<std::size_t> StreamStarts(const SinkList& sinks) {
    std::vector<std::size_t> starts{0};
    for (const auto& sink : sinks) starts.push_back(starts.back() + sink->Streams().size());
    return starts;
}

std::vector<std::string> EveryOutputName() {
    std::vector<std::string> names;
    for (const SinkKind& kind : SINK_KINDS)
        for (const std::string& name : kind.Make(Manifest(), std::string())->Outputs()) names.push_back(name);
    return names;
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

}  // namespace kelmar::batch
