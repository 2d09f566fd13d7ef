// The printer's own state, shown by the spooler while the job runs: its status
// and toner asked through the backend (SNMP over the side channel), reported
// as STATE:, INFO: and ATTR: lines and taken back when they no longer hold.
#pragma once

#include "filter_job.h"
#include "side_channel.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexo::filter {

// What one reading of the printer means to the spooler.
struct PrinterReading {
    std::vector<std::string> reasons;  // with their severity, "media-empty-error"
    std::string message;               // the printer's words when it is not fine
    bool cannotPrint = false;          // a fault that stops the printer reading the job
};

// Reads the status text and toner value as the backend passes them on.
// Absent when the text holds no status code.
std::optional<PrinterReading> readingFrom(const std::string& statusText);

// The lines that take the spooler from the reasons `shown` to `wanted`.
std::vector<std::string> stateChanges(const std::vector<std::string>& shown, const std::vector<std::string>& wanted);

class PrinterState {
public:
    static constexpr std::chrono::seconds kInterval{5};

    explicit PrinterState(FilterJob& job) : job_(job) {}

    // Asks the printer once and reports what changed. False when the backend
    // cannot ask it (no SNMP, another backend): then it is never asked again.
    bool poll();

    // Polls when the last reading is older than kInterval; between writes.
    void pollWhenDue();

    // Before any data goes out: while the printer says it cannot print, the
    // job waits here, where the backend still answers (once it holds data it
    // cannot write it answers nothing). False when the spooler stops the job.
    bool waitWhileNotPrinting(Pause pause);

    // Takes back every reason shown; at the job's end, however it ends.
    void clear();

private:
    bool ask(const char* oid, std::string& value);

    FilterJob& job_;
    bool usable_ = true;
    bool cannotPrint_ = false;
    std::vector<std::string> shown_;
    std::optional<int> toner_;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace vexo::filter
