// The printer's job stream on standard output: text commands ended by ';'
// and each page's JBIG image in length-prefixed chunks.
#pragma once

#include "filter_job.h"
#include "job_text.h"

#include <string>

namespace vexo::filter {

using joblang::kChunkSize;
using joblang::mediaSizeField;

// Writes `text` as it is, flushes, and asks the backend to drain.
int sendCmd(FilterJob& job, const std::string& text);

// The five fields of the job header, back to back.
std::string jobHeaderText(const FilterJob& job);
void sendJobHeader(FilterJob& job);

std::string pageHeaderText(const FilterJob& job);
void sendPageHeader(FilterJob& job);

// Sends the spool file at `path` in chunks. 0 sent, 3 failed.
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
