// Wake-up datagrams over loopback into the listener's socket, then through
// the checks and the sleep decision.
#include "UdpSocket.h"
#include "WakeUpListener.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace vexo::net;

namespace {

struct Loopback {
    UDPServer server{"127.0.0.1", 0};
    int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};

    Loopback()
    {
        if (!server.fd || sender < 0)
            std::abort();
        to.sin_family = AF_INET;
        to.sin_port = htons(std::uint16_t(server.boundPort()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Loopback net;
    FuzzedDataProvider in(data, size);
    const bool hasWakeUp = in.ConsumeBool();
    const bool isWakeUp = in.ConsumeBool();
    const bool fromSelected = in.ConsumeBool();
    const std::string selected = in.ConsumeRandomLengthString(16);
    const std::string datagram = in.ConsumeRemainingBytesAsString();

    if (::sendto(net.sender, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&net.to),
                 sizeof net.to) != ssize_t(datagram.size()))
        return 0;  // larger than a datagram may be
    if (!net.server.waitReadable(1000))
        std::abort();
    const Datagram d = net.server.recv(kWakeUpDatagramSize);
    if (d.address != "127.0.0.1")
        std::abort();
    if (datagram.empty() != !d.data)
        std::abort();
    if (!d.data)
        return 0;
    if (*d.data != std::string_view(datagram).substr(0, size_t(kWakeUpDatagramSize)))
        std::abort();

    const auto msg = readableWakeUpMessage(*d.data);
    if (!msg)
        return 0;
    wakeUpDecision(*msg, d.address, fromSelected ? d.address : selected, hasWakeUp, isWakeUp);
    return 0;
}
