#include "PrinterTransport.h"

PrinterTransport::~PrinterTransport() = default;

QList<Printer> PrinterTransport::getPrinterByIOUSB() { return {}; }

QList<Printer> PrinterTransport::getPrinterBySNMP() { return {}; }

StatusReading PrinterTransport::getUSBControlRequestInfo(const Printer&) { return {}; }

StatusReading PrinterTransport::getSNMPStatus(const Printer&) { return {}; }

void PrinterTransport::createWakeUpServer(PrinterModel&) {}

void PrinterTransport::watchUSBDevices(std::function<void(const UsbDeviceChange&)>) {}
