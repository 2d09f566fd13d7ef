#include "UdpSocket.h"

#include "DeviceLog.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace vexo::net {

int yudpsocket_server(const char* address, int port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const int on = 1;
    const bool all = address == nullptr || address[0] == '\0' || std::strcmp(address, "255.255.255.255") == 0;
    const int opt = ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (all) {
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        logDebug("udp server ip len = %d", address ? int(std::strlen(address)) : 0);
    } else if (::inet_pton(AF_INET, address, &addr.sin_addr) != 1) {
        ::close(fd);
        return -1;  // not an address; do not fall back to the broadcast one
    }
    if (opt != 0) {
        ::close(fd);
        return -1;
    }
    const int r = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    logDebug("bind server success and r = %d and socketfd = %d", r, fd);
    if (r != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

long yudpsocket_recive(int fd, char* buf, long len, char* ip, int* port)
{
    logDebug("yudpsocket_recive: receive data from socket =%d", fd);
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = ::recvfrom(fd, buf, size_t(len), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (fromLen >= sizeof from && from.sin_family == AF_INET) {
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        std::memcpy(ip, text, std::strlen(text));  // fits: at most 15 characters
        *port = ntohs(from.sin_port);
    }
    logDebug("receive data from socket =%d,clientip =%s", fd, ip);
    return long(n);
}

int yudpsocket_close(int fd) { return ::close(fd); }

UDPServer::UDPServer(std::string address, int port) : Socket(std::move(address), port)
{
    const int r = yudpsocket_server(this->address.c_str(), port);
    if (r >= 0)
        fd = r;
}

Datagram UDPServer::recv(int size)
{
    if (!fd || size <= 0)
        return {std::nullopt, "no ip", 0};
    std::vector<char> buf(size_t(size), 0);
    char ip[16] = {};
    int senderPort = 0;
    const long n = yudpsocket_recive(*fd, buf.data(), size, ip, &senderPort);
    Datagram d;
    d.address.assign(ip, strnlen(ip, sizeof ip));
    d.port = senderPort;
    if (n > 0)
        d.data.emplace(buf.data(), size_t(n));
    return d;
}

bool UDPServer::waitReadable(int timeoutMs, int wakeFd) const
{
    pollfd fds[2] = {{fd.value_or(-1), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int r = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
    return r > 0 && fd && (fds[0].revents & POLLIN);
}

void UDPServer::close()
{
    if (fd) {
        yudpsocket_close(*fd);
        fd.reset();
    }
}

int UDPServer::boundPort() const
{
    if (!fd)
        return 0;
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(*fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

}  // namespace vexo::net
