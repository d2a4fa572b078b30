#include "app/ensemble.h"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <cmath>
#include <memory>
#include <new>
#include <span>
#include <system_error>
#include <vector>

#include "app/batch/batch_tables.h"
#include "app/progress.h"
#include "app/random_streams.h"
#include "app/run_sequence.h"
#include "io/csv_text.h"
#include "io/file_bytes.h"
#include "io/file_output.h"
#include "io/file_stream.h"
#include "model/errors.h"
#include "model/record_fields.h"
#include "numerics/summary_statistics.h"

namespace kelmar {

namespace {

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


std::string Path(const EnsembleOptions& options, const char* name) {
    return Utf8Name(PathOf(options.OutDir) / name);
}

// The seed column of replicate r: its own start state with lcg32, the base
// seed with pcg64 (whose stream is the base seed advanced).
std::uint64_t ReplicateSeed(const EnsembleOptions& options, int replicate) {
    return streams::StreamSeed(options.Rng, options.Seed, static_cast<std::uint64_t>(replicate));
}

// The years every replicate runs: those of the prepared model's simulated
// run (a value out of range is refused by the run of replicate 0).
int RunYears(const TModel& prepared) { return std::clamp(prepared.Settings.SimulatedYears, 1, MAX_YEARS); }

// Runs one replicate into `model` (a copy of the prepared model).
void RunReplicate(TModel& model, const TScenario* scenario, const EnsembleOptions& options, int replicate) {
    streams::StartStream(model.Random, options.Rng, options.Seed, static_cast<std::uint64_t>(replicate));
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
                                batch::AppendNumber(out, record.*field.Value, options.CsvDigits);
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

constexpr int GROUPS = FIELDS * 12;  // (field, month of the year)
// Replicates run first, every value of theirs kept, to plan the bins that
// find the percentiles without keeping the rest (BinnedPercentiles); with
// no more than twice as many, every value is kept.
constexpr int PILOT_REPLICATES = 32;

// One replicate's monthly values and annual values of its `years` years:
// month by month, the values of every field by year are gathered, their moments taken as
// Moments::Of takes them (the same sums in the same order, the fields'
// sums interleaved so that they do not wait for each other) and put to
// pieces[group * replicates + replicate], and the values go to
// visit(group, values) with group = field * 12 + month - 1. The annual
// values go to byYear[replicate * FIELDS * years + field * years + year
// index] (a row per replicate: written in one stream).
template <class Visit>
void CollectReplicate(const TModel& model, int years, int replicate, std::size_t replicates,
                      std::vector<Moments>& pieces, double* byYear, Visit&& visit) {
    // [field][year index - 1], the first `years` of each row
    std::array<std::array<double, MAX_YEARS>, FIELDS> values;
    for (int k = 1; k <= 12; ++k) {
        for (int i = 1; i <= years; ++i) {
            const TResultRecord& record = model.Results.At(i, k);
#pragma GCC unroll 16
            for (int f = 0; f < FIELDS; ++f) values[f][i - 1] = record.*RESULT_FIELDS[f].Value;
        }
        std::array<double, FIELDS> sum{}, low, high, mean, m2{};
        for (int f = 0; f < FIELDS; ++f) low[f] = high[f] = values[f][0];
        for (int i = 0; i < years; ++i) {
#pragma GCC unroll 16
            for (int f = 0; f < FIELDS; ++f) {
                const double v = values[f][i];
                sum[f] += v;
                low[f] = std::min(low[f], v);
                high[f] = std::max(high[f], v);
            }
        }
        for (int f = 0; f < FIELDS; ++f) mean[f] = sum[f] / years;
        for (int i = 0; i < years; ++i) {
#pragma GCC unroll 16
            for (int f = 0; f < FIELDS; ++f) m2[f] += (values[f][i] - mean[f]) * (values[f][i] - mean[f]);
        }
        for (int f = 0; f < FIELDS; ++f) {
            const int g = f * 12 + k - 1;
            Moments& piece = pieces[static_cast<std::size_t>(g) * replicates + replicate];
            piece.Count = years;
            piece.Mean = mean[f];
            piece.M2 = m2[f];
            piece.Low = low[f];
            piece.High = high[f];
            visit(g, std::span<const double>(values[f].data(), static_cast<std::size_t>(years)));
        }
    }
    double* row = byYear + static_cast<std::size_t>(replicate) * FIELDS * years;
    for (int f = 0; f < FIELDS; ++f)
        for (int i = 1; i <= years; ++i) row[f * years + i - 1] = model.Results.At(i, 0).*RESULT_FIELDS[f].Value;
}

// Runs replicates [first, last) on the arena's threads and collects each
// into the visitor makeVisit() gives the thread: visit(group, replicate,
// the group's values by year).
template <class MakeVisit>
void RunAndCollect(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                   tbb::task_arena& arena, int first, int last, std::vector<Moments>& pieces,
                   double* byYear, std::vector<int>& yearOf, MakeVisit&& makeVisit) {
    const int years = RunYears(prepared);
    tbb::enumerable_thread_specific<std::unique_ptr<TModel>> models;
    arena.execute([&] {
        tbb::parallel_for(tbb::blocked_range<int>(first, last, 1), [&](const auto& range) {
            std::unique_ptr<TModel>& model = models.local();
            if (!model) model = std::make_unique<TModel>(prepared);
            auto&& visit = makeVisit();
            for (int r = range.begin(); r < range.end(); ++r) {
                if (options.Stop && options.Stop->load()) throw Cancelled("The summary of the replicates was stopped.");
                RunReplicate(*model, scenario, options, r);
                if (model->AvailableYears != years)
                    throw KelmarError("Replicate " + std::to_string(r) + " ran " +
                                      std::to_string(model->AvailableYears) + " years, not " +
                                      std::to_string(years) + ".");
                CollectReplicate(*model, years, r, static_cast<std::size_t>(options.Replicates), pieces, byYear,
                                 [&](int g, std::span<const double> values) { visit(g, r, values); });
                if (r == 0)
                    for (int i = 1; i <= years; ++i) yearOf[i] = model->Results.At(i, 1).Year;
            }
        });
    });
}

// The percentiles of every group from all of its values: replicate r's
// year index i at r * years + i.
void AllValuesPercentiles(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                          tbb::task_arena& arena, std::vector<Moments>& pieces, double* byYear,
                          std::vector<int>& yearOf, std::vector<SampleSummary>& summaries) {
    const std::size_t years = static_cast<std::size_t>(RunYears(prepared));
    const std::size_t values = static_cast<std::size_t>(options.Replicates) * years;
    // Not set to zero first: every value is written by its replicate.
    std::vector<std::unique_ptr<double[]>> byMonth(GROUPS);
    for (auto& group : byMonth) group = std::make_unique_for_overwrite<double[]>(values);
    RunAndCollect(prepared, scenario, options, arena, 0, options.Replicates, pieces, byYear, yearOf,
                  [&] {
                      return [&](int g, int r, std::span<const double> v) {
                          std::copy(v.begin(), v.end(), byMonth[g].get() + static_cast<std::size_t>(r) * years);
                      };
                  });
    arena.execute([&] {
        tbb::parallel_for(0, GROUPS, [&](int g) {
            Moments joined;
            for (int r = 0; r < options.Replicates; ++r) joined.Merge(pieces[static_cast<std::size_t>(g) * options.Replicates + r]);
            summaries[g] = Summarize(std::span<double>(byMonth[g].get(), values), joined);
            byMonth[g].reset();
        });
    });
}

// Summaries: per field and month over every year of every replicate, per
// field and year over the replicates. The moments of each replicate's piece
// of a month are joined in replicate order; the percentiles of a month come
// from a pilot's bins (BinnedPercentiles) when the replicates are many,
// from all of its values when they are few or the bins missed one.
EnsembleSummaries ComputeSummaries(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                                   tbb::task_arena& arena) {
    const int years = RunYears(prepared);
    const std::size_t replicates = static_cast<std::size_t>(options.Replicates);
    // [field][month - 1][replicate]
    std::vector<Moments> pieces(GROUPS * replicates);
    // [replicate][field][year index - 1]. Not set to zero first: every
    // value is written by its replicate, on the threads that run them.
    const std::size_t yearGroups = static_cast<std::size_t>(FIELDS) * years;
    const auto byYearValues = std::make_unique_for_overwrite<double[]>(replicates * yearGroups);
    double* const byYear = byYearValues.get();
    std::vector<int> yearOf(years + 1, 0);
    std::vector<SampleSummary> monthSummaries(GROUPS), yearSummaries(yearGroups);

    bool found = false;
    if (options.Replicates > 2 * PILOT_REPLICATES) {
        const std::size_t pilotValues = std::size_t{PILOT_REPLICATES} * years;
        std::vector<std::vector<double>> pilot(GROUPS, std::vector<double>(pilotValues));
        RunAndCollect(prepared, scenario, options, arena, 0, PILOT_REPLICATES, pieces, byYear, yearOf,
                      [&] {
                          return [&](int g, int r, std::span<const double> v) {
                              std::copy(v.begin(), v.end(), pilot[g].begin() + static_cast<std::ptrdiff_t>(r) * years);
                          };
                      });
        std::vector<BinnedPercentiles> sample(GROUPS);
        arena.execute([&] {
            tbb::parallel_for(0, GROUPS, [&](int g) {
                std::vector<double> plan = pilot[g];
                sample[g] = BinnedPercentiles(plan).EmptyCopy();
                sample[g].Add(pilot[g]);
            });
        });
        pilot.clear();
        tbb::enumerable_thread_specific<std::vector<BinnedPercentiles>> parts([&] {
            std::vector<BinnedPercentiles> part;
            part.reserve(GROUPS);
            // Room for every value a thread might see: only what it writes takes memory.
            const std::size_t rest = static_cast<std::size_t>(options.Replicates - PILOT_REPLICATES) * years;
            for (const BinnedPercentiles& whole : sample) part.push_back(whole.EmptyCopy(rest));
            return part;
        });
        RunAndCollect(prepared, scenario, options, arena, PILOT_REPLICATES, options.Replicates, pieces, byYear, yearOf,
                      [&parts] {
                          return [&part = parts.local()](int g, int, std::span<const double> v) { part[g].Add(v); };
                      });
        std::vector<char> missed(GROUPS, 0);
        arena.execute([&] {
            tbb::parallel_for(0, GROUPS, [&](int g) {
                for (auto& part : parts) sample[g].Merge(std::move(part[g]));
                Moments joined;
                for (std::size_t r = 0; r < replicates; ++r) joined.Merge(pieces[g * replicates + r]);
                monthSummaries[g] = MomentsSummary(joined);
                const auto percentiles = sample[g].Percentiles();
                if (percentiles)
                    monthSummaries[g].Percentiles = *percentiles;
                else
                    missed[g] = 1;
            });
        });
        found = std::find(missed.begin(), missed.end(), 1) == missed.end();
    }
    if (!found) AllValuesPercentiles(prepared, scenario, options, arena, pieces, byYear, yearOf, monthSummaries);
    arena.execute([&] {
        // Eight groups at a time: their values of a replicate share a cache line.
        constexpr std::size_t BLOCK = 8;
        tbb::parallel_for(std::size_t{0}, (yearGroups + BLOCK - 1) / BLOCK, [&](std::size_t block) {
            const std::size_t first = block * BLOCK, count = std::min(BLOCK, yearGroups - first);
            std::array<std::vector<double>, BLOCK> values;
            for (std::size_t j = 0; j < count; ++j) values[j].resize(replicates);
            for (std::size_t r = 0; r < replicates; ++r) {
                const double* row = byYear + r * yearGroups + first;
                for (std::size_t j = 0; j < count; ++j) values[j][r] = row[j];
            }
            for (std::size_t j = 0; j < count; ++j) yearSummaries[first + j] = Summarize(values[j]);
        });
    });

    EnsembleSummaries summaries;
    summaries.Years = years;
    summaries.ByMonth = std::move(monthSummaries);
    summaries.ByYear = std::move(yearSummaries);
    summaries.YearOf = std::move(yearOf);
    return summaries;
}

// ComputeSummaries, with a memory it cannot have told in numbers: its
// tables grow with the replicates (every annual value of each, and the
// moments of each month), besides what the percentiles take.
EnsembleSummaries GatherSummaries(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                                  tbb::task_arena& arena) {
    try {
        return ComputeSummaries(prepared, scenario, options, arena);
    } catch (const std::bad_alloc&) {
        const double perReplicate =
            static_cast<double>(FIELDS) * RunYears(prepared) * sizeof(double) + static_cast<double>(GROUPS) * sizeof(Moments);
        const double mib = std::ceil(perReplicate * options.Replicates / (1024.0 * 1024.0));
        throw KelmarError("The summary of " + std::to_string(options.Replicates) + " replicates needs at least " +
                          std::to_string(static_cast<long long>(mib)) +
                          " MiB of memory, more than the system gave. Run fewer replicates, or write every "
                          "replicate's table without --summary (which keeps only the replicates under way).");
    }
}

void WriteSummaries(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options,
                    tbb::task_arena& arena) {
    const EnsembleSummaries summaries = GatherSummaries(prepared, scenario, options, arena);
    const int years = summaries.Years;
    const std::string start = RowStart(options);
    std::string monthly = batch::SummaryMonthlyHeader();
    for (int k = 1; k <= 12; ++k)
        for (int f = 0; f < FIELDS; ++f)
            batch::AppendSummaryRow(monthly, start, k, RESULT_FIELDS[f], summaries.ByMonth[f * 12 + k - 1],
                                    options.CsvDigits);
    std::string annual = batch::SummaryAnnualHeader();
    for (int i = 1; i <= years; ++i)
        for (int f = 0; f < FIELDS; ++f)
            batch::AppendSummaryRow(annual, start, summaries.YearOf[i], RESULT_FIELDS[f],
                          summaries.ByYear[static_cast<std::size_t>(f) * years + i - 1], options.CsvDigits);
    WriteFileAtomically(Path(options, "summary_monthly.csv"), monthly);
    WriteFileAtomically(Path(options, "summary_annual.csv"), annual);
}

// The options' checks, before anything runs.
void CheckOptions(const EnsembleOptions& options) {
    if (options.Replicates < 1) throw KelmarError("An ensemble needs at least one replicate.");
    streams::CheckReplicates(options.Rng, static_cast<std::uint64_t>(options.Replicates));
    streams::CheckSeed(options.Rng, options.Seed);
    batch::CheckCsvDigits(options.CsvDigits);
}

int JobsOf(const EnsembleOptions& options) {
    return options.Jobs > 0 ? options.Jobs : tbb::info::default_concurrency();
}

}  // namespace

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
    return GatherSummaries(prepared, scenario, options, arena);
}

void RunEnsemble(const TModel& prepared, const TScenario* scenario, const EnsembleOptions& options) {
    CheckOptions(options);
    MakeFolders(options.OutDir);

    tbb::task_arena arena(JobsOf(options));
    if (options.Summary)
        WriteSummaries(prepared, scenario, options, arena);
    else
        WriteTables(prepared, scenario, options, arena);

    std::string manifest = "program_version: " + options.Version + "\n";
    manifest += std::string("rng: ") + RandomKindName(options.Rng) + "\n";
    manifest += "base_seed: " + std::to_string(options.Seed) + "\n";
    manifest += "replicates: " + std::to_string(options.Replicates) + "\n";
    manifest += "stream_spacing_uniforms: " + std::to_string(streams::UNIFORMS_PER_RUN) + "\n";
    manifest += "site_id: " + options.SiteId + "\n";
    manifest += "scenario: " + (scenario ? scenario->Describe() : std::string("none")) + "\n";
    // Written only when asked for, so that an ensemble of the whole run keeps its bytes.
    if (prepared.Settings.SimulatedYearBeg != 1)
        manifest += "start_year: " + std::to_string(prepared.Settings.SimulatedYearBeg) + "\n";
    if (prepared.Settings.SimulatedYears != MAX_YEARS)
        manifest += "run_years: " + std::to_string(prepared.Settings.SimulatedYears) + "\n";
    manifest += std::string("outputs: ") + (options.Summary ? "summary_monthly.csv summary_annual.csv" : "monthly.csv annual.csv") + "\n";
    // Only when asked for, so that the default keeps the file as it was.
    if (options.CsvDigits != 0) manifest += "csv_digits: " + std::to_string(options.CsvDigits) + "\n";
    WriteFileAtomically(Path(options, "ensemble.txt"), manifest);
}

}  // namespace kelmar
