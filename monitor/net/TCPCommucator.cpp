#include "TCPCommucator.h"

#include "DeviceLog.h"
#include "Utf8.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstring>
#include <thread>

namespace vexo::net {

TCPCommucator::TCPCommucator(std::string host, std::uint16_t port) : host_(std::move(host)), port_(port) {}

TCPCommucator::~TCPCommucator() { disconnect(); }

void TCPCommucator::setTimeouts(int connectMs, int replyMs)
{
    connectTimeoutMs_ = connectMs;
    replyTimeoutMs_ = replyMs;
}

bool TCPCommucator::connect()
{
    disconnect();
    DEVICE_LOG(debug) << "Opening streams.";

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port_);
    if (::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        logDebug("command port: cannot resolve %s", host_.c_str());
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        ::freeaddrinfo(found);
        return false;
    }
    int r = ::connect(fd, found->ai_addr, found->ai_addrlen);
    ::freeaddrinfo(found);
    if (r != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        r = ::poll(&p, 1, connectTimeoutMs_);
        int error = 0;
        socklen_t len = sizeof error;
        if (r == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
            r = 0;
        else
            r = -1;
    }
    if (r != 0) {
        logDebug("command port: cannot connect to %s:%u", host_.c_str(), unsigned(port_));
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    fd_ = fd;
    return true;
}

void TCPCommucator::disconnect()
{
    if (fd_ < 0)
        return;
    DEVICE_LOG(debug) << "Closing streams.";
    ::close(fd_);
    fd_ = -1;
}

bool TCPCommucator::send(std::string_view message)
{
    DEVICE_LOG(debug) << "outputStream status = " << (fd_ >= 0 ? "open" : "absent");
    if (fd_ < 0)
        return false;
    const ssize_t n = ::send(fd_, message.data(), message.size(), MSG_NOSIGNAL);
    DEVICE_LOG(debug) << "outputstream write result = " << n;
    return n == ssize_t(message.size());
}

std::optional<std::string> TCPCommucator::receive()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    DEVICE_LOG(debug) << "inputStream status = " << (fd_ >= 0 ? "open" : "absent");
    lastEnd_ = ReplyEnd::nothing;
    if (fd_ < 0)
        return std::nullopt;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(replyTimeoutMs_);
    const auto remainingMs = [&] {
        return int(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
    };
    std::string reply;
    ReplyEnd end = ReplyEnd::whole;
    // The first bytes may take the whole time-out; after them, a pause ends the reply.
    for (int waitMs = replyTimeoutMs_;; waitMs = std::min(kReplyGapMs, remainingMs())) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1)
            break;
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, kReplyLimit - reply.size()), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            // A reset in the middle of a reply: what came is a piece, not the reply.
            logDebug("command port: read failed after %zu bytes: %s", reply.size(), std::strerror(errno));
            end = ReplyEnd::reset;
            break;
        }
        if (n == 0)
            break;  // the printer closed: what came is the reply
        reply.append(buf, size_t(n));
        if (reply.size() >= kReplyLimit) {
            end = ReplyEnd::cut;
            break;
        }
    }
    DEVICE_LOG(debug) << "TCPCommunicator: func receive . read data len = " << reply.size();
    if (end == ReplyEnd::reset) {
        lastEnd_ = end;
        return std::nullopt;
    }
    if (reply.empty()) {
        DEVICE_LOG(debug) << "TCPCommunicator: no reply within " << replyTimeoutMs_ << " ms";
        return std::nullopt;
    }
    reply = withoutCutLine(std::move(reply), end == ReplyEnd::cut);
    if (!isValidUtf8(reply))
        return std::nullopt;
    lastEnd_ = end;
    return reply;
}

std::string withoutCutLine(std::string reply, bool cut)
{
    if (!cut)
        return reply;
    const size_t end = reply.rfind("\r\n");
    reply.resize(end == std::string::npos ? 0 : end);
    return reply;
}

std::optional<std::string> exchangeCommand(const std::string& host, std::string_view command, int connectTimeoutMs,
                                           int replyTimeoutMs, std::uint16_t port)
{
    TCPCommucator link(host, port);
    link.setTimeouts(connectTimeoutMs, replyTimeoutMs);
    if (!link.connect() || !link.send(command))
        return std::nullopt;
    return link.receive();
}

}  // namespace vexo::net
