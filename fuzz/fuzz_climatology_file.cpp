// Feeds arbitrary bytes to the climatology file reader, including the
// derivation of the lognormal precipitation parameters, then runs 500
// simulated years from it on the example site and formats the outputs and
// the climatology as written. A refused file or run (KelmarError) is a fine
// outcome; a crash, a sanitizer report, a hang, or a stored value or output
// that is not a finite number is not.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "finite_records.h"
#include "whole_path.h"
#include "io/climatology_file.h"
#include "model/errors.h"
#include "model/record_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    static TModel* const model = new TModel();  // large; made once and reused
    model->Climate = TClimatology{};
    try {
        ReadClimatologyBytes(*model, std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const KelmarError&) {
    }
    fuzz::RequireFiniteClimatologyAndRun(*model);
    return 0;
}
