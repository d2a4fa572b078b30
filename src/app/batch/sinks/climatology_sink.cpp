#include "app/batch/sinks/climatology_sink.h"

#include "app/batch/batch_tables.h"
#include "io/climatology_table.h"

namespace kelmar::batch {

namespace {
constexpr const char* OUTPUT = "climatologies.csv";
}  // namespace

ClimatologySink::ClimatologySink() : BatchSink({{"climatologies", ".climatologies.csv", ClimatologyTableHeader()}}) {}

std::vector<std::string> ClimatologySink::Outputs() const { return {OUTPUT}; }

// The climatology as read or estimated: a scenario's changes are given back
// once its run ends (RunUnderScenario).
void ClimatologySink::MakeTexts(const TaskRun& run, std::span<std::string> texts) const {
    std::string& rows = texts[0];
    rows.clear();
    if (run.Failed) return;
    const std::string start = RowStart(run.Where.Site.Id);
    for (int m = 1; m <= 12; ++m) {
        rows.append(start).append(std::to_string(m));
        for (const ClimateField& field : CLIMATE_FIELDS) {
            rows.push_back(',');
            AppendShortest(rows, (run.Model.Climate.*field.Values)[m]);
        }
        rows.push_back('\n');
    }
}

// Every task of a site runs from the same climatology: the first that ran
// writes it.
void ClimatologySink::Add(const TaskRun& run, std::span<const std::string> texts,
                          std::span<ChunkStream* const> streams) {
    if (run.Where.FirstOfSite) SiteWritten = false;
    if (run.Failed || SiteWritten) return;
    streams[0]->Write(texts[0]);
    SiteWritten = true;
}

void ClimatologySink::Join(const JoinedChunks& chunks, std::ostream&) const {
    JoinCsvTable(chunks, Streams()[0], 0, OUTPUT);
}

}  // namespace kelmar::batch
