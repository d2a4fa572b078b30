// The rest of the path after a fuzzed read: the run (or the estimate), then
// the outputs formatted in memory exactly as the writers would write them.
// A run refused with KelmarError is a fine outcome; a record or an output
// text that holds a number that is not finite is not.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "finite_records.h"
#include "io/climatology_file.h"
#include "app/presentation/grid_texts.h"
#include "io/results_file.h"
#include "io/site_file.h"
#include "io/table_file.h"
#include "model/errors.h"
#include "model/record_fields.h"
#include "model/run_checks.h"
#include "model/run_model.h"

namespace kelmar::fuzz {

// The example site and climatology, so a fuzzed file of one kind meets
// sound files of the other kinds.
inline constexpr std::string_view EXAMPLE_SITE =
    "VAR VALUE\r\n#\r\nLat,61.80\r\n#\r\nM_ff,3.20\r\n#\r\nD_ff,0.08\r\n#\r\nW_WP_ff,8.00\r\n#\r\n"
    "W_FC_ff,45.00\r\n#\r\nW_Sat_ff,85.00\r\n#\r\nD_ms,1.35\r\n#\r\nW_WP_ms,4.50\r\n#\r\nW_FC_ms,22.00\r\n#\r\n"
    "W_Sat_ms,42.00\r\n#\r\nWv0_ms,20.00\r\n#\r\nCorr,1.60\r\n#\r\nSaturat,0\r\n#\r\nPermafr,0\r\n#\r\n"
    "Fortype,1\r\n#";
inline constexpr std::string_view EXAMPLE_CLIMATOLOGY =
    "VAR VALUE\r\n#\r\n"
    "av_Ta,-10.20,-9.60,-4.80,1.90,9.10,14.30,16.90,14.80,9.30,3.40,-2.10,-7.00\r\n#\r\n"
    "std_Ta,3.60,3.50,2.70,1.90,1.80,1.50,1.30,1.40,1.30,1.70,2.30,3.20\r\n#\r\n"
    "av_P,38.00,29.00,30.00,33.00,42.00,63.00,78.00,80.00,62.00,60.00,52.00,44.00\r\n#\r\n"
    "Cv_P,0.45,0.50,0.50,0.55,0.55,0.50,0.50,0.45,0.50,0.45,0.45,0.45\r\n#\r\n"
    "av_Ts,-1.20,-1.50,-1.00,0.60,6.50,12.40,15.10,14.20,10.10,5.00,1.20,-0.40\r\n#\r\n"
    "std_Ts,0.90,1.00,0.90,0.80,1.20,1.10,1.00,1.00,0.90,0.90,0.80,0.80\r\n#\r\n"
    "Baa,0.25,0.30,0.30,0.20,0.20,0.15,0.20,0.25,0.30,0.30,0.25,0.25\r\n#\r\n"
    "Bap,0.90,0.80,0.50,0.10,-0.60,-1.00,-1.10,-0.90,-0.50,0.10,0.50,0.80\r\n#\r\n"
    "Sa,3.20,3.10,2.40,1.90,1.70,1.30,1.10,1.20,1.20,1.60,2.10,2.90\r\n#\r\n"
    "Bss,0.50,0.60,0.55,0.40,0.30,0.30,0.35,0.40,0.45,0.45,0.45,0.50\r\n#\r\n"
    "Bsa,0.10,0.10,0.12,0.25,0.45,0.50,0.50,0.45,0.40,0.30,0.15,0.10\r\n#\r\n"
    "Ss,0.60,0.60,0.55,0.60,0.80,0.75,0.70,0.65,0.60,0.60,0.55,0.55\r\n#";

class QuietNotifier : public Notifier {
public:
    void Warning(const std::string&) override {}
};

inline void LoadExampleSite(TModel& model) {
    model.Site = TSiteParams{};
    ApplySiteDefaults(model.Site);
    ReadSiteBytes(model, EXAMPLE_SITE);
}

inline void LoadExampleClimatology(TModel& model) {
    model.Climate = TClimatology{};
    ReadClimatologyBytes(model, EXAMPLE_CLIMATOLOGY);
}

// The spellings the C and C++ formatters give an infinity or a NaN.
inline constexpr const char* NON_FINITE_SPELLINGS[] = {"inf", "INF", "Inf", "nan", "NAN", "NaN", "Nan"};

inline void RequireNoNonFiniteText(const std::string& text, const char* what) {
    for (const char* spelling : NON_FINITE_SPELLINGS)
        if (text.find(spelling) != std::string::npos) {
            std::fprintf(stderr, "%s holds a number that is not finite (%s):\n%.2000s\n", what, spelling,
                         text.c_str());
            std::abort();
        }
}

// Every record of the table finite, and the results file and the full table
// as they would be written free of "inf" and "nan".
inline void RequireFiniteOutputs(const TModel& model) {
    for (const auto& year : model.Results.Records)
        for (const TResultRecord& r : year)
            for (const ResultField& field : RESULT_FIELDS) RequireFinite(r.*field.Value, field.Name);
    RequireNoNonFiniteText(FormatResultsFile(model.Results, model.AvailableYears), "the results file");
    RequireNoNonFiniteText(FormatResultsTable(model), "the full table");
}

// What the climatology writer would write.
inline void RequireFiniteClimatologyText(const TClimatology& climate) {
    std::string cells;
    for (const auto& variable : ClimatologyValueTexts(climate))
        for (const std::string& text : variable) cells.append(text).append(",");
    RequireNoNonFiniteText(cells, "the climatology file");
}

// The run as the open commands make it, then the outputs.
inline void RunAndRequireFiniteOutputs(TModel& model) {
    QuietNotifier notifier;
    try {
        if (model.Settings.InpDat)
            ValidateWeatherForRun(model);
        ValidateClimatologyForRun(model);
        RunModel(model, notifier);
    } catch (const KelmarError&) {
    }
    RequireFiniteOutputs(model);
}

// A climatology as read (its fields and the two derived from them), what
// its writer would write, and a simulated run of the example site on it.
inline void RequireFiniteClimatologyAndRun(TModel& model) {
    const TClimatology& c = model.Climate;
    for (const ClimateField& field : CLIMATE_FIELDS) RequireFinite(c.*field.Values, field.Key);
    RequireFinite(c.mu_P, "mu_P");
    RequireFinite(c.sigma_P, "sigma_P");
    RequireFiniteClimatologyText(c);

    LoadExampleSite(model);
    model.Settings = TRunSettings{};  // simulated weather
    RunAndRequireFiniteOutputs(model);
}

}  // namespace kelmar::fuzz
