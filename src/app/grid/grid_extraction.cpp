#include "app/grid/grid_extraction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <optional>
#include <set>

#include "app/grid/cell_search.h"
#include "model/errors.h"

namespace kelmar::grid {

namespace {

constexpr double NOT_A_VALUE = std::numeric_limits<double>::quiet_NaN();

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string SiteName(const GridSite& site) {
    if (site.Line == 0) return "The position lat " + Number(site.Lat) + ", lon " + Number(site.Lon);
    return "The site \"" + site.Id + "\" (line " + std::to_string(site.Line) + ")";
}

// What a site needs of the grid, worked out before anything is read.
struct SitePlan {
    std::string Error;
    Cell Own;
    std::vector<std::pair<Cell, double>> Around;  // bilinear weights
    int RowMin = 0, RowMax = -1, ColMin = 0, ColMax = -1;

    void Cover(const Cell& cell) {
        if (RowMax < RowMin) {
            RowMin = RowMax = cell.Row;
            ColMin = ColMax = cell.Col;
            return;
        }
        RowMin = std::min(RowMin, cell.Row);
        RowMax = std::max(RowMax, cell.Row);
        ColMin = std::min(ColMin, cell.Col);
        ColMax = std::max(ColMax, cell.Col);
    }
};

bool HoldsData(const GridBlock& block, const Cell& cell) {
    for (GridKey key : {GridKey::Tair, GridKey::Prec}) {
        bool any = false;
        for (int m = 0; m < block.Months && !any; ++m) any = !std::isnan(block.At(key, m, cell.Row, cell.Col));
        if (!any) return false;
    }
    return true;
}

}  // namespace

const char* GridMethodName(GridMethod method) { return method == GridMethod::Bilinear ? "bilinear" : "nearest"; }

namespace {

ClimateGridRequest Request(const ExtractOptions& options) {
    static_assert(RECORD_KEYS.size() == GRID_KEY_COUNT);
    ClimateGridRequest request;
    request.Files = options.GridFiles;
    request.Names = options.VariableNames;
    request.Units = options.Units;
    return request;
}

}  // namespace

GridExtraction::GridExtraction(const ExtractOptions& options) : Options(options), Reader(OpenClimateGrid(Request(options))) {}

GridExtraction::~GridExtraction() = default;

std::vector<std::string> GridExtraction::Notes() const { return Reader->Notes(); }

namespace {

class SiteWork {
public:
    SiteWork(ClimateGrid& grid, const ExtractOptions& options, const CellSearch& search)
        : Grid(grid), Options(options), Search(search) {}

    SitePlan Plan(const GridSite& site) const {
        SitePlan plan;
        if (!site.Fault.empty()) {
            plan.Error = site.Fault;
            return plan;
        }
        std::string outside;
        const std::optional<Cell> own = Search.Own(site.Lat, site.Lon, outside);
        if (!own) {
            const std::string at = site.Line == 0 ? "" : " at lat " + Number(site.Lat) + ", lon " + Number(site.Lon);
            plan.Error = SiteName(site) + at + " " + outside + ".";
            return plan;
        }
        plan.Own = *own;
        plan.Cover(*own);
        if (Options.Method == GridMethod::Bilinear) {
            plan.Around = Search.Around(site.Lat, site.Lon);
            for (const auto& [cell, weight] : plan.Around) plan.Cover(cell);
        }
        return plan;
    }

    // The record of one site from the block holding its plan's cells; false
    // when they hold no data, and a stand-in is to be looked for (StandIn).
    bool Take(const GridSite& site, const SitePlan& plan, const GridBlock& block, SiteRecord& record) const {
        const GridMonths months = Grid.Months();
        record.FirstYear = GridMonthYear(months.First);
        record.FirstMonth = GridMonthOfYear(months.First);
        if (Options.Method == GridMethod::Bilinear) {
            std::vector<std::pair<Cell, double>> used;
            for (const auto& entry : plan.Around)
                if (HoldsData(block, entry.first)) used.push_back(entry);
            if (used.empty()) return false;  // sea around the site: the nearest cell with data, as without --method
            for (const auto& [cell, weight] : used)
                if (Refuse(site, block, cell, record)) return true;
            Interpolate(block, used, record);
            const auto nearest = std::min_element(used.begin(), used.end(), [&](const auto& a, const auto& b) {
                return Search.DistanceKm(site.Lat, site.Lon, a.first) < Search.DistanceKm(site.Lat, site.Lon, b.first);
            });
            record.Cell = Describe(site, nearest->first, GridMethod::Bilinear);
            return true;
        }
        if (!HoldsData(block, plan.Own)) return false;
        TakeCell(site, block, plan.Own, record);
        return true;
    }

    // The nearest cell holding data within the distance allowed, for a site
    // whose own cells hold none. The cells within reach are read a row
    // segment at a time in the order of their nearest cell, each segment at
    // most BlockBytes, so that a fine grid's wide reach never comes whole
    // into memory; a segment's cells are only checked for data, and the one
    // taken is read again alone.
    void StandIn(const GridSite& site, const SitePlan& plan, SiteRecord& record) {
        const std::vector<std::pair<Cell, double>> near = Search.Near(site.Lat, site.Lon, Options.MaxDistanceKm);
        std::set<int> scanned;                  // rows whose segment was read
        std::set<std::pair<int, int>> holding;  // (row, column) of the cells read that hold data
        GridBlock block;
        for (const auto& [cell, distance] : near) {
            if (scanned.insert(cell.Row).second) {
                int first = cell.Col, last = cell.Col;
                for (const auto& [other, d] : near)
                    if (other.Row == cell.Row) {
                        first = std::min(first, other.Col);
                        last = std::max(last, other.Col);
                    }
                const int width = std::max(1, static_cast<int>(Options.BlockBytes / CellBytes));
                for (int begin = first; begin <= last; begin += width) {
                    const int end = std::min(last + 1, begin + width);
                    Grid.ReadBlock(cell.Row, cell.Row + 1, begin, end, block);
                    for (int col = begin; col < end; ++col)
                        if (HoldsData(block, {cell.Row, col})) holding.insert({cell.Row, col});
                }
            }
            if (!holding.count({cell.Row, cell.Col})) continue;
            Grid.ReadBlock(cell.Row, cell.Row + 1, cell.Col, cell.Col + 1, block);
            TakeCell(site, block, cell, record);
            return;
        }
        record.Error = SiteName(site) + ": its cell (lat " + Number(Search.Lat(plan.Own)) + ", lon " +
                       Number(Search.Lon(plan.Own)) + ") holds no data, nor does any cell within " +
                       Number(Options.MaxDistanceKm) + " km (--max-distance).";
    }

    std::size_t CellBytes = 1;  // of one cell's months as read

private:
    void TakeCell(const GridSite& site, const GridBlock& block, const Cell& cell, SiteRecord& record) const {
        if (Refuse(site, block, cell, record)) return;
        for (int k = 0; k < GRID_KEY_COUNT; ++k) {
            std::vector<double>& series = record.Values[k];
            series.assign(block.Months, NOT_A_VALUE);
            if (block.Values[k].empty()) continue;
            for (int m = 0; m < block.Months; ++m) series[m] = block.At(static_cast<GridKey>(k), m, cell.Row, cell.Col);
        }
        record.Cell = Describe(site, cell, GridMethod::Nearest);
    }

    CellTaken Describe(const GridSite& site, const Cell& cell, GridMethod method) const {
        return {Search.Lat(cell), Search.Lon(cell), Search.DistanceKm(site.Lat, site.Lon, cell), method};
    }

    // Sets the site's error and gives true when the cell holds a value no
    // monthly mean temperature or monthly precipitation can have.
    bool Refuse(const GridSite& site, const GridBlock& block, const Cell& cell, SiteRecord& record) const {
        for (int k = 0; k < GRID_KEY_COUNT; ++k) {
            if (block.Values[k].empty()) continue;
            const auto key = static_cast<GridKey>(k);
            for (int m = 0; m < block.Months; ++m) {
                const double value = block.At(key, m, cell.Row, cell.Col);
                if (std::isnan(value)) continue;
                const std::optional<std::string> why = AbsurdGridValue(GridKeyQuantity(key), value);
                if (!why) continue;
                const GridSource source = Grid.SourceAt(key, Grid.Months().First + m);
                record.Error = SiteName(site) + ": the grid file \"" + source.File + "\", variable \"" + source.Name +
                               "\" (" + GRID_KEY_NAMES[k] + ") holds " + Number(value) +
                               (key == GridKey::Prec ? " mm" : " degC") + " in " +
                               GridMonthText(Grid.Months().First + m) + " at the cell lat " +
                               Number(Search.Lat(cell)) + ", lon " + Number(Search.Lon(cell)) + ": " + *why + ".";
                return true;
            }
        }
        return false;
    }

    // Each month the weighted mean of the cells holding a value that month,
    // the weights of the others left out (and the rest scaled up to one).
    void Interpolate(const GridBlock& block, const std::vector<std::pair<Cell, double>>& used, SiteRecord& record) const {
        for (int k = 0; k < GRID_KEY_COUNT; ++k) {
            std::vector<double>& series = record.Values[k];
            series.assign(block.Months, NOT_A_VALUE);
            if (block.Values[k].empty()) continue;
            for (int m = 0; m < block.Months; ++m) {
                double sum = 0, weights = 0;
                for (const auto& [cell, weight] : used) {
                    const double value = block.At(static_cast<GridKey>(k), m, cell.Row, cell.Col);
                    if (std::isnan(value)) continue;
                    sum += weight * value;
                    weights += weight;
                }
                if (weights > 0) series[m] = sum / weights;
            }
        }
    }

    ClimateGrid& Grid;
    const ExtractOptions& Options;
    const CellSearch& Search;
};

}  // namespace

void GridExtraction::Run(const std::vector<GridSite>& sites, const std::function<void(const SiteRecord&)>& deliver) {
    const CellSearch search(Reader->Lats(), Reader->Lons());
    SiteWork work(*Reader, Options, search);
    const std::size_t months = static_cast<std::size_t>(Reader->Months().Count);
    std::size_t keys = 0;
    for (int k = 0; k < GRID_KEY_COUNT; ++k) keys += Reader->Source(static_cast<GridKey>(k)).Present;
    // A cell's bytes as read: the values of each variable and the library's buffer beside them.
    const std::size_t cellBytes = months * (keys + 1) * sizeof(double);
    work.CellBytes = cellBytes;
    const std::size_t recordBytes = months * GRID_KEY_COUNT * sizeof(double) + 256;
    const std::size_t window = std::max<std::size_t>(1, Options.BlockBytes / recordBytes);
    GridBlock block;
    for (std::size_t begin = 0; begin < sites.size(); begin += window) {
        const std::size_t end = std::min(sites.size(), begin + window);
        std::vector<SiteRecord> records(end - begin);
        std::vector<SitePlan> plans(end - begin);
        std::vector<std::size_t> order, standIns;
        for (std::size_t i = begin; i < end; ++i) {
            records[i - begin].Site = &sites[i];
            plans[i - begin] = work.Plan(sites[i]);
            if (plans[i - begin].Error.empty()) order.push_back(i - begin);
            else records[i - begin].Error = plans[i - begin].Error;
        }
        std::stable_sort(order.begin(), order.end(), [&plans](std::size_t a, std::size_t b) {
            return plans[a].RowMin < plans[b].RowMin || (plans[a].RowMin == plans[b].RowMin && plans[a].ColMin < plans[b].ColMin);
        });
        // Bands of sites whose cells' bounding box stays within the budget.
        for (std::size_t first = 0; first < order.size();) {
            SitePlan box = plans[order[first]];
            std::size_t last = first + 1;
            for (; last < order.size(); ++last) {
                const SitePlan& next = plans[order[last]];
                const std::size_t rows = std::max(box.RowMax, next.RowMax) - std::min(box.RowMin, next.RowMin) + 1;
                const std::size_t cols = std::max(box.ColMax, next.ColMax) - std::min(box.ColMin, next.ColMin) + 1;
                if (rows * cols * cellBytes > Options.BlockBytes) break;
                box.RowMin = std::min(box.RowMin, next.RowMin);
                box.RowMax = std::max(box.RowMax, next.RowMax);
                box.ColMin = std::min(box.ColMin, next.ColMin);
                box.ColMax = std::max(box.ColMax, next.ColMax);
            }
            Reader->ReadBlock(box.RowMin, box.RowMax + 1, box.ColMin, box.ColMax + 1, block);
            for (std::size_t i = first; i < last; ++i)
                if (!work.Take(sites[begin + order[i]], plans[order[i]], block, records[order[i]]))
                    standIns.push_back(order[i]);
            first = last;
        }
        for (std::size_t i : standIns) work.StandIn(sites[begin + i], plans[i], records[i]);
        for (const SiteRecord& record : records) deliver(record);
    }
}

}  // namespace kelmar::grid
