#pragma once

#include "FoundDevice.h"

#include <atomic>
#include <functional>
#include <thread>

struct libusb_context;

// Reports our vendor's USB devices as they are plugged in and out, from a
// thread of its own with its own libusb context. Nothing is reported for
// devices already present when it starts: discovery lists those.
class UsbHotplug {
public:
    using Handler = std::function<void(const UsbDeviceChange&)>;

    // Watches at once when the platform's libusb can; otherwise does nothing.
    explicit UsbHotplug(Handler handler);
    // Stops and joins the thread: the handler is not called after this.
    ~UsbHotplug();
    UsbHotplug(const UsbHotplug&) = delete;
    UsbHotplug& operator=(const UsbHotplug&) = delete;

    bool watching() const { return thread_.joinable(); }

private:
    void run();

    Handler handler_;
    libusb_context* context_ = nullptr;
    int callback_ = 0;
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
};
