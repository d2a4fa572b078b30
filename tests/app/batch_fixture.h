// What the batch tests share: the options of a batch of the list
// "sites.csv" in a test folder, and the bytes of its three tables.
#pragma once

#include <cstdint>
#include <string>

#include "app/batch/batch_run.h"
#include "io/io_test_support.h"

namespace kelmar::batch::testing {

// A batch of `dir`/sites.csv into `dir`/`out` on `jobs` threads from `seed`.
inline BatchOptions TestBatch(const kelmar::testing::TempDir& dir, const std::string& out, int jobs = 2,
                              std::uint32_t seed = 2024) {
    BatchOptions o;
    o.SitesFile = dir.File("sites.csv");
    o.OutDir = dir.File(out);
    o.Jobs = jobs;
    o.Seed = seed;
    o.Version = "test";
    return o;
}

// monthly.csv, annual.csv and errors.csv of the batch in `dir`/`out`, one after the other.
inline std::string TableBytes(const kelmar::testing::TempDir& dir, const std::string& out) {
    std::string all;
    for (const char* name : {"monthly.csv", "annual.csv", "errors.csv"})
        all += kelmar::testing::ReadBytes(dir.File(out + "/" + name));
    return all;
}

}  // namespace kelmar::batch::testing
