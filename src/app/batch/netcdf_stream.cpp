#include "app/batch/netcdf_stream.h"

#include <exception>

#include "app/batch/batch_netcdf.h"
#include "model/errors.h"

namespace kelmar::batch {

NetcdfStream::NetcdfStream(std::string monthlyFile, std::string annualFile, CfFileDescription description,
                           int realizations, std::function<void(TaskSlot*)> giveBack)
    : Description(std::move(description)), Realizations(realizations), GiveBack(std::move(giveBack)) {
    Thread = std::thread([this, monthly = std::move(monthlyFile), annual = std::move(annualFile)] {
        try {
            Writer = NewCfNetcdfWriter(monthly, annual, Description);
        } catch (const std::exception&) {
            // The join meets the same refusal and says it.
            Failed = true;
        }
        {
            std::lock_guard<std::mutex> guard(Lock);
            Started = true;
            Empty.notify_all();
        }
        Write();
    });
}

NetcdfStream::~NetcdfStream() { Stop(false); }

void NetcdfStream::Add(TaskSlot* slot) {
    std::lock_guard<std::mutex> guard(Lock);
    Queue.push_back(slot);
    Ready.notify_one();
}

void NetcdfStream::Drain() {
    std::unique_lock<std::mutex> lock(Lock);
    Empty.wait(lock, [&] { return Started && Queue.empty() && Busy == 0; });
}

bool NetcdfStream::Finish(std::int64_t sites, std::int32_t firstYear, std::int32_t lastYear) {
    if (!Thread.joinable()) return false;
    Drain();
    const bool whole = !Failed && Writer && Writer->SitesWritten() == sites && firstYear == Description.FirstYear &&
                       lastYear == Description.LastYear;
    Stop(whole);
    if (!FinishError.empty()) throw KelmarError(FinishError);
    return whole;
}

void NetcdfStream::Stop(bool finish) {
    if (!Thread.joinable()) return;  // finished or dropped before
    {
        std::lock_guard<std::mutex> guard(Lock);
        Last = finish ? Order::Finish : Order::Drop;
        Ready.notify_one();
    }
    Thread.join();
}

// The stream's thread: the tasks in the order given, then the order to
// finish or drop the files.
void NetcdfStream::Write() {
    for (;;) {
        std::unique_lock<std::mutex> lock(Lock);
        Ready.wait(lock, [&] { return !Queue.empty() || Last != Order::None; });
        if (Queue.empty()) break;
        TaskSlot* slot = Queue.front();
        Queue.pop_front();
        ++Busy;
        lock.unlock();
        if (!Failed) {
            try {
                WriteTask(*slot);
            } catch (const std::exception&) {
                Failed = true;  // the join writes the files and raises what the writer refused
            }
        }
        GiveBack(slot);
        lock.lock();
        --Busy;
        if (Queue.empty() && Busy == 0) Empty.notify_all();
    }
    try {
        if (Last == Order::Finish) Writer->Finish();
    } catch (const std::exception& e) {
        FinishError = e.what();
    }
    Writer.reset();  // unfinished, its temporary files go with it
}

// As the join writes a task from its values record (batch_netcdf.cpp).
void NetcdfStream::WriteTask(const TaskSlot& slot) {
    const Task& task = slot.Where;
    const TModel* model = slot.Failed ? nullptr : slot.Model.get();
    CfSite site = RecordedSite(task.Site.Id, slot.Seed, task.Site.Lat, task.Site.Lon, model);
    Writer->WriteTask(site, task.Scenario, task.Replicate, slot.Model->Results, model ? model->AvailableYears : 0);
    // An observed-weather site has one realization: the others are written
    // without results and without a seed.
    if (Realizations <= 1 || task.Site.WeatherFile.empty()) return;
    site.Seed.reset();
    for (int r = task.Replicate + 1; r < Realizations; ++r) Writer->WriteTask(site, task.Scenario, r, slot.Model->Results, 0);
}

}  // namespace kelmar::batch
