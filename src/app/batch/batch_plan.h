// The first step of a batch: the options checked, the lists read whole
// (so that a bad one stops the batch before anything runs), the folder
// claimed by the manifest, this process's share locked, and the chunks of
// the share that are still to run found.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/batch/batch_folder.h"
#include "app/batch/batch_grid.h"
#include "app/batch/batch_inputs.h"
#include "app/batch/batch_records.h"
#include "app/batch/batch_run.h"
#include "app/batch/scenario_list.h"
#include "app/batch/site_list.h"
#include "app/batch/sinks/sink_list.h"
#include "io/file_stream.h"

namespace kelmar::batch {

struct BatchPlan {
    std::filesystem::path Dir;
    std::unique_ptr<SiteListFile> List;
    std::optional<ScenarioList> Scenarios;
    BatchInputs Inputs;  // the files the sites name
    Manifest Batch;  // the manifest in force
    SinkList Sinks;  // of its format
    std::vector<StreamSpec> Streams;  // of the sinks, in their order
    Shard Share;
    bool Sharded = false;  // a share of several: no join at the end
    std::string Stem;      // of this process's streams
    std::optional<FileLock> ShareLock;
    std::vector<std::int64_t> Pending;  // chunks of the share to run, in list order
    std::int64_t ShareSites = 0, DoneSites = 0, DoneFailed = 0;  // of the share; done by earlier runs
    // Where this process's streams go on: after the last chunk recorded in
    // them (--resume); nothing: made anew.
    std::vector<std::optional<std::uint64_t>> Keep;
    GridFaults GridSites;  // why sites of the grid have no record (--grid)
};

// Raises KelmarError, with a message naming the file and what to do, for
// bad options or lists, a folder that holds another batch or cannot be
// written, and a share another process runs. Warnings go to `err`.
BatchPlan PlanBatch(const BatchOptions& options, std::ostream& err);

}  // namespace kelmar::batch
