#include "io/climate_grid_netcdf.h"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>

#include "io/netcdf_attribute.h"
#include "model/errors.h"

namespace kelmar {

namespace {

const std::array<std::vector<std::string>, GRID_KEY_COUNT> STANDARD_NAMES = {{
    {"air_temperature"},
    {"precipitation_flux", "precipitation_amount", "lwe_thickness_of_precipitation_amount"},
    {"soil_temperature"},
}};

// Beyond this the horizontal coordinates of two files differ (degrees).
constexpr double SAME_COORDINATE = 1e-6;

struct NcFile {
    std::string Name;
    int Id = -1;
    NcFile() = default;
    NcFile(const NcFile&) = delete;
    NcFile& operator=(const NcFile&) = delete;
    ~NcFile() {
        if (Id >= 0) nc_close(Id);
    }
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

[[noreturn]] void FailFile(const std::string& file, const std::string& why) {
    throw KelmarError("The grid file " + Quoted(file) + " " + why + ".");
}


std::vector<double> NumberAttribute(int file, int var, const char* name) {
    nc_type type = 0;
    std::size_t length = 0;
    if (nc_inq_att(file, var, name, &type, &length) != NC_NOERR) return {};
    if (type == NC_CHAR || type == NC_STRING || length == 0 || length > 64) return {};
    std::vector<double> values(length);
    if (nc_get_att_double(file, var, name, values.data()) != NC_NOERR) return {};
    return values;
}

std::string VariableName(int file, int var) {
    char name[NC_MAX_NAME + 1] = {};
    nc_inq_varname(file, var, name);
    return name;
}

std::optional<double> DefaultFill(nc_type type) {
    switch (type) {
        case NC_BYTE: return NC_FILL_BYTE;
        case NC_UBYTE: return NC_FILL_UBYTE;
        case NC_SHORT: return NC_FILL_SHORT;
        case NC_USHORT: return NC_FILL_USHORT;
        case NC_INT: return NC_FILL_INT;
        case NC_UINT: return NC_FILL_UINT;
        case NC_FLOAT: return static_cast<double>(NC_FILL_FLOAT);
        case NC_DOUBLE: return NC_FILL_DOUBLE;
        default: return std::nullopt;
    }
}

enum class AxisKind { Time, Lat, Lon, Other };

bool OneOf(const std::optional<std::string>& text, std::initializer_list<const char*> names) {
    if (!text) return false;
    for (const char* name : names)
        if (*text == name) return true;
    return false;
}

// What a dimension is, from its coordinate variable's attributes.
AxisKind KindOf(int file, int coordinate) {
    if (coordinate < 0) return AxisKind::Other;
    const auto units = TextAttribute(file, coordinate, "units");
    const auto standard = TextAttribute(file, coordinate, "standard_name");
    const auto axis = TextAttribute(file, coordinate, "axis");
    if (OneOf(units, {"degrees_north", "degree_north", "degree_N", "degrees_N", "degreeN", "degreesN"}) ||
        OneOf(standard, {"latitude"}) || OneOf(axis, {"Y"}))
        return AxisKind::Lat;
    if (OneOf(units, {"degrees_east", "degree_east", "degree_E", "degrees_E", "degreeE", "degreesE"}) ||
        OneOf(standard, {"longitude"}) || OneOf(axis, {"X"}))
        return AxisKind::Lon;
    if (OneOf(standard, {"time"}) || OneOf(axis, {"T"}) || (units && units->find(" since ") != std::string::npos))
        return AxisKind::Time;
    return AxisKind::Other;
}

struct Variable {
    GridKey Key = GridKey::Tair;
    const NcFile* File = nullptr;
    int Id = -1;
    std::string Name;
    std::string StandardName;
    GridUnit Unit;
    double Scale = 1.0, Offset = 0.0;
    bool Packed = false;
    std::vector<double> Missing;
    double ValidMin = -std::numeric_limits<double>::infinity();
    double ValidMax = std::numeric_limits<double>::infinity();
    std::vector<std::size_t> Lengths;
    int TimeAt = -1, LatAt = -1, LonAt = -1;
    GridCalendar Calendar = GridCalendar::Standard;
    GridMonths Months;
    std::vector<double> Lats, Lons;

    std::string Where() const {
        return "The grid file " + Quoted(File->Name) + ", variable " + Quoted(Name) + " (" +
               GRID_KEY_NAMES[static_cast<int>(Key)] + ")";
    }
    [[noreturn]] void Fail(const std::string& why) const { throw KelmarError(Where() + ": " + why + "."); }
    void Check(int status, const char* doing) const {
        if (status != NC_NOERR) Fail(std::string("it cannot be read (") + doing + "): " + nc_strerror(status));
    }
};

std::string DimensionList(int file, const std::vector<int>& dims) {
    std::string list = "(";
    for (std::size_t i = 0; i < dims.size(); ++i) {
        char name[NC_MAX_NAME + 1] = {};
        std::size_t length = 0;
        nc_inq_dim(file, dims[i], name, &length);
        list += (i ? ", " : "") + std::string(name) + "=" + std::to_string(length);
    }
    return list + ")";
}

// The 1-D variable named as the dimension, or -1.
int CoordinateOf(int file, int dim) {
    char name[NC_MAX_NAME + 1] = {};
    if (nc_inq_dimname(file, dim, name) != NC_NOERR) return -1;
    int var = -1, ndims = 0, dimid = -1;
    if (nc_inq_varid(file, name, &var) != NC_NOERR) return -1;
    if (nc_inq_varndims(file, var, &ndims) != NC_NOERR || ndims != 1) return -1;
    nc_inq_vardimid(file, var, &dimid);
    return dimid == dim ? var : -1;
}

std::vector<double> ReadCoordinate(const Variable& variable, int coordinate, std::size_t length, const char* what) {
    std::vector<double> values(length);
    variable.Check(nc_get_var_double(variable.File->Id, coordinate, values.data()), what);
    return values;
}

void ReadTimeAxis(Variable& variable, int coordinate, std::size_t length) {
    const int file = variable.File->Id;
    const std::string timeName = VariableName(file, coordinate);
    const auto units = TextAttribute(file, coordinate, "units");
    if (!units) variable.Fail("it has a time axis " + Quoted(timeName) + " without units");
    const auto calendar = TextAttribute(file, coordinate, "calendar");
    std::vector<double> values = ReadCoordinate(variable, coordinate, length, "its time axis");
    std::vector<double> bounds;
    if (const auto boundsName = TextAttribute(file, coordinate, "bounds")) {
        int boundsVar = -1, ndims = 0;
        int dims[NC_MAX_VAR_DIMS] = {};
        std::size_t second = 0;
        if (nc_inq_varid(file, boundsName->c_str(), &boundsVar) == NC_NOERR &&
            nc_inq_varndims(file, boundsVar, &ndims) == NC_NOERR && ndims == 2 &&
            nc_inq_vardimid(file, boundsVar, dims) == NC_NOERR && nc_inq_dimlen(file, dims[1], &second) == NC_NOERR &&
            second == 2) {
            std::size_t first = 0;
            nc_inq_dimlen(file, dims[0], &first);
            if (first == length) {
                bounds.resize(2 * length);
                variable.Check(nc_get_var_double(file, boundsVar, bounds.data()), "the bounds of its time axis");
            }
        }
    }
    try {
        variable.Calendar = ParseGridCalendar(calendar.value_or(""));
        variable.Months = CheckMonthlyAxis(variable.Calendar, ParseGridTimeUnits(*units), values, bounds);
    } catch (const KelmarError& e) {
        variable.Fail("its time axis " + Quoted(timeName) + ": " + e.what());
    }
}

void ReadAxes(Variable& variable) {
    const int file = variable.File->Id;
    int ndims = 0;
    variable.Check(nc_inq_varndims(file, variable.Id, &ndims), "its dimensions");
    std::vector<int> dims(static_cast<std::size_t>(ndims));
    variable.Check(nc_inq_vardimid(file, variable.Id, dims.data()), "its dimensions");
    const std::string list = DimensionList(file, dims);
    variable.Lengths.resize(dims.size());
    std::vector<int> coordinates(dims.size(), -1);
    int other = -1;  // the first dimension of another kind longer than 1
    for (std::size_t i = 0; i < dims.size(); ++i) {
        variable.Check(nc_inq_dimlen(file, dims[i], &variable.Lengths[i]), "its dimensions");
        coordinates[i] = CoordinateOf(file, dims[i]);
        const AxisKind kind = KindOf(file, coordinates[i]);
        int* slot = kind == AxisKind::Time ? &variable.TimeAt
                    : kind == AxisKind::Lat ? &variable.LatAt
                    : kind == AxisKind::Lon ? &variable.LonAt
                                            : nullptr;
        if (slot && *slot >= 0) variable.Fail("it has two dimensions of one kind in " + list);
        if (slot) *slot = static_cast<int>(i);
        else if (variable.Lengths[i] != 1 && other < 0) other = static_cast<int>(i);
    }
    if (variable.TimeAt < 0) variable.Fail("it has no time axis among its dimensions " + list);
    if (variable.LatAt < 0 || variable.LonAt < 0)
        variable.Fail("it has the dimensions " + list + ", without a latitude and a longitude axis (1-D coordinates in "
                      "degrees_north and degrees_east); grids with 2-D coordinates (curvilinear) are not read");
    if (other >= 0)
        variable.Fail("it has the dimensions " + list + ": " + DimensionList(file, {dims[other]}) +
                      " is neither time, latitude nor longitude, and only such dimensions of length 1 are read");
    ReadTimeAxis(variable, coordinates[variable.TimeAt], variable.Lengths[variable.TimeAt]);
    variable.Lats = ReadCoordinate(variable, coordinates[variable.LatAt], variable.Lengths[variable.LatAt], "its latitudes");
    variable.Lons = ReadCoordinate(variable, coordinates[variable.LonAt], variable.Lengths[variable.LonAt], "its longitudes");
    if (variable.Lats.empty() || variable.Lons.empty()) variable.Fail("it has no latitudes or no longitudes");
    for (double lat : variable.Lats)
        if (!std::isfinite(lat) || lat < -90 || lat > 90) variable.Fail("it has a latitude outside -90..90");
    for (double lon : variable.Lons)
        if (!std::isfinite(lon) || lon < -360 || lon > 720) variable.Fail("it has a longitude outside -360..720");
    const auto monotonic = [](const std::vector<double>& v, bool ascending) {
        for (std::size_t i = 1; i < v.size(); ++i)
            if (ascending ? !(v[i] > v[i - 1]) : !(v[i] < v[i - 1])) return false;
        return true;
    };
    if (!monotonic(variable.Lats, true) && !monotonic(variable.Lats, false))
        variable.Fail("it has latitudes that neither rise nor fall throughout");
    if (!monotonic(variable.Lons, true)) variable.Fail("it has longitudes that do not rise throughout");
    if (variable.Lons.back() - variable.Lons.front() >= 360) variable.Fail("it has longitudes spanning 360 degrees or more");
}

void ReadValueAttributes(Variable& variable, const std::string& userUnit) {
    const int file = variable.File->Id;
    const std::string unitText = userUnit.empty() ? TextAttribute(file, variable.Id, "units").value_or("") : userUnit;
    const GridQuantity quantity = GridKeyQuantity(variable.Key);
    const char* key = GRID_KEY_NAMES[static_cast<int>(variable.Key)];
    try {
        variable.Unit = ParseGridUnit(quantity, unitText, variable.StandardName);
    } catch (const KelmarError& e) {
        variable.Fail(std::string(e.what()) + (userUnit.empty() ? "" : " (as given with --units)") +
                      "; say what it is with --units " + key + "=UNIT, UNIT one of " + GridUnitChoices(quantity));
    }
    const std::vector<double> scale = NumberAttribute(file, variable.Id, "scale_factor");
    const std::vector<double> offset = NumberAttribute(file, variable.Id, "add_offset");
    if (!scale.empty()) variable.Scale = scale.front();
    if (!offset.empty()) variable.Offset = offset.front();
    variable.Packed = !scale.empty() || !offset.empty();
    if (!std::isfinite(variable.Scale) || !std::isfinite(variable.Offset) || variable.Scale == 0)
        variable.Fail("it has a scale_factor or add_offset that is not a finite number (or a scale_factor of 0)");
    nc_type type = 0;
    variable.Check(nc_inq_vartype(file, variable.Id, &type), "its type");
    const std::vector<double> fill = NumberAttribute(file, variable.Id, "_FillValue");
    if (!fill.empty()) variable.Missing.push_back(fill.front());
    else if (const auto byType = DefaultFill(type)) variable.Missing.push_back(*byType);
    for (double value : NumberAttribute(file, variable.Id, "missing_value")) variable.Missing.push_back(value);
    const std::vector<double> range = NumberAttribute(file, variable.Id, "valid_range");
    if (range.size() == 2) {
        variable.ValidMin = range[0];
        variable.ValidMax = range[1];
    }
    if (const auto min = NumberAttribute(file, variable.Id, "valid_min"); min.size() == 1) variable.ValidMin = min[0];
    if (const auto max = NumberAttribute(file, variable.Id, "valid_max"); max.size() == 1) variable.ValidMax = max[0];
}

// The variables of the files a key may be, by name or standard name.
std::vector<std::pair<const NcFile*, int>> Candidates(const std::vector<std::unique_ptr<NcFile>>& files, GridKey key,
                                                      const std::string& name) {
    std::vector<std::pair<const NcFile*, int>> found;
    for (const auto& file : files) {
        int count = 0;
        nc_inq_nvars(file->Id, &count);
        for (int var = 0; var < count; ++var) {
            if (!name.empty()) {
                if (VariableName(file->Id, var) == name) found.emplace_back(file.get(), var);
                continue;
            }
            const auto standard = TextAttribute(file->Id, var, "standard_name");
            const auto& names = STANDARD_NAMES[static_cast<int>(key)];
            int ndims = 0;
            nc_inq_varndims(file->Id, var, &ndims);
            if (standard && ndims >= 2 && std::find(names.begin(), names.end(), *standard) != names.end())
                found.emplace_back(file.get(), var);
        }
    }
    return found;
}

std::string FileList(const std::vector<std::unique_ptr<NcFile>>& files) {
    std::string list;
    for (const auto& file : files) list += (list.empty() ? "" : ", ") + Quoted(file->Name);
    return list;
}

std::unique_ptr<NcFile> OpenFile(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(name, error);
    if (!fs::exists(status)) FailFile(name, "does not exist");
    if (fs::is_directory(status)) FailFile(name, "is a folder, not a netCDF file");
    if (fs::is_regular_file(status) && fs::file_size(name, error) == 0) FailFile(name, "is empty, not a netCDF file");
    auto file = std::make_unique<NcFile>();
    file->Name = name;
    const int result = nc_open(name.c_str(), NC_NOWRITE, &file->Id);
    if (result != NC_NOERR) {
        file->Id = -1;
        FailFile(name, std::string("cannot be read as netCDF (") + nc_strerror(result) +
                           "); a grid file is netCDF-3 or netCDF-4");
    }
    return file;
}

bool SameAxis(const std::vector<double>& a, const std::vector<double>& b, bool longitude) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        double difference = std::fabs(a[i] - b[i]);
        if (longitude) difference = std::fabs(std::remainder(a[i] - b[i], 360.0));
        if (difference > SAME_COORDINATE) return false;
    }
    return true;
}

class NetcdfClimateGrid final : public ClimateGrid {
public:
    explicit NetcdfClimateGrid(const ClimateGridRequest& request);
    const std::vector<double>& Lats() const override { return Required().Lats; }
    const std::vector<double>& Lons() const override { return Required().Lons; }
    GridMonths Months() const override { return Span; }
    GridCalendar Calendar() const override { return Required().Calendar; }
    GridSource Source(GridKey key) const override { return SourceAt(key, Span.First); }
    GridSource SourceAt(GridKey key, GridMonth month) const override {
        const std::vector<Variable>& pieces = Pieces[static_cast<int>(key)];
        if (pieces.empty()) return {};
        const Variable* variable = &pieces.front();
        for (const Variable& piece : pieces)
            if (month >= piece.Months.First) variable = &piece;
        return {true, variable->File->Name, variable->Name, variable->Unit.Name};
    }
    std::vector<std::string> Notes() const override { return Told; }
    void ReadBlock(int rowBegin, int rowEnd, int colBegin, int colEnd, GridBlock& block) override;

private:
    const Variable& Required() const { return Pieces[0].front(); }
    // The months of a variable over all its pieces.
    GridMonths Covered(int k) const {
        const std::vector<Variable>& pieces = Pieces[k];
        const GridMonths& last = pieces.back().Months;
        return {pieces.front().Months.First,
                static_cast<int>(last.First + last.Count - pieces.front().Months.First)};
    }
    void Find(GridKey key, const ClimateGridRequest& request);
    void ReadVariable(const Variable& variable, int rowBegin, int rowEnd, int colBegin, int colEnd,
                      std::vector<double>& out) const;

    std::vector<std::unique_ptr<NcFile>> Files;
    // Per key, the variable in one file, or in several files one after the
    // other in time (a file per decade), in the order of their months.
    std::array<std::vector<Variable>, GRID_KEY_COUNT> Pieces;
    GridMonths Span;
    std::vector<std::string> Told;
    mutable std::vector<double> Raw;  // the values of a block as the library gives them
};

void NetcdfClimateGrid::Find(GridKey key, const ClimateGridRequest& request) {
    const int k = static_cast<int>(key);
    const std::string& name = request.Names[k];
    const auto found = Candidates(Files, key, name);
    const std::string keyName = GRID_KEY_NAMES[k];
    if (found.empty()) {
        if (key == GridKey::Tsoil && name.empty()) return;
        std::string standard;
        for (const std::string& s : STANDARD_NAMES[k]) standard += (standard.empty() ? "" : " or ") + s;
        if (!name.empty())
            throw KelmarError("No variable named " + Quoted(name) + " (--var " + keyName + "=" + name + ") is in " +
                              FileList(Files) + ".");
        throw KelmarError("No variable with the standard_name " + standard + " (" + keyName + ") is in " +
                          FileList(Files) + "; name it with --var " + keyName + "=NAME.");
    }
    // Several files holding one variable of one name are pieces of its time
    // axis; anything else is a choice for the user.
    bool pieces = found.size() > 1;
    for (std::size_t i = 1; i < found.size() && pieces; ++i)
        pieces = found[i].first != found[i - 1].first &&
                 VariableName(found[i].first->Id, found[i].second) == VariableName(found[0].first->Id, found[0].second);
    if (found.size() > 1 && !pieces) {
        std::string list;
        for (const auto& [file, var] : found)
            list += (list.empty() ? "" : ", ") + Quoted(VariableName(file->Id, var)) + " of " + Quoted(file->Name);
        throw KelmarError("Several variables may be " + keyName + ": " + list + "; name one with --var " + keyName +
                          "=NAME" + (name.empty() ? "" : " and give only the file that holds it") + ".");
    }
    for (const auto& [file, id] : found) {
        Variable variable;
        variable.Key = key;
        variable.File = file;
        variable.Id = id;
        variable.Name = VariableName(file->Id, id);
        variable.StandardName = TextAttribute(file->Id, id, "standard_name").value_or("");
        ReadAxes(variable);
        ReadValueAttributes(variable, request.Units[k]);
        Pieces[k].push_back(std::move(variable));
    }
    std::sort(Pieces[k].begin(), Pieces[k].end(),
              [](const Variable& a, const Variable& b) { return a.Months.First < b.Months.First; });
    for (std::size_t i = 1; i < Pieces[k].size(); ++i) {
        const Variable& before = Pieces[k][i - 1];
        const Variable& after = Pieces[k][i];
        const GridMonth end = before.Months.First + before.Months.Count;
        if (after.Months.First != end)
            throw KelmarError("The grid files " + Quoted(before.File->Name) + " and " + Quoted(after.File->Name) +
                              " both hold " + keyName + " (" + Quoted(after.Name) + "), but the second does not begin "
                              "the month after the first ends: " + GridMonthText(end - 1) + ", then " +
                              GridMonthText(after.Months.First) + (after.Months.First < end ? " (the months overlap)" : " (a gap)") + ".");
    }
}

NetcdfClimateGrid::NetcdfClimateGrid(const ClimateGridRequest& request) {
    for (const std::string& name : request.Files) Files.push_back(OpenFile(name));
    for (int k = 0; k < GRID_KEY_COUNT; ++k) Find(static_cast<GridKey>(k), request);
    const Variable& tair = Pieces[0].front();
    for (int k = 0; k < GRID_KEY_COUNT; ++k)
        for (const Variable& other : Pieces[k]) {
            if (other.Calendar != tair.Calendar)
                throw KelmarError("The grid files " + Quoted(tair.File->Name) + " (tair, calendar " +
                                  GridCalendarName(tair.Calendar) + ") and " + Quoted(other.File->Name) + " (" +
                                  GRID_KEY_NAMES[k] + ", calendar " + GridCalendarName(other.Calendar) +
                                  ") have different calendars.");
            if (!SameAxis(tair.Lats, other.Lats, false) || !SameAxis(tair.Lons, other.Lons, true))
                throw KelmarError("The grid of " + Quoted(tair.File->Name) + " (tair) and that of " +
                                  Quoted(other.File->Name) + " (" + GRID_KEY_NAMES[k] +
                                  ") differ in their latitudes or longitudes; the variables must share one grid.");
        }
    const Variable& prec = Pieces[1].front();
    const GridMonths tairMonths = Covered(0), precMonths = Covered(1);
    const GridMonth first = std::max(tairMonths.First, precMonths.First);
    const GridMonth last = std::min(tairMonths.First + tairMonths.Count, precMonths.First + precMonths.Count) - 1;
    const auto span = [](const GridMonths& m) {
        return GridMonthText(m.First) + " to " + GridMonthText(m.First + m.Count - 1);
    };
    if (last < first)
        throw KelmarError("The months of tair (" + span(tairMonths) + ", " + Quoted(tair.File->Name) +
                          ") and prec (" + span(precMonths) + ", " + Quoted(prec.File->Name) +
                          ") do not overlap.");
    Span = {first, static_cast<int>(last - first + 1)};
    if (tairMonths.First != precMonths.First || tairMonths.Count != precMonths.Count)
        Told.push_back("tair covers " + span(tairMonths) + " and prec " + span(precMonths) +
                       "; the records cover the months both have, " + span(Span) + ".");
    if (!Pieces[2].empty()) {
        const GridMonths soil = Covered(2);
        if (soil.First + soil.Count <= Span.First || soil.First > last) {
            Told.push_back("tsoil covers " + span(soil) + ", none of the records' months; tsoil is left missing.");
            Pieces[2].clear();
        } else if (soil.First > Span.First || soil.First + soil.Count - 1 < last) {
            Told.push_back("tsoil covers " + span(soil) + "; its other months are left missing.");
        }
    }
}

void NetcdfClimateGrid::ReadVariable(const Variable& variable, int rowBegin, int rowEnd, int colBegin, int colEnd,
                                     std::vector<double>& out) const {
    const std::size_t rows = rowEnd - rowBegin, cols = colEnd - colBegin;
    // The months of the span this variable has.
    const GridMonth first = std::max(Span.First, variable.Months.First);
    const GridMonth last = std::min(Span.First + Span.Count, variable.Months.First + variable.Months.Count);
    if (last <= first) return;
    const std::size_t dims = variable.Lengths.size();
    std::vector<std::size_t> start(dims, 0), count(dims, 1);
    start[variable.TimeAt] = static_cast<std::size_t>(first - variable.Months.First);
    count[variable.TimeAt] = static_cast<std::size_t>(last - first);
    start[variable.LatAt] = rowBegin;
    count[variable.LatAt] = rows;
    start[variable.LonAt] = colBegin;
    count[variable.LonAt] = cols;
    // Kept from block to block: a fresh buffer of a block's size costs more
    // in page faults than reading the values into it.
    std::vector<double>& raw = Raw;
    raw.resize(count[variable.TimeAt] * rows * cols);
    variable.Check(nc_get_vara_double(variable.File->Id, variable.Id, start.data(), count.data(), raw.data()),
                   "its values");
    // Strides of the hyperslab as read, in the variable's dimension order.
    std::vector<std::size_t> stride(dims, 1);
    for (std::size_t i = dims - 1; i > 0; --i) stride[i - 1] = stride[i] * count[i];
    const std::size_t tStride = stride[variable.TimeAt], rStride = stride[variable.LatAt], cStride = stride[variable.LonAt];
    const bool precipitation = variable.Key == GridKey::Prec;
    for (std::size_t m = 0; m < count[variable.TimeAt]; ++m) {
        const GridMonth month = first + static_cast<GridMonth>(m);
        const int days = GridDaysInMonth(variable.Calendar, GridMonthYear(month), GridMonthOfYear(month));
        // Rounding allowed below zero: one packing step beyond the float rounding.
        const double tolerance =
            GRID_PRECIPITATION_ROUNDING + (variable.Packed ? std::fabs(variable.Unit.Convert(variable.Scale, days)) : 0);
        const std::size_t at = static_cast<std::size_t>(month - Span.First) * rows * cols;
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t c = 0; c < cols; ++c) {
                const double value = raw[m * tStride + r * rStride + c * cStride];
                if (std::isnan(value) || value < variable.ValidMin || value > variable.ValidMax) continue;
                if (std::find(variable.Missing.begin(), variable.Missing.end(), value) != variable.Missing.end()) continue;
                double converted = variable.Unit.Convert(value * variable.Scale + variable.Offset, days);
                if (precipitation && converted < 0 && converted >= -tolerance) converted = 0;
                out[at + r * cols + c] = converted;
            }
    }
}

void NetcdfClimateGrid::ReadBlock(int rowBegin, int rowEnd, int colBegin, int colEnd, GridBlock& block) {
    block.RowBegin = rowBegin;
    block.RowEnd = rowEnd;
    block.ColBegin = colBegin;
    block.ColEnd = colEnd;
    block.Months = Span.Count;
    for (int k = 0; k < GRID_KEY_COUNT; ++k) {
        block.Values[k].clear();
        if (Pieces[k].empty()) continue;
        block.Values[k].assign(static_cast<std::size_t>(Span.Count) * static_cast<std::size_t>(rowEnd - rowBegin) *
                                   static_cast<std::size_t>(colEnd - colBegin),
                               std::numeric_limits<double>::quiet_NaN());
        for (const Variable& piece : Pieces[k]) ReadVariable(piece, rowBegin, rowEnd, colBegin, colEnd, block.Values[k]);
    }
}

}  // namespace

std::unique_ptr<ClimateGrid> OpenNetcdfClimateGrid(const ClimateGridRequest& request) {
    if (request.Files.empty()) throw KelmarError("No grid file was given.");
    return std::make_unique<NetcdfClimateGrid>(request);
}

}  // namespace kelmar
