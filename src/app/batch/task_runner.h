// The middle of a batch's pipeline: a task run in the model of its slot,
// and the sinks' texts made from it, on any thread.
#pragma once

#include <condition_variable>
#include <map>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batch_records.h"
#include "app/batch/site_run.h"
#include "app/batch/sinks/sink_list.h"
#include "app/batch/task_cursor.h"
#include "model/model_state.h"
#include "numerics/random_source.h"

namespace kelmar::batch {

// A task in flight: the model it runs in (remade in place for every task:
// the state of a model just made, without faulting in its megabyte of
// tables again) and the texts the sinks made from it.
struct TaskSlot {
    Task Where;
    std::unique_ptr<TModel> Model = std::make_unique<TModel>();
    std::uint32_t Seed = 0;
    bool Failed = false;
    std::string Error;
    std::vector<std::string> Texts;  // one per stream of the sinks, in their order

    TaskRun Run() const { return {Where, *Model, Seed, Failed, Error}; }
};

// A bounded number of slots, made as the tasks in flight need them, so that
// memory is set by the jobs at work, not by the list or the jobs asked for.
class SlotPool {
public:
    SlotPool(std::size_t count, std::size_t streams);
    // Waits while every slot is in use (a netCDF stream still writing some).
    TaskSlot* Take();
    void Give(TaskSlot* slot);
    // Frees the slots' memory (once no slot is in use).
    void Clear();

private:
    std::size_t Most, Streams;  // slots at most; texts per slot
    std::vector<std::unique_ptr<TaskSlot>> Slots;
    std::vector<TaskSlot*> Free;
    std::mutex Lock;
    std::condition_variable Freed;
};

class TaskRunner {
public:
    // `gridFaults`: why sites of the grid have no record (--grid); their
    // runs fail with it.
    TaskRunner(const Manifest& manifest, const SinkList& sinks,
               std::map<std::string, std::string> gridFaults = {});
    // Runs the slot's task and has every sink make its texts; a task that
    // fails is marked so, with its message. Safe from several threads.
    void Run(TaskSlot& slot);

private:
    RandomSource StartOf(const Task& task, std::uint32_t& seed) const;

    RandomKind Rng;
    std::uint32_t BaseSeed;
    std::uint64_t Realizations;
    std::int32_t StartYear, RunYears;  // of the simulated-weather sites
    const SinkList& Sinks;
    std::vector<std::size_t> Starts;  // of each sink's texts
    WeatherTables Tables;
    std::optional<ClimateEstimate> Estimate;  // of a batch with --estimate-climate
};

}  // namespace kelmar::batch
