// The spooler's side channel to the backend (descriptor 4), behind a small
// interface so tests and runs without a spooler can stand in for it.
#pragma once

#include "filter_job.h"

#include <cups/sidechannel.h>

#include <string>

namespace vexo::filter {

class SideChannel {
public:
    virtual ~SideChannel() = default;
    virtual cups_sc_status_t request(cups_sc_command_t command, double timeout) = 0;
    // One SNMP GET the backend makes of the printer; `value` is the answer
    // as the backend renders it (an octet string's bytes, a number in decimal).
    virtual cups_sc_status_t snmpGet(const char* oid, std::string& value, double timeout)
    {
        (void)oid, (void)value, (void)timeout;
        return CUPS_SC_STATUS_NOT_IMPLEMENTED;
    }
};

// The real channel. When descriptor 4 is not a socket (closed, /dev/null, a
// run by hand or under cupsfilter) nobody can ever answer, so every request
// reports "not implemented" at once instead of timing out forever.
class CupsSideChannel final : public SideChannel {
public:
    CupsSideChannel();
    cups_sc_status_t request(cups_sc_command_t command, double timeout) override;
    cups_sc_status_t snmpGet(const char* oid, std::string& value, double timeout) override;
    bool present() const { return present_; }

private:
    bool present_;
};

// Sleeps between connection checks; a seam so tests need not wait.
using Pause = void (*)(unsigned seconds);

// Waits until the backend reports the printer connected or says it cannot
// tell; I/O errors and missing answers mark the job for cancellation.
// Returns false when the spooler asked the filter to stop while waiting.
bool waitForConnection(FilterJob& job, Pause pause);

}  // namespace vexo::filter
