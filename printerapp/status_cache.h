// The printer's state as last read from the printer, kept for PAPPL's status
// callback. The callback runs on a client's thread and must never wait on the
// printer: whatever polls the printer stores here, the callback only copies.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vexo::app {

struct PrinterStatus {
    bool known = false;  // nothing read yet: leave PAPPL's state alone
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    std::vector<pappl_supply_t> supplies;
    // What the printer said, as the monitor shows it.
    std::int64_t code = 0;
    std::int64_t level = 0;  // 1 normal, 2 warning, 3 error
    std::string message;
    std::string advice;
    std::string reason;      // "cover-open-error"; empty when normal
    std::optional<int> toner;
};

class StatusCache {
public:
    void store(PrinterStatus status)
    {
        std::lock_guard lock(mutex_);
        status_ = std::move(status);
    }
    PrinterStatus copy() const
    {
        std::lock_guard lock(mutex_);
        return status_;
    }

private:
    mutable std::mutex mutex_;
    PrinterStatus status_;
};

// The reasons the printer itself reports; others are left as they are.
inline constexpr pappl_preason_t kPrinterReasons =
    PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_MEDIA_LOW |
    PAPPL_PREASON_TONER_EMPTY | PAPPL_PREASON_TONER_LOW | PAPPL_PREASON_OTHER | PAPPL_PREASON_OFFLINE |
    PAPPL_PREASON_INPUT_TRAY_MISSING | PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_MARKER_SUPPLY_LOW | PAPPL_PREASON_MEDIA_NEEDED;

// Reasons in which the printer stops reading a job until they clear.
inline constexpr pappl_preason_t kStopsPrinting = PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_MEDIA_EMPTY |
                                                  PAPPL_PREASON_MEDIA_NEEDED | PAPPL_PREASON_MEDIA_JAM |
                                                  PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_OFFLINE;

inline bool stopsPrinting(const PrinterStatus& status)
{
    return status.known && (status.reasons & kStopsPrinting);
}

// PAPPL's status callback: applies the cache of the printer, if any.
bool applyCachedStatus(pappl_printer_t* printer);

}  // namespace vexo::app
