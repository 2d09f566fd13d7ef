#pragma once

#include "Catalogue.h"
#include "StatusReading.h"

#include <cstdint>
#include <string>

// A supported printer found on a link, by the catalogue row that recognised it.
struct FoundDevice {
    const OrrinPrinter* row = nullptr;
    Link link = Link::usb;
    std::uint16_t VID = printerVendorID;
    std::uint16_t PID = 0;
    std::string ip;      // network printers only
    std::string serial;  // USB printers: what tells two of one model apart; may be empty
};

// A device of the printer vendor plugged in (arrived) or out.
struct UsbDeviceChange {
    bool arrived = false;
    std::uint16_t VID = 0;
    std::uint16_t PID = 0;
};
