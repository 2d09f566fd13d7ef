// The filter from start to end: options, connection wait, pages, duplex
// completion, collated copies, clean-up.
#pragma once

#include "filter_job.h"
#include "image.h"
#include "raster_input.h"
#include "side_channel.h"

namespace vexo::filter {

using joblang::PackedPage;

// Converts, encodes and sends every page read from `rasterFd`, then ends the
// job. Returns the process exit status: 0 when the job was printed or
// cancelled, 1 when its input could not be printed.
int runJob(FilterJob& job, int rasterFd, Pause pause);

// Reads the page whose header `input` has just read, scaled by the job's
// ratio and halftoned at its darkness; no bits when memory ran out or the
// job was stopped. A page cut short is completed with white.
PackedPage readPackedPage(FilterJob& job, RasterInput& input);

// Makes the spool file of page n as a white page of the current page size.
bool createBlankPage(FilterJob& job, int n);

}  // namespace vexo::filter
