#include "VantorIOError.h"
#include "VantorIOUSB.h"

#include <gtest/gtest.h>

#include <libusb.h>

#include <cmath>
#include <limits>

namespace {

TEST(VantorIOErrorTest, EveryCaseHasItsCodeAndText)
{
    const std::pair<VantorIOError, const char*> cases[] = {
        {VantorIOError::noPluginInterface, "I/O: No plugin interface."},
        {VantorIOError::pluginHasNoUsbDeviceInterface, "USB: Plugin has no device interface."},
        {VantorIOError::pluginHasNoUsbInterfaceInterface, "USB: Plugin has no interface interface."},
        {VantorIOError::couldNotQueryInterface, "I/O: Could not query interface."},
        {VantorIOError::couldNotQueryUsbDeviceInterface, "USB: Could not query device interface."},
        {VantorIOError::couldNotQueryUsbInterfaceInterface, "USB: Could not query interface interface."},
        {VantorIOError::couldNotGetEnoughData, "Could not get enough data."},
    };
    int raw = 0;
    for (const auto& [error, text] : cases) {
        const USBError e(error);
        EXPECT_EQ(e.errorCode(), raw++);
        EXPECT_EQ(e.errorDescription(), text);
        EXPECT_STREQ(e.what(), text);
        EXPECT_EQ(e.failureReason(), std::nullopt);
        EXPECT_EQ(e.recoverySuggestion(), std::nullopt);
        EXPECT_EQ(e.helpAnchor(), std::nullopt);
    }
}

TEST(VantorIOErrorTest, StatusesUseTheHostNumberingAndTexts)
{
    // Values as the host's USB stack defines them: a wrong constant would
    // make a logged failure name the wrong cause.
    EXPECT_EQ(describe(IOReturn(0xE00002C0)), "No such device");
    EXPECT_EQ(describe(IOReturn(0xE00002D6)), "I/O timeout");
    EXPECT_EQ(describe(IOReturn(0xE00002EB)), "Aborted");
    EXPECT_EQ(describe(IOReturn(0xE0000001)), "Should never be seen");
    EXPECT_EQ(describe(IOReturn(0xE0004061)), "Pipe ref not recognized");
    EXPECT_EQ(describe(IOReturn(0xE000404F)), "Pipe has stalled, error needs to be cleared");
    EXPECT_EQ(describe(IOReturn(0xE0004049)), "The device has been tranferred to another controller for enumeration");
    EXPECT_EQ(describe(kIOUSBLowLatencyBufferNotPreviouslyAllocated).back(), ' ');
    EXPECT_NE(describe(kIOUSBSyncRequestOnWLThread).find("callback?).  Only"), std::string::npos);
}

TEST(VantorIOErrorTest, UnknownStatusShowsItsSignedValue)
{
    const USBError e(IOReturn(0xE0004041));
    EXPECT_EQ(e.errorDescription(), "IOError (-536854463)");
    EXPECT_EQ(e.errorCode(), -536854463);
    EXPECT_EQ(describe(IOReturn(42)), "IOError (42)");
}

TEST(VantorIOErrorTest, LibusbCodesMapToTheClosestStatus)
{
    EXPECT_EQ(statusFromLibusb(LIBUSB_SUCCESS), kIOReturnSuccess);
    EXPECT_EQ(statusFromLibusb(LIBUSB_ERROR_TIMEOUT), kIOUSBTransactionTimeout);
    EXPECT_EQ(statusFromLibusb(-1234), kIOReturnError);
    // Every libusb error names a real status, never the numeric fallback.
    for (int code = LIBUSB_ERROR_IO; code >= LIBUSB_ERROR_OTHER; --code)
        EXPECT_EQ(describe(statusFromLibusb(code)).rfind("IOError (", 0), std::string::npos) << code;
}

TEST(VantorIOErrorTest, RegisteredHandlersWordTheirKindOnly)
{
    auto& status = USBError::statusHandlers();
    status.errorDescriptionHandlers.push_back([](const USBError& e) -> std::optional<std::string> {
        if (e.is(kIOReturnNoDevice))
            return "printer gone";
        return std::nullopt;
    });
    status.recoverySuggestionHandlers.push_back(
        [](const USBError&) -> std::optional<std::string> { return "plug it in"; });

    EXPECT_EQ(USBError(kIOReturnNoDevice).errorDescription(), "printer gone");
    EXPECT_EQ(USBError(kIOReturnNoDevice).recoverySuggestion(), "plug it in");
    EXPECT_EQ(USBError(kIOReturnBusy).errorDescription(), "Device busy");
    EXPECT_EQ(USBError(VantorIOError::couldNotGetEnoughData).recoverySuggestion(), std::nullopt);

    status = {};
}

TEST(USBTimeoutTest, SecondsBecomeWholeMilliseconds)
{
    EXPECT_EQ(timeoutMilliseconds(0.3), 300u);
    EXPECT_EQ(timeoutMilliseconds(2.0009), 2000u);
    EXPECT_EQ(timeoutMilliseconds(4294967.0), 4294967000u);
    // 0 ms would mean no limit at all to libusb.
    for (double bad : {0.0, 0.0009, -1.0, 4294967.296, std::nan(""), std::numeric_limits<double>::infinity()}) {
        try {
            timeoutMilliseconds(bad);
            ADD_FAILURE() << bad;
        } catch (const USBError& e) {
            EXPECT_TRUE(e.is(kIOReturnBadArgument)) << bad;
        }
    }
}

}  // namespace
