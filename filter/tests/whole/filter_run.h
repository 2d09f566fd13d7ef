// Runs the built filter the way the spooler does: raster through a pipe on
// stdin, the job stream and log captured, the backend's side of the side
// channel played by a script on descriptor 4, a private spool folder, and a
// watchdog so that no run can hang the suite.
#pragma once

#include <cups/sidechannel.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vexo::wholetest {

struct Request {
    int number = 0;  // counts from 1
    cups_sc_command_t command{};
};

struct Answer {
    bool swallow = false;  // leave the request unanswered: the filter times out
    cups_sc_status_t status = CUPS_SC_STATUS_OK;
    std::string data;
    bool terminate = false;  // then send SIGTERM, as the spooler does on cancel
    std::chrono::milliseconds delay{0};  // answer only after this long

    static Answer reply(cups_sc_status_t status, std::string data = {})
    {
        return {false, status, std::move(data), false, {}};
    }
    static Answer none(bool terminate = false) { return {true, CUPS_SC_STATUS_NONE, {}, terminate, {}}; }
};

// Decides the answer to each request; `stream` is the job stream received so
// far, so a script can change its mind after some page.
using Backend = std::function<Answer(const Request& request, const std::string& stream)>;

namespace backends {
Backend connected();                  // printer reachable from the start
Backend notImplemented();             // a backend without side-channel support
Backend ioErrorOnce();                // first check fails, then connected
Backend timeoutsFirst(int swallowed); // the first checks go unanswered
Backend brokenAfterFirstPage();       // drains fail once page 1 has ended
Backend lateFirstAnswer();            // the first check is answered after its time-out
Backend silent(int terminateAt = 0);  // never answers; SIGTERM at that request
}  // namespace backends

enum class Fd4 { Backend, Closed, NotASocket };

struct FilterRun {
    std::string jobId = "42";
    std::string copies = "1";
    std::optional<std::string> options = std::string();  // argument 5; nullopt leaves it out
    std::optional<std::string> ppd;
    std::vector<std::pair<std::string, std::string>> env;  // e.g. LANG
    std::vector<std::uint8_t> raster;
    Fd4 fd4 = Fd4::Backend;
    Backend backend = backends::connected();
    std::chrono::milliseconds watchdog{20000};
};

struct Exchange {
    Request request;
    Answer answer;
};

struct FilterResult {
    int exitCode = -1;  // -1 when killed by a signal
    int signal = 0;
    bool watchdogFired = false;
    std::string stream;  // standard output
    std::string log;     // standard error
    std::vector<Exchange> exchanges;
    double seconds = 0;
    double secondsAfterTerminate = -1;  // from SIGTERM to exit
    std::vector<std::string> leftovers; // files in the spool folder afterwards

    int requests(cups_sc_command_t command) const;
};

FilterResult runFilter(const FilterRun& run, const std::string& spoolDir);

}  // namespace vexo::wholetest
