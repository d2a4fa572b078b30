// The sinks of a batch, made from its format and options: the one place
// that says which outputs a format has.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/batch/batch_records.h"
#include "app/batch/sinks/batch_sink.h"

namespace kelmar::batch {

using SinkList = std::vector<std::unique_ptr<BatchSink>>;

// The sinks of the batch `manifest`, in the order of the done-files'
// lines; `listName` is the site list's file, named in error rows (empty
// for a merge, which writes no rows). Raises KelmarError for a format it
// does not know.
SinkList MakeSinks(const Manifest& manifest, const std::string& listName = {});

// Every stream of `sinks`, in their order: the ranges of a ChunkRecord.
std::vector<StreamSpec> StreamsOf(const SinkList& sinks);

// Where each sink's streams begin in StreamsOf, and their count at the end.
std::vector<std::size_t> StreamStarts(const SinkList& sinks);

// The outputs of every format, so that a folder holding any of them is not
// taken for a batch's.
std::vector<std::string> EveryOutputName();

}  // namespace kelmar::batch
