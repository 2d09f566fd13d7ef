#pragma once

#include "EmulatedUsbPrinter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

// Each test gets a fresh bus; the code under test starts its own libusb
// contexts, always after the bus exists.
class EmulatedUsbTest : public ::testing::Test {
protected:
    usbemu::UsbBus bus;
};

// The process's open files by descriptor, but for the eventfds glib's worker
// threads make when they first run and the bus's sockets for its device nodes.
// A leaked libusb context still shows by its timerfd and sockets.
inline std::map<std::string, std::string> openFiles()
{
    std::set<std::string> busSockets;
    std::ifstream table("/proc/net/unix");
    for (std::string line, field, inode, path; std::getline(table, line);) {
        std::istringstream fields(line);
        for (int i = 0; i < 6; ++i)
            fields >> field;
        if (fields >> inode >> path && path.find("/ioctl/") != std::string::npos &&
            path.find("/umockdev.") != std::string::npos)
            busSockets.insert("socket:[" + inode + "]");
    }
    std::map<std::string, std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.find("/proc/") == std::string::npos && target != "anon_inode:[eventfd]" && !busSockets.count(target))
            files[entry.path().filename().string()] = target;
    }
    return files;
}

// Watches that an exchange leaves nothing open: libusb contexts, device
// handles, the emulated node, and no claim on the printer's interface.
class OpenFiles {
public:
    ::testing::AssertionResult unchanged() const
    {
        // The emulation closes its end of a node a moment after the caller.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        std::map<std::string, std::string> now;
        while ((now = openFiles()) != before_) {
            if (std::chrono::steady_clock::now() > end)
                return ::testing::AssertionFailure() << "open files were " << ::testing::PrintToString(before_)
                                                     << ", are " << ::testing::PrintToString(now);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return ::testing::AssertionSuccess();
    }

private:
    std::map<std::string, std::string> before_ = openFiles();
};

inline ::testing::AssertionResult released(const OpenFiles& files, const usbemu::EmulatedUsbPrinter& printer)
{
    if (auto same = files.unchanged(); !same)
        return same;
    if (printer.claimedInterfaces().empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "interface left claimed";
}
