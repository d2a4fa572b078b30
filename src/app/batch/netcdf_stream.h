// results.nc and results_annual.nc written while the sites run: the writer
// of the batch's pipeline hands each task, in list order, to a thread of
// its own that adds it to the files (CfNetcdfWriter, under temporary names
// beside the targets) and then gives the task's slot back. The netCDF and
// HDF5 libraries are not safe from several threads, so every call into them
// (the files' creation, each task, the finish or the removal) is made on
// this one thread, while the model runs on the jobs' threads.
//
// Which batches stream is the plan's choice (StreamsNetcdf, batch_run.cpp);
// the values parts are written as ever, as a killed batch's temporary files
// cannot be trusted and a --resume joins from the parts. A stream that
// fails for any reason (a task the writer refuses, a time axis other than
// the one foreseen) is dropped with its temporary files, and the join
// writes the files from the values parts as it does for the batches that
// do not stream, raising the error a writer refusal deserves.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/batch/task_runner.h"
#include "io/cf_netcdf.h"

namespace kelmar::batch {

class NetcdfStream {
public:
    // Starts the thread, which creates the files at once. `realizations`
    // is the length of the files' realization dimension (at least 1);
    // `giveBack` takes each slot once its task is written (on the stream's
    // thread).
    NetcdfStream(std::string monthlyFile, std::string annualFile, CfFileDescription description, int realizations,
                 std::function<void(TaskSlot*)> giveBack);
    // Drops the files unless Finish put them in place.
    ~NetcdfStream();
    NetcdfStream(const NetcdfStream&) = delete;
    NetcdfStream& operator=(const NetcdfStream&) = delete;

    // The next task in list order; its slot stays the stream's until given back.
    void Add(TaskSlot* slot);
    // Waits until every slot handed in is given back.
    void Drain();
    // Puts the files in place when every one of `sites` sites was written
    // and the results span exactly the time axis the files were made with
    // (`firstYear`..`lastYear` of the sites with results); true when done.
    // Otherwise, or when the stream failed, drops the files and gives
    // false. Raises the KelmarError of a finish that failed (the targets are
    // left as they were).
    bool Finish(std::int64_t sites, std::int32_t firstYear, std::int32_t lastYear);

private:
    void Write();
    void WriteTask(const TaskSlot& slot);
    void Stop(bool finish);

    const CfFileDescription Description;
    const int Realizations;
    const std::function<void(TaskSlot*)> GiveBack;
    std::unique_ptr<CfWriter> Writer;  // used on the stream's thread alone
    bool Failed = false;               // of the stream's thread: it writes no more
    std::string FinishError;

    std::mutex Lock;
    std::condition_variable Ready, Empty;
    std::deque<TaskSlot*> Queue;
    bool Started = false;  // the files were made, or failed to be
    std::size_t Busy = 0;  // slots taken from the queue and not yet given back
    enum class Order { None, Finish, Drop } Last = Order::None;
    std::thread Thread;
};

}  // namespace kelmar::batch
