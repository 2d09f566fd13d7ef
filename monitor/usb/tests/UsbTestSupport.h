#pragma once

#include "EmulatedUsbPrinter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <map>
#include <string>
#include <thread>

// What a shell command writes on its standard output.
inline std::string outputOf(const std::string& command)
{
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    return output;
}

// Each test gets a fresh bus; the code under test starts its own libusb
// contexts, always after the bus exists.
class EmulatedUsbTest : public ::testing::Test {
protected:
    usbemu::UsbBus bus;
};

// The sockets the emulated bus listens on for its device nodes, by "socket:[inode]".
inline std::set<std::string> emulatedNodeSockets()
{
    std::set<std::string> sockets;
    std::ifstream table("/proc/net/unix");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string field, inode, path;
        for (int i = 0; i < 6; ++i)
            fields >> field;
        if (fields >> inode >> path && path.find("/ioctl/") != std::string::npos &&
            path.find("/umockdev.") != std::string::npos)
            sockets.insert("socket:[" + inode + "]");
    }
    return sockets;
}

// The process's open files, by descriptor, with what each refers to.
// Eventfds are left out: glib's worker threads in the emulation make theirs
// when they first run; so are the bus's own sockets for devices plugged in
// meanwhile. A leaked libusb context still shows by its timerfd and sockets.
inline std::map<std::string, std::string> openFiles()
{
    std::map<std::string, std::string> files;
    const std::set<std::string> bus = emulatedNodeSockets();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.find("/proc/") == std::string::npos && target != "anon_inode:[eventfd]" && !bus.count(target))
            files[entry.path().filename().string()] = target;
    }
    return files;
}

// Watches that an exchange leaves no file of the process open: libusb
// contexts, device handles and the emulated node all count.
class OpenFiles {
public:
    OpenFiles() : before_(openFiles()) {}

    ::testing::AssertionResult unchanged() const
    {
        // The emulation closes its end of a node a moment after the caller.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        std::map<std::string, std::string> now;
        while ((now = openFiles()) != before_) {
            if (std::chrono::steady_clock::now() > end) {
                auto failure = ::testing::AssertionFailure() << "open files changed:";
                for (const auto& [fd, target] : now)
                    if (before_.count(fd) == 0 || before_.at(fd) != target)
                        failure << " +" << fd << "=" << target;
                for (const auto& [fd, target] : before_)
                    if (now.count(fd) == 0 || now.at(fd) != target)
                        failure << " -" << fd << "=" << target;
                return failure;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return ::testing::AssertionSuccess();
    }

private:
    std::map<std::string, std::string> before_;
};

// Nothing of the exchange is left open or claimed.
inline ::testing::AssertionResult released(const OpenFiles& files, const usbemu::EmulatedUsbPrinter& printer)
{
    if (auto same = files.unchanged(); !same)
        return same;
    if (!printer.claimedInterfaces().empty())
        return ::testing::AssertionFailure() << "interface left claimed";
    return ::testing::AssertionSuccess();
}

inline std::string repeated(char c, std::size_t n) { return std::string(n, c); }
