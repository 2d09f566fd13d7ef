#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// Status codes in the IOReturn numbering. The monitor reports every USB
// failure in these terms whatever the USB stack underneath, so logs read the
// same on every platform.
using IOReturn = std::int32_t;

constexpr IOReturn iokit_common_err(std::uint32_t n) { return IOReturn(0xE0000000u | n); }
constexpr IOReturn iokit_usb_err(std::uint32_t n) { return IOReturn(0xE0004000u | n); }

inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = iokit_common_err(0x2bc);
inline constexpr IOReturn kIOReturnNoMemory = iokit_common_err(0x2bd);
inline constexpr IOReturn kIOReturnNoResources = iokit_common_err(0x2be);
inline constexpr IOReturn kIOReturnIPCError = iokit_common_err(0x2bf);
inline constexpr IOReturn kIOReturnNoDevice = iokit_common_err(0x2c0);
inline constexpr IOReturn kIOReturnNotPrivileged = iokit_common_err(0x2c1);
inline constexpr IOReturn kIOReturnBadArgument = iokit_common_err(0x2c2);
inline constexpr IOReturn kIOReturnLockedRead = iokit_common_err(0x2c3);
inline constexpr IOReturn kIOReturnLockedWrite = iokit_common_err(0x2c4);
inline constexpr IOReturn kIOReturnExclusiveAccess = iokit_common_err(0x2c5);
inline constexpr IOReturn kIOReturnBadMessageID = iokit_common_err(0x2c6);
inline constexpr IOReturn kIOReturnUnsupported = iokit_common_err(0x2c7);
inline constexpr IOReturn kIOReturnVMError = iokit_common_err(0x2c8);
inline constexpr IOReturn kIOReturnInternalError = iokit_common_err(0x2c9);
inline constexpr IOReturn kIOReturnIOError = iokit_common_err(0x2ca);
inline constexpr IOReturn kIOReturnCannotLock = iokit_common_err(0x2cc);
inline constexpr IOReturn kIOReturnNotOpen = iokit_common_err(0x2cd);
inline constexpr IOReturn kIOReturnNotReadable = iokit_common_err(0x2ce);
inline constexpr IOReturn kIOReturnNotWritable = iokit_common_err(0x2cf);
inline constexpr IOReturn kIOReturnNotAligned = iokit_common_err(0x2d0);
inline constexpr IOReturn kIOReturnBadMedia = iokit_common_err(0x2d1);
inline constexpr IOReturn kIOReturnStillOpen = iokit_common_err(0x2d2);
inline constexpr IOReturn kIOReturnRLDError = iokit_common_err(0x2d3);
inline constexpr IOReturn kIOReturnDMAError = iokit_common_err(0x2d4);
inline constexpr IOReturn kIOReturnBusy = iokit_common_err(0x2d5);
inline constexpr IOReturn kIOReturnTimeout = iokit_common_err(0x2d6);
inline constexpr IOReturn kIOReturnOffline = iokit_common_err(0x2d7);
inline constexpr IOReturn kIOReturnNotReady = iokit_common_err(0x2d8);
inline constexpr IOReturn kIOReturnNotAttached = iokit_common_err(0x2d9);
inline constexpr IOReturn kIOReturnNoChannels = iokit_common_err(0x2da);
inline constexpr IOReturn kIOReturnNoSpace = iokit_common_err(0x2db);
inline constexpr IOReturn kIOReturnPortExists = iokit_common_err(0x2dd);
inline constexpr IOReturn kIOReturnCannotWire = iokit_common_err(0x2de);
inline constexpr IOReturn kIOReturnNoInterrupt = iokit_common_err(0x2df);
inline constexpr IOReturn kIOReturnNoFrames = iokit_common_err(0x2e0);
inline constexpr IOReturn kIOReturnMessageTooLarge = iokit_common_err(0x2e1);
inline constexpr IOReturn kIOReturnNotPermitted = iokit_common_err(0x2e2);
inline constexpr IOReturn kIOReturnNoPower = iokit_common_err(0x2e3);
inline constexpr IOReturn kIOReturnNoMedia = iokit_common_err(0x2e4);
inline constexpr IOReturn kIOReturnUnformattedMedia = iokit_common_err(0x2e5);
inline constexpr IOReturn kIOReturnUnsupportedMode = iokit_common_err(0x2e6);
inline constexpr IOReturn kIOReturnUnderrun = iokit_common_err(0x2e7);
inline constexpr IOReturn kIOReturnOverrun = iokit_common_err(0x2e8);
inline constexpr IOReturn kIOReturnDeviceError = iokit_common_err(0x2e9);
inline constexpr IOReturn kIOReturnNoCompletion = iokit_common_err(0x2ea);
inline constexpr IOReturn kIOReturnAborted = iokit_common_err(0x2eb);
inline constexpr IOReturn kIOReturnNoBandwidth = iokit_common_err(0x2ec);
inline constexpr IOReturn kIOReturnNotResponding = iokit_common_err(0x2ed);
inline constexpr IOReturn kIOReturnIsoTooOld = iokit_common_err(0x2ee);
inline constexpr IOReturn kIOReturnIsoTooNew = iokit_common_err(0x2ef);
inline constexpr IOReturn kIOReturnNotFound = iokit_common_err(0x2f0);
inline constexpr IOReturn kIOReturnInvalid = iokit_common_err(0x1);

inline constexpr IOReturn kIOUSBUnknownPipeErr = iokit_usb_err(0x61);
inline constexpr IOReturn kIOUSBTooManyPipesErr = iokit_usb_err(0x60);
inline constexpr IOReturn kIOUSBNoAsyncPortErr = iokit_usb_err(0x5f);
inline constexpr IOReturn kIOUSBNotEnoughPipesErr = iokit_usb_err(0x5e);
inline constexpr IOReturn kIOUSBNotEnoughPowerErr = iokit_usb_err(0x5d);
inline constexpr IOReturn kIOUSBEndpointNotFound = iokit_usb_err(0x57);
inline constexpr IOReturn kIOUSBConfigNotFound = iokit_usb_err(0x56);
inline constexpr IOReturn kIOUSBTransactionTimeout = iokit_usb_err(0x51);
inline constexpr IOReturn kIOUSBTransactionReturned = iokit_usb_err(0x50);
inline constexpr IOReturn kIOUSBPipeStalled = iokit_usb_err(0x4f);
inline constexpr IOReturn kIOUSBInterfaceNotFound = iokit_usb_err(0x4e);
inline constexpr IOReturn kIOUSBLowLatencyBufferNotPreviouslyAllocated = iokit_usb_err(0x4d);
inline constexpr IOReturn kIOUSBLowLatencyFrameListNotPreviouslyAllocated = iokit_usb_err(0x4c);
inline constexpr IOReturn kIOUSBHighSpeedSplitError = iokit_usb_err(0x4b);
inline constexpr IOReturn kIOUSBSyncRequestOnWLThread = iokit_usb_err(0x4a);
inline constexpr IOReturn kIOUSBDeviceNotHighSpeed = iokit_usb_err(0x49);
inline constexpr IOReturn kIOUSBDeviceTransferredToCompanion = iokit_usb_err(0x49);
inline constexpr IOReturn kIOUSBClearPipeStallNotRecursive = iokit_usb_err(0x48);
inline constexpr IOReturn kIOUSBDevicePortWasNotSuspended = iokit_usb_err(0x47);
inline constexpr IOReturn kIOUSBEndpointCountExceeded = iokit_usb_err(0x46);
inline constexpr IOReturn kIOUSBDeviceCountExceeded = iokit_usb_err(0x45);
inline constexpr IOReturn kIOUSBStreamsNotSupported = iokit_usb_err(0x44);
inline constexpr IOReturn kIOUSBInvalidSSEndpoint = iokit_usb_err(0x43);
inline constexpr IOReturn kIOUSBTooManyTransactionsPending = iokit_usb_err(0x42);

// Failures of the access layer that no USB stack reports as a status.
enum class VantorIOError : int {
    noPluginInterface = 0,
    pluginHasNoUsbDeviceInterface = 1,   // no matching device: the printer is not connected
    pluginHasNoUsbInterfaceInterface = 2,
    couldNotQueryInterface = 3,
    couldNotQueryUsbDeviceInterface = 4,
    couldNotQueryUsbInterfaceInterface = 5,
    couldNotGetEnoughData = 6,           // a read shorter than its minimum
};

std::string describe(VantorIOError error);
// The text of the first named status equal to `status`, else "IOError (<signed decimal>)".
std::string describe(IOReturn status);

// The status closest to a libusb error code; LIBUSB_SUCCESS gives kIOReturnSuccess.
IOReturn statusFromLibusb(int libusbError);

// What the access layer throws: either a status or one of its own cases.
class USBError : public std::exception {
public:
    using Cause = std::variant<IOReturn, VantorIOError>;
    using TextHandler = std::function<std::optional<std::string>(const USBError&)>;

    explicit USBError(IOReturn status);
    explicit USBError(VantorIOError error);

    const Cause& cause() const { return cause_; }
    bool is(VantorIOError error) const;
    bool is(IOReturn status) const;
    // The status value, or the case's raw value.
    std::int64_t errorCode() const;

    std::optional<std::string> errorDescription() const;
    std::optional<std::string> failureReason() const { return std::nullopt; }
    std::optional<std::string> recoverySuggestion() const;
    std::optional<std::string> helpAnchor() const { return std::nullopt; }

    const char* what() const noexcept override { return what_.c_str(); }

    // Hooks for other wording (say, a translation), one pair of lists per kind
    // of cause; the first handler returning a text wins. Register them before
    // the first USB exchange starts: the lists are not locked.
    struct Handlers {
        std::vector<TextHandler> errorDescriptionHandlers;
        std::vector<TextHandler> recoverySuggestionHandlers;
    };
    static Handlers& statusHandlers();
    static Handlers& vantorIOErrorHandlers();

private:
    const Handlers& handlers() const;

    Cause cause_;
    std::string what_;
};

// Throws the status unless it is kIOReturnSuccess.
void throwIfNotSuccess(IOReturn status);
void throwIfControlRequestNotSuccess(IOReturn status);
