#include "app/batch/sinks/table_sink.h"

#include "app/batch/batch_tables.h"

namespace kelmar::batch {

namespace {
enum { MONTHLY, ANNUAL };
constexpr const char* OUTPUTS[] = {"monthly.csv", "annual.csv"};
}  // namespace

TableSink::TableSink(bool tasks, int digits)
    : BatchSink({{"monthly", ".monthly.csv", MonthlyHeader(tasks)}, {"annual", ".annual.csv", AnnualHeader(tasks)}}),
      Tasks(tasks), Digits(digits) {}

std::vector<std::string> TableSink::Outputs() const { return {OUTPUTS[MONTHLY], OUTPUTS[ANNUAL]}; }

void TableSink::MakeTexts(const TaskRun& run, std::span<std::string> texts) const {
    texts[MONTHLY].clear();
    texts[ANNUAL].clear();
    if (run.Failed) return;
    const Task& task = run.Where;
    AppendTaskRows(run.Model, Tasks ? RowStart(task.Site.Id, task.ScenarioName, task.Replicate) : RowStart(task.Site.Id),
                   run.Seed, texts[MONTHLY], texts[ANNUAL], Digits);
}

void TableSink::Add(const TaskRun&, std::span<const std::string> texts, std::span<ChunkStream* const> streams) {
    streams[MONTHLY]->Write(texts[MONTHLY]);
    streams[ANNUAL]->Write(texts[ANNUAL]);
}

void TableSink::Join(const JoinedChunks& chunks, std::ostream&) const {
    for (const std::size_t k : {MONTHLY, ANNUAL}) JoinCsvTable(chunks, Streams()[k], k, OUTPUTS[k]);
}

}  // namespace kelmar::batch
