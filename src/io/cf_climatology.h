// The climatologies of many sites as one netCDF file following the CF
// conventions (version 1.8), beside the batch's results.nc:
//   dimensions  month = 12, site_id (the sites, as results.nc has them)
//   month(month)          1..12, January first; axis Z, the only axis besides
//                         time and the sites that CDO reads fields on
//   site_id(site_id), lat(site_id), lon(site_id)   as in results.nc
//                         (io/netcdf_writing.h), so that the two files
//                         line up site by site
//   <Key>(month, site_id) each field of CLIMATE_FIELDS (av_Ta, ...), with
//                         its long name and unit, the _FillValue where the
//                         climatology lacks the value (-99.9, or anything
//                         not above -90, as every reader of a climatology
//                         takes it)
// Doubles: the values are the inputs of later runs and read back exactly.
//
// Sites come one after the other and are gathered in blocks; each block
// goes in with one library call per field. The file is written under a
// temporary name beside its target and takes the target's name only when
// every site is in.
#pragma once

#include <memory>
#include <string>

#include "io/cf_netcdf.h"
#include "model/model_state.h"

namespace kelmar {

struct CfClimatologyDescription {
    int SiteCount = 0;           // sites the file will hold, at least 1
    std::string Title;           // global attribute "title"
    std::string Source;          // global attribute "source"
    std::string ProgramName;     // for the history line
    std::string ProgramVersion;  // global attribute "program_version" and the history line
    // Global attribute "reference_period": the years the climatologies were
    // estimated from ("1961-1990", or words for each record's whole span);
    // none when empty.
    std::string ReferencePeriod;
    int Deflate = 0;             // 0 (none) .. 9: deflate level of the fields, with shuffle
};

class CfClimatologyWriter {
public:
    virtual ~CfClimatologyWriter() = default;
    // Writes the next site: its id and position (the seed and parameters
    // of `site` are not written) and months 1..12 of `climate`. An empty
    // id, one given before or with a control character, a position out of
    // range and a value that is not finite raise KelmarError naming the
    // file and the site, and nothing of the site is written.
    virtual void WriteSite(const CfSite& site, const TClimatology& climate) = 0;
    // Writes the last block, closes the file and puts it in place of the
    // target. Raises KelmarError (the target left as it was) when fewer
    // sites than declared were written or the library or the system fails.
    virtual void Finish() = 0;
};

using CfClimatologyWriterMaker = CfClimatologyWriter* (*)(const std::string& file,
                                                          const CfClimatologyDescription& description);

// As LinkCfNetcdfWriter and LoadCfNetcdfWriter for the results' writer: the
// maker linked into the program, else the one of the netCDF module.
void LinkCfClimatologyWriter(CfClimatologyWriterMaker maker);
CfClimatologyWriterMaker LoadCfClimatologyWriter();

// A writer of `file`. Raises KelmarError naming the file for a description
// it cannot hold (no sites, a deflate level outside 0..9) or an error of
// the library, before the temporary file exists.
std::unique_ptr<CfClimatologyWriter> NewCfClimatologyWriter(const std::string& file,
                                                            const CfClimatologyDescription& description);

}  // namespace kelmar
