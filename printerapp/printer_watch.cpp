#include "printer_watch.h"

#include "catalogue_drivers.h"
#include "printer_link.h"
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>

namespace vexo::app {
namespace {

// "纸盘无纸：请添加纸张到纸盘", or the message alone when there is no advice.
std::string spoken(const PrinterStatus& status)
{
    return status.advice.empty() ? status.message : status.message + "：" + status.advice;
}

// The status pages by path. PAPPL 1.3.1 calls a printer's delete callback
// holding the system's lock, which removing a resource takes too: a page
// stays registered and shows whichever printer has its path now. A page is
// drawn holding this lock, so a printer being deleted waits for it.
std::mutex pagesMutex;
std::map<std::string, PrinterWatch*> pages;

void row(pappl_client_t* client, const char* label, const std::string& value)
{
    papplClientHTMLPrintf(client, "              <tr><th>%s:</th><td>", label);
    papplClientHTMLEscape(client, value.c_str(), 0);
    papplClientHTMLPuts(client, "</td></tr>\n");
}

}  // namespace

PrinterWatch::~PrinterWatch()
{
    poller_.reset();
}

void PrinterWatch::start(pappl_printer_t* printer)
{
    printer_ = printer;
    char path[256];
    papplPrinterGetPath(printer, "printer-status", path, sizeof path);
    pagePath_ = path;
    {
        std::lock_guard lock(pagesMutex);
        pages[pagePath_] = this;
    }
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", statusPage, nullptr);
    papplPrinterAddLink(printer, "Printer Status", path, PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);

    const char* uri = papplPrinterGetDeviceURI(printer);
    deviceUri_ = uri ? uri : "";
    auto link = linkFor(deviceUri_, model_);
    if (!link)
        return;  // a file:// device or an unknown model: nothing to ask
    poller_ = std::make_unique<StatusPoller>(std::move(link->query), std::move(link->options), cache_,
                                             [this](const PrinterStatus& status) { changed(status); });
}

void PrinterWatch::stop(pappl_printer_t*)
{
    {
        std::lock_guard lock(pagesMutex);
        const auto page = pages.find(pagePath_);
        if (page != pages.end() && page->second == this)
            pages.erase(page);
    }
    poller_.reset();
}

void PrinterWatch::jobStarted(pappl_job_t* job, pappl_device_t* device)
{
    {
        std::lock_guard lock(jobMutex_);
        job_ = job;
        jobToldOfProblem_ = false;
        jobSettled_ = false;
        writeGaveUp_.clear();
    }
    papplDeviceSetWaitCallback(device, keepWaiting, this);
    if (poller_) {
        tellJob(cache_.copy());  // a known problem is the job's at once
        poller_->setJobRunning(true);
    }
}

void PrinterWatch::jobEnded(bool printed)
{
    pappl_job_t* job;
    {
        std::lock_guard lock(jobMutex_);
        job = job_;
        job_ = nullptr;
    }
    statusChanged_.notify_all();
    if (poller_) {
        poller_->setJobRunning(false);
        // A CUPS queue learns the printer's state from its backend, which
        // reads it once more when the job is done and never again until the
        // next job: what it reads then must be the printer's state now, not
        // the last job-time reading. A cancel that comes meanwhile (the job
        // is still the printer's) or a stopping server ends the wait, even
        // with the printer silent.
        if (printed && job)
            poller_->readNow(std::chrono::milliseconds(3500),  // a silent printer: two 1.5 s tries
                             [job] {
                                 return papplJobIsCanceled(job) ||
                                        papplSystemIsShutdown(papplPrinterGetSystem(papplJobGetPrinter(job)));
                             });
    }
}

void PrinterWatch::changed(const PrinterStatus& given)
{
    PrinterStatus status = given;  // PAPPL takes the supplies as non-const
    // PAPPL asks the status callback only while no job runs: set here, the
    // printer's reasons and toner are current during a job too.
    if (status.known && printer_) {
        papplPrinterSetReasons(printer_, status.reasons & kPrinterReasons, ~status.reasons & kPrinterReasons);
        if (!status.supplies.empty())
            papplPrinterSetSupplies(printer_, static_cast<int>(status.supplies.size()), status.supplies.data());
    }
    tellJob(status);
    statusChanged_.notify_all();
}

void PrinterWatch::tellJob(const PrinterStatus& status)
{
    std::lock_guard lock(jobMutex_);
    // A printer that recovers after the job gave up must not make its
    // reason "Printing." again.
    if (!job_ || !status.known || jobSettled_)
        return;
    if (status.level >= 2 || stopsPrinting(status)) {
        papplJobSetMessage(job_, "%s", spoken(status).c_str());
        papplJobSetReasons(job_, stopsPrinting(status) ? PAPPL_JREASON_PRINTER_STOPPED : PAPPL_JREASON_NONE,
                           stopsPrinting(status) ? PAPPL_JREASON_NONE : PAPPL_JREASON_PRINTER_STOPPED);
        jobToldOfProblem_ = true;
    } else if (jobToldOfProblem_) {
        papplJobSetMessage(job_, "Printing.");
        papplJobSetReasons(job_, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
        jobToldOfProblem_ = false;
    }
}

bool PrinterWatch::waitUntilPrintable(pappl_job_t* job)
{
    std::unique_lock lock(jobMutex_);
    pappl_system_t* system = papplPrinterGetSystem(papplJobGetPrinter(job));
    while (!papplJobIsCanceled(job) && !papplSystemIsShutdown(system)) {
        if (!poller_ || !stopsPrinting(cache_.copy()))
            return true;
        // Woken by each reading; the timeout bounds how late a cancel is seen.
        statusChanged_.wait_for(lock, std::chrono::milliseconds(100));
    }
    return false;
}

int PrinterWatch::stallLimit()
{
    static const int limit = [] {
        const char* given = std::getenv("VEXO_APP_STALL_SECONDS");
        const int seconds = given ? std::atoi(given) : 0;
        return seconds > 0 ? seconds : 60;
    }();
    return limit;
}

std::string PrinterWatch::writeGaveUp()
{
    std::lock_guard lock(jobMutex_);
    return writeGaveUp_;
}

void PrinterWatch::settleJob(pappl_job_t* job, const std::string& message, pappl_jreason_t reasons)
{
    std::lock_guard lock(jobMutex_);
    if (job == job_)
        jobSettled_ = true;
    papplJobSetMessage(job, "%s", message.c_str());
    papplJobSetReasons(job, reasons, PAPPL_JREASON_PRINTER_STOPPED);
}

bool PrinterWatch::jobSettled()
{
    std::lock_guard lock(jobMutex_);
    return jobSettled_;
}

// PAPPL asks every quarter second while a device write makes no progress
// (seconds: since its last progress). A printer that says why it does not
// read (no paper, cover open) is waited for, the job saying why; a stopping
// server and a printer silent past the limit give up, so the device is free
// for what comes next. A cancelled job's rest and its cancel go to a printer
// that still reads, which a full buffer stalls for moments; a second without
// progress ends it. After the job (PAPPL closing the device with a cancelled
// job's rest in its buffer, under the printer's lock) nothing waits.
bool PrinterWatch::keepWaiting(pappl_device_t*, int seconds, void* data)
{
    auto* watch = static_cast<PrinterWatch*>(data);
    std::unique_lock lock(watch->jobMutex_);
    pappl_job_t* job = watch->job_;
    if (!job)
        return false;
    if (papplJobIsCanceled(job))
        return seconds < 1 && !stopsPrinting(watch->cache_.copy());
    if (papplSystemIsShutdown(papplPrinterGetSystem(papplJobGetPrinter(job)))) {
        watch->writeGaveUp_ = "The server stopped while the printer was not reading.";
        return false;
    }
    if (watch->poller_ && stopsPrinting(watch->cache_.copy()))
        return true;
    if (seconds < stallLimit())
        return true;
    watch->writeGaveUp_ =
        "The printer stopped taking data for " + std::to_string(seconds) + " s without saying why.";
    return false;
}

bool PrinterWatch::statusPage(pappl_client_t* client, void*)
{
    std::lock_guard lock(pagesMutex);
    const auto page = pages.find(papplClientGetURI(client));
    if (page == pages.end())
        return false;  // the printer is gone
    PrinterWatch* watch = page->second;
    // Opening the page is asking the printer again, as selecting it in the
    // monitor does; it also wakes the polling of a printer left asleep.
    if (watch->poller_)
        watch->poller_->poke();
    const PrinterStatus status = watch->cache_.copy();

    papplClientHTMLPrinterHeader(client, watch->printer_, "Printer Status", 10, nullptr, nullptr);
    papplClientHTMLPuts(client, "        <div class=\"row\">\n          <div class=\"col-12\">\n");
    if (!watch->poller_) {
        papplClientHTMLPuts(client, "            <p>This printer's device cannot be asked for its status.</p>\n");
    } else if (!status.known) {
        papplClientHTMLPuts(client, "            <p>Reading the printer's status&hellip;</p>\n");
    } else {
        const char* banner = status.level >= 3 ? "error" : status.level == 2 ? "warning" : "normal";
        papplClientHTMLPrintf(client, "            <div class=\"banner\" id=\"printer-status\" data-level=\"%s\">", banner);
        papplClientHTMLEscape(client, spoken(status).c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n            <table class=\"form\">\n              <tbody>\n");
        row(client, "Status", status.message);
        row(client, "Advice", status.advice.empty() ? "-" : status.advice);
        row(client, "Status code", std::to_string(status.code));
        row(client, "IPP reason", status.reason.empty() ? "none" : status.reason);
        row(client, "Black toner", status.toner ? std::to_string(*status.toner) + " %" : "unknown");
        papplClientHTMLPuts(client, "              </tbody>\n            </table>\n");
    }
    papplClientHTMLPuts(client, "          </div>\n        </div>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

PrinterWatch* watchOf(pappl_printer_t* printer)
{
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    return static_cast<PrinterWatch*>(data.extension);
}

}  // namespace vexo::app
