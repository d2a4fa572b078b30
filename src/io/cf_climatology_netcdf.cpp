#include "io/cf_climatology_netcdf.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <unordered_set>
#include <vector>

#include "io/file_output.h"
#include "io/netcdf_writing.h"
#include "model/errors.h"
#include "model/record_fields.h"

namespace kelmar {

namespace {

// Sites of a block, and the chunk's extent along the sites: 12 months of
// 1024 sites are 96 KiB of doubles a field, one call of the library each.
constexpr std::size_t BLOCK_SITES = 1024;
constexpr std::size_t MONTHS = 12;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

class ClimatologyNetcdf final : public CfClimatologyWriter {
public:
    ClimatologyNetcdf(const std::string& file, const CfClimatologyDescription& description)
        : FileName(file), Replacement(file), SiteCount(description.SiteCount),
          BlockSites(std::min<std::size_t>(BLOCK_SITES, static_cast<std::size_t>(description.SiteCount))) {
        Block.assign(CLIMATE_FIELDS.size() * MONTHS * BlockSites, NC_MISSING);
        Slice.resize(MONTHS * BlockSites);
        // netCDF-4 for the string ids; the temporary file exists (created
        // exclusively), so it is clobbered, not created.
        Check(File.Create(Replacement.TemporaryPath(), NC_CLOBBER | NC_NETCDF4));
        Define(description);
    }

    void WriteSite(const CfSite& site, const TClimatology& climate) override {
        if (!File.IsOpen()) Refuse("it is closed; nothing more can be written to it");
        if (Broken) Refuse("a block of sites could not be written to it before");
        if (Written >= SiteCount) Refuse("it was made for " + std::to_string(SiteCount) + " sites and all of them were written");
        const std::string number = "site " + std::to_string(Written + 1);
        if (site.Id.empty()) Refuse(number + " has no id");
        // A NUL would cut the id in the file, and no id needs a control character.
        if (std::any_of(site.Id.begin(), site.Id.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7f; }))
            Refuse(number + " has an id with a control character");
        const std::string named = number + " " + Quoted(site.Id);
        if (IdSet.count(site.Id) != 0) Refuse(named + " has the id of a site before it");
        if (site.Lat && !(std::isfinite(*site.Lat) && *site.Lat >= -90 && *site.Lat <= 90))
            Refuse(named + " has the latitude " + NumberText(*site.Lat) + ", outside -90..90 degrees");
        if (site.Lon && !(std::isfinite(*site.Lon) && *site.Lon >= -180 && *site.Lon <= 360))
            Refuse(named + " has the longitude " + NumberText(*site.Lon) + ", outside -180..360 degrees");
        // Every value is checked before the block holds any of the site's.
        for (const ClimateField& field : CLIMATE_FIELDS)
            for (std::size_t m = 1; m <= MONTHS; ++m) {
                const double value = (climate.*field.Values)[m];
                // Readers take the fill value, and anything beyond it, for a
                // missing value; no climatology comes near it. A value not
                // above -90 is missing anyway and written as the fill value.
                if (!std::isfinite(value) || value >= NC_MISSING)
                    Refuse(named + " has in month " + std::to_string(m) + " the " + field.Key + " value " +
                           NumberText(value) + ", which the file cannot hold");
            }
        const std::size_t b = static_cast<std::size_t>(Written) - BlockStart;
        for (std::size_t f = 0; f < CLIMATE_FIELDS.size(); ++f)
            for (std::size_t m = 1; m <= MONTHS; ++m) {
                const double value = (climate.*CLIMATE_FIELDS[f].Values)[m];
                Block[(f * MONTHS + m - 1) * BlockSites + b] = IsPresent(value) ? value : NC_MISSING;
            }
        IdSet.insert(site.Id);
        Ids.push_back(site.Id);
        Lats.push_back(site.Lat.value_or(NC_MISSING));
        Lons.push_back(site.Lon.value_or(NC_MISSING));
        ++Written;
        if (static_cast<std::size_t>(Written) - BlockStart == BlockSites || Written == SiteCount) FlushBlock();
    }

    void Finish() override {
        if (!File.IsOpen()) Refuse("it is closed; nothing more can be written to it");
        if (Broken) Refuse("a block of sites could not be written to it before");
        if (Written != SiteCount)
            Refuse("only " + std::to_string(Written) + " of its " + std::to_string(SiteCount) + " sites were written");
        const auto check = [&](int status) { Check(status); };
        WriteSiteCoordinates(File.Get(), Sites, Ids, Lats, Lons, check);
        Check(File.Close());
        Replacement.Commit();
    }

private:
    void Check(int status) const {
        if (status == NC_NOERR) return;
        throw KelmarError("Cannot write the file " + Quoted(FileName) + " (" + nc_strerror(status) +
                          "); it was left as it was.");
    }
    [[noreturn]] void Refuse(const std::string& reason) const {
        throw KelmarError("Cannot write the file " + Quoted(FileName) + ": " + reason + "; it was left as it was.");
    }
    void PutText(int var, const char* name, const std::string& value) const {
        Check(nc_put_att_text(File.Get(), var, name, value.size(), value.c_str()));
    }

    void Define(const CfClimatologyDescription& description) {
        const int ncid = File.Get();
        int monthDim, siteDim;
        Check(nc_def_dim(ncid, "month", MONTHS, &monthDim));
        Check(nc_def_dim(ncid, "site_id", static_cast<std::size_t>(SiteCount), &siteDim));

        PutText(NC_GLOBAL, "Conventions", "CF-1.8");
        PutText(NC_GLOBAL, "title", description.Title);
        PutText(NC_GLOBAL, "source", description.Source);
        PutText(NC_GLOBAL, "history",
                UtcTimestamp() + " created by " + description.ProgramName + " " + description.ProgramVersion);
        PutText(NC_GLOBAL, "program_version", description.ProgramVersion);
        if (!description.ReferencePeriod.empty()) PutText(NC_GLOBAL, "reference_period", description.ReferencePeriod);

        Check(nc_def_var(ncid, "month", NC_INT, 1, &monthDim, &MonthVar));
        PutText(MonthVar, "long_name", "month of the year (1 = January)");
        PutText(MonthVar, "units", "1");
        // The month is no height: CDO knows only time, vertical and
        // horizontal axes, skips every field on an axis it cannot place,
        // and takes this one as a generic vertical axis of 12 levels, so
        // that its operators work month by month (sellevel,7 is July).
        PutText(MonthVar, "axis", "Z");
        Sites = DefineSiteCoordinates(ncid, siteDim, [&](int status) { Check(status); });

        const int dims[2] = {monthDim, siteDim};
        const std::size_t chunk[2] = {MONTHS, BlockSites};
        for (std::size_t f = 0; f < CLIMATE_FIELDS.size(); ++f) {
            const ClimateField& field = CLIMATE_FIELDS[f];
            int& var = FieldVar[f];
            Check(nc_def_var(ncid, field.Key, NC_DOUBLE, 2, dims, &var));
            Check(nc_def_var_chunking(ncid, var, NC_CHUNKED, chunk));
            if (description.Deflate > 0) Check(nc_def_var_deflate(ncid, var, 1, 1, description.Deflate));
            Check(nc_put_att_double(ncid, var, "_FillValue", NC_DOUBLE, 1, &NC_MISSING));
            PutText(var, "units", field.Unit);
            PutText(var, "long_name", field.LongName);
            // Without it CDO takes the string site ids for the variable's
            // grid and leaves the variable out.
            PutText(var, "coordinates", "lat lon");
        }
        Check(nc_enddef(ncid));
        std::array<int, MONTHS> months{};
        for (std::size_t m = 0; m < MONTHS; ++m) months[m] = static_cast<int>(m + 1);
        Check(nc_put_var_int(ncid, MonthVar, months.data()));
    }

    void FlushBlock() {
        const std::size_t sites = static_cast<std::size_t>(Written) - BlockStart;
        Broken = true;  // until the whole block is in
        for (std::size_t f = 0; f < CLIMATE_FIELDS.size(); ++f) {
            // Months first, the block's sites (fewer in a last block) second.
            for (std::size_t m = 0; m < MONTHS; ++m)
                std::copy_n(&Block[(f * MONTHS + m) * BlockSites], sites, &Slice[m * sites]);
            const std::size_t start[2] = {0, BlockStart}, count[2] = {MONTHS, sites};
            Check(nc_put_vara_double(File.Get(), FieldVar[f], start, count, Slice.data()));
        }
        Broken = false;
        BlockStart = static_cast<std::size_t>(Written);
    }

    std::string FileName;
    FileReplacement Replacement;
    // Declared after Replacement, so that an unfinished file is closed
    // before Replacement removes it, also when the definitions fail half-way.
    NcFile File;
    int SiteCount = 0;
    int Written = 0;
    bool Broken = false;  // a library call failed half-way through a block
    std::size_t BlockSites = 1;
    std::size_t BlockStart = 0;  // the site of the block's first
    int MonthVar = -1;
    NcSiteVariables Sites;
    std::array<int, CLIMATE_FIELDS.size()> FieldVar{};
    // Field f, month m (from 0), block site b at (f * 12 + m) * BlockSites + b.
    std::vector<double> Block, Slice;
    std::vector<std::string> Ids;
    std::unordered_set<std::string> IdSet;
    std::vector<double> Lats, Lons;
};

}  // namespace

CfClimatologyWriter* NewCfClimatologyNetcdfWriter(const std::string& file, const CfClimatologyDescription& description) {
    // Checked before the temporary file exists, so a refusal leaves nothing.
    const auto refuse = [&](const std::string& reason) {
        throw KelmarError("Cannot write the file " + Quoted(file) + ": " + reason + "; it was left as it was.");
    };
    if (description.SiteCount < 1) refuse("a file of sites needs at least one site");
    if (description.Deflate < 0 || description.Deflate > 9)
        refuse("the deflate level " + std::to_string(description.Deflate) + " is not one of 0..9");
    return new ClimatologyNetcdf(file, description);
}

}  // namespace kelmar
