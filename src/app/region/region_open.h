// The window's way into a batch's folder for maps: a folder with results.nc
// needs nothing more; one with CSV tables only (which hold no positions)
// takes the site list a Python batch keeps in it (.kelmar-sites.csv), or
// the list the person names.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/region/region_batch.h"

namespace kelmar::region {

// The copy of a DataFrame's site list a Python batch writes into its folder.
inline constexpr const char* KEPT_SITE_LIST = ".kelmar-sites.csv";

// Opens the batch in `dir` (RegionBatch::Open's refusals); `askList` is
// asked for the site list only when the folder needs one and keeps none.
// Nothing when it gives none.
std::optional<RegionBatch> OpenRegionFolder(const std::string& dir, const std::string& programVersion,
                                            const std::function<std::optional<std::string>()>& askList);

}  // namespace kelmar::region
