#include "io/cf_results_netcdf.h"

#include <netcdf.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>

#include "io/netcdf_attribute.h"
#include "model/errors.h"

namespace kelmar {

namespace {

// What the writer (cf_netcdf.cpp) gives the time axis.
constexpr const char* TIME_UNITS = "days since 0001-01-01 00:00:00";
constexpr const char* CALENDAR = "proleptic_gregorian";
// Beyond this magnitude a value is a fill value of some type, not a
// result: the library's fills are ~1e36, no temperature, moisture or
// monthly sum comes near.
constexpr double FILL_BEYOND = 1e30;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }


class NetcdfResults final : public CfResults {
public:
    explicit NetcdfResults(const std::string& file) {
        L.File = file;
        const int status = nc_open(file.c_str(), NC_NOWRITE, &Id);
        if (status != NC_NOERR) {
            Id = -1;
            Fail(std::string("cannot be read as netCDF (") + nc_strerror(status) + ")");
        }
        L.ProgramVersion = TextAttribute(Id, NC_GLOBAL, "program_version").value_or("");
        ReadDimensions();
        ReadTime();
        ReadSites();
        ReadVariables();
    }
    ~NetcdfResults() override {
        if (Id >= 0) nc_close(Id);
    }
    NetcdfResults(const NetcdfResults&) = delete;
    NetcdfResults& operator=(const NetcdfResults&) = delete;

    const CfResultsLayout& Layout() const override { return L; }

    std::vector<double> SiteParams(std::int64_t site) override {
        std::vector<double> values;
        for (int var : ParamVars) {
            const std::size_t start = static_cast<std::size_t>(site);
            double value = 0;
            Check(nc_get_var1_double(Id, var, &start, &value), "a site parameter");
            double fill = 0;
            const bool filled = nc_get_att_double(Id, var, "_FillValue", &fill) == NC_NOERR && value == fill;
            values.push_back(filled || std::abs(value) > FILL_BEYOND ? std::numeric_limits<double>::quiet_NaN()
                                                                     : value);
        }
        return values;
    }

    void Read(int variable, std::int64_t first, std::int64_t count, std::int64_t stride, int scenario,
              int realization, std::int64_t siteBegin, std::int64_t siteEnd, std::vector<double>& values) override {
        const std::int64_t sites = siteEnd - siteBegin;
        values.assign(static_cast<std::size_t>(count * sites), 0.0);
        if (count <= 0 || sites <= 0) return;
        std::vector<std::size_t> start{static_cast<std::size_t>(first)}, extent{static_cast<std::size_t>(count)};
        std::vector<std::ptrdiff_t> step{static_cast<std::ptrdiff_t>(stride)};
        if (ScenarioDim >= 0) start.push_back(static_cast<std::size_t>(scenario)), extent.push_back(1), step.push_back(1);
        if (RealizationDim >= 0)
            start.push_back(static_cast<std::size_t>(realization)), extent.push_back(1), step.push_back(1);
        start.push_back(static_cast<std::size_t>(siteBegin));
        extent.push_back(static_cast<std::size_t>(sites));
        step.push_back(1);
        const int var = DataVars[variable];
        Check(nc_get_vars_double(Id, var, start.data(), extent.data(), step.data(), values.data()),
              "variable " + L.Variables[variable].Name);
        Read_ += static_cast<std::uint64_t>(count * sites);
        const double fill = DataFills[variable];
        for (double& value : values)
            if (value == fill || !std::isfinite(value) || std::abs(value) > FILL_BEYOND)
                value = std::numeric_limits<double>::quiet_NaN();
    }

    std::uint64_t ValuesRead() const override { return Read_; }

private:
    [[noreturn]] void Fail(const std::string& why) const {
        throw KelmarError("The results file " + Quoted(L.File) + " " + why + ".");
    }
    void Check(int status, const std::string& what) const {
        if (status != NC_NOERR) Fail(std::string("could not be read at ") + what + " (" + nc_strerror(status) + ")");
    }
    int Dimension(const char* name, bool required) {
        int dim = -1;
        if (nc_inq_dimid(Id, name, &dim) != NC_NOERR) {
            if (required) Fail(std::string("holds no dimension ") + name + ": it is no batch's results file");
            return -1;
        }
        return dim;
    }
    std::size_t Length(int dim) const {
        std::size_t length = 0;
        Check(nc_inq_dimlen(Id, dim, &length), "a dimension's length");
        return length;
    }
    int Variable(const char* name) const {
        int var = -1;
        if (nc_inq_varid(Id, name, &var) != NC_NOERR) Fail(std::string("holds no variable ") + name);
        return var;
    }

    void ReadDimensions() {
        TimeDim = Dimension("time", true);
        SiteDim = Dimension("site_id", true);
        ScenarioDim = Dimension("scenario", false);
        RealizationDim = Dimension("realization", false);
        L.Steps = static_cast<std::int64_t>(Length(TimeDim));
        Sites = Length(SiteDim);
        if (RealizationDim >= 0) L.Realizations = static_cast<int>(Length(RealizationDim));
        if (ScenarioDim >= 0) {
            const std::size_t count = Length(ScenarioDim);
            std::vector<char*> names(count, nullptr);
            Check(nc_get_var_string(Id, Variable("scenario"), names.data()), "the scenario names");
            for (char* name : names) L.Scenarios.emplace_back(name ? name : "");
            nc_free_string(count, names.data());
        }
    }

    // The first time step's calendar year, from the middle of that month or year.
    void ReadTime() {
        const int var = Variable("time");
        if (TextAttribute(Id, var, "units").value_or("") != TIME_UNITS ||
            TextAttribute(Id, var, "calendar").value_or("") != CALENDAR)
            Fail(std::string("has a time axis other than a batch's (") + TIME_UNITS + ", " + CALENDAR + ")");
        L.Annual = TextAttribute(Id, var, "long_name").value_or("") == "middle of the year";
        if (L.Steps == 0) Fail("holds no time step");
        double days = 0;
        const std::size_t zero = 0;
        Check(nc_get_var1_double(Id, var, &zero, &days), "the time axis");
        namespace chr = std::chrono;
        const chr::sys_days epoch = chr::year{1} / chr::January / chr::day{1};
        const chr::year_month_day date{epoch + chr::days{static_cast<long long>(std::floor(days))}};
        L.FirstYear = static_cast<int>(date.year());
    }

    void ReadSites() {
        std::vector<char*> ids(Sites, nullptr);
        if (Sites > 0) Check(nc_get_var_string(Id, Variable("site_id"), ids.data()), "the site ids");
        for (char* id : ids) L.SiteIds.emplace_back(id ? id : "");
        if (Sites > 0) nc_free_string(Sites, ids.data());
        const auto position = [&](const char* name, std::vector<double>& values) {
            values.assign(Sites, 0.0);
            const int var = Variable(name);
            if (Sites > 0) Check(nc_get_var_double(Id, var, values.data()), std::string("variable ") + name);
            double fill = NC_FILL_DOUBLE;
            nc_get_att_double(Id, var, "_FillValue", &fill);
            for (double& value : values)
                if (value == fill || !std::isfinite(value) || std::abs(value) > FILL_BEYOND)
                    value = std::numeric_limits<double>::quiet_NaN();
        };
        position("lat", L.Lat);
        position("lon", L.Lon);
    }

    // Data variables span time and site_id (with the task dimensions between);
    // site parameters span site_id alone. Coordinates and seeds are neither.
    void ReadVariables() {
        int count = 0;
        Check(nc_inq_nvars(Id, &count), "its variables");
        for (int var = 0; var < count; ++var) {
            char name[NC_MAX_NAME + 1] = {};
            int dims = 0;
            nc_type type = 0;
            Check(nc_inq_var(Id, var, name, &type, &dims, nullptr, nullptr), "its variables");
            std::vector<int> ids(static_cast<std::size_t>(dims));
            Check(nc_inq_vardimid(Id, var, ids.data()), "its variables");
            const std::string key = name;
            if (key == "site_id" || key == "lat" || key == "lon" || key == "seed" || key == "time" || key == "time_bnds")
                continue;
            if (dims == 1 && ids[0] == SiteDim) {
                ParamVars.push_back(var);
                L.ParamNames.push_back(key);
                L.ParamUnits.push_back(TextAttribute(Id, var, "units").value_or(""));
            } else if (dims >= 2 && ids.front() == TimeDim && ids.back() == SiteDim) {
                DataVars.push_back(var);
                L.Variables.push_back({key, TextAttribute(Id, var, "long_name").value_or(key),
                                       TextAttribute(Id, var, "units").value_or("")});
                double fill = type == NC_FLOAT ? static_cast<double>(NC_FILL_FLOAT) : NC_FILL_DOUBLE;
                nc_get_att_double(Id, var, "_FillValue", &fill);
                DataFills.push_back(fill);
            }
        }
    }

    int Id = -1;
    CfResultsLayout L;
    int TimeDim = -1, SiteDim = -1, ScenarioDim = -1, RealizationDim = -1;
    std::size_t Sites = 0;
    std::vector<int> DataVars, ParamVars;
    std::vector<double> DataFills;
    std::uint64_t Read_ = 0;
};

}  // namespace

std::unique_ptr<CfResults> OpenNetcdfCfResults(const std::string& file) {
    return std::make_unique<NetcdfResults>(file);
}

}  // namespace kelmar
