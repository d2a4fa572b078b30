// Feeds arbitrary bytes to the site file reader, then runs 500 simulated
// years on the site read with the example climatology and formats the
// outputs. A refused file or run (KelmarError) is a fine outcome; a crash, a
// sanitizer report, a hang, or a stored value or output that is not a finite
// number is not.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "finite_records.h"
#include "whole_path.h"
#include "io/site_file.h"
#include "model/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    static TModel* const model = new TModel();  // large; made once and reused
    model->Site = TSiteParams{};
    ApplySiteDefaults(model->Site);
    try {
        ReadSiteBytes(*model, std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const KelmarError&) {
    }
    const TSiteParams& s = model->Site;
    for (double v : {s.Lat, s.M_ff, s.D_ff, s.W_WP_ff, s.W_FC_ff, s.W_Sat_ff, s.D_ms, s.W_WP_ms, s.W_FC_ms,
                     s.W_Sat_ms, s.Wv0_ms, s.Corr})
        fuzz::RequireFinite(v, "a site parameter");

    fuzz::LoadExampleClimatology(*model);
    model->Settings = TRunSettings{};  // simulated weather
    fuzz::RunAndRequireFiniteOutputs(*model);
    return 0;
}
