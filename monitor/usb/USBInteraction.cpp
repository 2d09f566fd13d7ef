#include "USBInteraction.h"

#include "DeviceLog.h"
#include "StatusValues.h"
#include "Utf8.h"
#include "VantorIOUSB.h"

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

std::vector<FoundDevice> getPrinterByIOUSB(std::span<const OrrinPrinter> catalogue)
{
    std::vector<FoundDevice> printers;
    try {
        USBContext context;
        USBDeviceList list(context);
        for (libusb_device* device : list.devices()) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
                continue;
            const std::uint16_t vid = descriptor.idVendor;
            const std::uint16_t pid = descriptor.idProduct;
            DEVICE_LOG(debug) << " find device pid = " << pid << " and vid = " << vid;
            const auto rows = matchUSBDevice(catalogue, vid, pid);
            if (rows.empty())
                continue;  // not ours: never opened
            const std::string serial = usbSerialNumber(device);
            for (const OrrinPrinter* row : rows) {
                DEVICE_LOG(debug) << " find device " << row->printerName << " pid = " << pid << " and vid = " << vid;
                printers.push_back({row, Link::usb, vid, pid, {}, serial});
            }
        }
    } catch (const USBError& e) {
        DEVICE_LOG(debug) << "usb enumeration failed: " << e.what();
    }
    return printers;
}

std::optional<std::vector<std::uint8_t>> usbInteractionBytes(std::string_view cmd, int PID, int VID,
                                                             USBExchangeFailure* failure, const std::string& serial)
{
    if (failure)
        *failure = USBExchangeFailure::none;
    DEVICE_LOG(debug) << "run in usbInteraction and cmd = " << cmd;
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
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(cmd.data());
            interface->write(std::span(bytes, cmd.size()), writePipe->second, commandTimeout, commandTimeout);
            DEVICE_LOG(debug) << "usb commucation: write cmd = " << cmd;
            return interface->readBytes(replyMinCount, replyMaxCount, readPipe->second, commandTimeout,
                                        commandTimeout);
        });
    } catch (const USBError& e) {
        DEVICE_LOG(debug) << "function getIPInfoByUSB throws error: " << e.what();
        if (failure)
            *failure = e.is(kIOReturnExclusiveAccess) ? USBExchangeFailure::interfaceBusy : USBExchangeFailure::failed;
        return std::nullopt;
    }
}

std::optional<std::string> usbInteraction(std::string_view cmd, int PID, int VID, USBExchangeFailure* failure,
                                          const std::string& serial)
{
    const auto bytes = usbInteractionBytes(cmd, PID, VID, failure, serial);
    if (!bytes)
        return std::nullopt;
    std::string text(bytes->begin(), bytes->end());
    if (!isValidUtf8(text)) {
        if (failure)
            *failure = USBExchangeFailure::failed;
        return std::nullopt;
    }
    DEVICE_LOG(debug) << "run in usbInteraction and cmd = " << cmd << " and receivedMessage =  " << text;
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
        DEVICE_LOG(debug) << "Received: error " << e.what();
        return {};
    }
    StatusReading reading;
    reading.answered = true;
    reading.code = std::int64_t(reply[1]) * 256 + reply[0];
    reading.toner = tonerPercent(reply[2]);
    DEVICE_LOG(debug) << "usb control endpoint get status. code = " << reading.code
                      << " toner code = " << int(reply[2]);
    return reading;
}
