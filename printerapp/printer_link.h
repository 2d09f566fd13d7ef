// How the application reads a printer's status: the monitor's own USB status
// request (a vendor control request that needs no claim, so it works while
// PAPPL holds the interface) or its SNMP status and toner queries.
#pragma once

#include "status_poller.h"

#include <optional>
#include <string>
#include <string_view>

namespace vexo::app {

struct PrinterLink {
    StatusPoller::Query query;
    StatusPoller::Options options;
};

// For a catalogue model at a usb:// device (the one with the URI's serial
// number, or the first of the model without one) or a socket:// device; absent for devices
// that have no printer to ask (file://) or models outside the catalogue.
std::optional<PrinterLink> linkFor(std::string_view deviceUri, std::string_view model);

}  // namespace vexo::app
