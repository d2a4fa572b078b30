#include "app/ensemble.h"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <span>
#include <system_error>
#include <vector>

#include "app/batch/batch_run.h"
#include "app/batch/batch_tables.h"
#include "app/run_sequence.h"
#include "io/csv_text.h"
#include "io/file_bytes.h"
#include "io/file_stream.h"
#include "model/errors.h"
#include "model/record_fields.h"
#include "numerics/summary_statistics.h"

namespace kelmar {

namespace {

using batch::AppendShortest;
using batch::ColumnName;

constexpr int FIELDS = static_cast<int>(RESULT_FIELDS.size());
// Replicates run, then written, together: bounds the memory of the tables.
constexpr int TABLE_BLOCK = 64;

// Warnings of a replicate's run end it with their text, as in a batch.
class FailingNotifier : public Notifier {
public:
    void Warning(const std::string& text) override { throw KelmarError(text); }
};

void AppendInteger(std::string& out, std::int64_t value) { out += std::to_string(value); }

std::string RowStart(const EnsembleOptions& options) {
    std::string start;
    AppendCsvField(start, options.SiteId);
    start.push_back(',');
    AppendCsvField(start, options.ScenarioName);
    start.push_back(',');
    return start;
}

std::string SummaryColumns() { return "variable,n,mean,sd,p05,p25,p50,p75,p95\n"; }

void AppendSummary(std::string& out, const std::string& start, std::int64_t when, const ResultField& field,
                   const SampleSummary& s) {
    out += start;
    AppendInteger(out, when);
    out += ',' + ColumnName(field) + ',';
    AppendInteger(out, static_cast<std::int64_t>(s.Count));
    out.push_back(',');
    AppendShortest(out, s.Mean);
    out.push_back(',');
    if (s.Count > 1) AppendShortest(out, s.Sd);  // no deviation from one value
    for (const double p : s.Percentiles) {
        out.push_back(',');
        AppendShortest(out, p);
    }
    out.push_back('\n');
}

std::string Path(const EnsembleOptions& options, const char* name) {
    return Utf8Name(PathOf(options.OutDir) / name);
}

// The 32-bit state replicate r of lcg32 starts from.
std::uint64_t StartState(const EnsembleOptions& options, int replicate) {
    return RandomSource::Jump(static_cast<std::uint32_t>(options.Seed),
                              batch::UNIFORMS_PER_SITE * static_cast<std::uint64_t>(replicate));
}

// The seed column of replicate r: its own start state with lcg32, the base
// seed with pcg64 (whose stream is the base seed advanced).
std::uint64_t ReplicateSeed(const EnsembleOptions& options, int replicate) {
    return options.Rng == RandomKind::Lcg32 ? StartState(options, replicate) : options.Seed;
}

// Runs one replicate into `model` (a copy of the prepared model).
void RunReplicate(TModel& model, const TScenario* scenario, const EnsembleOptions& options, int replicate) {
    StartReplicate(model.Random, options.Rng, options.Seed, replicate);
    FailingNotifier notifier;
    try {
        RunUnderScenario(model, notifier, scenario);
    } catch (const KelmarError& e) {
        throw KelmarError(std::string(e.what()) + "\n(replicate " + std::to_string(replicate) + ")");
    }
}

// Every replicate's rows, block by block in replicate order.
void WriteTables(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                 tbb::task_arena& arena) {
    DurableFileStream monthly(Path(options, "monthly.csv")), annual(Path(options, "annual.csv"));
    std::string header = "site_id,scenario,replicate,year,month";
    for (const ResultField& field : RESULT_FIELDS) header.append(",").append(ColumnName(field));
    monthly.Write(header.append("\n"));
    header = "site_id,scenario,replicate,year";
    for (const ResultField& field : RESULT_FIELDS) header.append(",").append(ColumnName(field));
    annual.Write(header.append(",seed\n"));

    const std::string start = RowStart(options);
    tbb::enumerable_thread_specific<std::unique_ptr<TModel>> models;
    for (int first = 0; first < options.Replicates; first += TABLE_BLOCK) {
        const int count = std::min(TABLE_BLOCK, options.Replicates - first);
        std::vector<std::string> monthlyText(count), annualText(count);
        arena.execute([&] {
            tbb::parallel_for(tbb::blocked_range<int>(0, count, 1), [&](const auto& range) {
                std::unique_ptr<TModel>& model = models.local();
                if (!model) model = std::make_unique<TModel>(prepared);
                for (int b = range.begin(); b < range.end(); ++b) {
                    const int r = first + b;
                    RunReplicate(*model, scenario, options, r);
                    const std::uint64_t seed = ReplicateSeed(options, r);
                    std::string& m = monthlyText[b];
                    std::string& a = annualText[b];
                    for (int i = 1; i <= model->AvailableYears; ++i) {
                        for (int k = 0; k <= 12; ++k) {
                            const TResultRecord& record = model->Results.At(i, k);
                            std::string& out = k == 0 ? a : m;
                            out += start;
                            AppendInteger(out, r);
                            out.push_back(',');
                            AppendInteger(out, model->Results.At(i, 1).Year);
                            if (k != 0) {
                                out.push_back(',');
                                AppendInteger(out, k);
                            }
                            for (const ResultField& field : RESULT_FIELDS) {
                                out.push_back(',');
                                AppendShortest(out, record.*field.Value);
                            }
                            if (k == 0) {
                                out.push_back(',');
                                out += std::to_string(seed);  // a pcg64 seed takes all 64 bits
                            }
                            out.push_back('\n');
                        }
                    }
                }
            });
        });
        for (int b = 0; b < count; ++b) {
            monthly.Write(monthlyText[b]);
            annual.Write(annualText[b]);
        }
    }
    monthly.Commit();
    annual.Commit();
}

// Summaries: every replicate's values kept by field and month (all years
// of all replicates) and by field and year (all replicates), then
// summarised group by group.
EnsembleSummaries ComputeSummaries(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                                   tbb::task_arena& arena) {
    const int years = MAX_YEARS;  // simulated runs have them all
    const std::size_t replicates = static_cast<std::size_t>(options.Replicates);
    // [field][month - 1]: replicate r's year index i at r * years + i - 1.
    // Not set to zero first: every value is written by its replicate.
    std::vector<std::unique_ptr<double[]>> byMonth(static_cast<std::size_t>(FIELDS) * 12);
    for (auto& group : byMonth) group = std::make_unique_for_overwrite<double[]>(replicates * years);
    // [field][month - 1][replicate]: the moments of each replicate's piece,
    // taken while it is in the cache and joined in replicate order.
    std::vector<Moments> pieces(byMonth.size() * replicates);
    // [field][year index - 1]: replicate r at r.
    std::vector<std::vector<double>> byYear(static_cast<std::size_t>(FIELDS) * years, std::vector<double>(replicates));
    std::vector<int> yearOf(years + 1, 0);

    tbb::enumerable_thread_specific<std::unique_ptr<TModel>> models;
    arena.execute([&] {
        tbb::parallel_for(tbb::blocked_range<int>(0, options.Replicates, 1), [&](const auto& range) {
            std::unique_ptr<TModel>& model = models.local();
            if (!model) model = std::make_unique<TModel>(prepared);
            for (int r = range.begin(); r < range.end(); ++r) {
                RunReplicate(*model, scenario, options, r);
                if (model->AvailableYears != years)
                    throw KelmarError("Replicate " + std::to_string(r) + " ran " +
                                      std::to_string(model->AvailableYears) + " years, not " + std::to_string(years) + ".");
                for (int f = 0; f < FIELDS; ++f) {
                    const auto value = RESULT_FIELDS[f].Value;
                    for (int k = 1; k <= 12; ++k) {
                        const std::size_t g = static_cast<std::size_t>(f) * 12 + k - 1;
                        double* out = byMonth[g].get() + r * std::size_t{years};
                        for (int i = 1; i <= years; ++i) out[i - 1] = model->Results.At(i, k).*value;
                        pieces[g * replicates + r] = Moments::Of(out, years);
                    }
                    for (int i = 1; i <= years; ++i)
                        byYear[static_cast<std::size_t>(f) * years + i - 1][r] = model->Results.At(i, 0).*value;
                }
                if (r == 0)
                    for (int i = 1; i <= years; ++i) yearOf[i] = model->Results.At(i, 1).Year;
            }
        });
    });

    EnsembleSummaries summaries;
    summaries.Years = years;
    summaries.ByMonth.resize(byMonth.size());
    summaries.ByYear.resize(byYear.size());
    arena.execute([&] {
        tbb::parallel_for(std::size_t{0}, byMonth.size(), [&](std::size_t g) {
            Moments moments;
            for (std::size_t r = 0; r < replicates; ++r) moments.Merge(pieces[g * replicates + r]);
            summaries.ByMonth[g] = Summarize(std::span<double>(byMonth[g].get(), replicates * years), moments);
            byMonth[g].reset();
        });
        tbb::parallel_for(std::size_t{0}, byYear.size(),
                          [&](std::size_t g) { summaries.ByYear[g] = Summarize(byYear[g]); });
    });
    summaries.YearOf = std::move(yearOf);
    return summaries;
}

void WriteSummaries(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                    tbb::task_arena& arena) {
    const EnsembleSummaries summaries = ComputeSummaries(prepared, scenario, options, arena);
    const int years = summaries.Years;
    const std::string start = RowStart(options);
    std::string monthly = "site_id,scenario,month," + SummaryColumns();
    for (int k = 1; k <= 12; ++k)
        for (int f = 0; f < FIELDS; ++f)
            AppendSummary(monthly, start, k, RESULT_FIELDS[f], summaries.ByMonth[f * 12 + k - 1]);
    std::string annual = "site_id,scenario,year," + SummaryColumns();
    for (int i = 1; i <= years; ++i)
        for (int f = 0; f < FIELDS; ++f)
            AppendSummary(annual, start, summaries.YearOf[i], RESULT_FIELDS[f],
                          summaries.ByYear[static_cast<std::size_t>(f) * years + i - 1]);
    WriteFileAtomically(Path(options, "summary_monthly.csv"), monthly);
    WriteFileAtomically(Path(options, "summary_annual.csv"), annual);
}

// The options' checks, before anything runs.
void CheckOptions(const EnsembleOptions& options) {
    if (options.Replicates < 1) throw KelmarError("An ensemble needs at least one replicate.");
    if (options.Rng == RandomKind::Lcg32 && static_cast<std::uint64_t>(options.Replicates) > batch::DISJOINT_STREAMS)
        throw KelmarError("lcg32 holds " + std::to_string(batch::DISJOINT_STREAMS) +
                          " replicates of 500 years apart within its period, not " +
                          std::to_string(options.Replicates) + ": use --rng pcg64 for more.");
    if (options.Rng == RandomKind::Lcg32 && options.Seed > 0xFFFFFFFFu)
        throw KelmarError("The seed " + std::to_string(options.Seed) + " does not fit lcg32's 32 bits.");
}

int JobsOf(const EnsembleOptions& options) {
    return options.Jobs > 0 ? options.Jobs : tbb::info::default_concurrency();
}

}  // namespace

void StartReplicate(RandomSource& random, RandomKind kind, std::uint64_t seed, int replicate) {
    const std::uint64_t draws = batch::UNIFORMS_PER_SITE * static_cast<std::uint64_t>(replicate);
    if (kind == RandomKind::Lcg32) {
        random.SetState(RandomSource::Jump(static_cast<std::uint32_t>(seed), draws));
    } else {
        random.SetPcg64(seed);
        random.Advance(draws);
    }
}

std::string ScenarioColumn(const TScenario* scenario) {
    return !scenario ? "none" : !scenario->Name.empty() ? scenario->Name : scenario->Describe();
}

void RunReplicates(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                   ReplicateSink& sink) {
    CheckOptions(options);
    tbb::task_arena arena(JobsOf(options));
    tbb::enumerable_thread_specific<std::unique_ptr<TModel>> models;
    arena.execute([&] {
        tbb::parallel_for(tbb::blocked_range<int>(0, options.Replicates, 1), [&](const auto& range) {
            std::unique_ptr<TModel>& model = models.local();
            if (!model) model = std::make_unique<TModel>(prepared);
            for (int r = range.begin(); r < range.end(); ++r) {
                RunReplicate(*model, scenario, options, r);
                sink.Take(r, *model, ReplicateSeed(options, r));
            }
        });
    });
}

EnsembleSummaries SummarizeReplicates(const TModel& prepared, const TScenario* scenario,
                                      const EnsembleOptions& options) {
    CheckOptions(options);
    tbb::task_arena arena(JobsOf(options));
    return ComputeSummaries(prepared, scenario, options, arena);
}

void RunEnsemble(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options) {
    CheckOptions(options);
    std::error_code error;
    std::filesystem::create_directories(PathOf(options.OutDir), error);
    if (error)
        throw KelmarError("Cannot make the folder \"" + options.OutDir + "\" (" + error.message() + ").");

    tbb::task_arena arena(JobsOf(options));
    if (options.Summary)
        WriteSummaries(prepared, scenario, options, arena);
    else
        WriteTables(prepared, scenario, options, arena);

    std::string manifest = "program_version: " + options.Version + "\n";
    manifest += std::string("rng: ") + RandomKindName(options.Rng) + "\n";
    manifest += "base_seed: " + std::to_string(options.Seed) + "\n";
    manifest += "replicates: " + std::to_string(options.Replicates) + "\n";
    manifest += "stream_spacing_uniforms: " + std::to_string(batch::UNIFORMS_PER_SITE) + "\n";
    manifest += "site_id: " + options.SiteId + "\n";
    manifest += "scenario: " + (scenario ? scenario->Describe() : std::string("none")) + "\n";
    manifest += std::string("outputs: ") + (options.Summary ? "summary_monthly.csv summary_annual.csv" : "monthly.csv annual.csv") + "\n";
    WriteFileAtomically(Path(options, "ensemble.txt"), manifest);
}

}  // namespace kelmar
