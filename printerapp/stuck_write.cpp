#include "stuck_write.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vexo::app {
namespace {

bool samePeer(const sockaddr_storage& a, const sockaddr* b)
{
    if (a.ss_family != b->sa_family)
        return false;
    if (a.ss_family == AF_INET) {
        const auto* x = reinterpret_cast<const sockaddr_in*>(&a);
        const auto* y = reinterpret_cast<const sockaddr_in*>(b);
        return x->sin_port == y->sin_port && x->sin_addr.s_addr == y->sin_addr.s_addr;
    }
    if (a.ss_family == AF_INET6) {
        const auto* x = reinterpret_cast<const sockaddr_in6*>(&a);
        const auto* y = reinterpret_cast<const sockaddr_in6*>(b);
        return x->sin6_port == y->sin6_port && std::memcmp(&x->sin6_addr, &y->sin6_addr, sizeof x->sin6_addr) == 0;
    }
    return false;
}

}  // namespace

bool breakConnection(std::string_view deviceUri)
{
    constexpr std::string_view kScheme = "socket://";
    if (deviceUri.substr(0, kScheme.size()) != kScheme)
        return false;
    std::string_view rest = deviceUri.substr(kScheme.size());
    rest = rest.substr(0, rest.find_first_of("/?"));
    std::string host, port = "9100";
    if (rest.substr(0, 1) == "[") {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return false;
        host = std::string(rest.substr(1, close - 1));
        if (rest.substr(close + 1, 1) == ":")
            port = std::string(rest.substr(close + 2));
    } else {
        const size_t colon = rest.find(':');
        host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos)
            port = std::string(rest.substr(colon + 1));
    }

    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0)
        return false;
    bool broken = false;
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(fds)) {
            char* end = nullptr;
            const long fd = std::strtol(entry->d_name, &end, 10);
            if (*entry->d_name == '\0' || *end != '\0' || fd == dirfd(fds))
                continue;
            struct stat st;
            if (fstat(int(fd), &st) != 0 || !S_ISSOCK(st.st_mode))
                continue;
            sockaddr_storage peer{};
            socklen_t length = sizeof peer;
            if (getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0)
                continue;
            for (const addrinfo* a = found; a; a = a->ai_next) {
                if (samePeer(peer, a->ai_addr) && shutdown(int(fd), SHUT_RDWR) == 0) {
                    broken = true;
                    break;
                }
            }
        }
        closedir(fds);
    }
    freeaddrinfo(found);
    return broken;
}

}  // namespace vexo::app
