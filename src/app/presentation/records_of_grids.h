// The window's grids read back into records: the edited texts of the site
// and climatology grids as numbers, the other direction of grid_texts.h.
#pragma once

#include "app/presentation/text_grid.h"
#include "model/model_state.h"

namespace kelmar {

// The site of a site grid's value column (rows in SITE_FIELDS order). Each
// cell converts as a grid cell does (io/value_text.h: ParseValueLenient; a
// text that is no number gives 0); a flag's number is rounded to the nearest
// integer, ties to even, and kept within 0..255.
TSiteParams SiteOfGrid(const TextGrid& siteGrid);

// Raise the conversion error (KelmarError) of the first cell that the file
// readers would not read back as a number: of the real-valued rows of a site
// grid's value column, or of the cells (variable 1..12, month 1..12) of a
// climatology grid, row by row. Its second line names the grid and the row
// (and column) by their labels in the grid.
void CheckSiteGridNumbers(const TextGrid& siteGrid);
void CheckClimatologyGridNumbers(const TextGrid& climateGrid);

}  // namespace kelmar
