// What identifies a batch's inputs beyond the bytes of its list: the files
// its sites name (site, climate and weather files), as the readers resolve
// them, each by its size and the XXH3 digest of its bytes. Two runs of the
// same list from two folders, or after a climatology was changed, read other
// inputs: their parts must not be joined.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/batch/site_list.h"

namespace kelmar::batch {

struct InputFile {
    std::string Path;   // as the reader opens it
    int Line = 0;       // of the list, where a site first names it
    std::string Identity;  // "<bytes>:<xxh3>", or "missing" when it cannot be read
};

struct BatchInputs {
    std::vector<InputFile> Files;  // each distinct file once, in the order the list first names them
    std::string Hash;              // XXH3 of every identity in that order, 16 hex digits
    bool ObservedWeather = false;  // a site of the list names a weather_file

    std::vector<std::string> Identities() const;
};

// The identity of the file `path`, first named on `line` of the list (0: an
// input given on the command line).
InputFile IdentifyInput(const std::string& path, int line);

// Reads the list's sites block by block and each distinct file once.
BatchInputs IdentifyInputs(const SiteListFile& list);

// The identities folded into one digest, as BatchInputs::Hash.
std::string FoldIdentities(const std::vector<std::string>& identities);

// Why `current` are not the inputs recorded as `recorded` (a manifest's
// identities, in the same order): the first file that differs, its line in
// the list named `listName`, and how. Empty when they are the same.
std::string DescribeInputChange(const BatchInputs& current, const std::vector<std::string>& recorded,
                                const std::string& listName);

}  // namespace kelmar::batch
