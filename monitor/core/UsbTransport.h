#pragma once

#include "Catalogue.h"
#include "PrinterTransport.h"

#include <memory>

class UsbHotplug;

// The printer model's adapter over the USB device layer (monitor/usb):
// enumeration against one catalogue and the status request, safe on the
// model's I/O thread; and the plug and unplug watch.
class UsbTransport : public PrinterTransport {
public:
    explicit UsbTransport(int deviceSeries = ::deviceSeries);
    ~UsbTransport() override;

    QList<Printer> getPrinterByIOUSB() override;
    StatusReading getUSBControlRequestInfo(const Printer& printer) override;
    void watchUSBDevices(std::function<void(const UsbDeviceChange&)> changed) override;

private:
    int deviceSeries_;
    std::unique_ptr<UsbHotplug> hotplug_;
};
