#include "UsbHotplug.h"

#include "Catalogue.h"
#include "DeviceLog.h"

#include <libusb.h>

namespace {

int LIBUSB_CALL onHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* user)
{
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return 0;
    const UsbDeviceChange change{event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, descriptor.idVendor,
                                 descriptor.idProduct};
    (*static_cast<UsbHotplug::Handler*>(user))(change);
    return 0;  // stay registered
}

}  // namespace

UsbHotplug::UsbHotplug(Handler handler) : handler_(std::move(handler))
{
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) || libusb_init(&context_) != LIBUSB_SUCCESS) {
        context_ = nullptr;
        DEVICE_LOG(debug) << "usb hotplug not available: refresh finds new printers";
        return;
    }
    const int r = libusb_hotplug_register_callback(
        context_, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, 0, printerVendorID,
        LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, onHotplug, &handler_, &callback_);
    if (r != LIBUSB_SUCCESS) {
        DEVICE_LOG(debug) << "usb hotplug not available: " << libusb_error_name(r);
        libusb_exit(context_);
        context_ = nullptr;
        return;
    }
    thread_ = std::thread([this] { run(); });
}

UsbHotplug::~UsbHotplug()
{
    if (!context_)
        return;
    stopping_ = true;
    libusb_interrupt_event_handler(context_);
    if (thread_.joinable())
        thread_.join();
    libusb_hotplug_deregister_callback(context_, callback_);
    libusb_exit(context_);
}

void UsbHotplug::run()
{
    while (!stopping_) {
        // The time-out only bounds a missed wake-up; events end the wait at once.
        timeval tv{1, 0};
        libusb_handle_events_timeout_completed(context_, &tv, nullptr);
    }
}
