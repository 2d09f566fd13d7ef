#pragma once

// Thin layer over libusb for the two printer exchanges: the vendor status
// request on the default pipe and the text commands over the bulk pipes.
// Every failure is thrown as a USBError. Objects own what they open and give
// it back in their destructors, so an exception on any path releases all.

#include "VantorIOError.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

// Time-outs are given in seconds and passed on as whole milliseconds.
inline constexpr double defaultUSBTimeout = 0.3;

// Seconds to milliseconds, truncated. A value that is not finite, not at least
// 1 ms or 2^32 ms or more throws kIOReturnBadArgument: libusb would read 0 as
// "wait for ever".
unsigned int timeoutMilliseconds(double seconds);

// The device's serial number string; empty when it has none or cannot be
// opened to ask. A standard request: no claim needed.
std::string usbSerialNumber(libusb_device* device);

// One libusb context. Each exchange opens its own, so a printer plugged in or
// out since the last exchange is seen as it is now.
class USBContext {
public:
    USBContext();  // throws the status of a failed libusb_init
    ~USBContext();
    USBContext(const USBContext&) = delete;
    USBContext& operator=(const USBContext&) = delete;

    libusb_context* context() const { return context_; }

private:
    libusb_context* context_ = nullptr;
};

// The devices present, each referenced until the list goes away.
class USBDeviceList {
public:
    explicit USBDeviceList(USBContext& context);
    ~USBDeviceList();
    USBDeviceList(const USBDeviceList&) = delete;
    USBDeviceList& operator=(const USBDeviceList&) = delete;

    std::span<libusb_device* const> devices() const { return {list_, count_}; }

private:
    libusb_device** list_ = nullptr;
    std::size_t count_ = 0;
};

// The fields of a vendor or class control request with its time-outs in ms.
// libusb has a single overall time-out, so completionTimeout bounds the request.
struct IOUSBDevRequestTO {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;
    void* pData = nullptr;  // at least wLength bytes
    std::uint32_t wLenDone = 0;
    std::uint32_t noDataTimeout = 0;
    std::uint32_t completionTimeout = 0;
};

// Which interface to take; 0xFFFF matches anything.
struct IOUSBFindInterfaceRequest {
    std::uint16_t bInterfaceClass = 0xFFFF;
    std::uint16_t bInterfaceSubClass = 0xFFFF;
    std::uint16_t bInterfaceProtocol = 0xFFFF;
    std::uint16_t bAlternateSetting = 0xFFFF;
};

class USBInterface;

// An opened device. Pipe 0 is its default control pipe.
class USBDevice {
public:
    // The first device present with these identifiers and, when one is
    // given, this serial number. None throws pluginHasNoUsbDeviceInterface;
    // a failure to open it throws its status.
    static std::unique_ptr<USBDevice> create(USBContext& context, int vendorIdentifier, int productIdentifier,
                                             std::string_view serial = {});

    ~USBDevice();
    USBDevice(const USBDevice&) = delete;
    USBDevice& operator=(const USBDevice&) = delete;

    int getVendorIdentifier() const { return vendorIdentifier_; }
    int getProductIdentifier() const { return productIdentifier_; }

    // The first interface of the active configuration that matches; none
    // throws pluginHasNoUsbInterfaceInterface. The interface borrows the
    // device: release it first.
    std::unique_ptr<USBInterface> createInterfaceInterface(const IOUSBFindInterfaceRequest& request = {});

    libusb_device_handle* handle() const { return handle_; }

private:
    USBDevice(libusb_device_handle* handle, int vendorIdentifier, int productIdentifier);

    libusb_device_handle* handle_;
    int vendorIdentifier_;
    int productIdentifier_;
};

// One interface of an opened device. Pipe n (1-based) is its n-th endpoint;
// pipe 0 is the device's default control pipe.
class USBInterface {
public:
    struct Endpoint {
        std::uint8_t address;
        std::uint8_t attributes;
        std::uint16_t maxPacketSize;
        std::uint8_t interval;
    };

    USBInterface(USBDevice& device, int interfaceNumber, int alternateSetting, std::vector<Endpoint> endpoints);
    ~USBInterface();
    USBInterface(const USBInterface&) = delete;
    USBInterface& operator=(const USBInterface&) = delete;

    int getInterfaceNum() const { return interfaceNumber_; }

    // Claims the interface for the handler and releases it afterwards, also
    // when the handler throws. A failed claim skips the handler.
    template <typename Handler>
    auto openAndPerform(Handler&& handler)
    {
        open();
        struct Closer {
            USBInterface& self;
            ~Closer() { self.close(); }
        } closer{*this};
        return handler();
    }
    void open();
    void close() noexcept;

    // "writePipe": the last OUT pipe, "readPipe": the last IN pipe, looking at
    // pipes 1 and 2 only. A missing direction has no key.
    std::map<std::string, int> getPipes() const;

    // One bulk (or interrupt) transfer; no splitting, no retry.
    void write(std::span<const std::uint8_t> bytes, int pipe, double noDataTimeout = defaultUSBTimeout,
               double completionTimeout = defaultUSBTimeout);
    // One transfer into a buffer of maxCount bytes. Fewer than minCount bytes
    // throws couldNotGetEnoughData.
    std::vector<std::uint8_t> readBytes(std::optional<std::size_t> minCount, std::size_t maxCount, int pipe,
                                        double noDataTimeout = defaultUSBTimeout,
                                        double completionTimeout = defaultUSBTimeout);

    // Taken by value: the caller sees the reply only in its own buffer.
    void sendControlRequest(IOUSBDevRequestTO request, int pipe);

private:
    const Endpoint& endpoint(int pipe) const;

    USBDevice& device_;
    int interfaceNumber_;
    int alternateSetting_;
    std::vector<Endpoint> endpoints_;
    bool claimed_ = false;
};
