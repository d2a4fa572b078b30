// A model-layer file that includes a file-format header. The model knows no
// files, so this must not compile: the layers test builds it and expects the
// include to be missing.
#include "model/model_state.h"
#include "io/site_file.h"

namespace kelmar {
void SiteFileReachedFromTheModel(TModel& model, Notifier& notifier) { ReadSiteFile(model, "soil.sit", notifier); }
}  // namespace kelmar
