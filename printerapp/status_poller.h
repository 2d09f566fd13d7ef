// One thread per printer that reads the printer's status: every 6 s (2 s
// while a job runs), and at once when asked (a job starts or ends, the status
// page is opened). It goes on during jobs, so that a job stopped by the
// printer says why. Results go to the printer's StatusCache; nothing here waits on
// PAPPL and PAPPL never waits on this.
#pragma once

#include "printer_status.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vexo::app {

class StatusPoller {
public:
    // stopping: true once the poller is being destroyed; a query that waits
    // long asks it and gives up.
    using Query = std::function<StatusReading(const std::function<bool()>& stopping)>;
    using Changed = std::function<void(const PrinterStatus&)>;

    struct Options {
        std::string model;       // catalogue model name, key of the status tables
        Link link = Link::network;
        bool hasWakeUp = false;  // the model reports sleep (kStatusAsleep) and is left asleep
        std::chrono::milliseconds interval{6000};
        // While a job runs: a printer that stops mid-job says so soon.
        std::chrono::milliseconds jobInterval{2000};
    };

    // Starts polling at once. changed runs on the poller's thread after
    // every reading, with the cache already updated.
    StatusPoller(Query query, Options options, StatusCache& cache, Changed changed = {});
    ~StatusPoller();  // returns once the reading under way, if any, has ended or given up

    StatusPoller(const StatusPoller&) = delete;
    StatusPoller& operator=(const StatusPoller&) = delete;

    // Reads the printer now, even one left asleep; never blocks.
    void poke();

    // A job runs: read at the job interval, starting now.
    void setJobRunning(bool running);

    // Reads the printer now and returns once that reading is in the cache
    // (and passed to changed), or after `limit`, or once `giveUp` (asked
    // every 100 ms) says so. False unless the reading came.
    bool readNow(std::chrono::milliseconds limit, const std::function<bool()>& giveUp = {});

private:
    void run();

    Query query_;
    Options options_;
    StatusCache& cache_;
    Changed changed_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool poked_ = true;  // the first reading at start
    bool asleep_ = false;
    bool jobRunning_ = false;
    // Readings begun and finished, for readNow.
    unsigned long begun_ = 0;
    unsigned long finished_ = 0;
    std::condition_variable read_;
    std::thread thread_;
};

}  // namespace vexo::app
