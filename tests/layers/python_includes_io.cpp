// A Python-module file that reads a climatology file itself: the module
// reaches files only through the application's commands, so the layers
// test expects this include to be missing.
#include "io/climatology_file.h"

namespace kelmar {
void ReadClimatologyOfPython(TModel& model, std::string_view bytes) { ReadClimatologyBytes(model, bytes); }
}  // namespace kelmar
