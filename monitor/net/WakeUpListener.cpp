#include "WakeUpListener.h"

#include "DeviceLog.h"
#include "UdpSocket.h"
#include "Utf8.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace vexo::net {

std::optional<std::string> readableWakeUpMessage(std::string_view datagram)
{
    const std::string_view msg = datagram.substr(0, kWakeUpDatagramSize);
    if (msg.empty() || !isValidUtf8(msg))
        return std::nullopt;
    return std::string(msg);
}

std::optional<bool> wakeUpDecision(std::string_view msg, std::string_view sender, std::string_view selectedIp,
                                   bool hasWakeUp, bool isWakeUp)
{
    if (selectedIp.empty() || sender != selectedIp || !hasWakeUp)
        return std::nullopt;
    if (msg.find("Idle;") != std::string_view::npos && !isWakeUp)
        return true;
    if (msg.find("power save") != std::string_view::npos)
        return false;
    return std::nullopt;
}

WakeUpListener::WakeUpListener(int port, Handler handler) : port_(port), handler_(std::move(handler)) {}

WakeUpListener::~WakeUpListener() { stop(); }

void WakeUpListener::start()
{
    if (thread_.joinable())
        return;
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0)
        wakePipe_[0] = wakePipe_[1] = -1;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void WakeUpListener::stop()
{
    if (!thread_.joinable())
        return;
    stopping_ = true;
    if (wakePipe_[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] ssize_t w = ::write(wakePipe_[1], &c, 1);
    }
    thread_.join();
    for (int& fd : wakePipe_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void WakeUpListener::run()
{
    auto pause = [this](int ms) {
        pollfd p{wakePipe_[0], POLLIN, 0};
        ::poll(&p, wakePipe_[0] >= 0 ? 1 : 0, ms);
    };

    while (!stopping_) {
        UDPServer server("", port_);
        DEVICE_LOG(debug) << "create upd server";
        if (!server.fd) {
            // Another program holds the port or the network is not up yet:
            // try again later rather than spin on a socket that is not there.
            logWarning("wake-up listener cannot bind port %d", port_);
            pause(rebindDelayMs_);
            continue;
        }
        boundPort_ = server.boundPort();
        while (!stopping_) {
            if (!server.waitReadable(-1, wakePipe_[0]))
                continue;  // woken to stop, or an interrupted wait
            const Datagram d = server.recv(kWakeUpDatagramSize);
            if (!d.data) {
                pause(50);  // a receive error must not turn into a busy loop
                continue;
            }
            const auto msg = readableWakeUpMessage(*d.data);
            if (!msg) {
                DEVICE_LOG(debug) << "receive ip = " << d.address << " and msg is not UTF-8, ignored";
                continue;
            }
            DEVICE_LOG(debug) << "receive ip = " << d.address << " and msg = " << *msg << " and msg contains Idle = "
                              << (msg->find("Idle") != std::string::npos ? "true" : "false");
            handler_(d.address, *msg);
        }
        server.close();
        boundPort_ = 0;
    }
}

}  // namespace vexo::net
