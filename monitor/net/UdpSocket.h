#pragma once

#include <optional>
#include <string>

namespace vexo::net {

// Bound IPv4 datagram socket with SO_REUSEADDR, or -1. An empty address or
// "255.255.255.255" binds all local addresses.
int yudpsocket_server(const char* address, int port);
// recvfrom into buf; the sender's dotted address goes into ip (16 bytes,
// zeroed by the caller), its port into port. Returns the byte count.
long yudpsocket_recive(int fd, char* buf, long len, char* ip, int* port);
int yudpsocket_close(int fd);

class Socket {
public:
    Socket(std::string address, int port) : address(std::move(address)), port(port) {}
    // Does not close: close() does.
    virtual ~Socket() = default;

    std::string address;
    int port;
    std::optional<int> fd;
};

struct Datagram {
    std::optional<std::string> data;  // absent on error or for an empty datagram
    std::string address;              // sender, dotted; "no ip" when not bound
    int port = 0;
};

class UDPServer : public Socket {
public:
    UDPServer(std::string address, int port);

    // Blocks until one datagram arrives; longer ones are cut to size.
    Datagram recv(int size);
    // Waits up to timeoutMs for a datagram to read, or for wakeFd (if not
    // -1) to become readable. True when the socket itself is readable.
    bool waitReadable(int timeoutMs, int wakeFd = -1) const;
    void close();
    // The port actually bound (useful after binding port 0).
    int boundPort() const;
};

}  // namespace vexo::net
