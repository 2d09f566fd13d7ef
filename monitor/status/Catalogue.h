#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#ifndef VEXO_DEVICE_SERIES
#define VEXO_DEVICE_SERIES 5
#endif

// One supported model: the keys a found device is recognised by and the
// capabilities the window offers for it.
struct OrrinPrinter {
    std::string_view printerName;
    std::string_view oid;  // enterprise suffix without "1.3.6.1.4.1."; empty: USB only
    std::uint16_t PID;
    std::int64_t hasWifi;
    std::int64_t hasTonerInfo;
    bool hasWakeUp;
    std::string_view productImage;
};

// The product line this build is made for; chooses the catalogue in force and,
// for series 1, the wake-up listener.
inline constexpr int deviceSeries = VEXO_DEVICE_SERIES;

// Every supported device carries this USB vendor ID; network printers get it too.
inline constexpr std::uint16_t printerVendorID = 14286;

// Catalogue for a series: 2-5 have their own, 1 and anything else the full list.
std::span<const OrrinPrinter> catalogueFor(int series);

inline std::span<const OrrinPrinter> catalogueInForce() { return catalogueFor(deviceSeries); }

// Rows recognising a USB device, in catalogue order. Only our vendor ID counts.
std::vector<const OrrinPrinter*> matchUSBDevice(std::span<const OrrinPrinter> catalogue,
                                                std::uint16_t vendorID, std::uint16_t productID);

// Rows whose non-empty oid occurs anywhere in the reported sysObjectID text.
std::vector<const OrrinPrinter*> matchSysObjectID(std::span<const OrrinPrinter> catalogue,
                                                  std::string_view sysObjectID);
