#include "VantorIOError.h"
#include "VantorIOUSB.h"

#include <gtest/gtest.h>

#include <libusb.h>

#include <cmath>
#include <limits>
#include <set>

namespace {

// A logged failure must name its cause: every kind of failure and every libusb
// error has a text of its own; anything else shows its signed value.
TEST(VantorIOErrorTest, EveryFailureHasItsOwnText)
{
    std::set<std::string> texts;
    for (int kind = 0; kind <= int(VantorIOError::couldNotGetEnoughData); ++kind) {
        const USBError e{VantorIOError(kind)};
        EXPECT_EQ(e.errorCode(), kind);
        EXPECT_EQ(e.errorDescription(), e.what());
        EXPECT_FALSE(e.failureReason() || e.helpAnchor());
        texts.insert(e.what());
    }
    for (int code = LIBUSB_ERROR_IO; code >= LIBUSB_ERROR_OTHER; --code)
        texts.insert(describe(statusFromLibusb(code)));
    for (const std::string& text : texts)
        EXPECT_EQ(text.find("Error ("), std::string::npos) << text;
    EXPECT_EQ(texts.size(), 7u + 13u);
    EXPECT_EQ(USBError(IOReturn(0xE0004041)).errorDescription(), "IOError (-536854463)");
}

TEST(VantorIOErrorTest, RegisteredHandlersWordTheirKindOnly)
{
    auto& status = USBError::statusHandlers();
    status.errorDescriptionHandlers.push_back([](const USBError& e) -> std::optional<std::string> {
        return e.is(kIOReturnNoDevice) ? std::optional<std::string>("printer gone") : std::nullopt;
    });
    status.recoverySuggestionHandlers.push_back([](const USBError&) { return std::optional<std::string>("plug in"); });
    EXPECT_EQ(USBError(kIOReturnNoDevice).errorDescription(), "printer gone");
    EXPECT_EQ(USBError(kIOReturnNoDevice).recoverySuggestion(), "plug in");
    EXPECT_EQ(USBError(kIOReturnBusy).errorDescription(), "Device busy");
    EXPECT_EQ(USBError(VantorIOError::couldNotGetEnoughData).recoverySuggestion(), std::nullopt);
    status = {};
}

// 0 ms would mean no limit at all to libusb.
TEST(USBTimeoutTest, SecondsBecomeWholeMilliseconds)
{
    EXPECT_EQ(timeoutMilliseconds(0.3), 300u);
    EXPECT_EQ(timeoutMilliseconds(4294967.0), 4294967000u);
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
