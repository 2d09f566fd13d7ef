#include "UsbTransport.h"

#include "USBInteraction.h"

QList<Printer> UsbTransport::getPrinterByIOUSB() { return ::getPrinterByIOUSB(catalogueFor(deviceSeries_)); }

StatusReading UsbTransport::getUSBControlRequestInfo(const Printer& printer)
{
    return usbStatusRequest(printer.VID, printer.PID);
}
