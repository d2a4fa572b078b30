// A numerics-layer file that includes a model header: the numerics sit
// beneath the model, so the layers test expects this include to be missing.
#include "numerics/statistics.h"
#include "model/model_state.h"

namespace kelmar {
double MeanOfTheSite(const TSiteParams& site) { return MeanPresent(1, &site.Lat); }
}  // namespace kelmar
