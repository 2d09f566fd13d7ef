#pragma once

#include "Catalogue.h"
#include "PrinterTransport.h"

// The USB half of the printer model's transport: enumeration against one
// catalogue and the status request. Stateless; safe on the model's I/O thread.
class UsbTransport : public PrinterTransport {
public:
    explicit UsbTransport(int deviceSeries = ::deviceSeries) : deviceSeries_(deviceSeries) {}

    QList<Printer> getPrinterByIOUSB() override;
    StatusReading getUSBControlRequestInfo(const Printer& printer) override;

private:
    int deviceSeries_;
};
