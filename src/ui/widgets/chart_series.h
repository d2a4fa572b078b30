// The nine line series of the chart in list (and legend) order: the three
// input-weather variables, then the six forest-floor and mineral-soil
// results. One table gives each its name, title, colour, vertical axis, the
// field of the results record it plots and the tab group it belongs to.
#pragma once

#include <array>
#include <cstdint>

#include "model/model_state.h"

namespace kelmar::ui {

enum class ChartSeries { Tair, Tsoil, Prec, T_ff, T_ms, W_ff_vol, W_ms_vol, W_ff_mass, W_ms_mass };
inline constexpr int SERIES_COUNT = 9;

// Input series are shown on the "Input" tab, results series on the others.
enum class SeriesGroup { Input, Results };
enum class AxisSide { Left, Right };

struct SeriesInfo {
    const char* Name;       // object name of the series
    const char* Title;      // legend text
    std::uint32_t Color;    // Windows colour value 0x00BBGGRR
    AxisSide Axis;
    double TResultRecord::*Field;
    SeriesGroup Group;
};

inline constexpr std::array<SeriesInfo, SERIES_COUNT> SERIES_TABLE = {{
    {"Series1", "Tair, \u00b0C", 187, AxisSide::Left, &TResultRecord::Tair, SeriesGroup::Input},
    {"Series3", "Tsoil, \u00b0C", 16711935, AxisSide::Left, &TResultRecord::Tsoil, SeriesGroup::Input},
    {"Series5", "Prec", 9671424, AxisSide::Right, &TResultRecord::Prec, SeriesGroup::Input},
    {"Series2", "T_ff, \u00b0C", 2846975, AxisSide::Left, &TResultRecord::T_ff, SeriesGroup::Results},
    {"Series4", "T_ms, \u00b0C", 16402, AxisSide::Left, &TResultRecord::T_ms, SeriesGroup::Results},
    {"Series9", "W_ff, %vol.", 9188742, AxisSide::Right, &TResultRecord::W_ff_vol, SeriesGroup::Results},
    {"Series8", "W_ms, %vol.", 64507, AxisSide::Right, &TResultRecord::W_ms_vol, SeriesGroup::Results},
    {"Series7", "W_ff, %m.", 3145519, AxisSide::Right, &TResultRecord::W_ff_mass, SeriesGroup::Results},
    {"Series6", "W_ms, %m.", 10485760, AxisSide::Right, &TResultRecord::W_ms_mass, SeriesGroup::Results},
}};

inline const SeriesInfo& Info(ChartSeries series) { return SERIES_TABLE[static_cast<std::size_t>(series)]; }

inline ChartSeries SeriesAt(int position) { return static_cast<ChartSeries>(position); }

}  // namespace kelmar::ui
