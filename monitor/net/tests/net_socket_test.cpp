#include "TCPCommucator.h"
#include "UdpSocket.h"
#include "WakeUpListener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace vexo::net;
using namespace std::chrono_literals;

namespace {

struct Stopwatch {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    long long elapsedMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    }
};

// Polls `done` until it holds or `limit` has passed; whether it held.
template <typename Pred>
bool waitFor(Pred done, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void sendDatagram(int port, std::string_view payload)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to{AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
    sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    close(fd);
}

// A loopback TCP server for one connection: reads the command, then sends
// each piece and pauses after it.
class ScriptedServer {
public:
    using Script = std::vector<std::pair<std::string, std::chrono::milliseconds>>;
    explicit ScriptedServer(Script script) : listen_(socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        bind(listen_, reinterpret_cast<sockaddr*>(&a), len);
        listen(listen_, 4);
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        thread_ = std::thread([this, script = std::move(script)] {
            if (const int c = accept(listen_, nullptr, nullptr); c >= 0) {
                char buf[2048];
                seen.assign(buf, size_t(std::max<ssize_t>(0, recv(c, buf, sizeof buf, 0))));
                for (const auto& [piece, pause] : script) {
                    send(c, piece.data(), piece.size(), 0);
                    std::this_thread::sleep_for(pause);
                }
                close(c);
            }
        });
    }
    ~ScriptedServer()
    {
        shutdown(listen_, SHUT_RDWR);
        thread_.join();
        close(listen_);
    }
    uint16_t port = 0;
    std::string seen;

private:
    int listen_;
    std::thread thread_;
};

}  // namespace

TEST(UDPServer, ReceivesWholeDatagramsSharesItsPortAndFailsAtOnceUnbound)
{
    UDPServer server("", 0);
    ASSERT_TRUE(server.fd);
    const int port = server.boundPort();
    UDPServer second("", port);  // SO_REUSEADDR: a second listener binds too
    EXPECT_TRUE(second.fd);
    second.close();

    sendDatagram(port, "");  // an empty one is no message
    EXPECT_FALSE(server.recv(300).data);
    server.close();

    for (const char* address : {"300.1.1.1", "192.0.2.1"}) {  // no address; not one of ours
        UDPServer unbound(address, 0);
        EXPECT_FALSE(unbound.fd) << address;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(unbound.recv(300).address, "no ip");
        EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    }
}

// Waits quietly while its port is taken, binds once it is free, passes on
// only readable datagrams and stops promptly.
TEST(WakeUpListener, WaitsForItsPortAndPassesOnlyReadableDatagrams)
{
    // A socket without SO_REUSEADDR keeps the listener from binding.
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{AF_INET, 0, {}, {}};
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);

    std::mutex m;
    std::vector<std::string> got;
    WakeUpListener listener(ntohs(a.sin_port), [&](const std::string& sender, const std::string& msg) {
        std::lock_guard lock(m);
        got.push_back(sender + " " + msg);
    });
    listener.setRebindDelayMs(100);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    listener.start();
    std::this_thread::sleep_for(500ms);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(listener.boundPort(), 0);
    const auto us = [](const rusage& u) { return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000L + u.ru_utime.tv_usec + u.ru_stime.tv_usec; };
    EXPECT_LT(us(after) - us(before), 200000);

    close(holder);
    ASSERT_TRUE(waitFor([&] { return listener.boundPort() != 0; }));
    for (std::string_view text : {"", "\xFF\xFEIdle;", "Idle;"})
        sendDatagram(listener.boundPort(), text);
    sendDatagram(listener.boundPort(), std::string(299, 'a') + "Idle;");  // cut before the text
    ASSERT_TRUE(waitFor([&] { std::lock_guard lock(m); return got.size() >= 2; }));
    const auto start = std::chrono::steady_clock::now();
    listener.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    std::lock_guard lock(m);
    EXPECT_EQ(got, (std::vector<std::string>{"127.0.0.1 Idle;", "127.0.0.1 " + std::string(299, 'a') + "I"}));
}

TEST(TCPCommucator, RepliesAreWholeEndAtAPauseAndBadOnesAreNone)
{
    ScriptedServer server({{"8014,AP Info;", 100ms}});
    TCPCommucator link("127.0.0.1", server.port);
    ASSERT_TRUE(link.connect());
    EXPECT_TRUE(link.send("CheckwifiAP?"));
    EXPECT_EQ(link.receive(), "8014,AP Info;");
    link.disconnect();
    EXPECT_FALSE(link.send("x"));
    EXPECT_FALSE(link.receive());
    EXPECT_EQ(server.seen, "CheckwifiAP?");

    struct Case { const char* what; ScriptedServer::Script script; std::optional<std::string> want; };
    const Case cases[] = {
        {"1024 bytes", {{std::string(1024, 'r'), 100ms}}, std::string(1024, 'r')},
        {"1500 bytes", {{std::string(1500, 'r'), 100ms}}, std::string(1500, 'r')},
        {"in pieces", {{"8012,Wifi Scan;Home", 20ms}, {"Net,4\r\nOff", 300ms}, {"ice,2", 100ms}}, "8012,Wifi Scan;HomeNet,4\r\nOff"},
        {"closes without a word", {}, std::nullopt},
        {"not UTF-8", {{"8014,\xFF\xFE", 100ms}}, std::nullopt},
        {"silent", {{"", 600ms}}, std::nullopt},
    };
    for (const Case& c : cases) {
        ScriptedServer scripted(c.script);
        const Stopwatch t;
        EXPECT_EQ(exchangeCommand("127.0.0.1", "Checkwifiserver?", 1000, 400, scripted.port), c.want) << c.what;
        EXPECT_LT(t.elapsedMs(), 1000) << c.what;
    }

    // Nobody listens on the port: refused at once.
    uint16_t freePort;
    {
        ScriptedServer probe({});
        freePort = probe.port;
        exchangeCommand("127.0.0.1", "", 200, 10, freePort);
    }
    const Stopwatch t;
    EXPECT_FALSE(TCPCommucator("127.0.0.1", freePort).connect());
    EXPECT_LT(t.elapsedMs(), 500);
}
