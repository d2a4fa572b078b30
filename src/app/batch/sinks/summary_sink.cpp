#include "app/batch/sinks/summary_sink.h"

#include "app/batch/batch_tables.h"
#include "io/csv_text.h"

namespace kelmar::batch {

namespace {
enum { MONTHLY, ANNUAL };
constexpr const char* OUTPUTS[] = {"summary_monthly.csv", "summary_annual.csv"};
}  // namespace

SummarySink::SummarySink(int realizations, int digits)
    : BatchSink({{"summary_monthly", ".summary_monthly.csv", SummaryMonthlyHeader()},
                 {"summary_annual", ".summary_annual.csv", SummaryAnnualHeader()}}),
      Group(realizations), Digits(digits) {}

std::vector<std::string> SummarySink::Outputs() const { return {OUTPUTS[MONTHLY], OUTPUTS[ANNUAL]}; }

// The rows need every replicate of the scenario: nothing is made per task.
void SummarySink::MakeTexts(const TaskRun&, std::span<std::string>) const {}

void SummarySink::Add(const TaskRun& run, std::span<const std::string>, std::span<ChunkStream* const> streams) {
    if (!run.Failed) Group.Add(run.Model);
    if (!run.Where.LastOfScenario) return;
    std::string start = RowStart(run.Where.Site.Id);
    AppendCsvField(start, *run.Where.ScenarioName);
    start.push_back(',');
    std::string monthlyRows, annualRows;
    Group.Append(start, monthlyRows, annualRows, Digits);
    Group.Clear();
    streams[MONTHLY]->Write(monthlyRows);
    streams[ANNUAL]->Write(annualRows);
}

void SummarySink::Join(const JoinedChunks& chunks, std::ostream&) const {
    for (const std::size_t k : {MONTHLY, ANNUAL}) JoinCsvTable(chunks, Streams()[k], k, OUTPUTS[k]);
}

}  // namespace kelmar::batch
