// Everything the application keeps per printer about the printer's own
// state: the cache the status callback copies, the poller filling it, the
// status page of the web interface, and the job that waits on the printer.
#pragma once

#include "status_cache.h"
#include "status_poller.h"

#include <pappl/pappl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vexo::app {

class PrinterWatch {
public:
    // `model`: the catalogue model of the printer's driver, as the driver
    // callback resolved it (a printer added with driver "auto" keeps that
    // name, but not its model).
    explicit PrinterWatch(std::string model) : model_(std::move(model)) {}
    ~PrinterWatch();

    // Once the printer exists: starts reading it when its device is one of
    // ours and adds the status page.
    void start(pappl_printer_t* printer);
    // Before the printer goes: the page first, then the poller.
    void stop(pappl_printer_t* printer);

    // Around each job; the job's device asks the watch whether a write the
    // printer does not take keeps waiting.
    void jobStarted(pappl_job_t* job, pappl_device_t* device);
    // printed: the job went out whole; its end then waits for a fresh
    // reading of the printer (a few milliseconds, 3.5 s at most).
    void jobEnded(bool printed);

    // Before each write of job data: waits while the printer is known not to
    // print (no paper, cover open, ...), the job saying why. False when the
    // job was cancelled or the server is stopping meanwhile.
    bool waitUntilPrintable(pappl_job_t* job);
    // Whether the printer, as last read, takes data now.
    bool takesData() const { return !stopsPrinting(cache_.copy()); }

    // Why the last write gave up, if it did: the job's reason.
    std::string writeGaveUp();

    // The job's last word (why it ended, or that it printed) with its
    // reasons: readings of the printer after it no longer reach the job.
    void settleJob(pappl_job_t* job, const std::string& message, pappl_jreason_t reasons);
    // Whether the job printing has had its last word.
    bool jobSettled();

    // How long a write waits for a printer that stops reading without saying
    // why (warming up, asleep, wedged) before the job is aborted.
    static int stallLimit();

    const StatusCache& cache() const { return cache_; }

private:
    static bool statusPage(pappl_client_t* client, void* data);
    void changed(const PrinterStatus& status);
    void tellJob(const PrinterStatus& status);
    static bool keepWaiting(pappl_device_t* device, int seconds, void* data);

    const std::string model_;
    StatusCache cache_;
    std::unique_ptr<StatusPoller> poller_;
    pappl_printer_t* printer_ = nullptr;
    std::string pagePath_;
    std::string deviceUri_;
    std::mutex jobMutex_;
    std::condition_variable statusChanged_;
    pappl_job_t* job_ = nullptr;  // between the job's start and end callbacks
    bool jobToldOfProblem_ = false;
    bool jobSettled_ = false;
    std::string writeGaveUp_;
};

// The watch of a printer, from its driver data.
PrinterWatch* watchOf(pappl_printer_t* printer);

}  // namespace vexo::app
