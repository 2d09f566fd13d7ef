#pragma once

#include "PrinterTransport.h"

#include <memory>

namespace vexo::net {
class NetTransport;
}
class SnmpTransport;

// The transport of the real program: USB printers through the USB
// transport, network printers through the network one.
class SystemTransport : public PrinterTransport {
public:
    // Null parts are made with their defaults.
    explicit SystemTransport(std::shared_ptr<vexo::net::NetTransport> net = nullptr,
                             std::shared_ptr<PrinterTransport> usb = nullptr);
    ~SystemTransport() override;

    QList<Printer> getPrinterByIOUSB() override;
    QList<Printer> getPrinterBySNMP() override;
    StatusReading getUSBControlRequestInfo(const Printer& printer) override;
    StatusReading getSNMPStatus(const Printer& printer) override;
    void createWakeUpServer(PrinterModel& model) override;
    void watchUSBDevices(std::function<void(const UsbDeviceChange&)> changed) override;

    vexo::net::NetTransport& net();
    PrinterTransport& usb() { return *usb_; }

private:
    std::shared_ptr<SnmpTransport> net_;
    std::shared_ptr<PrinterTransport> usb_;
};
