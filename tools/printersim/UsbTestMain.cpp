// Test entry for programs that put the emulated USB bus in their own process.

#include "UsbPreload.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    usbemu::runWithUsbEmulation(argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
