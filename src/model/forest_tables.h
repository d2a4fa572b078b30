// Constant tables of the forest types and of the growing-season classes.
#pragma once

namespace kelmar {

// Monthly soil-temperature offset (degC, January..December) added to the soil
// temperature under grass to give the mineral-soil temperature under the
// forest, by forest type: Other, Spruce, Pine, Birch, Oak.
inline constexpr double ForestOffsetTable[5][12] = {
    {0.4, 0.3, 0.2, -0.1, -2.7, -4.5, -2.9, -1.9, -1.6, 0.1, 0.8, 0.6},
    {-0.8, -0.7, -0.7, -1.8, -4.4, -3.6, -3.3, -3.0, -1.6, -0.9, -0.4, -0.6},
    {1.1, 0.7, 0.7, 0.5, -2.0, -4.3, -3.8, -2.2, -1.3, 0.9, 1.4, 1.0},
    {1.1, 0.7, 0.7, 0.5, -2.0, -4.3, -3.7, -3.1, -1.9, -0.3, 0.8, 1.0},
    {0.9, 1.2, 0.5, -1.3, -2.9, -4.0, -3.8, -3.0, -1.4, 0.4, 0.9, 0.2},
};

// Share of the reference capacity, by season class 0..5, in units of 1/200 of
// the field-capacity storage (1/350 of the saturation storage with ground
// water): cold or early season 200, warm months 170, 150, 150, first cold
// month after a mild one 170, other cold months of the late year 200.
inline constexpr double SeasonFactor[6] = {200, 170, 150, 150, 170, 200};

}  // namespace kelmar
