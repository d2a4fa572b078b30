// Climatologies of many sites in one tidy comma-separated file:
//   site_id,month,av_Ta_degC,std_Ta_degC,av_P_mm,Cv_P,av_Ts_degC,...
// with a header row naming site_id, month and every field of the
// climatology file (CLIMATE_FIELDS, each as ClimateColumnName gives it) in
// any order, and one row per site and month 1..12. What `batch
// --save-climate` writes as climatologies.csv; a file named *.csv is read
// this way wherever a climatology file (.cld) is, the site picked by its id.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "io/file_bytes.h"
#include "model/model_state.h"
#include "model/notifier.h"
#include "model/record_fields.h"

namespace kelmar {

// A table of 100,000 sites has 1.2 million rows of about 150 bytes, some
// 180 MB; the limit leaves room for more.
inline constexpr DataFileLimit CLIMATOLOGY_TABLE_LIMIT = {"climatology table", 1024 * MIB};

// Whether `fileName` names a tidy climatology table (extension .csv, any case).
bool IsClimatologyTableName(std::string_view fileName);

// The column of a climatology field: its key with its unit ("av_Ta_degC",
// "av_P_mm"); a ratio ("1") has none ("Cv_P").
std::string ClimateColumnName(const ClimateField& field);

// "site_id,month,<the fields' columns>\n".
std::string ClimatologyTableHeader();

class ClimatologyTable {
public:
    std::string FileName;
    std::vector<std::string> SiteIds;  // in the order of their first row

    // Stores the climatology of `siteId` into model.Climate and derives
    // mu_P and sigma_P, as reading a climatology file does. `siteId` may be
    // empty when the file holds one site only. Raises KelmarError naming the
    // file and the site when the site has no rows (or, without an id, when
    // the file holds several) or a month's precipitation gives no lognormal
    // parameters; model.Climate is then unchanged.
    void Store(TModel& model, const std::string& siteId) const;

    std::unordered_map<std::string, TClimatology> Sites;
};

// Reads a tidy climatology file from its bytes (UTF-8). An unknown, repeated
// or missing column, a row of another width, an empty site id, a month
// outside 1..12 or given twice for a site, a value that is not a finite
// number and a site without all twelve months raise KelmarError naming the
// file and the line.
std::shared_ptr<const ClimatologyTable> ReadClimatologyTableBytes(std::string_view bytes, const std::string& fileName);

// Reads the file `fileName` and stores the climatology of `siteId` as
// ClimatologyTable::Store does. Gives false after the not-found warning
// when there is no such file.
bool ReadClimatologyTableFile(TModel& model, const std::string& fileName, const std::string& siteId,
                              Notifier& notifier);

// A climatology from either kind of file: a tidy table (*.csv, the site
// `siteId`) or a climatology file (its extension replaced by ".cld").
bool ReadAnyClimatologyFile(TModel& model, const std::string& fileName, const std::string& siteId,
                            Notifier& notifier);

// The name of the file ReadAnyClimatologyFile reads for `fileName`.
std::string ClimatologyFileName(const std::string& fileName);

}  // namespace kelmar
