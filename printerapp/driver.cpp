#include "driver.h"

#include "catalogue_drivers.h"
#include "media.h"
#include "print_job.h"
#include "printer_status.h"
#include "printer_watch.h"

#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace vexo::app {
namespace {

// The job's device. A printer that cannot print does not read: data waits
// here, the job saying why, rather than in a write that cannot be cancelled.
class DeviceOutput final : public Output {
public:
    DeviceOutput(pappl_job_t* job, pappl_device_t* device)
        : job_(job), device_(device), watch_(watchOf(papplJobGetPrinter(job)))
    {
    }
    bool write(const void* data, std::size_t size) override
    {
        if (!ready())
            return false;
        return papplDeviceWrite(device_, data, size) == static_cast<ssize_t>(size);
    }
    void flush() override
    {
        if (!ready())
            return;
        papplDeviceFlush(device_);
    }
    bool stopped() const override
    {
        return papplJobIsCanceled(job_) || papplSystemIsShutdown(papplPrinterGetSystem(papplJobGetPrinter(job_)));
    }

private:
    // A cancelled job's last words go out only to a printer that reads.
    bool ready()
    {
        if (!watch_)
            return true;
        if (papplJobIsCanceled(job_))
            return watch_->takesData();
        return watch_->waitUntilPrintable(job_);
    }

    pappl_job_t* job_;
    pappl_device_t* device_;
    PrinterWatch* watch_;
};

// What one job keeps between the callbacks.
struct JobState {
    JobState(pappl_job_t* job, pappl_device_t* device, const JobChoices& choices) : out(job, device), job(out, choices) {}
    DeviceOutput out;
    PrintJob job;
    bool stopped = false;  // the server stopped mid-page: said once
};

JobState* stateOf(pappl_job_t* job)
{
    return static_cast<JobState*>(papplJobGetData(job));
}

JobChoices choicesOf(const pappl_pr_options_t* options)
{
    JobChoices choices;
    choices.mediaType = mediaTypeCode(options->media.type);
    if (options->sides & PAPPL_SIDES_TWO_SIDED_SHORT_EDGE)
        choices.duplex = 1;
    else if (options->sides & PAPPL_SIDES_TWO_SIDED_LONG_EDGE)
        choices.duplex = 2;
    choices.darkness = darknessLevel(options->darkness_configured, options->print_darkness);
    return choices;
}

// The job's last word. The printer's status reaches a job while it prints
// ("Printing." once a problem clears); after this it no longer does.
void settle(pappl_job_t* job, const std::string& message, pappl_jreason_t reasons = PAPPL_JREASON_NONE)
{
    if (PrinterWatch* watch = watchOf(papplJobGetPrinter(job))) {
        watch->settleJob(job, message, reasons);
    } else {
        papplJobSetMessage(job, "%s", message.c_str());
        papplJobSetReasons(job, reasons, PAPPL_JREASON_NONE);
    }
}

// Cancelled by someone: papplJobIsCanceled is true for an aborted job too.
bool cancelledByUser(pappl_job_t* job)
{
    return papplJobIsCanceled(job) && papplJobGetState(job) != IPP_JSTATE_ABORTED;
}

bool settled(pappl_job_t* job)
{
    PrinterWatch* watch = watchOf(papplJobGetPrinter(job));
    return watch && watch->jobSettled();
}

void abortJob(pappl_job_t* job, std::string reason)
{
    // A write that gave up knows better what went wrong.
    if (PrinterWatch* watch = watchOf(papplJobGetPrinter(job)))
        if (std::string why = watch->writeGaveUp(); !why.empty())
            reason = why;
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", reason.c_str());
    settle(job, reason, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
}

// PAPPL gave up on the document, saying why only in its reasons.
std::string gaveUpReason(pappl_job_t* job)
{
    if (papplJobGetReasons(job) & PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR)
        return "The document has a page this printer cannot print.";
    return "The document could not be read to its end.";
}

bool startJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    if (PrinterWatch* watch = watchOf(papplJobGetPrinter(job)))
        watch->jobStarted(job, device);
    // The header here is PAPPL's guess; each page brings its own.
    papplJobSetData(job, new JobState(job, device, choicesOf(options)));
    return true;
}

// A stopping server waits for the job printing: it ends at the next page
// and says so (the jobs still pending print after the next start).
bool stopping(pappl_job_t* job)
{
    if (!papplSystemIsShutdown(papplPrinterGetSystem(papplJobGetPrinter(job))))
        return false;
    abortJob(job, "The server stopped before the job was printed.");
    return true;
}

bool startPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page)
{
    JobState* state = stateOf(job);
    // PAPPL's image path starts every copy of a cancelled job, white lines
    // and all: a cancelled job starts no more pages.
    if (!state || papplJobIsCanceled(job) || stopping(job))
        return false;
    const std::string problem = state->job.startPage(options->header);
    if (!problem.empty()) {
        abortJob(job, "Page " + std::to_string(page) + " refused: " + problem + ".");
        return false;
    }
    return true;
}

bool writeLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y, const unsigned char* line)
{
    JobState* state = stateOf(job);
    if (!state)
        return false;
    // A page at 1200 dpi takes seconds to build on a busy machine: a cancel
    // or a stopping server ends it here, not after its encoding. PAPPL's
    // image path stops on false; its raster path reads on regardless.
    if ((y & 31) == 0 && !state->stopped && (papplJobIsCanceled(job) || (state->stopped = stopping(job))))
        return false;
    if (!state->stopped)
        state->job.writeLine(y, line);
    return true;
}

bool endPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned page)
{
    JobState* state = stateOf(job);
    if (!state)
        return false;
    if (papplJobIsCanceled(job))
        return true;  // the job's end sends the cancel
    if (state->stopped || stopping(job))
        return false;  // not worth seconds of encoding
    if (!state->job.endPage()) {
        if (papplJobIsCanceled(job))
            return true;  // cancelled while the printer did not take the page
        if (stopping(job))
            return false;
        abortJob(job, "Page " + std::to_string(page) + " could not be sent to the printer.");
        return false;
    }
    return true;
}

bool endJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*)
{
    JobState* state = stateOf(job);
    if (!state)
        return false;
    bool ok = true;
    // Given up already: by a page of ours, or by PAPPL on a raster stream
    // cut short or not valid, which it aborts saying nothing.
    const bool gaveUp = settled(job) || papplJobGetState(job) == IPP_JSTATE_ABORTED;
    if (cancelledByUser(job)) {
        state->job.cancel();
        settle(job, "Canceled.");
    } else if (state->job.failed() || state->stopped || gaveUp) {
        state->job.cancel();
        ok = false;
        if (!settled(job))
            abortJob(job, gaveUp ? gaveUpReason(job) : "The job could not be sent to the printer.");
    } else if (!state->job.finish()) {
        abortJob(job, "The end of the job could not be sent to the printer.");
        state->job.cancel();
        ok = false;
    } else {
        // Its own last word, not a state of the printer that has since cleared.
        const int pages = state->job.pagesSent();
        settle(job, "Printed " + std::to_string(pages) + (pages == 1 ? " page." : " pages."));
    }
    papplJobSetData(job, nullptr);
    delete state;
    if (PrinterWatch* watch = watchOf(papplJobGetPrinter(job)))
        watch->jobEnded(ok && !papplJobIsCanceled(job));
    return ok;
}

bool sendFile(pappl_job_t* job, pappl_device_t* device);

// A job already in the printer's language goes to the device as it is.
bool printRaw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device)
{
    PrinterWatch* watch = watchOf(papplJobGetPrinter(job));
    if (watch)
        watch->jobStarted(job, device);
    const bool ok = sendFile(job, device);
    if (cancelledByUser(job))
        settle(job, "Canceled.");
    if (watch)
        watch->jobEnded(ok && !papplJobIsCanceled(job));
    return ok;
}

bool sendFile(pappl_job_t* job, pappl_device_t* device)
{
    const int fd = ::open(papplJobGetFilename(job), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        abortJob(job, "The job's file could not be opened.");
        return false;
    }
    char buffer[65536];
    bool ok = true;
    bool sentAny = false;
    ssize_t got;
    DeviceOutput out(job, device);
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        if (papplJobIsCanceled(job))
            break;
        if (!out.write(buffer, static_cast<std::size_t>(got))) {
            ok = papplJobIsCanceled(job);
            break;
        }
        sentAny = true;
    }
    ::close(fd);
    if (papplJobIsCanceled(job) && sentAny)
        out.write(joblang::kCancelJob, std::strlen(joblang::kCancelJob));
    out.flush();
    if (!ok || got < 0)
        abortJob(job, "The job could not be sent to the printer.");
    else if (!papplJobIsCanceled(job))
        settle(job, "Printed.");
    return ok && got >= 0;
}

void identify(pappl_printer_t* printer, pappl_identify_actions_t, const char*)
{
    // The printer has no light, sound or screen a host can drive; the request
    // is "displayed" in the log, which IPP Everywhere clients expect to exist.
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: the printer has no signal to give.");
}

void deletePrinter(pappl_printer_t* printer, pappl_pr_driver_data_t* data)
{
    auto* watch = static_cast<PrinterWatch*>(data->extension);
    if (watch)
        watch->stop(printer);
    delete watch;
    data->extension = nullptr;
}

void fillMedia(pappl_media_col_t& media, const char* source)
{
    media = {};
    const MediaSize& a4 = mediaSizes().front();
    std::strncpy(media.size_name, a4.pwgName, sizeof media.size_name - 1);
    media.size_width = 21000;
    media.size_length = 29700;
    std::strncpy(media.source, source, sizeof media.source - 1);
    std::strncpy(media.type, mediaTypes().front().ipp, sizeof media.type - 1);
}

ipp_t* extraAttributes()
{
    ipp_t* attrs = ippNew();
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
    static const char* const intents[] = {"auto", "perceptual", "relative"};
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", 3, nullptr, intents);
    ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    return attrs;
}

}  // namespace

std::vector<pappl_pr_driver_t>& driverTable()
{
    static std::vector<pappl_pr_driver_t> table = [] {
        std::vector<pappl_pr_driver_t> list;
        for (const DriverInfo& driver : catalogueDrivers())
            list.push_back({driver.name.c_str(), driver.description.c_str(), driver.deviceId.c_str(), nullptr});
        return list;
    }();
    return table;
}

const char* autoAddCallback(const char*, const char* deviceUri, const char* deviceId, void*)
{
    const std::string name = autoAddDriver(deviceUri ? deviceUri : "", deviceId ? deviceId : "");
    for (const DriverInfo& driver : catalogueDrivers())
        if (driver.name == name)
            return driver.name.c_str();  // PAPPL keeps the pointer
    return nullptr;
}

bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri, const char*,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void*)
{
    const DriverInfo* driver = nullptr;
    for (const DriverInfo& candidate : catalogueDrivers())
        if (driverName && candidate.name == driverName)
            driver = &candidate;
    if (!driver) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "No driver named '%s'.", driverName ? driverName : "");
        return false;
    }

    data->extension = new PrinterWatch(driver->model);
    data->delete_cb = deletePrinter;
    data->identify_cb = identify;
    data->printfile_cb = printRaw;
    data->rstartjob_cb = startJob;
    data->rstartpage_cb = startPage;
    data->rwriteline_cb = writeLine;
    data->rendpage_cb = endPage;
    data->rendjob_cb = endJob;
    data->status_cb = applyCachedStatus;
    data->format = kNativeFormat;

    std::strncpy(data->make_and_model, driver->description.c_str(), sizeof data->make_and_model - 1);
    data->ppm = 20;
    data->kind = PAPPL_KIND_DOCUMENT;
    data->has_supplies = true;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    // 8-bit lines for the printer's own halftoner; nothing forced.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    data->duplex = PAPPL_DUPLEX_NORMAL;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;

    data->num_resolution = 2;
    data->x_resolution[0] = data->y_resolution[0] = 600;
    data->x_resolution[1] = data->y_resolution[1] = 1200;
    data->x_default = data->y_default = 600;

    data->borderless = false;
    data->left_right = 0;  // the queue's PPD has no hardware margins either
    data->bottom_top = 0;

    data->num_media = 0;
    for (const MediaSize& size : mediaSizes())
        data->media[data->num_media++] = size.pwgName;
    data->media[data->num_media++] = kCustomMin;
    data->media[data->num_media++] = kCustomMax;

    data->num_source = 0;
    for (const char* source : kSources) {
        fillMedia(data->media_ready[data->num_source], source);
        data->source[data->num_source++] = source;
    }
    fillMedia(data->media_default, kSources[0]);

    data->num_type = 0;
    for (const MediaType& type : mediaTypes())
        data->type[data->num_type++] = type.ipp;

    data->darkness_supported = kDarknessLevels;
    data->darkness_configured = 0;
    data->darkness_default = 0;

    data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;

    *attrs = extraAttributes();
    // What PAPPL's own `autoadd` asks of each printer, and 1.3.1 does not
    // give: the device and the driver chosen (the model's, also for "auto").
    // First start and `autoadd` add no device already served.
    ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_URI, "smi55357-device-uri", nullptr, deviceUri ? deviceUri : "");
    ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "smi55357-driver", nullptr, driver->name.c_str());
    return true;
}

void createCallback(pappl_printer_t* printer, void*)
{
    pappl_supply_t toner = blackToner(std::nullopt);  // unknown until the printer is read
    papplPrinterSetSupplies(printer, 1, &toner);
    if (PrinterWatch* watch = watchOf(printer))
        watch->start(printer);
    // PAPPL 1.3.1 announces on DNS-SD only the printers there are when the
    // server starts; one added while it runs (`add`, the first start's
    // search) would reach print dialogs only after a restart.
    if (papplSystemIsRunning(papplPrinterGetSystem(printer))) {
        char name[256];
        if (papplPrinterGetDNSSDName(printer, name, sizeof name))
            papplPrinterSetDNSSDName(printer, name);
    }
}

const char* mimeCallback(const unsigned char* header, size_t size, void*)
{
    static constexpr std::string_view kStart = "Event=StartOfJob;";
    if (size >= kStart.size() && std::memcmp(header, kStart.data(), kStart.size()) == 0)
        return kNativeFormat;
    return nullptr;
}

bool applyCachedStatus(pappl_printer_t* printer)
{
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    const auto* watch = static_cast<const PrinterWatch*>(data.extension);
    if (!watch)
        return true;
    PrinterStatus status = watch->cache().copy();
    if (!status.known)
        return true;
    papplPrinterSetReasons(printer, status.reasons & kPrinterReasons, ~status.reasons & kPrinterReasons);
    if (!status.supplies.empty())
        papplPrinterSetSupplies(printer, static_cast<int>(status.supplies.size()), status.supplies.data());
    return true;
}

}  // namespace vexo::app
