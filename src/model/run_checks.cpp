#include "model/run_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/errors.h"
#include "model/climatology_estimation.h"
#include "model/record_fields.h"

namespace kelmar {

namespace {

constexpr const char* MONTH_NAMES[13] = {"",     "January", "February", "March",     "April",   "May",     "June",
                                         "July", "August",  "September", "October", "November", "December"};

// The months listed by name in a message; the rest are only counted.
constexpr int MONTHS_LISTED = 3;

std::string Number(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// Year indices of the observed record the run covers: YearBeg..YearEnd, at most MAX_YEARS.
int RunYears(const TRunSettings& settings) {
    const std::int64_t span = std::int64_t{settings.YearEnd} - settings.YearBeg + 1;
    return static_cast<int>(std::clamp<std::int64_t>(span, 0, MAX_YEARS));
}

std::string MonthOfYear(int month, std::int64_t year) { return std::to_string(month) + "." + std::to_string(year); }

std::string Quoted(std::string_view name) {
    std::string text(1, '"');
    text.append(name).push_back('"');
    return text;
}

// A climatology variable by its key in the file.
constexpr const ClimateField& Climate(std::string_view key) {
    for (const ClimateField& field : CLIMATE_FIELDS)
        if (key == field.Key) return field;
    throw std::logic_error("no such climatology variable");  // never at compile time
}

// The columns of the weather record an estimated variable comes from, and
// whether it is a regression on the month before.
struct EstimateSource {
    const char* From;
    bool Lagged;
};

EstimateSource SourceOf(const ClimateField& field) {
    const std::string_view key = field.Key;
    if (key == "av_Ta" || key == "std_Ta") return {"air temperatures", false};
    if (key == "av_P" || key == "Cv_P") return {"precipitation", false};
    if (key == "av_Ts" || key == "std_Ts") return {"soil temperatures", false};
    if (key == "Baa" || key == "Bap" || key == "Sa") return {"air temperatures and precipitation", true};
    return {"soil and air temperatures", true};  // Bss, Bsa, Ss
}

// With simulated weather the generator reads every variable (the mean soil
// temperature has its own check in the run); its soil equation, filling the
// soil-temperature gaps of an observed record, reads these.
constexpr ClimateField SOIL_GAP_FIELDS[] = {Climate("av_Ta"), Climate("std_Ts"), Climate("Bss"), Climate("Bsa"),
                                            Climate("Ss")};

// "av_P = 38, Cv_P = 0.45" for the month.
std::string ClimateValues(const TClimatology& c, std::initializer_list<ClimateField> fields, int k) {
    std::string text;
    for (const ClimateField& f : fields) {
        if (!text.empty()) text += ", ";
        text += std::string(f.Key) + " = " + Number((c.*f.Values)[k]);
    }
    return text;
}

std::string ClimateDrivers(const TClimatology& c, std::initializer_list<ClimateField> fields, int k) {
    return "the climatology's values for " + std::string(MONTH_NAMES[k]) + " (" + ClimateValues(c, fields, k) + ")";
}

std::string SiteValue(const char* name, double value) { return std::string(name) + " = " + Number(value); }

// The inputs behind one variable of a month's record.
class Drivers {
public:
    Drivers(const TModel& model, int yearIndex, int k) : Model(model), Year(yearIndex), K(k) {}

    std::string Prec() const {
        if (Model.Settings.InpDat)
            return "the weather record's precipitation for the month (" + Number(Model.Weather.Prec[Year][K]) + " mm)";
        return ClimateDrivers(Model.Climate, {Climate("av_P"), Climate("Cv_P")}, K);
    }
    std::string Tair() const {
        if (Model.Settings.InpDat)
            return "the weather record's air temperature for the month (" + Number(Model.Weather.Tair[Year][K]) +
                   " degC)";
        return ClimateDrivers(Model.Climate, {Climate("av_Ta"), Climate("Baa"), Climate("Bap"), Climate("Sa")}, K) +
               " and the month before";
    }
    std::string Tsoil() const {
        const double stored = Model.Weather.Tsoil[Year][K];
        if (Model.Settings.InpDat && stored >= PRESENT_LIMIT)
            return "the weather record's soil temperature (" + Number(stored) + " degC)";
        return ClimateDrivers(Model.Climate, {Climate("av_Ts"), Climate("Bss"), Climate("Bsa"), Climate("Ss")}, K) +
               " and the month before";
    }
    std::string Evapotranspiration() const {
        return "the month's air temperature (" + Number(Model.Work.Tair[K]) + " degC), from " + Tair() +
               ", and the site's latitude (" + SiteValue("Lat", Model.Site.Lat) + ")";
    }
    std::string Storage() const {
        const TSiteParams& s = Model.Site;
        return "the water reaching the soil (precipitation and melting snow), from " + Prec() +
               " and the months before, its evapotranspiration, and the site's water parameters (" +
               SiteValue("M_ff", s.M_ff) + ", " + SiteValue("D_ff", s.D_ff) + ", " + SiteValue("W_WP_ms", s.W_WP_ms) +
               ", " + SiteValue("W_FC_ms", s.W_FC_ms) + ", " + SiteValue("W_Sat_ms", s.W_Sat_ms) + ")";
    }
    std::string SoilMoisture() const {
        return Storage() + " and the moisture ratio (" + SiteValue("Corr", Model.Site.Corr) + ")";
    }
    std::string Site(const char* name, double value, const char* meaning) const {
        return std::string("the site parameter ") + name + " (" + meaning + ", " + SiteValue(name, value) + ")";
    }

private:
    const TModel& Model;
    int Year;
    int K;
};

[[noreturn]] void RefuseNonFinite(const TModel& model, int yearIndex, int k, const char* name,
                                  const std::string& drivers) {
    const TResultRecord& r = model.Results.At(yearIndex, std::max(k, 1));
    std::string when;
    if (model.Settings.InpDat)
        when = k == 0 ? "the year " + std::to_string(r.Year) : MonthOfYear(k, r.Year);
    else
        when = (k == 0 ? std::string() : std::string(MONTH_NAMES[k]) + " of ") + "simulated year " +
               std::to_string(yearIndex);
    throw KelmarError("The run stopped: " + std::string(name) + " is not a finite number in " + when +
                      ". It is driven by " + drivers + ".");
}

}  // namespace

void ValidateWeatherForRun(const TModel& model, std::string_view recordName) {
    const TRunSettings& settings = model.Settings;
    const int years = RunYears(settings);
    int missing = 0;
    std::string listed;
    for (int i = 1; i <= years; ++i)
        for (int k = 1; k <= 12; ++k) {
            if (IsPresent(model.Weather.Tair[i][k]) && IsPresent(model.Weather.Prec[i][k])) continue;
            if (++missing <= MONTHS_LISTED)
                listed += (listed.empty() ? "" : ", ") + MonthOfYear(k, std::int64_t{settings.YearBeg} + i - 1);
        }
    if (missing == 0) return;
    if (missing > MONTHS_LISTED) listed += ", ...";
    const std::string record =
        recordName.empty() ? "The weather record" : "The weather record " + Quoted(recordName);
    throw KelmarError(record + " has no air temperature or precipitation for " + listed + " (" +
                      std::to_string(missing) + (missing == 1 ? " month" : " months") +
                      " in all). A run needs both for every month from " + MonthOfYear(1, settings.YearBeg) +
                      " to " + MonthOfYear(12, std::int64_t{settings.YearBeg} + years - 1) +
                      "; the record's years are its monthly lines divided by 12.");
}

bool WeatherHasSoilGaps(const TModel& model) {
    const int years = RunYears(model.Settings);
    for (int i = 1; i <= years; ++i)
        for (int k = 1; k <= 12; ++k)
            if (model.Weather.Tsoil[i][k] < PRESENT_LIMIT) return true;
    return false;
}

void ValidateClimatologyForRun(const TModel& model, std::string_view fileName) {
    const TClimatology& c = model.Climate;
    // Without a mean soil temperature the run stops with its own warning.
    for (int k = 1; k <= 12; ++k)
        if (c.av_Ts[k] < PRESENT_LIMIT) return;
    const bool simulated = !model.Settings.InpDat;
    if (!simulated && !WeatherHasSoilGaps(model)) return;

    const auto check = [&](const ClimateField& field) {
        for (int k = 1; k <= 12; ++k) {
            if (IsPresent((c.*field.Values)[k])) continue;
            const std::string file = fileName.empty() ? "The climatology" : "The climatology file " + Quoted(fileName);
            const std::string use = simulated ? "the weather generator needs it for a simulated run"
                                              : "the weather generator needs it to fill the record's missing "
                                                "soil temperatures";
            throw KelmarError(file + " has no " + field.Key + " (" + field.LongName + ") for " + MONTH_NAMES[k] +
                              " (" + Number((c.*field.Values)[k]) + " marks a missing value); " + use +
                              ". A climatology estimated from fewer than " + std::to_string(YEARS_FOR_REGRESSIONS) +
                              " years of record has no regression coefficients.");
        }
    };
    if (simulated) {
        for (const ClimateField& field : CLIMATE_FIELDS)
            if (field.Values != &TClimatology::av_Ts) check(field);
    } else {
        for (const ClimateField& field : SOIL_GAP_FIELDS) check(field);
    }
}

void RequireFiniteYear(const TModel& model, int yearIndex) {
    const TYearWork& w = model.Work;
    const TSiteParams& s = model.Site;
    for (int k = 1; k <= 12; ++k) {
        const TResultRecord& r = model.Results.At(yearIndex, k);
        // In the order the balance computes them, so the first one that is
        // not finite is where the trouble starts.
        const double values[] = {r.Prec,   r.Tair,     r.Tsoil,    r.T_ms,      r.T_ff,     w.PET[k],
                                 w.S_mean[k], r.W_ms_vol, r.W_ff_vol, r.W_ms_mass, r.W_ff_mass};
        const auto bad = std::find_if(std::begin(values), std::end(values), [](double v) { return !std::isfinite(v); });
        if (bad == std::end(values)) continue;
        // The texts are only made once a value is found that is not finite.
        const Drivers d(model, yearIndex, k);
        const struct {
            const char* Name;
            std::function<std::string()> Why;
        } checks[] = {
            {"precipitation (Prec)", [&] { return d.Prec(); }},
            {"air temperature (Tair)", [&] { return d.Tair(); }},
            {"soil temperature under grass (Tsoil)", [&] { return d.Tsoil(); }},
            {"mineral-soil temperature (T_ms)", [&] { return d.Tsoil(); }},
            {"forest-floor temperature (T_ff)", [&] { return d.Tair() + " and " + d.Tsoil(); }},
            {"potential evapotranspiration", [&] { return d.Evapotranspiration(); }},
            {"the water storage of the balance", [&] { return d.Storage(); }},
            {"mineral-soil moisture (W_ms_vol)", [&] { return d.SoilMoisture(); }},
            {"forest-floor moisture (W_ff_vol)", [&] { return d.Site("Corr", s.Corr, "moisture ratio"); }},
            {"mineral-soil moisture by mass (W_ms_mass)",
             [&] { return d.Site("D_ms", s.D_ms, "mineral-soil bulk density, g/cm^3"); }},
            {"forest-floor moisture by mass (W_ff_mass)",
             [&] { return d.Site("D_ff", s.D_ff, "forest-floor bulk density, g/cm^3"); }},
        };
        static_assert(std::size(values) == std::size(checks));
        const auto& check = checks[bad - std::begin(values)];
        RefuseNonFinite(model, yearIndex, k, check.Name, check.Why());
    }
    const TResultRecord& annual = model.Results.At(yearIndex, 0);
    const struct {
        const char* Name;
        double Value;
    } annualChecks[] = {
        {"the annual precipitation (Prec)", annual.Prec},
        {"the annual mean air temperature (Tair)", annual.Tair},
        {"the annual mean soil temperature (Tsoil)", annual.Tsoil},
        {"the annual mean mineral-soil temperature (T_ms)", annual.T_ms},
        {"the annual mean forest-floor temperature (T_ff)", annual.T_ff},
        {"the annual mean mineral-soil moisture (W_ms_vol)", annual.W_ms_vol},
        {"the annual mean forest-floor moisture (W_ff_vol)", annual.W_ff_vol},
        {"the annual mean mineral-soil moisture by mass (W_ms_mass)", annual.W_ms_mass},
        {"the annual mean forest-floor moisture by mass (W_ff_mass)", annual.W_ff_mass},
    };
    for (const auto& c : annualChecks)
        if (!std::isfinite(c.Value))
            RefuseNonFinite(model, yearIndex, 0, c.Name,
                            "the twelve monthly values, whose sum is too large for a number: some are near the "
                            "largest number a double holds (about 1.8e308)");
}

void RequireFiniteClimatology(const TClimatology& climate) {
    for (const ClimateField& field : CLIMATE_FIELDS)
        for (int k = 1; k <= 12; ++k)
            if (!std::isfinite((climate.*field.Values)[k])) {
                const EstimateSource source = SourceOf(field);
                throw KelmarError("The climatology estimated from the weather record has no finite " +
                                  std::string(field.Key) + " (" + field.LongName + ") for " + MONTH_NAMES[k] +
                                  ": the record's " + source.From + " for " + MONTH_NAMES[k] +
                                  (source.Lagged ? " and the month before" : "") +
                                  " hold values too large to compute it. "
                                  "No climatology was estimated.");
            }
}

}  // namespace kelmar
