#include "VantorIOUSB.h"

#include "DeviceLog.h"

#include <libusb.h>

#include <cmath>
#include <limits>

namespace {

void check(int libusbResult)
{
    if (libusbResult < 0)
        throwIfNotSuccess(statusFromLibusb(libusbResult));
}

const char* directionText(int direction)
{
    switch (direction) {
    case 0: return "out";
    case 1: return "in";
    case 2: return "none";
    case 3: return "any";
    default: return "???";
    }
}

const char* transferTypeText(int type)
{
    switch (type) {
    case 0: return "control";
    case 1: return "isoc";
    case 2: return "bulk";
    case 3: return "interrupt";
    case 0xFF: return "any";
    default: return "???";
    }
}

bool matches(std::uint16_t wanted, std::uint8_t actual) { return wanted == 0xFFFF || wanted == actual; }

struct ConfigDescriptor {
    libusb_config_descriptor* config = nullptr;
    ~ConfigDescriptor()
    {
        if (config)
            libusb_free_config_descriptor(config);
    }
};

}  // namespace

unsigned int timeoutMilliseconds(double seconds)
{
    const double ms = seconds * 1000.0;
    if (!std::isfinite(ms) || ms < 1.0 || ms >= 4294967296.0)
        throw USBError(kIOReturnBadArgument);
    return static_cast<unsigned int>(ms);
}

USBContext::USBContext()
{
    check(libusb_init(&context_));
}

USBContext::~USBContext() { libusb_exit(context_); }

USBDeviceList::USBDeviceList(USBContext& context)
{
    const ssize_t n = libusb_get_device_list(context.context(), &list_);
    if (n < 0) {
        list_ = nullptr;
        check(int(n));
    }
    count_ = std::size_t(n);
}

USBDeviceList::~USBDeviceList()
{
    if (list_)
        libusb_free_device_list(list_, 1);
}

USBDevice::USBDevice(libusb_device_handle* handle, int vendorIdentifier, int productIdentifier)
    : handle_(handle), vendorIdentifier_(vendorIdentifier), productIdentifier_(productIdentifier)
{
}

USBDevice::~USBDevice() { libusb_close(handle_); }

std::string usbSerialNumber(libusb_device* device)
{
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS || descriptor.iSerialNumber == 0)
        return {};
    libusb_device_handle* handle = nullptr;
    if (libusb_open(device, &handle) != LIBUSB_SUCCESS)
        return {};
    unsigned char text[256] = {};
    const int n = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text);
    libusb_close(handle);
    return n > 0 ? std::string(reinterpret_cast<const char*>(text), std::size_t(n)) : std::string();
}

std::unique_ptr<USBDevice> USBDevice::create(USBContext& context, int vendorIdentifier, int productIdentifier,
                                             std::string_view serial)
{
    USBDeviceList list(context);
    for (libusb_device* device : list.devices()) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
            continue;
        if (descriptor.idVendor != vendorIdentifier || descriptor.idProduct != productIdentifier)
            continue;
        // Two printers of one model differ only in their serial numbers.
        if (!serial.empty() && usbSerialNumber(device) != serial)
            continue;
        // The first match decides: if it cannot be opened, neither can the printer.
        libusb_device_handle* handle = nullptr;
        check(libusb_open(device, &handle));
        return std::unique_ptr<USBDevice>(new USBDevice(handle, vendorIdentifier, productIdentifier));
    }
    throw USBError(VantorIOError::pluginHasNoUsbDeviceInterface);
}

std::unique_ptr<USBInterface> USBDevice::createInterfaceInterface(const IOUSBFindInterfaceRequest& request)
{
    ConfigDescriptor descriptor;
    const int r = libusb_get_active_config_descriptor(libusb_get_device(handle_), &descriptor.config);
    if (r == LIBUSB_ERROR_NOT_FOUND)  // not configured: no interfaces to offer
        throw USBError(VantorIOError::pluginHasNoUsbInterfaceInterface);
    check(r);

    const libusb_config_descriptor& config = *descriptor.config;
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& interface = config.interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor& alt = interface.altsetting[a];
            if (!matches(request.bInterfaceClass, alt.bInterfaceClass) ||
                !matches(request.bInterfaceSubClass, alt.bInterfaceSubClass) ||
                !matches(request.bInterfaceProtocol, alt.bInterfaceProtocol) ||
                !matches(request.bAlternateSetting, alt.bAlternateSetting))
                continue;
            std::vector<USBInterface::Endpoint> endpoints;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                endpoints.push_back({ep.bEndpointAddress, ep.bmAttributes, ep.wMaxPacketSize, ep.bInterval});
            }
            return std::make_unique<USBInterface>(*this, alt.bInterfaceNumber, alt.bAlternateSetting,
                                                  std::move(endpoints));
        }
    }
    throw USBError(VantorIOError::pluginHasNoUsbInterfaceInterface);
}

USBInterface::USBInterface(USBDevice& device, int interfaceNumber, int alternateSetting,
                           std::vector<Endpoint> endpoints)
    : device_(device), interfaceNumber_(interfaceNumber), alternateSetting_(alternateSetting),
      endpoints_(std::move(endpoints))
{
}

USBInterface::~USBInterface() { close(); }

void USBInterface::open()
{
    if (claimed_)
        return;
    // On Linux the kernel's printer driver holds the interface from plug-in.
    // libusb detaches it for the claim and binds it again on release, so
    // /dev/usb/lp* and the spooler's backend work as before afterwards.
    // Platforms without detaching simply claim.
    const int detach = libusb_set_auto_detach_kernel_driver(device_.handle(), 1);
    if (detach != LIBUSB_SUCCESS && detach != LIBUSB_ERROR_NOT_SUPPORTED)
        check(detach);
    check(libusb_claim_interface(device_.handle(), interfaceNumber_));
    claimed_ = true;
    if (alternateSetting_ != 0) {
        const int r = libusb_set_interface_alt_setting(device_.handle(), interfaceNumber_, alternateSetting_);
        if (r < 0) {
            close();
            check(r);
        }
    }
}

void USBInterface::close() noexcept
{
    if (!claimed_)
        return;
    claimed_ = false;
    libusb_release_interface(device_.handle(), interfaceNumber_);
}

std::map<std::string, int> USBInterface::getPipes() const
{
    DEVICE_LOG(debug) << "endpoints = " << endpoints_.size() << " and get no res = 0";
    std::map<std::string, int> pipes;
    for (int pipe = 1; pipe <= 2; ++pipe) {
        if (std::size_t(pipe) > endpoints_.size()) {
            DEVICE_LOG(debug) << "Could not get properties for pipe " << pipe;
            continue;
        }
        const Endpoint& ep = endpoints_[std::size_t(pipe - 1)];
        const int direction = (ep.address & LIBUSB_ENDPOINT_IN) ? 1 : 0;
        const int type = ep.attributes & LIBUSB_TRANSFER_TYPE_MASK;
        DEVICE_LOG(debug) << "endpointnum = " << pipe << ",direction = " << direction
                          << ",number = " << (ep.address & 0x0F) << ",transType=" << type
                          << ",maxsize=" << ep.maxPacketSize << ",interval=" << int(ep.interval);
        DEVICE_LOG(debug) << "endpoint" << pipe << " direction: " << directionText(direction) << ", ";
        DEVICE_LOG(debug) << "endpoint" << pipe << " type is: " << transferTypeText(type) << ", ";
        pipes[direction == 0 ? "writePipe" : "readPipe"] = pipe;
    }
    return pipes;
}

const USBInterface::Endpoint& USBInterface::endpoint(int pipe) const
{
    if (pipe < 1 || std::size_t(pipe) > endpoints_.size())
        throw USBError(kIOUSBUnknownPipeErr);
    return endpoints_[std::size_t(pipe - 1)];
}

void USBInterface::write(std::span<const std::uint8_t> bytes, int pipe, double noDataTimeout,
                         double completionTimeout)
{
    const Endpoint& ep = endpoint(pipe);
    if (ep.address & LIBUSB_ENDPOINT_IN)
        throw USBError(kIOReturnBadArgument);
    timeoutMilliseconds(noDataTimeout);  // checked only: libusb has one time-out
    const unsigned int timeout = timeoutMilliseconds(completionTimeout);
    if (bytes.size() > std::size_t(std::numeric_limits<int>::max()))
        throw USBError(kIOReturnBadArgument);

    int sent = 0;
    // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
    check(libusb_bulk_transfer(device_.handle(), ep.address, const_cast<unsigned char*>(bytes.data()),
                               int(bytes.size()), &sent, timeout));
    if (std::size_t(sent) != bytes.size())
        throw USBError(kIOReturnUnderrun);
}

std::vector<std::uint8_t> USBInterface::readBytes(std::optional<std::size_t> minCount, std::size_t maxCount,
                                                  int pipe, double noDataTimeout, double completionTimeout)
{
    const Endpoint& ep = endpoint(pipe);
    if (!(ep.address & LIBUSB_ENDPOINT_IN))
        throw USBError(kIOReturnBadArgument);
    timeoutMilliseconds(noDataTimeout);
    const unsigned int timeout = timeoutMilliseconds(completionTimeout);
    if (maxCount > std::size_t(std::numeric_limits<int>::max()))
        throw USBError(kIOReturnBadArgument);

    std::vector<std::uint8_t> buffer(maxCount, 0);
    int received = 0;
    check(libusb_bulk_transfer(device_.handle(), ep.address, buffer.data(), int(maxCount), &received, timeout));
    const std::size_t size = std::min(maxCount, std::size_t(received));
    if (minCount && size < *minCount)
        throw USBError(VantorIOError::couldNotGetEnoughData);
    buffer.resize(size);
    return buffer;
}

void USBInterface::sendControlRequest(IOUSBDevRequestTO request, int pipe)
{
    // Only the default pipe: the printer has no control endpoint of its own.
    if (pipe != 0)
        throw USBError(kIOUSBUnknownPipeErr);
    if (request.wLength > 0 && !request.pData)
        throw USBError(kIOReturnBadArgument);
    const unsigned int timeout = timeoutMilliseconds(request.completionTimeout / 1000.0);
    const int r = libusb_control_transfer(device_.handle(), request.bmRequestType, request.bRequest,
                                          request.wValue, request.wIndex,
                                          static_cast<unsigned char*>(request.pData), request.wLength, timeout);
    throwIfControlRequestNotSuccess(r < 0 ? statusFromLibusb(r) : kIOReturnSuccess);
}
