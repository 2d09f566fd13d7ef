// Which printer a device URI reaches, so that one printer is served once:
// a USB printer is its serial number (two of one model differ in nothing
// else), a network printer its address and port.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexo::app {

// The value of `key` in the URI's query ("usb://Vexo/VEXO?serial=VX77000001"),
// percent-decoded; empty when absent.
std::string uriQueryValue(std::string_view uri, std::string_view key);

// The serial number a usb:// URI names; empty for any other URI.
std::string usbSerial(std::string_view uri);

// Whether both URIs reach one printer: the same URI, the same USB serial
// number, or the same socket:// host (any case) and port (9100 when none).
bool sameDevice(std::string_view a, std::string_view b);

// A printer name for a found device that no name in `taken` has (compared
// as PAPPL does, ignoring case): its description without parentheses
// ("Vexo VEXO USB", PAPPL's sub-commands find no name with them), then
// with the serial's last four characters ("Vexo VEXO USB 0002"), then
// numbered (" 2", " 3", ...).
std::string uniquePrinterName(std::string_view info, std::string_view uri, const std::vector<std::string>& taken);

}  // namespace vexo::app
