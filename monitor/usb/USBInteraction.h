#pragma once

// The printer's USB exchanges: listing the supported printers attached, one
// text command with its reply, and the status request. None of them throws;
// each opens what it needs and releases it before returning.

#include "Catalogue.h"
#include "FoundDevice.h"
#include "StatusReading.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every attached device with our vendor identifier and a product identifier
// of the catalogue, one record per matching catalogue row, with the device's
// serial number. Devices whose descriptors cannot be read are skipped.
std::vector<FoundDevice> getPrinterByIOUSB(std::span<const OrrinPrinter> catalogue = catalogueInForce());

// Why an exchange brought no reply. interfaceBusy: another program holds the
// printer's interface (on a desktop, the spooler's backend printing a job).
enum class USBExchangeFailure { none, interfaceBusy, failed };

// Each exchange goes to the device with these identifiers and serial number,
// or to the first with these identifiers when the serial is empty.

// Sends the command's bytes as they are on the printer's bulk OUT pipe and
// reads one reply of 16 to 600 bytes within 0.3 s. Absent on any failure or
// when the reply is not UTF-8; `failure`, when given, says why.
std::optional<std::string> usbInteraction(std::string_view cmd, int PID, int VID,
                                          USBExchangeFailure* failure = nullptr, const std::string& serial = {});

// The same with the raw reply bytes, for callers that decode it themselves.
std::optional<std::vector<std::uint8_t>> usbInteractionBytes(std::string_view cmd, int PID, int VID,
                                                             USBExchangeFailure* failure = nullptr,
                                                             const std::string& serial = {});

// The vendor status request (0xC0/0x04, 512 bytes, 3 s): code from bytes 0-1
// little-endian, toner from byte 2; bytes the printer does not send count as
// 0. Not answered on any failure.
StatusReading usbStatusRequest(int VID, int PID, const std::string& serial = {});
