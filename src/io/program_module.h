// A module of the program (a shared object loaded only by the commands that
// need it, so that every other command starts without its libraries). It is
// looked for beside the program's real location (links resolved by
// /proc/self/exe), never on the library search path: first in the private
// library folder of an installed program, then in the program's own folder,
// where the build tree has it. So a copied or moved installation finds its
// own module, and no other.
#pragma once

#include <string>

namespace kelmar {

struct ProgramModule {
    void* Symbol = nullptr;  // the symbol asked for; null when no module had it
    std::string Tried;       // "\n  <path> (<reason>)" for each path that failed
    std::string Unknown;     // why the program's own location is unknown, if it is
};

// Loads `name` from `privateDir` (relative to the program's folder) or the
// program's folder and gives its `symbol`. A module found is never closed:
// the code behind the symbol lives in it.
ProgramModule LoadProgramModule(const std::string& name, const std::string& privateDir, const char* symbol);

}  // namespace kelmar
