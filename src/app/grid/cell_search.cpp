#include "app/grid/cell_search.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

#include "model/errors.h"

namespace kelmar::grid {

namespace {

constexpr double DEGREE = std::numbers::pi / 180.0;
// One degree of a great circle (km).
constexpr double KM_PER_DEGREE = EARTH_RADIUS_KM * DEGREE;

// `lon` minus `from`, in -180..180.
double LonDifference(double lon, double from) { return std::remainder(lon - from, 360.0); }

std::string Degrees(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

}  // namespace

double GreatCircleKm(double lat1, double lon1, double lat2, double lon2) {
    // Haversine: exact enough for short distances, where the law of cosines loses digits.
    const double dLat = (lat2 - lat1) * DEGREE, dLon = LonDifference(lon2, lon1) * DEGREE;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(lat1 * DEGREE) * std::cos(lat2 * DEGREE) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * EARTH_RADIUS_KM * std::asin(std::min(1.0, std::sqrt(a)));
}

CellSearch::CellSearch(std::vector<double> lats, std::vector<double> lons) : Lats(std::move(lats)), Lons(std::move(lons)) {
    if (Lats.size() < 2 || Lons.size() < 2)
        throw KelmarError("The grid has " + std::to_string(Lats.size()) + " latitudes and " +
                          std::to_string(Lons.size()) + " longitudes; sites are placed on grids of two of each at least.");
    const double firstLat = std::min(Lats.front(), Lats.back()), lastLat = std::max(Lats.front(), Lats.back());
    const auto n = Lats.size();
    const double southStep = std::fabs(Lats[Lats.front() < Lats.back() ? 1 : n - 2] - firstLat);
    const double northStep = std::fabs(lastLat - Lats[Lats.front() < Lats.back() ? n - 2 : 1]);
    South = std::max(-90.0, firstLat - southStep / 2);
    North = std::min(90.0, lastLat + northStep / 2);
    const double westStep = Lons[1] - Lons[0], eastStep = Lons.back() - Lons[Lons.size() - 2];
    West = Lons.front() - westStep / 2;
    Width = Lons.back() + eastStep / 2 - West;
    // Regular columns that go round: n steps make 360 degrees, to rounding.
    IsGlobal = Width >= 360.0 - 1e-6 * 360.0;
}

double CellSearch::Lon(const Cell& cell) const { return LonDifference(Lons[cell.Col], 0.0); }

double CellSearch::DistanceKm(double lat, double lon, const Cell& cell) const {
    return GreatCircleKm(lat, lon, Lats[cell.Row], Lons[cell.Col]);
}

std::optional<Cell> CellSearch::Own(double lat, double lon, std::string& outside) const {
    const double east = West + Width;
    if (lat < South || lat > North || (!IsGlobal && std::fmod(std::fmod(lon - West, 360.0) + 360.0, 360.0) > Width)) {
        outside = "lies outside the grid (latitudes " + Degrees(South) + " to " + Degrees(North) + ", longitudes " +
                  (IsGlobal ? std::string("all") : Degrees(West) + " to " + Degrees(east)) + ")";
        return std::nullopt;
    }
    Cell cell;
    double best = 1e300;
    for (std::size_t i = 0; i < Lats.size(); ++i)
        if (std::fabs(Lats[i] - lat) < best) {
            best = std::fabs(Lats[i] - lat);
            cell.Row = static_cast<int>(i);
        }
    best = 1e300;
    for (std::size_t j = 0; j < Lons.size(); ++j)
        if (std::fabs(LonDifference(Lons[j], lon)) < best) {
            best = std::fabs(LonDifference(Lons[j], lon));
            cell.Col = static_cast<int>(j);
        }
    return cell;
}

std::vector<std::pair<Cell, double>> CellSearch::Near(double lat, double lon, double km) const {
    const double latReach = km / KM_PER_DEGREE;
    std::vector<int> rows;
    double poleward = std::fabs(lat);
    for (std::size_t i = 0; i < Lats.size(); ++i)
        if (std::fabs(Lats[i] - lat) <= latReach) {
            rows.push_back(static_cast<int>(i));
            poleward = std::max(poleward, std::fabs(Lats[i]));
        }
    // A degree of longitude is shortest at the most poleward latitude
    // searched; within a degree of the pole, every column may be near.
    const double shortest = std::cos(std::min(89.0, poleward + 1.0) * DEGREE) * KM_PER_DEGREE;
    const double lonReach = km / shortest;
    std::vector<std::pair<Cell, double>> near;
    for (int row : rows)
        for (std::size_t j = 0; j < Lons.size(); ++j) {
            if (lonReach < 180 && std::fabs(LonDifference(Lons[j], lon)) > lonReach) continue;
            const Cell cell{row, static_cast<int>(j)};
            const double distance = DistanceKm(lat, lon, cell);
            if (distance <= km) near.emplace_back(cell, distance);
        }
    std::sort(near.begin(), near.end(), [](const auto& a, const auto& b) {
        return std::tie(a.second, a.first.Row, a.first.Col) < std::tie(b.second, b.first.Row, b.first.Col);
    });
    return near;
}

std::vector<std::pair<Cell, double>> CellSearch::Around(double lat, double lon) const {
    // The two rows framing the latitude, and the site's share between them.
    const bool rising = Lats.front() < Lats.back();
    const auto n = static_cast<int>(Lats.size());
    int r0 = 0, r1 = 0;
    double fy = 0;
    const double low = rising ? Lats.front() : Lats.back(), high = rising ? Lats.back() : Lats.front();
    if (lat <= low) {
        r0 = r1 = rising ? 0 : n - 1;
    } else if (lat >= high) {
        r0 = r1 = rising ? n - 1 : 0;
    } else {
        for (int i = 0; i + 1 < n; ++i) {
            const double a = Lats[i], b = Lats[i + 1];
            if ((lat >= std::min(a, b)) && (lat <= std::max(a, b))) {
                r0 = i;
                r1 = i + 1;
                fy = (lat - a) / (b - a);
                break;
            }
        }
    }
    // The two columns framing the longitude, across the seam of a global grid.
    const auto m = static_cast<int>(Lons.size());
    int c0 = 0, c1 = 0;
    double fx = 0;
    bool found = false;
    for (int j = 0; j < m && !found; ++j) {
        const int k = j + 1 < m ? j + 1 : (IsGlobal ? 0 : -1);
        if (k < 0) break;
        // Eastward from column j to k (across the seam: k is column 0), and to the site.
        double span = LonDifference(Lons[k], Lons[j]);
        if (span <= 0) span += 360.0;
        double offset = LonDifference(lon, Lons[j]);
        if (offset < 0) offset += 360.0;
        if (offset <= span) {
            c0 = j;
            c1 = k;
            fx = offset / span;
            found = true;
        }
    }
    if (!found) {  // beyond the outer centres of a regional grid: the nearer edge
        c0 = c1 = std::fabs(LonDifference(lon, Lons.front())) < std::fabs(LonDifference(lon, Lons.back())) ? 0 : m - 1;
    }
    std::vector<std::pair<Cell, double>> around;
    const auto add = [&around](int row, int col, double weight) {
        if (weight <= 0) return;
        for (auto& [cell, w] : around)
            if (cell.Row == row && cell.Col == col) {
                w += weight;
                return;
            }
        around.push_back({Cell{row, col}, weight});
    };
    add(r0, c0, (1 - fy) * (1 - fx));
    add(r0, c1, (1 - fy) * fx);
    add(r1, c0, fy * (1 - fx));
    add(r1, c1, fy * fx);
    return around;
}

}  // namespace kelmar::grid
