#include "app/batch/task_runner.h"

#include <exception>

#include "app/random_streams.h"

namespace kelmar::batch {

SlotPool::SlotPool(std::size_t count, std::size_t streams) : Most(count), Streams(streams) {}

// A slot is made only when every one made is in use: the memory follows the
// tasks in flight, not the jobs asked for.
TaskSlot* SlotPool::Take() {
    std::unique_lock<std::mutex> lock(Lock);
    if (Free.empty() && Slots.size() < Most) {
        Slots.push_back(std::make_unique<TaskSlot>());
        Slots.back()->Texts.resize(Streams);
        return Slots.back().get();
    }
    Freed.wait(lock, [&] { return !Free.empty(); });
    TaskSlot* slot = Free.back();
    Free.pop_back();
    return slot;
}

void SlotPool::Give(TaskSlot* slot) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Free.push_back(slot);
    }
    Freed.notify_one();
}

void SlotPool::Clear() {
    std::lock_guard<std::mutex> guard(Lock);
    Free.clear();
    Slots.clear();
}

TaskRunner::TaskRunner(const Manifest& manifest, const SinkList& sinks,
                       std::map<std::string, std::string> gridFaults)
    : Rng(*streams::KindNamed(manifest.Rng)),
      BaseSeed(manifest.BaseSeed),
      Realizations(static_cast<std::uint64_t>(manifest.Realizations())),
      StartYear(manifest.StartYear),
      RunYears(manifest.RunYears),
      Sinks(sinks),
      Starts(StreamStarts(sinks)) {
    Tables.GridFaults = std::move(gridFaults);
    if (manifest.EstimateClimate) {
        Estimate.emplace();
        if (!manifest.Reference.empty()) Estimate->Reference = ParseReferenceYears(manifest.Reference);
    }
}

// Site i replicate r: the site's own seed, or the base seed, and the task's
// stream of it. Every scenario takes the same (common random numbers).
RandomSource TaskRunner::StartOf(const Task& task, std::uint32_t& seed) const {
    const SiteEntry& site = task.Site;
    const auto place = site.Seed ? std::nullopt : std::optional<std::uint64_t>(static_cast<std::uint64_t>(task.Index));
    RandomSource start(0);
    seed = static_cast<std::uint32_t>(streams::StartStream(start, Rng, site.Seed.value_or(BaseSeed),
                                                           streams::StreamIndex(place, Realizations, task.Replicate)));
    return start;
}

void TaskRunner::Run(TaskSlot& slot) {
    const RandomSource start = StartOf(slot.Where, slot.Seed);
    slot.Failed = false;
    slot.Error.clear();
    const auto makeTexts = [&] {
        const TaskRun run = slot.Run();
        for (std::size_t k = 0; k < Sinks.size(); ++k)
            Sinks[k]->MakeTexts(run, std::span<std::string>(slot.Texts).subspan(Starts[k], Starts[k + 1] - Starts[k]));
    };
    TModel& model = *slot.Model;
    try {
        std::destroy_at(&model);
        std::construct_at(&model);
        model.Settings.SimulatedYearBeg = StartYear;
        model.Settings.SimulatedYears = RunYears;
        RunSite(model, slot.Where.Site, start, Tables, slot.Where.Changes, Estimate ? &*Estimate : nullptr);
        makeTexts();
    } catch (const std::exception& e) {
        slot.Failed = true;
        slot.Error = e.what();
        makeTexts();
    }
}

}  // namespace kelmar::batch
