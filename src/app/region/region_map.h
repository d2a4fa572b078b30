// What a map of a batch's region shows: every site at its position with one
// value, and what the value is (the variable, the statistic, the period),
// so that the drawing needs nothing else. Plain data, no files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelmar::region {

// The statistic a map shows for each site.
enum class MapStatistic {
    Mean,        // of the variable over the years and months asked for
    Difference,  // the mean under Scenario minus the mean under OtherScenario
    Percentile,  // across the realizations of an ensemble, of each realization's mean
    Spread,      // across the realizations: the 90th minus the 10th percentile of their means
};

// What to map, as the window's controls and `kelmar-cli map` give it.
struct MapRequest {
    std::string Variable;        // a results variable: tair, t_ff, tsoil, t_ms, prec, w_ms_vol, ...
    std::vector<int> Months;     // 1..12, each once; empty: every month
    std::optional<std::int32_t> FirstYear, LastYear;  // calendar years; nothing: the run's first / last
    MapStatistic Statistic = MapStatistic::Mean;
    std::string Scenario;        // empty: the batch's first (or only) scenario
    std::string OtherScenario;   // Difference: the scenario subtracted
    // Mean and Difference of an ensemble: the realization shown; nothing:
    // the mean over the realizations.
    std::optional<int> Realization;
    double Percentile = 50;      // Percentile: 0..100
};

// One value per site, in the batch's site order. Value is NaN where a site
// has none (it failed, or has no month in the period): drawn apart, never
// coloured.
struct RegionMap {
    std::vector<std::string> Ids;
    std::vector<double> Lat, Lon;  // degrees north, east (-180..180)
    std::vector<double> Value;

    std::string Title;       // e.g. "t_ms, mean of July, 2071-2100, scenario warm"
    std::string Quantity;    // the variable's long name, e.g. "mineral-soil temperature under the forest"
    std::string Units;       // of Value, e.g. "degC"; a difference keeps the variable's units
    // A difference (or any value of both signs around zero that means a
    // change) is drawn with a diverging colour map centred on zero; other
    // values with a perceptually uniform one.
    bool Diverging = false;
};

// Draws a map into a picture file. The window's libraries provide it, in
// the module kelmar-region-map beside kelmar-cli (its symbol
// kelmar_new_region_map_writer gives a new writer, owned by the caller), so
// that `kelmar-cli map` draws with the window's own code and no other
// command loads Qt.
class RegionMapWriter {
public:
    virtual ~RegionMapWriter() = default;
    // Draws `map` into `fileName`: PNG, SVG or PDF by its extension, `width`
    // x `height` pixels (PDF: the same size at 96 dots an inch). Raises
    // KelmarError naming the file when it cannot be written.
    virtual void Write(const RegionMap& map, const std::string& fileName, int width, int height) = 0;
};

}  // namespace kelmar::region
