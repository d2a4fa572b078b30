// A command-line file that reads a site file itself: the command line
// reaches files only through the application's commands, so the layers
// test expects this include to be missing.
#include "io/site_file.h"

namespace kelmar {
void ReadSiteOfTheCommandLine(TModel& model, std::string_view bytes) { ReadSiteBytes(model, bytes); }
}  // namespace kelmar
