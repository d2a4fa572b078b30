// RegionBatch::Map and SiteCourse: the request checked against what the
// batch holds, the per-site means read, and the statistic made of them.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <sstream>

#include "app/region/region_batch.h"
#include "app/region/region_source.h"
#include "model/errors.h"

namespace kelmar::region {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t SHOWN_IDS = 5;
// The percentiles whose difference is a map's spread across realizations.
constexpr double SPREAD_LOW = 10, SPREAD_HIGH = 90;
constexpr const char* MONTH_NAMES[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

int ScenarioIndex(const RegionContents& c, const std::string& name, const char* what) {
    if (c.Scenarios.empty()) {
        if (name.empty()) return 0;
        throw KelmarError(std::string("The batch ran no scenarios; ") + what + " \"" + name + "\" is not there.");
    }
    if (name.empty()) return 0;
    const auto found = std::find(c.Scenarios.begin(), c.Scenarios.end(), name);
    if (found == c.Scenarios.end())
        throw KelmarError(std::string(what) + " \"" + name + "\" is not in the batch; its scenarios are " +
                          Joined(c.Scenarios) + ".");
    return static_cast<int>(found - c.Scenarios.begin());
}

RegionPeriod PeriodOf(const RegionContents& c, const MapRequest& request) {
    RegionPeriod period{request.FirstYear.value_or(c.FirstYear), request.LastYear.value_or(c.LastYear), request.Months};
    const std::string run = std::to_string(c.FirstYear) + "-" + std::to_string(c.LastYear);
    if (period.FirstYear > period.LastYear)
        throw KelmarError("The years " + std::to_string(period.FirstYear) + "-" + std::to_string(period.LastYear) +
                          " run backwards; give the first year first (the run's years are " + run + ").");
    if (period.FirstYear < c.FirstYear || period.LastYear > c.LastYear)
        throw KelmarError("The years " + std::to_string(period.FirstYear) + "-" + std::to_string(period.LastYear) +
                          " lie outside the run, whose years are " + run + ".");
    for (int month : period.Months)
        if (month < 1 || month > 12)
            throw KelmarError("Month " + std::to_string(month) + " is no month: months are 1 to 12.");
    std::sort(period.Months.begin(), period.Months.end());
    if (std::adjacent_find(period.Months.begin(), period.Months.end()) != period.Months.end())
        throw KelmarError("A month is given twice; give each of 1 to 12 once.");
    if (period.Months.empty())
        for (int month = 1; month <= 12; ++month) period.Months.push_back(month);
    return period;
}

int VariableIndex(const RegionContents& c, const std::string& name) {
    std::vector<std::string> names;
    for (std::size_t v = 0; v < c.Variables.size(); ++v) {
        if (c.Variables[v].Name == name) return static_cast<int>(v);
        names.push_back(c.Variables[v].Name);
    }
    throw KelmarError("The variable \"" + name + "\" is not in the batch; its variables are " + Joined(names) + ".");
}

void CheckRealization(const RegionContents& c, int realization) {
    if (realization < 0 || realization >= c.Realizations)
        throw KelmarError("Realization " + std::to_string(realization) + " is not in the batch; its realizations are 0 to " +
                          std::to_string(c.Realizations - 1) + ".");
}

// Sites a map cannot place: refused, naming how many and the first ids.
void CheckPositions(RegionSource& source) {
    std::vector<std::string> first;
    std::int64_t count = 0;
    for (std::size_t s = 0; s < source.Ids().size(); ++s) {
        if (std::isfinite(source.Lats()[s]) && std::isfinite(source.Lons()[s])) continue;
        if (first.size() < SHOWN_IDS) first.push_back(source.Ids()[s]);
        ++count;
    }
    if (count > 0)
        throw KelmarError(std::to_string(count) + " of " + std::to_string(source.Ids().size()) +
                          " sites have no lat/lon (" + Joined(first) + (count > static_cast<std::int64_t>(SHOWN_IDS) ? ", ..." : "") +
                          "); a map places each site by them: give lat and lon in the site list.");
}

std::string MonthsText(const std::vector<int>& months) {
    if (months.size() == 12) return "all months";
    bool consecutive = months.size() > 2;
    for (std::size_t i = 1; i < months.size(); ++i) consecutive = consecutive && months[i] == months[i - 1] + 1;
    if (consecutive) return std::string(MONTH_NAMES[months.front() - 1]) + " to " + MONTH_NAMES[months.back() - 1];
    std::vector<std::string> names;
    for (int month : months) names.push_back(MONTH_NAMES[month - 1]);
    return Joined(names);
}

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// The finite values of one site across tasks.
std::vector<double> FiniteAt(const std::vector<std::vector<double>>& means, std::size_t site) {
    std::vector<double> values;
    for (const std::vector<double>& task : means)
        if (std::isfinite(task[site])) values.push_back(task[site]);
    return values;
}

double MeanOf(const std::vector<double>& values) {
    if (values.empty()) return NaN;
    double sum = 0;
    for (double value : values) sum += value;
    return sum / static_cast<double>(values.size());
}

// The realizations' tasks of a scenario: the one asked for, or all of them.
std::vector<RegionTask> TasksOf(const RegionContents& c, int scenario, const std::optional<int>& realization) {
    std::vector<RegionTask> tasks;
    if (realization) return {{scenario, *realization}};
    for (int r = 0; r < c.Realizations; ++r) tasks.push_back({scenario, r});
    return tasks;
}

// Per site: the mean over the realizations of each one's mean (the one
// realization asked for, if any).
std::vector<double> ScenarioMeans(RegionSource& source, int variable, int scenario,
                                  const std::optional<int>& realization, const RegionPeriod& period) {
    const std::vector<std::vector<double>> means =
        source.Means(variable, TasksOf(source.Contents(), scenario, realization), period);
    std::vector<double> result(source.Ids().size());
    for (std::size_t s = 0; s < result.size(); ++s) result[s] = MeanOf(FiniteAt(means, s));
    return result;
}

}  // namespace

RegionMap RegionBatch::Map(const MapRequest& request) {
    const RegionContents& c = Contents();
    const int variable = VariableIndex(c, request.Variable);
    const int scenario = ScenarioIndex(c, request.Scenario, "The scenario");
    const RegionPeriod period = PeriodOf(c, request);
    if (request.Realization) CheckRealization(c, *request.Realization);
    const bool across = request.Statistic == MapStatistic::Percentile || request.Statistic == MapStatistic::Spread;
    if (across && request.Realization)
        throw KelmarError("A percentile or spread is taken across the realizations; a single realization has none.");
    if (request.Statistic == MapStatistic::Percentile && !(request.Percentile >= 0 && request.Percentile <= 100))
        throw KelmarError("The percentile " + Number(request.Percentile) + " is not within 0 to 100.");
    if (request.Statistic == MapStatistic::Difference && request.OtherScenario.empty())
        throw KelmarError("A difference needs the scenario to subtract.");
    CheckPositions(*Source);

    RegionMap map;
    map.Ids = Source->Ids();
    map.Lat = Source->Lats();
    map.Lon = Source->Lons();
    const RegionVariable& v = c.Variables[static_cast<std::size_t>(variable)];
    map.Quantity = v.LongName;
    map.Units = v.Units;
    const std::string years = std::to_string(period.FirstYear) + "-" + std::to_string(period.LastYear);
    const std::string scenarioName = c.Scenarios.empty() ? "" : c.Scenarios[static_cast<std::size_t>(scenario)];
    const std::string realization = request.Realization ? ", realization " + std::to_string(*request.Realization) : "";
    const std::string of = "mean of " + MonthsText(period.Months) + ", " + years;

    switch (request.Statistic) {
        case MapStatistic::Mean:
            map.Value = ScenarioMeans(*Source, variable, scenario, request.Realization, period);
            map.Title = v.Name + ", " + of + (scenarioName.empty() ? "" : ", scenario " + scenarioName) + realization;
            break;
        case MapStatistic::Difference: {
            const int other = ScenarioIndex(c, request.OtherScenario, "The scenario to subtract");
            map.Value = ScenarioMeans(*Source, variable, scenario, request.Realization, period);
            const std::vector<double> base = ScenarioMeans(*Source, variable, other, request.Realization, period);
            for (std::size_t s = 0; s < map.Value.size(); ++s) map.Value[s] -= base[s];
            map.Title = v.Name + ", " + scenarioName + " minus " + request.OtherScenario + ", " + of + realization;
            map.Diverging = true;
            break;
        }
        case MapStatistic::Percentile:
        case MapStatistic::Spread: {
            const std::vector<std::vector<double>> means =
                Source->Means(variable, TasksOf(c, scenario, std::nullopt), period);
            map.Value.assign(map.Ids.size(), NaN);
            for (std::size_t s = 0; s < map.Value.size(); ++s) {
                std::vector<double> values = FiniteAt(means, s);
                if (request.Statistic == MapStatistic::Percentile) {
                    map.Value[s] = Percentile(values, request.Percentile);
                } else if (!values.empty()) {
                    map.Value[s] = Percentile(values, SPREAD_HIGH) - Percentile(values, SPREAD_LOW);
                }
            }
            const std::string acrossText = " across " + std::to_string(c.Realizations) + " realizations";
            map.Title = v.Name + ", " +
                        (request.Statistic == MapStatistic::Spread
                             ? "spread (90th minus 10th percentile)"
                             : "percentile " + Number(request.Percentile)) +
                        acrossText + " of the " + of + (scenarioName.empty() ? "" : ", scenario " + scenarioName);
            break;
        }
    }
    // A difference, percentile or spread of a site without values in the
    // period stays NaN; nothing else is left not finite.
    for (double& value : map.Value)
        if (!std::isfinite(value)) value = NaN;
    return map;
}

RegionCourse RegionBatch::SiteCourse(std::int64_t index, const std::string& scenario, int realization) {
    const RegionContents& c = Contents();
    if (index < 0 || index >= c.Sites)
        throw KelmarError("The batch has sites 0 to " + std::to_string(c.Sites - 1) + ", not " + std::to_string(index) + ".");
    CheckRealization(c, realization);
    return Source->Course(index, {ScenarioIndex(c, scenario, "The scenario"), realization});
}

}  // namespace kelmar::region
