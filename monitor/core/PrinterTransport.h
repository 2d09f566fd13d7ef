#pragma once

#include "FoundDevice.h"
#include "Printer.h"
#include "StatusReading.h"

#include <QList>

#include <functional>
#include <optional>

class PrinterModel;

// Where the printer model's work meets the wire. The defaults find nothing.
//
// Discovery and status calls run one at a time on the model's I/O thread,
// never on the main thread, and may block for their whole time-outs; they
// must not touch the model. createWakeUpServer runs on the main thread and
// must return at once.
class PrinterTransport {
public:
    virtual ~PrinterTransport();

    virtual QList<Printer> getPrinterByIOUSB();
    virtual QList<Printer> getPrinterBySNMP();

    virtual StatusReading getUSBControlRequestInfo(const Printer& printer);
    virtual StatusReading getSNMPStatus(const Printer& printer);

    // Starts a listener that lives as long as the process. It reaches the
    // model only through PrinterModel::setIsWakeUp or by posting to the
    // model's thread.
    virtual void createWakeUpServer(PrinterModel& model);

    // Reports USB plug and unplug from any thread until called again; an
    // empty handler stops the reports and returns only once none is under way.
    virtual void watchUSBDevices(std::function<void(const UsbDeviceChange&)> changed);
};
