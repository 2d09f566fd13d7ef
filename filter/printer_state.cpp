#include "printer_state.h"

#include "messages.h"
#include "termination.h"

#include "StatusDecoding.h"
#include "StatusOids.h"
#include "StatusReasons.h"
#include "StatusValues.h"

#include <algorithm>
#include <charconv>

namespace vexo::filter {

namespace {

// The backend waits up to a second for the printer's SNMP agent.
constexpr double kAnswerTimeout = 2.0;

std::optional<int> number(const std::string& text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<PrinterReading> readingFrom(const std::string& statusText)
{
    const std::optional<std::int64_t> code = statusCodeFromText(statusText);
    if (!code)
        return std::nullopt;
    const DecodedStatus decoded = decodeStatusInfo(*code, "");
    const StateReason reason = stateReason(*code, decoded.level);
    PrinterReading reading;
    if (reason.keyword.empty())
        return reading;
    reading.message = decoded.message;
    for (const std::string& keyword : reasonKeywords(reason)) {
        reading.reasons.push_back(keyword + "-" + reason.severity);
        reading.cannotPrint = reading.cannotPrint || stopsPrinting(keyword);
    }
    return reading;
}

std::vector<std::string> stateChanges(const std::vector<std::string>& shown, const std::vector<std::string>& wanted)
{
    std::vector<std::string> lines;
    for (const std::string& reason : shown)
        if (std::find(wanted.begin(), wanted.end(), reason) == wanted.end())
            lines.push_back("STATE: -" + reason);
    for (const std::string& reason : wanted)
        if (std::find(shown.begin(), shown.end(), reason) == shown.end())
            lines.push_back("STATE: +" + reason);
    return lines;
}

bool PrinterState::ask(const char* oid, std::string& value)
{
    const cups_sc_status_t status = job_.sideChannel->snmpGet(oid, value, kAnswerTimeout);
    if (status == CUPS_SC_STATUS_NOT_IMPLEMENTED) {
        logLine(job_, "DEBUG: the backend cannot ask the printer's state; not shown\n");
        usable_ = false;
    } else if (status != CUPS_SC_STATUS_OK) {
        logLine(job_, "DEBUG: no answer to the printer's state (%d)\n", static_cast<int>(status));
    }
    return status == CUPS_SC_STATUS_OK;
}

bool PrinterState::poll()
{
    if (!usable_ || !job_.sideChannel)
        return false;
    last_ = std::chrono::steady_clock::now();
    std::string text;
    if (!ask(std::string(kStatusOid).c_str(), text)) {
        cannotPrint_ = false;  // the job waits only on a reading, never on silence
        return usable_;
    }
    const std::optional<PrinterReading> reading = readingFrom(text);
    if (!reading) {
        logLine(job_, "DEBUG: the printer's status \"%s\" holds no code\n", text.c_str());
        return true;
    }
    for (const std::string& line : stateChanges(shown_, reading->reasons))
        logLine(job_, "%s\n", line.c_str());
    if (!reading->message.empty() && reading->reasons != shown_)
        logLine(job_, "INFO: %s\n", reading->message.c_str());
    shown_ = reading->reasons;
    cannotPrint_ = reading->cannotPrint;

    std::string toner;
    if (ask(std::string(kTonerOid).c_str(), toner)) {
        const std::optional<int> raw = number(toner);
        const std::optional<std::int64_t> percent = raw ? tonerPercent(*raw) : std::nullopt;
        if (percent && toner_ != static_cast<int>(*percent)) {
            toner_ = static_cast<int>(*percent);
            logLine(job_, "ATTR: marker-colors=#000000 marker-levels=%d marker-names='Black Toner' "
                          "marker-types=toner\n", *toner_);
        }
    }
    std::fflush(job_.log);
    return usable_;
}

void PrinterState::pollWhenDue()
{
    if (usable_ && std::chrono::steady_clock::now() - last_ >= kInterval)
        poll();
}

bool PrinterState::waitWhileNotPrinting(Pause pause)
{
    if (!poll())
        return true;
    while (cannotPrint_ && usable_) {
        pause(static_cast<unsigned>(kInterval.count()));
        if (terminationRequested())
            return false;
        poll();
    }
    return true;
}

void PrinterState::clear()
{
    for (const std::string& line : stateChanges(shown_, {}))
        logLine(job_, "%s\n", line.c_str());
    shown_.clear();
    std::fflush(job_.log);
}

}  // namespace vexo::filter
