#include "app/batch/sinks/error_sink.h"

#include "app/batch/batch_tables.h"

namespace kelmar::batch {

namespace {
constexpr const char* OUTPUT = "errors.csv";
}  // namespace

ErrorSink::ErrorSink(bool tasks, std::string listName)
    : BatchSink({{"errors", ".errors.csv", std::string(ERRORS_HEADER)}}), Tasks(tasks), ListName(std::move(listName)) {}

std::vector<std::string> ErrorSink::Outputs() const { return {OUTPUT}; }

void ErrorSink::MakeTexts(const TaskRun& run, std::span<std::string> texts) const {
    texts[0].clear();
    if (!run.Failed) return;
    const Task& task = run.Where;
    std::string where = "\nfor the site on line " + std::to_string(task.Site.Line) + " of \"" + ListName + "\"";
    if (Tasks)
        where = "\nunder the scenario \"" + *task.ScenarioName + "\", replicate " + std::to_string(task.Replicate) + "," +
                where;
    AppendErrorRow(texts[0], task.Site.Id, std::string(run.Error) + where);
}

void ErrorSink::Add(const TaskRun& run, std::span<const std::string> texts, std::span<ChunkStream* const> streams) {
    if (run.Where.FirstOfSite) SiteError.clear();
    // A site's tasks that fail alike (a file missing) have one row, naming
    // the first of them.
    if (!run.Failed || run.Error == SiteError) return;
    streams[0]->Write(texts[0]);
    SiteError = run.Error;
}

void ErrorSink::Join(const JoinedChunks& chunks, std::ostream&) const { JoinCsvTable(chunks, Streams()[0], 0, OUTPUT); }

}  // namespace kelmar::batch
