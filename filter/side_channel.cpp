#include "side_channel.h"

#include "cancel.h"
#include "messages.h"
#include "termination.h"

#include <cstring>
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

cups_sc_status_t CupsSideChannel::snmpGet(const char* oid, std::string& value, double timeout)
{
    if (!present_)
        return CUPS_SC_STATUS_NOT_IMPLEMENTED;
    if (cupsSideChannelWrite(CUPS_SC_CMD_SNMP_GET, CUPS_SC_STATUS_NONE, oid, static_cast<int>(std::strlen(oid)) + 1,
                             timeout) != 0)
        return CUPS_SC_STATUS_TIMEOUT;
    // A drain that timed out earlier is answered late, ahead of this answer:
    // passed over here rather than taken for it.
    for (int stale = 0; stale < 8; ++stale) {
        cups_sc_command_t command{};
        cups_sc_status_t status{};
        char reply[2048];
        int length = sizeof reply;
        if (cupsSideChannelRead(&command, &status, reply, &length, timeout) != 0)
            return CUPS_SC_STATUS_TIMEOUT;
        if (command != CUPS_SC_CMD_SNMP_GET)
            continue;
        if (status != CUPS_SC_STATUS_OK)
            return status;
        // "object\0value", the object as the printer named it.
        const std::size_t name = ::strnlen(reply, static_cast<std::size_t>(length));
        if (name >= static_cast<std::size_t>(length))
            return CUPS_SC_STATUS_BAD_MESSAGE;
        value.assign(reply + name + 1, static_cast<std::size_t>(length) - name - 1);
        return CUPS_SC_STATUS_OK;
    }
    return CUPS_SC_STATUS_BAD_MESSAGE;
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
