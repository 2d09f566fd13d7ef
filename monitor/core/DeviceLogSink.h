#pragma once

// Sends the device layer's diagnostics (monitor/usb, monitor/net) to the
// monitor's logging category; each Qt program calls it once at start.
void logDevicesToQt();
