// SIGTERM from the spooler only sets a flag; the filter checks it between
// lines, chunks and pages and then leaves through its one clean-up path.
#pragma once

namespace vexo::filter {

void installTerminationHandler();
bool terminationRequested();
void requestTermination();  // what the handler does; for tests

}  // namespace vexo::filter
