#include "termination.h"

#include <csignal>

namespace vexo::filter {
namespace {

volatile std::sig_atomic_t gTerminate = 0;

extern "C" void onTerminate(int)
{
    gTerminate = 1;
}

}  // namespace

void installTerminationHandler()
{
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read of the raster should return so the
    // flag is seen.
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGPIPE, &action, nullptr);  // backend gone: stop and clean up like a cancel
}

bool terminationRequested()
{
    return gTerminate != 0;
}

void requestTermination()
{
    gTerminate = 1;
}

}  // namespace vexo::filter
