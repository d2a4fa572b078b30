// A writer in a process of its own, for the tests of io/posix_file.h: makes
// a temporary file in the folder given as argument 1, of the kind argument 2
// names, says "ready" on standard output and waits for a signal to end it.
//   written   a TemporaryFile the process writes itself
//   library   a ByName TemporaryFile that a library holds open and locked,
//             as the netCDF library (HDF5's file locking) does
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "io/posix_file.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string kind = argv[2];
    const bool library = kind == "library";
    if (!library && kind != "written") return 2;
    kelmar::TemporaryFile temporary;
    if (temporary.Create(argv[1], library ? kelmar::TemporaryFile::Kind::ByName : kelmar::TemporaryFile::Kind::Written) != 0)
        return 3;
    kelmar::FileDescriptor libraryFile;
    if (library) {
        libraryFile = kelmar::FileDescriptor(::open(temporary.Path().c_str(), O_RDWR | O_CLOEXEC));
        if (!libraryFile || ::flock(libraryFile.Get(), LOCK_EX | LOCK_NB) != 0) return 4;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) ::pause();
}
