// Job cancellation: requested when the backend reports the printer gone,
// carried out at the next page send.
#pragma once

#include "filter_job.h"

namespace vexo::filter {

// Announces the cancellation and marks the job; stops nothing by itself.
void cancelJob(FilterJob& job);

// Tells the printer "CancelJob?", cancels the job in the spooler and removes
// the spool files of pages 1..page. The caller then ends the process with 0.
void doCancelJob(FilterJob& job);

// Removes the final spool files of pages 1..count, logging each with `tag`.
void removeSpoolFiles(const FilterJob& job, int count, const char* tag);

}  // namespace vexo::filter
