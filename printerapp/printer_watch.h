// Everything the application keeps per printer about the printer's own
// state: the cache the status callback copies, the poller filling it, the
// status page of the web interface, and the job that waits on the printer.
#pragma once

#include "status_cache.h"
#include "status_poller.h"

#include <pappl/pappl.h>

#include <memory>
#include <mutex>
#include <string>

namespace vexo::app {

class PrinterWatch {
public:
    ~PrinterWatch();

    // Once the printer exists: starts reading it when its device is one of
    // ours and adds the status page.
    void start(pappl_printer_t* printer);
    // Before the printer goes: the page first, then the poller.
    void stop(pappl_printer_t* printer);

    void jobStarted(pappl_job_t* job);
    void jobEnded();

    const StatusCache& cache() const { return cache_; }

private:
    static bool statusPage(pappl_client_t* client, void* data);
    void changed(const PrinterStatus& status);

    StatusCache cache_;
    std::unique_ptr<StatusPoller> poller_;
    pappl_printer_t* printer_ = nullptr;
    std::string pagePath_;
    std::mutex jobMutex_;
    pappl_job_t* job_ = nullptr;  // between the job's start and end callbacks
    bool jobToldOfProblem_ = false;
};

// The watch of a printer, from its driver data.
PrinterWatch* watchOf(pappl_printer_t* printer);

}  // namespace vexo::app
