#include "VantorIOError.h"

#include "DeviceLog.h"

#include <libusb.h>


namespace {

struct StatusText {
    IOReturn status;
    const char* text;
};

// Compared in this order; the first equal entry names the status.
constexpr StatusText statusTexts[] = {
    {kIOReturnAborted, "Aborted"},
    {kIOReturnBadArgument, "Invalid argument"},
    {kIOReturnBadMedia, "Media error"},
    {kIOReturnBadMessageID, "Sent/received messages had different msg_id"},
    {kIOReturnBusy, "Device busy"},
    {kIOReturnCannotLock, "Can't acquire lock"},
    {kIOReturnCannotWire, "Can't wire down physical memory"},
    {kIOReturnDMAError, "DMA failure"},
    {kIOReturnDeviceError, "The device is not working properly"},
    {kIOReturnError, "General error"},
    {kIOReturnExclusiveAccess, "Exclusive access and device already open"},
    {kIOReturnIOError, "General I/O error"},
    {kIOReturnIPCError, "Error during IPC"},
    {kIOReturnInternalError, "Internal error"},
    {kIOReturnInvalid, "Should never be seen"},
    {kIOReturnIsoTooNew, "Isochronous I/O request for distant future"},
    {kIOReturnIsoTooOld, "Isochronous I/O request for distant past"},
    {kIOReturnLockedRead, "Device read locked"},
    {kIOReturnLockedWrite, "Device write locked"},
    {kIOReturnMessageTooLarge, "Oversized msg received on interrupt port"},
    {kIOReturnNoBandwidth, "Bus bandwidth would be exceeded"},
    {kIOReturnNoChannels, "No DMA channels left"},
    {kIOReturnNoCompletion, "A completion routine is required"},
    {kIOReturnNoDevice, "No such device"},
    {kIOReturnNoFrames, "No DMA frames enqueued"},
    {kIOReturnNoInterrupt, "No interrupt attached"},
    {kIOReturnNoMedia, "Media not present"},
    {kIOReturnNoMemory, "Can't allocate memory"},
    {kIOReturnNoPower, "No power to device"},
    {kIOReturnNoResources, "Resource shortage"},
    {kIOReturnNoSpace, "No space for data"},
    {kIOReturnNotAligned, "Alignment error"},
    {kIOReturnNotAttached, "Device not attached"},
    {kIOReturnNotFound, "Data was not found"},
    {kIOReturnNotOpen, "Device not open"},
    {kIOReturnNotPermitted, "Not permitted"},
    {kIOReturnNotPrivileged, "Privilege violation"},
    {kIOReturnNotReadable, "Read not supported"},
    {kIOReturnNotReady, "Not ready"},
    {kIOReturnNotResponding, "Device not responding"},
    {kIOReturnNotWritable, "Write not supported"},
    {kIOReturnOffline, "Device offline"},
    {kIOReturnOverrun, "Data overrun"},
    {kIOReturnPortExists, "Port already exists"},
    {kIOReturnRLDError, "RLD failure"},
    {kIOReturnStillOpen, "Device(s) still open"},
    {kIOReturnTimeout, "I/O timeout"},
    {kIOReturnUnderrun, "Data underrun"},
    {kIOReturnUnformattedMedia, "media not formatted"},
    {kIOReturnUnsupported, "Unsupported function"},
    {kIOReturnUnsupportedMode, "No such mode"},
    {kIOReturnVMError, "Misc. VM failure"},
    {kIOUSBUnknownPipeErr, "Pipe ref not recognized"},
    {kIOUSBTooManyPipesErr, "Too many pipes"},
    {kIOUSBNoAsyncPortErr, "no async port"},
    {kIOUSBNotEnoughPipesErr, "not enough pipes in interface"},
    {kIOUSBNotEnoughPowerErr, "not enough power for selected configuration"},
    {kIOUSBEndpointNotFound, "Endpoint Not found"},
    {kIOUSBConfigNotFound, "Configuration Not found"},
    {kIOUSBTransactionTimeout, "Transaction timed out"},
    {kIOUSBTransactionReturned, "The transaction has been returned to the caller"},
    {kIOUSBPipeStalled, "Pipe has stalled, error needs to be cleared"},
    {kIOUSBInterfaceNotFound, "Interface ref not recognized"},
    {kIOUSBLowLatencyBufferNotPreviouslyAllocated,
     "Attempted to use user land low latency isoc calls w/out calling PrepareBuffer (on the data buffer) first "},
    {kIOUSBLowLatencyFrameListNotPreviouslyAllocated,
     "Attempted to use user land low latency isoc calls w/out calling PrepareBuffer (on the frame list) first"},
    {kIOUSBHighSpeedSplitError, "Error to hub on high speed bus trying to do split transaction"},
    {kIOUSBSyncRequestOnWLThread,
     "A synchronous USB request was made on the workloop thread (from a callback?).  Only async requests are "
     "permitted in that case"},
    {kIOUSBDeviceTransferredToCompanion, "The device has been tranferred to another controller for enumeration"},
    {kIOUSBClearPipeStallNotRecursive, "IOUSBPipe::ClearPipeStall should not be called recursively"},
    {kIOUSBDevicePortWasNotSuspended, "Port was not suspended"},
    {kIOUSBEndpointCountExceeded, "The endpoint was not created because the controller cannot support more endpoints"},
    {kIOUSBDeviceCountExceeded, "The device cannot be enumerated because the controller cannot support more devices"},
    {kIOUSBStreamsNotSupported, "The request cannot be completed because the XHCI controller does not support streams"},
    {kIOUSBInvalidSSEndpoint,
     "An endpoint found in a SuperSpeed device is invalid (usually because there is no Endpoint Companion "
     "Descriptor)"},
    {kIOUSBTooManyTransactionsPending,
     "The transaction cannot be submitted because it would exceed the allowed number of pending transactions"},
};

struct LibusbStatus {
    int libusbError;
    IOReturn status;
};

// What each libusb failure would have been reported as by the host's own USB
// stack. Time-outs and stalls of a transfer are the USB-family statuses, as
// the transfer calls report them there.
constexpr LibusbStatus libusbStatuses[] = {
    {LIBUSB_SUCCESS, kIOReturnSuccess},
    {LIBUSB_ERROR_IO, kIOReturnIOError},
    {LIBUSB_ERROR_INVALID_PARAM, kIOReturnBadArgument},
    {LIBUSB_ERROR_ACCESS, kIOReturnNotPrivileged},
    {LIBUSB_ERROR_NO_DEVICE, kIOReturnNoDevice},
    {LIBUSB_ERROR_NOT_FOUND, kIOReturnNotFound},
    {LIBUSB_ERROR_BUSY, kIOReturnExclusiveAccess},
    {LIBUSB_ERROR_TIMEOUT, kIOUSBTransactionTimeout},
    {LIBUSB_ERROR_OVERFLOW, kIOReturnOverrun},
    {LIBUSB_ERROR_PIPE, kIOUSBPipeStalled},
    {LIBUSB_ERROR_INTERRUPTED, kIOReturnAborted},
    {LIBUSB_ERROR_NO_MEM, kIOReturnNoMemory},
    {LIBUSB_ERROR_NOT_SUPPORTED, kIOReturnUnsupported},
    {LIBUSB_ERROR_OTHER, kIOReturnError},
};

std::string causeText(const USBError::Cause& cause)
{
    return std::visit([](auto c) { return describe(c); }, cause);
}

std::optional<std::string> firstText(const std::vector<USBError::TextHandler>& handlers, const USBError& error)
{
    for (const auto& handler : handlers)
        if (auto text = handler(error))
            return text;
    return std::nullopt;
}

}  // namespace

std::string describe(VantorIOError error)
{
    switch (error) {
    case VantorIOError::noPluginInterface: return "I/O: No plugin interface.";
    case VantorIOError::pluginHasNoUsbDeviceInterface: return "USB: Plugin has no device interface.";
    case VantorIOError::pluginHasNoUsbInterfaceInterface: return "USB: Plugin has no interface interface.";
    case VantorIOError::couldNotQueryInterface: return "I/O: Could not query interface.";
    case VantorIOError::couldNotQueryUsbDeviceInterface: return "USB: Could not query device interface.";
    case VantorIOError::couldNotQueryUsbInterfaceInterface: return "USB: Could not query interface interface.";
    case VantorIOError::couldNotGetEnoughData: return "Could not get enough data.";
    }
    return "VantorIOError (" + std::to_string(int(error)) + ")";
}

std::string describe(IOReturn status)
{
    for (const StatusText& entry : statusTexts)
        if (entry.status == status)
            return entry.text;
    return "IOError (" + std::to_string(status) + ")";
}

IOReturn statusFromLibusb(int libusbError)
{
    for (const LibusbStatus& entry : libusbStatuses)
        if (entry.libusbError == libusbError)
            return entry.status;
    return kIOReturnError;
}

USBError::USBError(IOReturn status) : cause_(status), what_(causeText(cause_)) {}

USBError::USBError(VantorIOError error) : cause_(error), what_(causeText(cause_)) {}

bool USBError::is(VantorIOError error) const
{
    const auto* own = std::get_if<VantorIOError>(&cause_);
    return own && *own == error;
}

bool USBError::is(IOReturn status) const
{
    const auto* own = std::get_if<IOReturn>(&cause_);
    return own && *own == status;
}

std::int64_t USBError::errorCode() const
{
    return std::visit([](auto c) { return std::int64_t(c); }, cause_);
}

std::optional<std::string> USBError::errorDescription() const
{
    if (auto text = firstText(handlers().errorDescriptionHandlers, *this))
        return text;
    return causeText(cause_);
}

std::optional<std::string> USBError::recoverySuggestion() const
{
    return firstText(handlers().recoverySuggestionHandlers, *this);
}

USBError::Handlers& USBError::statusHandlers()
{
    static Handlers handlers;
    return handlers;
}

USBError::Handlers& USBError::vantorIOErrorHandlers()
{
    static Handlers handlers;
    return handlers;
}

const USBError::Handlers& USBError::handlers() const
{
    return std::holds_alternative<IOReturn>(cause_) ? statusHandlers() : vantorIOErrorHandlers();
}

void throwIfNotSuccess(IOReturn status)
{
    if (status != kIOReturnSuccess)
        throw USBError(status);
}

void throwIfControlRequestNotSuccess(IOReturn status)
{
    if (status == kIOReturnSuccess)
        return;
    DEVICE_LOG(debug) << "send control request not success";
    throw USBError(status);
}
