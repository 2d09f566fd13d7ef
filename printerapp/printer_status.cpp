#include "printer_status.h"

#include "StatusCodes.h"
#include "StatusDecoding.h"
#include "StatusReasons.h"

#include <cstring>

namespace vexo::app {

pappl_preason_t reasonBit(std::string_view keyword)
{
    static constexpr struct {
        std::string_view keyword;
        pappl_preason_t bit;
    } kBits[] = {
        {"other", PAPPL_PREASON_OTHER},
        {"cover-open", PAPPL_PREASON_COVER_OPEN},
        {"input-tray-missing", PAPPL_PREASON_INPUT_TRAY_MISSING},
        {"marker-supply-empty", PAPPL_PREASON_MARKER_SUPPLY_EMPTY},
        {"marker-supply-low", PAPPL_PREASON_MARKER_SUPPLY_LOW},
        {"media-empty", PAPPL_PREASON_MEDIA_EMPTY},
        {"media-jam", PAPPL_PREASON_MEDIA_JAM},
        {"media-low", PAPPL_PREASON_MEDIA_LOW},
        {"media-needed", PAPPL_PREASON_MEDIA_NEEDED},
        {"offline", PAPPL_PREASON_OFFLINE},
        {"toner-empty", PAPPL_PREASON_TONER_EMPTY},
        {"toner-low", PAPPL_PREASON_TONER_LOW},
    };
    for (const auto& entry : kBits)
        if (entry.keyword == keyword)
            return entry.bit;
    return keyword.empty() ? PAPPL_PREASON_NONE : PAPPL_PREASON_OTHER;
}

pappl_supply_t blackToner(std::optional<int> percent)
{
    pappl_supply_t toner{};
    toner.color = PAPPL_SUPPLY_COLOR_BLACK;
    std::strncpy(toner.description, "Black Toner", sizeof toner.description - 1);
    toner.is_consumed = true;
    toner.level = percent ? *percent : -1;  // -1: unknown
    // "toner", not "toner-cartridge": desktops draw a level only for the former.
    toner.type = PAPPL_SUPPLY_TYPE_TONER;
    return toner;
}

PrinterStatus statusFrom(const StatusReading& reading, std::string_view model, Link link, std::optional<int> lastToner)
{
    PrinterStatus status;
    status.known = true;
    if (reading.answered) {
        const DecodedStatus decoded = decodeStatusInfo(reading.code, model);
        status.code = reading.code;
        status.level = decoded.level;
        status.message = decoded.message;
        status.advice = decoded.discription;
        if (reading.toner && *reading.toner >= 0 && *reading.toner <= 100)
            status.toner = static_cast<int>(*reading.toner);
        else
            status.toner = lastToner;
    } else {
        // What the monitor shows for a printer that did not answer.
        const DecodedStatus decoded = noAnswerStatus(link);
        status.code = kStatusNoAnswer;
        status.level = decoded.level;
        status.message = decoded.message;
        status.advice = decoded.discription;
        status.toner = lastToner;
    }
    const StateReason reason = stateReason(status.code, status.level);
    if (!reason.keyword.empty())
        status.reason = reason.keyword + "-" + reason.severity;
    for (const std::string& keyword : reasonKeywords(reason)) {
        status.reasons |= reasonBit(keyword);
        status.stopsPrinting = status.stopsPrinting || ::stopsPrinting(keyword);
    }
    // A nearly empty cartridge is low to every client, whatever the code says.
    if (status.toner && *status.toner <= kTonerLowLevel &&
        !(status.reasons & (PAPPL_PREASON_TONER_EMPTY | PAPPL_PREASON_TONER_LOW)))
        status.reasons |= PAPPL_PREASON_TONER_LOW;
    status.supplies = {blackToner(status.toner)};
    return status;
}

}  // namespace vexo::app
