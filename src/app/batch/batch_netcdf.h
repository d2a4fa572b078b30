// The netCDF output of a batch (results.nc), made from the chunk parts when
// they are joined: a reader over each chunk's site index, monthly and
// annual parts rebuilds one site's records at a time (the parts hold the
// shortest text of each double, so the numbers are the same doubles) and
// hands them to CfNetcdfWriter, so memory holds one site whatever the size
// of the batch.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/cf_netcdf.h"

namespace kelmar::batch {

// The parts of one chunk.
struct ChunkPartFiles {
    std::string Sites;    // the site index (batch_tables.h)
    std::string Monthly;
    std::string Annual;
};

// Writes `fileName` from the parts of `chunks`, in their order, which must
// hold `siteCount` sites. The time axis spans the smallest to the largest
// calendar year of all sites (a first pass over the site indexes); a failed
// site is written without results, so the file's sites are the list's.
// `description` gives the title, source, program and seed; its site count
// and years are set here. Returns false, writing nothing, when no site has
// results (a file needs at least one year). Raises KelmarError naming the
// part and its line when a part does not hold what its index says, and the
// writer's errors; the target is left as it was then.
bool WriteNetcdfFromParts(const std::string& fileName, const std::vector<ChunkPartFiles>& chunks,
                          std::int64_t siteCount, CfFileDescription description);

}  // namespace kelmar::batch
