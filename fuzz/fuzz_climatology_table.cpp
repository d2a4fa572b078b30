// Feeds arbitrary bytes to the tidy climatology table reader, then stores
// the climatology of its first site as a batch site naming it does
// (deriving the lognormal precipitation parameters), runs simulated years
// from it on the example site and formats the outputs. A refused table or
// run (KelmarError) is a fine outcome; a crash, a sanitizer report, a hang,
// or a stored value or output that is not a finite number is not.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "finite_records.h"
#include "whole_path.h"
#include "io/climatology_table.h"
#include "model/errors.h"
#include "model/record_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelmar;
    static TModel* const model = new TModel();  // large; made once and reused
    std::shared_ptr<const ClimatologyTable> table;
    try {
        table = ReadClimatologyTableBytes(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.csv");
    } catch (const KelmarError&) {
        return 0;
    }
    if (table->SiteIds.empty()) return 0;
    model->Climate = TClimatology{};
    try {
        table->Store(*model, table->SiteIds.front());
    } catch (const KelmarError&) {
        return 0;
    }
    fuzz::RequireFiniteClimatologyAndRun(*model);
    return 0;
}
