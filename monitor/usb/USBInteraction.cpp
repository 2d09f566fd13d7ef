#include "USBInteraction.h"

#include "Log.h"
#include "StatusValues.h"
#include "VantorIOUSB.h"

#include <QStringDecoder>

#include <libusb.h>

#include <array>

namespace {

constexpr std::size_t replyMinCount = 16;
constexpr std::size_t replyMaxCount = 600;
constexpr double commandTimeout = 0.3;

constexpr std::uint8_t statusRequestType = 0xC0;  // device-to-host, vendor, device
constexpr std::uint8_t statusRequest = 0x04;
constexpr std::uint16_t statusReplyLength = 512;
constexpr std::uint32_t statusNoDataTimeoutMs = 2000;
constexpr std::uint32_t statusCompletionTimeoutMs = 3000;

}  // namespace

QList<Printer> getPrinterByIOUSB(std::span<const OrrinPrinter> catalogue)
{
    QList<Printer> printers;
    try {
        USBContext context;
        USBDeviceList list(context);
        for (libusb_device* device : list.devices()) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
                continue;
            const int vid = descriptor.idVendor;
            const int pid = descriptor.idProduct;
            qCDebug(lcMonitor).nospace() << " find device pid = " << pid << " and vid = " << vid;
            if (matchUSBDevice(catalogue, quint16(vid), quint16(pid)).empty())
                continue;  // not ours: never opened
            const QString serial = QString::fromStdString(usbSerialNumber(device));
            for (const Printer& printer : printersForUSBDevice(quint16(vid), quint16(pid), catalogue, serial)) {
                qCDebug(lcMonitor).nospace().noquote()
                    << " find device " << printer.name << " pid = " << pid << " and vid = " << vid;
                printers.append(printer);
            }
        }
    } catch (const USBError& e) {
        qCDebug(lcMonitor) << "usb enumeration failed:" << e.what();
    }
    return printers;
}

std::optional<QByteArray> usbInteractionBytes(const QByteArray& cmd, int PID, int VID, USBExchangeFailure* failure,
                                              const std::string& serial)
{
    if (failure)
        *failure = USBExchangeFailure::none;
    qCDebug(lcMonitor).noquote() << "run in usbInteraction and cmd = " + QString::fromUtf8(cmd);
    try {
        USBContext context;
        auto device = USBDevice::create(context, VID, PID, serial);
        auto interface = device->createInterfaceInterface();
        return interface->openAndPerform([&] {
            const auto pipes = interface->getPipes();
            const auto writePipe = pipes.find("writePipe");
            const auto readPipe = pipes.find("readPipe");
            if (writePipe == pipes.end() || readPipe == pipes.end())
                throw USBError(kIOUSBNotEnoughPipesErr);
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(cmd.constData());
            interface->write(std::span(bytes, std::size_t(cmd.size())), writePipe->second, commandTimeout,
                             commandTimeout);
            qCDebug(lcMonitor).noquote() << "usb commucation: write cmd = " + QString::fromUtf8(cmd);
            const auto reply = interface->readBytes(replyMinCount, replyMaxCount, readPipe->second, commandTimeout,
                                                    commandTimeout);
            return QByteArray(reinterpret_cast<const char*>(reply.data()), qsizetype(reply.size()));
        });
    } catch (const USBError& e) {
        qCDebug(lcMonitor).noquote() << "function getIPInfoByUSB throws error:" << e.what();
        if (failure)
            *failure = e.is(kIOReturnExclusiveAccess) ? USBExchangeFailure::interfaceBusy : USBExchangeFailure::failed;
        return std::nullopt;
    }
}

std::optional<QString> usbInteraction(const QString& cmd, int PID, int VID, USBExchangeFailure* failure,
                                      const std::string& serial)
{
    const auto bytes = usbInteractionBytes(cmd.toUtf8(), PID, VID, failure, serial);
    if (!bytes)
        return std::nullopt;
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decode(*bytes);
    if (decode.hasError()) {
        if (failure)
            *failure = USBExchangeFailure::failed;
        return std::nullopt;
    }
    qCDebug(lcMonitor).noquote() << "run in usbInteraction and cmd = " + cmd + " and receivedMessage =  " + text;
    return text;
}

StatusReading usbStatusRequest(int VID, int PID, const std::string& serial)
{
    std::array<std::uint8_t, statusReplyLength> reply{};
    IOUSBDevRequestTO request;
    request.bmRequestType = statusRequestType;
    request.bRequest = statusRequest;
    request.wValue = 0;
    request.wIndex = 0;
    request.wLength = statusReplyLength;
    request.pData = reply.data();
    request.wLenDone = 0xFF;
    request.noDataTimeout = statusNoDataTimeoutMs;
    request.completionTimeout = statusCompletionTimeoutMs;
    try {
        USBContext context;
        auto device = USBDevice::create(context, VID, PID, serial);
        auto interface = device->createInterfaceInterface();
        interface->sendControlRequest(request, 0);
    } catch (const USBError& e) {
        qCDebug(lcMonitor).noquote() << "Received: error" << e.what();
        return {};
    }
    StatusReading reading;
    reading.answered = true;
    reading.code = qint64(reply[1]) * 256 + reply[0];
    reading.toner = tonerPercent(reply[2]);
    qCDebug(lcMonitor).nospace() << "usb control endpoint get status. code = " << reading.code
                                 << " toner code = " << int(reply[2]);
    return reading;
}
