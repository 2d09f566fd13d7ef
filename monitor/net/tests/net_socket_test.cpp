#include "NetTransport.h"
#include "PrinterModel.h"
#include "TCPCommucator.h"
#include "UdpSocket.h"
#include "WakeUpListener.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vexo::net;
using namespace std::chrono_literals;

namespace {

void sendDatagram(int port, std::string_view payload)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A one-connection TCP server on loopback that runs a script per connection.
class ScriptedServer {
public:
    explicit ScriptedServer(std::function<void(int)> onClient) : onClient_(std::move(onClient))
    {
        listen_ = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listen_, 4);
        socklen_t len = sizeof a;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            const int c = accept(listen_, nullptr, nullptr);
            if (c >= 0) {
                onClient_(c);
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
    uint16_t port() const { return port_; }

private:
    std::function<void(int)> onClient_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

std::string readSome(int fd)
{
    char buf[2048];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

}  // namespace

TEST(UDPServer, ReceivesWholeDatagramsAndSharesItsPort)
{
    UDPServer server("", 0);
    ASSERT_TRUE(server.fd);
    const int port = server.boundPort();
    // A second listener on the same port binds too (SO_REUSEADDR).
    UDPServer second("", port);
    EXPECT_TRUE(second.fd);
    second.close();

    sendDatagram(port, "0123456789");
    Datagram d = server.recv(300);
    ASSERT_TRUE(d.data);
    EXPECT_EQ(*d.data, "0123456789");
    EXPECT_EQ(d.address, "127.0.0.1");
    EXPECT_GT(d.port, 0);

    sendDatagram(port, std::string(400, 'x'));
    d = server.recv(300);
    ASSERT_TRUE(d.data);
    EXPECT_EQ(d.data->size(), 300u);

    sendDatagram(port, "");
    d = server.recv(300);
    EXPECT_FALSE(d.data);
    EXPECT_EQ(d.address, "127.0.0.1");
    server.close();
    EXPECT_FALSE(server.fd);
}

TEST(UDPServer, UnboundServerAnswersAtOnce)
{
    UDPServer server("300.1.1.1", 0);  // not an address
    EXPECT_FALSE(server.fd);
    UDPServer foreign("192.0.2.1", 0);  // not one of ours: bind fails
    EXPECT_FALSE(foreign.fd);
    const auto start = std::chrono::steady_clock::now();
    const Datagram d = server.recv(300);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_FALSE(d.data);
    EXPECT_EQ(d.address, "no ip");
    EXPECT_EQ(d.port, 0);
}

TEST(WakeUpListener, PassesOnlyReadableDatagrams)
{
    std::mutex m;
    std::vector<std::string> got;
    WakeUpListener listener(0, [&](const std::string& sender, const std::string& msg) {
        std::lock_guard lock(m);
        got.push_back(sender + " " + msg);
    });
    listener.start();
    ASSERT_TRUE(waitFor([&] { return listener.boundPort() != 0; }));
    const int port = listener.boundPort();

    sendDatagram(port, "");
    sendDatagram(port, "\xFF\xFEIdle;");
    sendDatagram(port, "Idle;");
    sendDatagram(port, std::string(299, 'a') + "Idle;");  // cut before the text
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(m);
        return got.size() >= 2;
    }));
    listener.stop();
    std::lock_guard lock(m);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "127.0.0.1 Idle;");
    EXPECT_EQ(got[1], "127.0.0.1 " + std::string(299, 'a') + "I");
}

TEST(WakeUpListener, WaitsQuietlyWhileItsPortIsTaken)
{
    // A socket without SO_REUSEADDR keeps the listener from binding.
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);

    WakeUpListener listener(ntohs(a.sin_port), [](const std::string&, const std::string&) {});
    listener.setRebindDelayMs(100);
    const double before = cpuSeconds();
    listener.start();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(listener.boundPort(), 0);
    EXPECT_LT(cpuSeconds() - before, 0.2);

    // Once the port is free it binds by itself.
    close(holder);
    EXPECT_TRUE(waitFor([&] { return listener.boundPort() != 0; }));
    const auto start = std::chrono::steady_clock::now();
    listener.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

namespace {

// Network transport whose status queries are scripted; the listener is real.
class SleepyTransport : public NetTransport {
public:
    using NetTransport::NetTransport;
    StatusReading getSNMPStatus(const Printer&) override { return {true, 2009, 50}; }
};

}  // namespace

TEST(WakeUpListener, DatagramsSwitchPollingOfTheSelectedPrinter)
{
    testApp();
    NetTransportOptions options;
    options.wakeUpPort = 0;
    options.interfaces = [] { return std::vector<InterfaceAddress>{}; };
    auto transport = std::make_shared<SleepyTransport>(options);
    auto owned = std::make_unique<PrinterModel>(transport, PrinterModel::Options{60000, 1});
    PrinterModel& model = *owned;
    ASSERT_TRUE(waitFor([&] { return !model.isSearchingPrinter() && transport->wakeUpPort() != 0; }));

    Printer sleeper(QStringLiteral("LX310W"), QStringLiteral("LX310W(127.0.0.1)"), QStringLiteral("Net"),
                    QStringLiteral("127.0.0.1"), 301, 14286, 1, 1, true, QString());
    model.clickPrinter(sleeper);
    ASSERT_TRUE(waitFor([&] { return model.statusInfo().code == 2009; }));
    EXPECT_FALSE(model.isWakeUp());

    const int port = transport->wakeUpPort();
    sendDatagram(port, "Idle");  // no semicolon: not a wake-up
    sendDatagram(port, "Idle;");
    ASSERT_TRUE(waitFor([&] { return model.isWakeUp(); }));
    sendDatagram(port, "status: power save");
    ASSERT_TRUE(waitFor([&] { return !model.isWakeUp(); }));

    // A printer without the wake-up feature is never switched.
    Printer plain = sleeper;
    plain.hasWakeUp = false;
    model.clickPrinter(plain);
    ASSERT_TRUE(waitFor([&] { return model.statusInfo().code == 2009; }));
    sendDatagram(port, "power save");
    std::this_thread::sleep_for(100ms);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model.isWakeUp());

    // The listener outlives the model here; what arrives later reaches nothing.
    owned.reset();
    sendDatagram(port, "Idle;");
    std::this_thread::sleep_for(100ms);
    QCoreApplication::processEvents();
}

TEST(TCPCommucator, ExchangesOneCommandAndReadsTheWholeReply)
{
    std::string seen;
    {
        ScriptedServer server([&](int c) {
            seen = readSome(c);
            const std::string reply = "8014,AP Info;" + std::string(1500, 'n');
            send(c, reply.data(), reply.size(), 0);
            std::this_thread::sleep_for(100ms);
        });
        TCPCommucator link("127.0.0.1", server.port());
        ASSERT_TRUE(link.connect());
        EXPECT_TRUE(link.send("CheckwifiAP?"));
        const auto reply = link.receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, "8014,AP Info;" + std::string(1500, 'n'));
        link.disconnect();
        EXPECT_FALSE(link.send("x"));
        EXPECT_FALSE(link.receive());
    }
    EXPECT_EQ(seen, "CheckwifiAP?");

    ScriptedServer exact([](int c) {
        readSome(c);
        const std::string reply(1024, 'r');
        send(c, reply.data(), reply.size(), 0);
        std::this_thread::sleep_for(100ms);
    });
    const auto whole = exchangeCommand("127.0.0.1", "q?", 1000, 1000, exact.port());
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->size(), 1024u);
}

TEST(TCPCommucator, AReplyInPiecesEndsAtAPause)
{
    ScriptedServer server([](int c) {
        readSome(c);
        send(c, "8012,Wifi Scan;Home", 19, 0);
        std::this_thread::sleep_for(20ms);
        send(c, "Net,4\r\nOff", 10, 0);
        std::this_thread::sleep_for(300ms);
        send(c, "ice,2", 5, 0);
        std::this_thread::sleep_for(100ms);
    });
    EXPECT_EQ(exchangeCommand("127.0.0.1", "Checkwifiserver?", 1000, 1000, server.port()),
              "8012,Wifi Scan;HomeNet,4\r\nOff");
}

TEST(TCPCommucator, SilentOrClosingOrAbsentPrinterGivesNoReply)
{
    std::atomic<bool> release = false;
    ScriptedServer silent([&](int c) {
        readSome(c);
        while (!release)
            std::this_thread::sleep_for(10ms);
    });
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(exchangeCommand("127.0.0.1", "CheckwifiAP?", 1000, 400, silent.port()));
    EXPECT_GE(t.elapsed(), 350);
    EXPECT_LT(t.elapsed(), 2000);
    release = true;

    ScriptedServer closing([](int c) { readSome(c); });
    EXPECT_FALSE(exchangeCommand("127.0.0.1", "CheckwifiAP?", 1000, 1000, closing.port()));

    ScriptedServer garbled([](int c) {
        readSome(c);
        send(c, "8014,\xFF\xFE", 7, 0);
        std::this_thread::sleep_for(100ms);
    });
    EXPECT_FALSE(exchangeCommand("127.0.0.1", "CheckwifiAP?", 1000, 1000, garbled.port()));

    // Nobody listens on the port: refused at once.
    uint16_t freePort;
    {
        ScriptedServer probe([](int) {});
        freePort = probe.port();
        exchangeCommand("127.0.0.1", "", 200, 10, freePort);
    }
    t.restart();
    TCPCommucator link("127.0.0.1", freePort);
    EXPECT_FALSE(link.connect());
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_FALSE(link.receive());
}
