// climatologies.nc of a batch, made from its climatology values parts when
// they are joined. A part holds, for each site of a chunk that ran, in list
// order, a record of the numbers themselves (never their text): a small
// header with the site's id and position, then months 1..12 of each field
// of CLIMATE_FIELDS as the run held them. The file is written from them one
// site at a time, so memory holds one chunk of records whatever the size of
// the batch.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/cf_climatology.h"
#include "model/model_state.h"

namespace kelmar::batch {

// The values record of a site that ran from `climate`.
std::string SiteClimatologyRecord(std::string_view siteId, std::optional<double> lat, std::optional<double> lon,
                                  const TClimatology& climate);

// The records of one chunk: `Bytes` bytes of the part `Stream` from
// `Offset`, holding `Sites` records.
struct ClimatologyChunk {
    std::string Stream;
    std::uint64_t Offset = 0;
    std::uint64_t Bytes = 0;
    std::int64_t Sites = 0;
};

// Writes `file` from the records of `chunks`, in their order; `description`
// gives the title, source and program, its site count is set here (at least
// one site). Raises KelmarError naming the part and the byte where a part
// does not hold what the batch wrote there, and the writer's errors; the
// target is left as it was then.
void WriteClimatologyNetcdf(const std::string& file, const std::vector<ClimatologyChunk>& chunks,
                            CfClimatologyDescription description);

}  // namespace kelmar::batch
