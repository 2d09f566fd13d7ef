#include "SimServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

SimServer::SimServer()
{
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 8) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("cannot listen on loopback");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
}

SimServer::~SimServer()
{
    stop_ = true;
    thread_.join();
    ::close(listen_);
}

void SimServer::setScript(Script script)
{
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

std::vector<std::string> SimServer::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

void SimServer::run()
{
    while (!stop_) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            continue;
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            serve(fd);
            ::close(fd);
        }
    }
}

void SimServer::serve(int fd)
{
    while (!stop_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            continue;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        const std::string command(buf, size_t(n));
        Script script;
        {
            std::lock_guard lock(mutex_);
            received_.push_back(command);
            script = script_;
        }
        const std::optional<std::string> reply = script ? script(command) : printer_.handleCommand(command);
        if (reply)
            ::send(fd, reply->data(), reply->size(), MSG_NOSIGNAL);
    }
}
