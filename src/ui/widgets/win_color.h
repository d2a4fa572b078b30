// Colours of the window as Windows colour values (0x00BBGGRR): the form
// stores them that way, Qt wants red, green and blue.
#pragma once

#include <QColor>

#include <cstdint>

namespace kelmar::ui {

// Background of the window, its panels, the grid cells and the chart: RGB(218, 224, 248).
inline constexpr std::uint32_t BACKGROUND_COLOR = 16310490;
// Header (fixed) cells of every grid: RGB(236, 245, 255).
inline constexpr std::uint32_t FIXED_CELL_COLOR = 16774636;
// Notices and the weather values the run filled in: RGB(187, 0, 0).
inline constexpr std::uint32_t NOTICE_COLOR = 187;

inline QColor WinColor(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFFu), static_cast<int>((bgr >> 8) & 0xFFu),
                  static_cast<int>((bgr >> 16) & 0xFFu));
}

}  // namespace kelmar::ui
