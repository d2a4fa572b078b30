// An io-layer file that includes an application header: the file formats
// know no grids nor commands, so the layers test expects this include to be
// missing.
#include "io/site_file.h"
#include "app/presentation/grid_texts.h"

namespace kelmar {
SiteTexts TextsOfTheSite(const TSiteParams& site) { return SiteValueTexts(site); }
}  // namespace kelmar
