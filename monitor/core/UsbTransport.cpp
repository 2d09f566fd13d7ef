#include "UsbTransport.h"

#include "USBInteraction.h"
#include "UsbHotplug.h"

UsbTransport::UsbTransport(int deviceSeries) : deviceSeries_(deviceSeries) {}

UsbTransport::~UsbTransport() = default;

QList<Printer> UsbTransport::getPrinterByIOUSB()
{
    QList<Printer> printers;
    for (const FoundDevice& device : ::getPrinterByIOUSB(catalogueFor(deviceSeries_)))
        printers.append(Printer::fromDevice(device));
    return printers;
}

StatusReading UsbTransport::getUSBControlRequestInfo(const Printer& printer)
{
    return usbStatusRequest(printer.VID, printer.PID, printer.serial.toStdString());
}

void UsbTransport::watchUSBDevices(std::function<void(const UsbDeviceChange&)> changed)
{
    hotplug_.reset();  // the old watch ends before the new one starts
    if (changed)
        hotplug_ = std::make_unique<UsbHotplug>(std::move(changed));
}
