// The climatology file (.cld): a header line, a "#" line, then for each of
// the twelve monthly variables a data line "key,Jan,...,Dec" and a comment line.
#pragma once

#include <string>
#include <string_view>

#include "io/text_grid.h"
#include "model/model_state.h"
#include "model/notifier.h"

namespace kelmar {

inline constexpr const char* CLIMATOLOGY_NOT_FOUND_MESSAGE = "File climat parameters (%s) not found.";

// Messages of the lognormal precipitation parameters that cannot be derived:
// av_P zero, av_P negative, and a result too large for a double (a huge Cv_P).
inline constexpr const char* DIVISION_BY_ZERO_MESSAGE = "Floating point division by zero";
inline constexpr const char* INVALID_OPERATION_MESSAGE = "Invalid floating point operation";
inline constexpr const char* OVERFLOW_MESSAGE = "Floating point overflow";

// Reads the climatology file `fileName` (its extension replaced by ".cld")
// into model.Climate and derives mu_P and sigma_P. Gives false after the
// not-found warning when there is no such file. A value that does not convert
// or a month whose parameters cannot be derived raises KelmarError naming the
// file and the line or month; what was stored before it stays. With weather from file, the caller then hides the
// residual deviation of soil temperature (Ss) in the climatology grid.
bool ReadClimatologyFile(TModel& model, const std::string& fileName, Notifier& notifier);

// Reads the bytes of a climatology file into model.Climate and derives mu_P
// and sigma_P: after the two header lines, lines are taken strictly in
// pairs, a data line and a skipped comment line. An error names `fileName`
// and the line (or the month of a failed derivation). A file that looks like
// UTF-16 is refused before anything changes.
void ReadClimatologyBytes(TModel& model, std::string_view bytes, std::string_view fileName = {});

// Stores the twelve monthly values of one data line into `climate`. Every
// value is converted whatever the key; an unknown key stores nothing, and
// text after the twelfth value is ignored.
void ParseClimatologyLine(TClimatology& climate, std::string_view line);

// Month by month: sigma_P = sqrt(ln(Cv_P^2 + 1)), then
// mu_P = ln(av_P / sqrt(Cv_P^2 + 1)). Stops with KelmarError at the first
// month that has none; later months keep their previous values.
void DeriveLognormalPrecipitation(TClimatology& climate);

// Writes the climatology grid, cell (variable 1..12, month 1..12), as a
// climatology file named exactly `fileName`.
void WriteClimatologyFile(const std::string& fileName, const TextGrid& climateGrid);

}  // namespace kelmar
