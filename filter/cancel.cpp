#include "cancel.h"

#include "messages.h"
#include "spool.h"

#include <cups/cups.h>

namespace vexo::filter {

void cancelJob(FilterJob& job)
{
    say(job, {"INFO:Job Cancelling\n", "INFO:正在取消任务\n", "INFO:Job Cancelling\n"});
    job.jobIsCanceled = 1;
    logLine(job, "[Wren] Set Cancel Job Flag to True =================\n");
}

void removeSpoolFiles(const FilterJob& job, int count, const char* tag)
{
    for (int n = 1; n <= count; ++n) {
        std::string name = spoolName(job.spoolDir, job.JobIdChar, kFinalSuffix, n);
        logLine(job, "DEBUG:[Wren]%s ----filename===%s ;\n", tag, name.c_str());
        removeSpoolFile(name);
    }
}

void doCancelJob(FilterJob& job)
{
    say(job, {"INFO:Job Cancelled\n", "INFO:任务已取消\n", "INFO:Job canceled\n"});
    job.writer.cancel();
    int cancelled = cupsCancelJob(job.PrinterName.c_str(), job.JobId);
    if (job.page >= 1)
        removeSpoolFiles(job, job.page, "doCancelJob");
    logLine(job, "[Wren]cupsCancelJob int = %d\n", cancelled);
    logLine(job, "[Wren]cupsCancelJoblasterror = %s\n", cupsLastErrorString());
}

}  // namespace vexo::filter
