#include "device_identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vexo::app::sameDevice;
using vexo::app::uniquePrinterName;
using vexo::app::usbSerial;

TEST(DeviceIdentity, UsbPrintersAreTheirSerialsAndNetworkPrintersTheirAddresses)
{
    EXPECT_EQ(usbSerial("usb://Vexo/VEXO?serial=VX77000002"), "VX77000002");
    EXPECT_EQ(usbSerial("usb://Vexo/VEXO?foo=1&serial=A%20B#x"), "A B");
    EXPECT_EQ(usbSerial("usb://Vexo/VEXO"), "");
    EXPECT_EQ(usbSerial("socket://host?serial=1"), "");

    const struct {
        const char *a, *b;
        bool same;
    } cases[] = {
        {"usb://Vexo/VEXO?serial=VX77000001", "usb://Vexo/VEXO?serial=VX77000001", true},
        {"usb://Vexo/VEXO?serial=VX77000001", "usb://Vexo/VEXO?serial=VX77000002", false},
        {"usb://Vexo/VEXO?serial=VX77000001", "usb://Vexo/Other%20Name?serial=VX77000001", true},
        {"usb://Vexo/VEXO?serial=VX77000001", "usb://Vexo/VEXO?serial=vx77000001", false},
        {"usb://Vexo/VEXO", "usb://Vexo/VEXO?serial=VX77000001", false},
        {"usb://Vexo/VEXO", "usb://Vexo/VEXO", true},
        {"socket://10.77.0.11", "socket://10.77.0.11:9100", true},
        {"socket://Printer.lan:9100", "socket://printer.lan/", true},
        {"socket://10.77.0.11:9101", "socket://10.77.0.11:9100", false},
        {"socket://10.77.0.11:9100", "socket://10.77.0.12:9100", false},
        {"socket://[fe80::1]:9100", "socket://[fe80::1]", true},
        {"socket://10.77.0.11:9100", "usb://Vexo/VEXO?serial=10.77.0.11", false},
        {"file:///tmp/a?ext=vxo", "file:///tmp/b?ext=vxo", false},
        {"", "socket://10.77.0.11", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameDevice(c.a, c.b), c.same) << c.a << " / " << c.b;
        EXPECT_EQ(sameDevice(c.b, c.a), c.same) << c.b << " / " << c.a;
    }
}

TEST(DeviceIdentity, FoundPrintersGetNamesNoPrinterHas)
{
    const std::string usb2 = "usb://Vexo/VEXO?serial=VX77000002";
    const struct {
        const char* info;
        std::string uri;
        std::vector<std::string> taken;
        const char* name;
    } cases[] = {
        {"Vexo VEXO (USB)", usb2, {}, "Vexo VEXO USB"},
        {"Vexo VEXO (USB)", usb2, {"vexo vexo usb"}, "Vexo VEXO USB 0002"},
        {"Vexo VEXO (USB)", usb2, {"Vexo VEXO USB", "Vexo VEXO USB 0002"}, "Vexo VEXO USB 2"},
        {"Vexo VEXO (USB)", "usb://Vexo/VEXO?serial=12", {"Vexo VEXO USB"}, "Vexo VEXO USB 12"},
        {"Vexo VEXO (10.77.0.11)", "socket://10.77.0.11:9100", {"Vexo VEXO 10.77.0.11", "Vexo VEXO 10.77.0.11 2"},
         "Vexo VEXO 10.77.0.11 3"},
        {"()", "usb://x", {}, "Printer"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(uniquePrinterName(c.info, c.uri, c.taken), c.name) << c.info;
}

}  // namespace
