#include "app/batch/sinks/sink_list.h"

#include "app/batch/batch_run.h"
#include "app/batch/sinks/error_sink.h"
#include "app/batch/sinks/netcdf_sink.h"
#include "app/batch/sinks/summary_sink.h"
#include "app/batch/sinks/table_sink.h"
#include "model/errors.h"

namespace kelmar::batch {

SinkList MakeSinks(const Manifest& manifest, const std::string& listName) {
    const OutputFormat format = ParseOutputFormat(manifest.Format);
    const bool tasks = manifest.Tasks();
    const int realizations = static_cast<int>(manifest.Realizations());
    SinkList sinks;
    // With --summary the summary tables take the place of the monthly and annual ones (CSV only).
    if (!manifest.Summary && format != OutputFormat::NetCdf) sinks.push_back(std::make_unique<TableSink>(tasks));
    sinks.push_back(std::make_unique<ErrorSink>(tasks, listName));
    if (!manifest.Summary && format != OutputFormat::Csv) sinks.push_back(std::make_unique<NetcdfSink>(manifest.Replicates));
    if (manifest.Summary) sinks.push_back(std::make_unique<SummarySink>(realizations));
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
    for (const auto& sink : std::initializer_list<std::shared_ptr<BatchSink>>{
             std::make_shared<TableSink>(false), std::make_shared<ErrorSink>(false, std::string()),
             std::make_shared<SummarySink>(1), std::make_shared<NetcdfSink>(0)})
        for (const std::string& name : sink->Outputs()) names.push_back(name);
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
