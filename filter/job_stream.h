// The printer's job stream on standard output, written by the job language's
// writer (joblang/job_writer) from the spool files, with the filter's log.
#pragma once

#include "filter_job.h"
#include "job_text.h"

#include <string>

namespace vexo::filter {

using joblang::kChunkSize;
using joblang::mediaSizeField;

// "Event=StartOfJob;" and the job header of the job's options.
void startJob(FilterJob& job);

// The page header of the current page size; rounds job.pageWidth as the
// printer is told it.
void sendPageHeader(FilterJob& job);

// Sends the spool file at `path` as the current page's data. 0 sent, 3 the
// file could not be opened.
int sendPageData(FilterJob& job, const std::string& path);

// Sends page n (header, data, end of page). Returns false when the job was
// cancelled (or the spooler asked the filter to stop) and nothing more may
// be sent.
bool sendOnePage(FilterJob& job, int n);

// Tells the spooler page n went out whole: "PAGE: n copies", where copies is
// how many the printer makes of it.
void countPage(const FilterJob& job, int n);

void endOfJob(FilterJob& job);

}  // namespace vexo::filter
