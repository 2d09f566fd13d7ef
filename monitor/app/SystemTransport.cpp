#include "SystemTransport.h"

#include "SnmpTransport.h"
#include "UsbTransport.h"

namespace {

std::shared_ptr<PrinterTransport> defaultUsbTransport() { return std::make_shared<UsbTransport>(); }

}  // namespace

SystemTransport::SystemTransport(std::shared_ptr<vexo::net::NetTransport> net, std::shared_ptr<PrinterTransport> usb)
    : net_(std::make_shared<SnmpTransport>(std::move(net))), usb_(usb ? std::move(usb) : defaultUsbTransport())
{
}

SystemTransport::~SystemTransport() = default;

vexo::net::NetTransport& SystemTransport::net() { return net_->net(); }

QList<Printer> SystemTransport::getPrinterByIOUSB() { return usb_->getPrinterByIOUSB(); }

StatusReading SystemTransport::getUSBControlRequestInfo(const Printer& printer)
{
    return usb_->getUSBControlRequestInfo(printer);
}

QList<Printer> SystemTransport::getPrinterBySNMP() { return net_->getPrinterBySNMP(); }

StatusReading SystemTransport::getSNMPStatus(const Printer& printer) { return net_->getSNMPStatus(printer); }

void SystemTransport::createWakeUpServer(PrinterModel& model) { net_->createWakeUpServer(model); }

void SystemTransport::watchUSBDevices(std::function<void(const UsbDeviceChange&)> changed)
{
    usb_->watchUSBDevices(std::move(changed));
}
