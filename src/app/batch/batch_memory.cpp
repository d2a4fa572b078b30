#include "app/batch/batch_memory.h"

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>

#include "app/batch/site_run.h"

namespace kelmar::batch {

std::vector<SiteRecords> RunSitesInMemory(const SiteList& list, std::uint32_t baseSeed, std::uint64_t firstIndex,
                                          int jobs, const ProgressCallback& onProgress, std::int32_t startYear,
                                          std::int32_t runYears, const ClimateEstimate* estimate) {
    std::vector<SiteRecords> runs(list.Sites.size());
    // The reports go out one at a time, each after the count it reports.
    ProgressReport report;
    report.Total = static_cast<std::int64_t>(list.Sites.size());
    std::mutex reportLock;
    std::atomic<bool> stop{false};
    const auto tell = [&](bool siteDone, bool failed) {
        if (!onProgress) return;
        std::lock_guard<std::mutex> guard(reportLock);
        if (stop.load()) return;
        if (siteDone) ++report.Done;
        if (failed) ++report.Failed;
        if (!onProgress(report)) stop.store(true);
    };
    tell(false, false);
    WeatherTables tables;
    // One model per thread, made anew in place for each site (as the batch does).
    tbb::enumerable_thread_specific<std::unique_ptr<TModel>> models;
    const auto freshModel = [&]() -> TModel& {
        std::unique_ptr<TModel>& model = models.local();
        if (!model) {
            model = std::make_unique<TModel>();
        } else {
            std::destroy_at(model.get());
            std::construct_at(model.get());
        }
        return *model;
    };
    tbb::task_arena arena(jobs > 0 ? jobs : tbb::info::default_concurrency());
    arena.execute([&] {
        tbb::parallel_for(tbb::blocked_range<std::size_t>(0, list.Sites.size(), 1), [&](const auto& range) {
            for (std::size_t k = range.begin(); k != range.end(); ++k) {
                if (stop.load()) return;
                const SiteEntry& site = list.Sites[k];
                SiteRecords& run = runs[k];
                run.Seed = SiteSeed(site, baseSeed, firstIndex + k);
                try {
                    TModel& model = freshModel();
                    model.Settings.SimulatedYearBeg = startYear;
                    model.Settings.SimulatedYears = runYears;
                    RunSite(model, site, RandomSource(run.Seed), tables, nullptr, estimate);
                    const int years = model.AvailableYears;
                    run.Monthly.reserve(static_cast<std::size_t>(years) * 12);
                    run.Annual.reserve(static_cast<std::size_t>(years));
                    for (int i = 1; i <= years; ++i) {
                        for (int m = 1; m <= 12; ++m) run.Monthly.push_back(model.Results.At(i, m));
                        TResultRecord annual = model.Results.At(i, 0);
                        annual.Year = model.Results.At(i, 1).Year;  // the annual slot holds no year of its own
                        run.Annual.push_back(annual);
                    }
                } catch (const std::exception& e) {
                    run.Failed = true;
                    run.Monthly.clear();
                    run.Annual.clear();
                    run.Error = std::string(e.what()) + "\nfor the site on line " + std::to_string(site.Line) +
                                " of \"" + list.FileName + "\"";
                }
                tell(true, run.Failed);
            }
        });
    });
    if (onProgress) {
        report.Finished = true;
        onProgress(report);
    }
    if (stop.load()) throw Cancelled("The batch was stopped.");
    return runs;
}

}  // namespace kelmar::batch
