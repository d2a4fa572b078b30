// The results of a batch from results.nc (maps, courses) and
// results_annual.nc (the courses' years), through io/cf_results.h.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "app/region/region_source.h"
#include "io/cf_results.h"
#include "model/errors.h"

namespace kelmar::region {

namespace {

namespace fs = std::filesystem;

// Values asked of the library in one call: 8 MiB of doubles, whatever the
// number of years, so memory grows with the sites only.
constexpr std::int64_t VALUES_PER_READ = std::int64_t{1} << 20;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

class NetcdfRegion final : public RegionSource {
public:
    explicit NetcdfRegion(const std::string& dir)
        : Monthly(OpenCfResults((fs::path(dir) / "results.nc").string())),
          AnnualFile((fs::path(dir) / "results_annual.nc").string()) {
        const CfResultsLayout& layout = Monthly->Layout();
        for (const CfResultsVariable& v : layout.Variables) C.Variables.push_back({v.Name, v.LongName, v.Units});
        C.Scenarios = layout.Scenarios;
        C.Realizations = std::max(1, layout.Realizations);
        C.FirstYear = layout.FirstYear;
        C.LastYear = layout.FirstYear + static_cast<std::int32_t>(layout.Steps / 12) - 1;
        C.Sites = static_cast<std::int64_t>(layout.SiteIds.size());
        C.Netcdf = true;
    }

    std::string ResultsVersion() const override { return Monthly->Layout().ProgramVersion; }
    const RegionContents& Contents() const override { return C; }
    const std::vector<std::string>& Ids() const override { return Monthly->Layout().SiteIds; }
    const std::vector<double>& Lats() const override { return Monthly->Layout().Lat; }
    const std::vector<double>& Lons() const override { return Monthly->Layout().Lon; }

    // Each month of the period is read as a strided hyperslab (every 12th
    // step from its first), a block of years at a time: only the values shown.
    std::vector<std::vector<double>> Means(int variable, const std::vector<RegionTask>& tasks,
                                           const RegionPeriod& period) override {
        const std::int64_t sites = C.Sites;
        const std::int64_t years = period.LastYear - period.FirstYear + 1;
        const std::int64_t block = std::clamp<std::int64_t>(VALUES_PER_READ / std::max<std::int64_t>(sites, 1), 1, years);
        std::vector<std::vector<double>> means;
        std::vector<double> values, sum(static_cast<std::size_t>(sites));
        std::vector<std::int32_t> count(static_cast<std::size_t>(sites));
        for (const RegionTask& task : tasks) {
            std::fill(sum.begin(), sum.end(), 0.0);
            std::fill(count.begin(), count.end(), 0);
            for (int month : period.Months) {
                for (std::int64_t y = 0; y < years; y += block) {
                    const std::int64_t n = std::min(block, years - y);
                    const std::int64_t first = (period.FirstYear + y - C.FirstYear) * 12 + (month - 1);
                    Monthly->Read(variable, first, n, 12, task.Scenario, task.Realization, 0, sites, values);
                    for (std::int64_t k = 0; k < n; ++k)
                        for (std::int64_t s = 0; s < sites; ++s) {
                            const double value = values[static_cast<std::size_t>(k * sites + s)];
                            if (std::isnan(value)) continue;
                            sum[static_cast<std::size_t>(s)] += value;
                            ++count[static_cast<std::size_t>(s)];
                        }
                }
            }
            std::vector<double> mean(static_cast<std::size_t>(sites), NaN);
            for (std::size_t s = 0; s < mean.size(); ++s)
                if (count[s] > 0) mean[s] = sum[s] / count[s];
            means.push_back(std::move(mean));
        }
        return means;
    }

    RegionSite Site(std::int64_t index) override {
        const CfResultsLayout& layout = Monthly->Layout();
        const auto i = static_cast<std::size_t>(index);
        return {layout.SiteIds[i], layout.Lat[i], layout.Lon[i], layout.ParamNames, Monthly->SiteParams(index)};
    }

    RegionCourse Course(std::int64_t index, const RegionTask& task) override {
        RegionCourse course;
        course.Variables = C.Variables;
        const std::int64_t steps = Monthly->Layout().Steps;
        for (std::int64_t t = 0; t < steps; ++t) {
            course.Years.push_back(C.FirstYear + static_cast<std::int32_t>(t / 12));
            course.Months.push_back(static_cast<int>(t % 12) + 1);
        }
        std::vector<double> values;
        for (std::size_t v = 0; v < C.Variables.size(); ++v) {
            Monthly->Read(static_cast<int>(v), 0, steps, 1, task.Scenario, task.Realization, index, index + 1, values);
            course.Monthly.push_back(values);
        }
        // The annual file's variables have the same names; a batch folder
        // without it still shows the months.
        if (!fs::exists(AnnualFile)) return course;
        if (!Annual) Annual = OpenCfResults(AnnualFile);
        const CfResultsLayout& annual = Annual->Layout();
        for (std::int64_t t = 0; t < annual.Steps; ++t) course.AnnualYears.push_back(annual.FirstYear + static_cast<std::int32_t>(t));
        for (const RegionVariable& variable : C.Variables) {
            std::vector<double> row(static_cast<std::size_t>(annual.Steps), NaN);
            for (std::size_t a = 0; a < annual.Variables.size(); ++a)
                if (annual.Variables[a].Name == variable.Name)
                    Annual->Read(static_cast<int>(a), 0, annual.Steps, 1, task.Scenario, task.Realization, index,
                                 index + 1, row);
            course.Annual.push_back(std::move(row));
        }
        return course;
    }

    std::uint64_t ValuesRead() const override { return Monthly->ValuesRead(); }

private:
    std::unique_ptr<CfResults> Monthly;
    std::string AnnualFile;
    std::unique_ptr<CfResults> Annual;
    RegionContents C;
};

}  // namespace

std::unique_ptr<RegionSource> NetcdfSource(const std::string& dir) { return std::make_unique<NetcdfRegion>(dir); }

}  // namespace kelmar::region
