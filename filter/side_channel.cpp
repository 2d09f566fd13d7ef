#include "side_channel.h"

#include "cancel.h"
#include "messages.h"
#include "termination.h"

#include <sys/stat.h>

namespace vexo::filter {

CupsSideChannel::CupsSideChannel()
{
    struct stat info {};
    present_ = ::fstat(CUPS_SC_FD, &info) == 0 && S_ISSOCK(info.st_mode);
}

cups_sc_status_t CupsSideChannel::request(cups_sc_command_t command, double timeout)
{
    if (!present_)
        return CUPS_SC_STATUS_NOT_IMPLEMENTED;
    char reply[512];
    int length = sizeof reply;
    return cupsSideChannelDoRequest(command, reply, &length, timeout);
}

bool waitForConnection(FilterJob& job, Pause pause)
{
    cups_sc_status_t status = job.sideChannel->request(CUPS_SC_CMD_GET_CONNECTED, 1.0);
    while (status != CUPS_SC_STATUS_OK) {
        logLine(job, "DEBUG:[Wren] Check Connecttion CUPS Stauts = %d \n", static_cast<int>(status));
        if (status == CUPS_SC_STATUS_IO_ERROR || status == CUPS_SC_STATUS_NO_RESPONSE) {
            logLine(job, "DEBUG:[Wren] CUPS_SC_STATUS_NO_RESPONSE or CUPS_SC_STATUS_IO_ERROR\n");
            cancelJob(job);
        } else if (status == CUPS_SC_STATUS_NOT_IMPLEMENTED) {
            return true;
        }
        pause(1);
        if (terminationRequested())
            return false;
        status = job.sideChannel->request(CUPS_SC_CMD_GET_CONNECTED, 1.0);
    }
    return true;
}

}  // namespace vexo::filter
