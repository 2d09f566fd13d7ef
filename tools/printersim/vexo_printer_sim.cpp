// vexo-printer-sim: a printer on the network without the printer.
//
//   vexo-printer-sim serve --control SOCKET [--listen ADDR] [--port 9101]
//                          [--raw-port 9100 --jobs DIR]
//                          [--status CODE] [--detail TEXT] [--toner N]
//       Answers the command language on the TCP command port and takes
//       state changes on a control socket while it runs. With --raw-port it
//       takes jobs on that port, one connection to a file DIR/job-N.vxo
//       (DIR/job-N.done once the connection is over), and stops reading
//       while its state stops printing (no paper, cover open, jam, no drum,
//       silent), so the sender is held back as by a real printer.
//   vexo-printer-sim serve --usb --control SOCKET [--product PID] [--jobs DIR] [--status ...]
//                          [--printer SERIAL[,status=CODE][,toner=N][,product=PID]]...
//       The same printer on an emulated USB bus instead of the network:
//       prints "usb-bus DIR" once it is plugged in; a program run with
//       UMOCKDEV_DIR=DIR and LD_PRELOAD=libumockdev-preload.so.0 finds it
//       through libusb. "silent 1" makes it stop answering. Jobs on the
//       bulk pipe go to DIR/job-N.vxo; while the state stops printing their
//       writes are not taken (the host's transfer times out).
//       Each --printer puts one more printer on the bus, with its own serial
//       number and state (--status, --toner, --detail and --product are the
//       defaults of all); jobs then go to DIR/SERIAL/. Without --printer
//       there is one, serial VX77000001.
//   vexo-printer-sim pass-persist --control SOCKET
//       snmpd's pass_persist helper: serves the status and toner objects
//       from the running printer's state.
//   vexo-printer-sim ctl --control SOCKET [--printer SERIAL] COMMAND [ARGS...]
//       Sends one control command and prints the answer; to the USB printer
//       with that serial number, else to the first.
//
// Control commands (one line each; values in key=value pairs may use %XX):
//   get | log | clear-log
//   status CODE [DETAIL]        toner PERCENT
//   status-raw TYPE VALUE|clear toner-raw TYPE VALUE|clear
//   busy 0|1                    silent 0|1 (accept, never answer)
//   wifi-mode both|ap|station|none
//   ap name= encrypted=0|1 password= ip= mask= gateway=
//   station name= password= type=D|S ip= mask= gateway=
//   networks [NAME:SIGNAL ...]  scan-not-ready N
//   plugged 0|1                 print-job 0|1 (USB only: unplug and plug back in;
//                               the spooler's backend holds the interface)
//   A line "@SERIAL COMMAND ..." goes to the USB printer with that serial.
//   datagram HOST PORT TEXT     sleep [HOST [PORT]]    wake [HOST [PORT]]

#include "EmulatedUsbPrinter.h"
#include "SimulatedPrinter.h"
#include "StatusCodes.h"
#include "UsbPreload.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <optional>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using vexo::sim::SimulatedPrinter;
using vexo::sim::SnmpValue;

namespace {

constexpr const char* kStatusOid = ".1.3.6.1.4.1.59317.2.7.1.1";
constexpr const char* kTonerOid = ".1.3.6.1.4.1.59317.2.7.4.1";
constexpr int kWakeUpPort = 65002;

std::atomic<bool> stopping = false;
int stopPipe[2] = {-1, -1};

void onSignal(int)
{
    stopping = true;
    const char c = 0;
    [[maybe_unused]] ssize_t w = write(stopPipe[1], &c, 1);
}

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

std::string percentDecode(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(uint8_t(s[i + 1])) && std::isxdigit(uint8_t(s[i + 2]))) {
            out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::map<std::string, std::string> keyValues(const std::vector<std::string>& w, size_t from)
{
    std::map<std::string, std::string> kv;
    for (size_t i = from; i < w.size(); ++i) {
        const size_t eq = w[i].find('=');
        if (eq != std::string::npos)
            kv[w[i].substr(0, eq)] = percentDecode(w[i].substr(eq + 1));
    }
    return kv;
}

std::string printableLog(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c == '\\' || c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string rest(const std::string& line, size_t skipWords)
{
    size_t pos = 0;
    for (size_t i = 0; i < skipWords; ++i) {
        pos = line.find_first_not_of(' ', pos);
        pos = line.find(' ', pos);
        if (pos == std::string::npos)
            return {};
    }
    pos = line.find_first_not_of(' ', pos);
    return pos == std::string::npos ? std::string() : line.substr(pos);
}

bool sendDatagram(const std::string& host, int port, const std::string& text)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1)
        return false;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const ssize_t n = sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
    return n == ssize_t(text.size());
}

class Simulator {
public:
    explicit Simulator(SimulatedPrinter& p) : printer(p) {}

    SimulatedPrinter& printer;
    std::atomic<bool> silent = false;

    // A printer that does not answer does not read a job either.
    bool takesJobData() const { return !silent && printer.takesJobData(); }
    // Told when "silent" changes, for a carrier that answers elsewhere.
    std::function<void(bool)> silenced;
    // Commands of the USB printer only; an empty answer: not one of them.
    std::function<std::string(const std::vector<std::string>& words)> usbControl;

    std::string control(const std::string& line)
    {
        const auto w = words(line);
        if (w.empty())
            return "error empty command";
        const std::string& cmd = w[0];
        auto arg = [&](size_t i) { return i < w.size() ? w[i] : std::string(); };
        try {
            if (cmd == "get")
                return "ok\n" + describe();
            if (cmd == "log") {
                std::string out = "ok";
                for (const auto& c : printer.commandLog()) {
                    out += '\n';
                    out += printableLog(c);
                }
                return out;
            }
            if (cmd == "clear-log") {
                printer.clearCommandLog();
                return "ok";
            }
            if (cmd == "snmp-get")
                return snmpGet(arg(1));
            if (cmd == "status" && w.size() >= 2) {
                printer.setStatusCode(std::stoll(w[1]));
                if (w.size() >= 3)
                    printer.setStatusDetail(rest(line, 2));
                return "ok";
            }
            if (cmd == "toner" && w.size() == 2) {
                printer.setToner(std::stoll(w[1]));
                return "ok";
            }
            if ((cmd == "status-raw" || cmd == "toner-raw") && w.size() >= 2) {
                std::optional<SnmpValue> v;
                if (w[1] != "clear")
                    v = SnmpValue{w[1], rest(line, 2)};
                if (cmd == "status-raw")
                    printer.setStatusObjectOverride(v);
                else
                    printer.setTonerObjectOverride(v);
                return "ok";
            }
            if (cmd == "busy" && w.size() == 2) {
                printer.setBusy(w[1] == "1");
                return "ok";
            }
            if (cmd == "silent" && w.size() == 2) {
                silent = w[1] == "1";
                if (silenced)
                    silenced(silent);
                return "ok";
            }
            if (cmd == "wifi-mode" && w.size() == 2) {
                using vexo::sim::WifiMode;
                static const std::map<std::string, WifiMode> modes{{"both", WifiMode::accessPointAndStation},
                                                                   {"ap", WifiMode::accessPointOnly},
                                                                   {"station", WifiMode::stationOnly},
                                                                   {"none", WifiMode::none}};
                const auto m = modes.find(w[1]);
                if (m == modes.end())
                    return "error unknown mode";
                printer.setWifiMode(m->second);
                return "ok";
            }
            if (cmd == "ap") {
                auto ap = printer.accessPoint();
                const auto kv = keyValues(w, 1);
                for (const auto& [k, v] : kv) {
                    if (k == "name") ap.name = v;
                    else if (k == "encrypted") ap.encrypted = v == "1";
                    else if (k == "password") ap.password = v;
                    else if (k == "ip") ap.ip = v;
                    else if (k == "mask") ap.mask = v;
                    else if (k == "gateway") ap.gateway = v;
                    else return "error unknown field " + k;
                }
                printer.setAccessPoint(ap);
                return "ok";
            }
            if (cmd == "station") {
                auto sta = printer.station();
                for (const auto& [k, v] : keyValues(w, 1)) {
                    if (k == "name") sta.name = v;
                    else if (k == "password") sta.password = v;
                    else if (k == "type") sta.ipSetType = v;
                    else if (k == "ip") sta.ip = v;
                    else if (k == "mask") sta.mask = v;
                    else if (k == "gateway") sta.gateway = v;
                    else return "error unknown field " + k;
                }
                printer.setStation(sta);
                return "ok";
            }
            if (cmd == "networks") {
                std::vector<vexo::sim::VisibleNetwork> list;
                for (size_t i = 1; i < w.size(); ++i) {
                    const size_t colon = w[i].rfind(':');
                    if (colon == std::string::npos)
                        return "error expected NAME:SIGNAL";
                    list.push_back({percentDecode(w[i].substr(0, colon)), std::stoi(w[i].substr(colon + 1))});
                }
                printer.setVisibleNetworks(std::move(list));
                return "ok";
            }
            if (cmd == "scan-not-ready" && w.size() == 2) {
                printer.setScanNotReadyCount(std::stoi(w[1]));
                return "ok";
            }
            if (cmd == "datagram" && w.size() >= 4)
                return sendDatagram(w[1], std::stoi(w[2]), rest(line, 3)) ? "ok" : "error send failed";
            if (cmd == "sleep" || cmd == "wake") {
                const bool sleep = cmd == "sleep";
                printer.setStatusCode(sleep ? kStatusAsleep : 10);
                if (w.size() >= 2 && !sendDatagram(w[1], w.size() >= 3 ? std::stoi(w[2]) : kWakeUpPort,
                                                   sleep ? "power save" : "Idle;"))
                    return "error send failed";
                return "ok";
            }
            if (usbControl) {
                if (std::string answer = usbControl(w); !answer.empty())
                    return answer;
            }
        } catch (const std::exception& e) {
            return std::string("error ") + e.what();
        }
        return "error unknown command: " + cmd;
    }

private:
    std::string describe()
    {
        const auto ap = printer.accessPoint();
        const auto sta = printer.station();
        std::ostringstream o;
        o << "status=" << printer.statusCode() << "\ndetail=" << printer.statusDetail()
          << "\ntoner=" << printer.toner() << "\nbusy=" << printer.busy() << "\nsilent=" << silent
          << "\nap.name=" << ap.name << "\nap.encrypted=" << ap.encrypted << "\nap.password=" << ap.password
          << "\nap.ip=" << ap.ip << "\nap.mask=" << ap.mask << "\nap.gateway=" << ap.gateway
          << "\nstation.name=" << sta.name << "\nstation.password=" << sta.password
          << "\nstation.type=" << sta.ipSetType << "\nstation.ip=" << sta.ip << "\nstation.mask=" << sta.mask
          << "\nstation.gateway=" << sta.gateway << "\nnetworks=";
        for (const auto& n : printer.visibleNetworks())
            o << n.name << ':' << n.signal << ' ';
        return o.str();
    }

    std::string snmpGet(const std::string& oid)
    {
        SnmpValue v;
        if (oid == kStatusOid)
            v = printer.statusObject();
        else if (oid == kTonerOid)
            v = printer.tonerObject();
        else
            return "ok\nNONE";
        return "ok\n" + std::string(oid) + "\n" + v.type + "\n" + v.value;
    }
};

// ---- sockets ------------------------------------------------------------

int listenUnix(const std::string& path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path)
        return -1;
    std::strcpy(a.sun_path, path.c_str());
    unlink(path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0)
        return -1;
    return fd;
}

int connectUnix(const std::string& path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path)
        return -1;
    std::strcpy(a.sun_path, path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const std::string& s)
{
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Control exchange: one request line, the answer ends with the connection.
std::string readAll(int fd)
{
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;)
        out.append(buf, size_t(n));
    return out;
}

std::optional<std::string> askControl(const std::string& path, const std::string& line)
{
    const int fd = connectUnix(path);
    if (fd < 0)
        return std::nullopt;
    writeAll(fd, line + "\n");
    shutdown(fd, SHUT_WR);
    std::string answer = readAll(fd);
    close(fd);
    return answer;
}

enum class Wait { readable, quiet, stop };

// Waits up to timeoutMs (-1: for ever) for fd to have something to read, or
// for the simulator to be stopped.
Wait waitReadable(int fd, int timeoutMs)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    if (poll(p, 2, timeoutMs) < 0 && errno != EINTR)
        return Wait::stop;
    if (p[1].revents)
        return Wait::stop;
    return p[0].revents & (POLLIN | POLLHUP | POLLERR) ? Wait::readable : Wait::quiet;
}

void serveCommandClient(Simulator& sim, int fd)
{
    char buf[4096];
    for (;;) {
        const Wait wait = waitReadable(fd, -1);
        if (wait == Wait::stop)
            break;
        if (wait == Wait::quiet)
            continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        // Each read is one command, as a printer's firmware takes them.
        const std::string reply = sim.printer.handleCommand(std::string_view(buf, size_t(n)));
        if (!sim.silent && !writeAll(fd, reply))
            break;
    }
    close(fd);
}

// One job on the raw port, saved as it arrives. While the printer cannot
// print nothing is read: the socket's small receive buffer fills and the
// sender's writes stop.
void serveRawClient(Simulator& sim, int fd, std::string path)
{
    FILE* out = std::fopen((path + ".vxo").c_str(), "wb");
    char buf[4096];
    while (out && !stopping) {
        if (!sim.takesJobData()) {
            pollfd p{stopPipe[0], POLLIN, 0};
            poll(&p, 1, 50);
            continue;
        }
        const Wait wait = waitReadable(fd, 100);
        if (wait == Wait::stop)
            break;
        if (wait == Wait::quiet)
            continue;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        std::fwrite(buf, 1, size_t(n), out);
        std::fflush(out);
    }
    if (out)
        std::fclose(out);
    close(fd);
    if (FILE* done = std::fopen((path + ".done").c_str(), "w"))
        std::fclose(done);
}

int listenTcp(const std::string& addr, int port, int receiveBuffer)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Set before listen, so accepted connections start with it: a printer
    // buffers little of a job it cannot print.
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, addr.c_str(), &a.sin_addr) != 1 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(fd, 16) != 0) {
        std::cerr << "vexo-printer-sim: cannot listen on " << addr << ":" << port << ": " << std::strerror(errno) << "\n";
        close(fd);
        return -1;
    }
    return fd;
}

void answerControl(int ctl, const std::function<std::string(const std::string&)>& control)
{
    const int c = accept4(ctl, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0)
        return;
    std::string request = readAll(c);
    while (!request.empty() && (request.back() == '\n' || request.back() == '\r'))
        request.pop_back();
    writeAll(c, control(request) + "\n");
    close(c);
}

void answerControl(int ctl, Simulator& sim)
{
    answerControl(ctl, [&sim](const std::string& line) { return sim.control(line); });
}

// One printer of the emulated bus, as --printer gives it.
struct UsbPrinterSpec {
    std::string serial = "VX77000001";
    std::uint16_t productID = 77;
    std::optional<long long> status{}, toner{};
};

// "SERIAL[,status=CODE][,toner=N][,product=PID]"
UsbPrinterSpec parsePrinterSpec(const std::string& text, std::uint16_t defaultProduct)
{
    UsbPrinterSpec spec;
    spec.productID = defaultProduct;
    std::istringstream in(text);
    std::string field;
    std::getline(in, spec.serial, ',');
    if (spec.serial.empty() || spec.serial.size() > 126 ||
        spec.serial.find_first_of(" @\t") != std::string::npos)
        throw std::invalid_argument("--printer needs a serial number without spaces or '@'");
    while (std::getline(in, field, ',')) {
        const size_t eq = field.find('=');
        const std::string key = field.substr(0, eq), value = eq == std::string::npos ? "" : field.substr(eq + 1);
        if (key == "status")
            spec.status = std::stoll(value);
        else if (key == "toner")
            spec.toner = std::stoll(value);
        else if (key == "product") {
            const int pid = std::stoi(value);
            if (pid < 0 || pid > 0xFFFF)
                throw std::invalid_argument("product out of range: " + value);
            spec.productID = std::uint16_t(pid);
        } else
            throw std::invalid_argument("unknown printer field: " + field);
    }
    return spec;
}

// The printers on an emulated USB bus: the bus answers on umockdev's thread,
// this loop only takes control commands.
int runServeUsb(const std::string& control, const std::vector<UsbPrinterSpec>& specs, const std::string& jobsDir,
                const std::function<void(SimulatedPrinter&)>& setUp)
{
    try {
        usbemu::UsbBus bus;
        struct Plugged {
            std::string serial;
            usbemu::EmulatedUsbPrinter* device;
            std::unique_ptr<Simulator> sim;
        };
        std::vector<Plugged> printers;
        for (const UsbPrinterSpec& spec : specs) {
            usbemu::EmulatedUsbPrinter& device =
                bus.plug(usbemu::DeviceLayout{.productID = spec.productID, .serial = spec.serial});
            setUp(device.simulator());
            if (spec.status)
                device.simulator().setStatusCode(*spec.status);
            if (spec.toner)
                device.simulator().setToner(*spec.toner);
            // Several printers keep their jobs apart, each in a folder named by its serial.
            std::string dir = jobsDir;
            if (!dir.empty() && specs.size() > 1) {
                dir += "/" + spec.serial;
                if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
                    throw std::runtime_error("cannot create " + dir + ": " + std::strerror(errno));
            }
            device.setJobsDir(dir);
            auto sim = std::make_unique<Simulator>(device.simulator());
            usbemu::EmulatedUsbPrinter* d = &device;
            sim->silenced = [d](bool silent) {
                d->setStatusSilent(silent);
                if (silent)
                    d->setCommandHandler([](std::string_view) { return std::optional<std::string>(); });
                else
                    d->setCommandHandler({});
            };
            sim->usbControl = [&bus, d](const std::vector<std::string>& w) -> std::string {
                if (w.size() != 2 || (w[1] != "0" && w[1] != "1"))
                    return {};
                if (w[0] == "plugged") {
                    if (w[1] == "1")
                        bus.plugBack(*d);
                    else
                        bus.unplug(*d);
                    return "ok";
                }
                if (w[0] == "print-job") {
                    d->setHeldByAnotherProgram(w[1] == "1");
                    return "ok";
                }
                return {};
            };
            printers.push_back({spec.serial, &device, std::move(sim)});
        }
        // "@SERIAL COMMAND": that printer; a bare command: the first.
        const auto dispatch = [&printers](const std::string& line) -> std::string {
            if (line.empty() || line[0] != '@')
                return printers.front().sim->control(line);
            const size_t space = line.find(' ');
            const std::string serial = line.substr(1, space == std::string::npos ? std::string::npos : space - 1);
            for (const Plugged& p : printers)
                if (p.serial == serial)
                    return p.sim->control(space == std::string::npos ? std::string() : line.substr(space + 1));
            return "error no printer with serial " + serial;
        };
        const int ctl = listenUnix(control);
        if (ctl < 0) {
            std::cerr << "vexo-printer-sim: cannot open control socket " << control << "\n";
            return 1;
        }
        std::cout << "usb-bus " << bus.rootDir() << std::endl;
        while (!stopping) {
            pollfd p[2] = {{ctl, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (p[1].revents)
                break;
            if (p[0].revents & POLLIN)
                answerControl(ctl, dispatch);
        }
        close(ctl);
        unlink(control.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "vexo-printer-sim: " << e.what() << "\n";
        return 1;
    }
}

int runServe(const std::string& control, const std::string& listenAddr, int port, int rawPort,
             const std::string& jobsDir, Simulator& sim)
{
    const int tcp = listenTcp(listenAddr, port, 0);
    if (tcp < 0)
        return 1;
    const int raw = rawPort > 0 ? listenTcp(listenAddr, rawPort, 8192) : -1;
    if (rawPort > 0 && raw < 0)
        return 1;
    const int ctl = listenUnix(control);
    if (ctl < 0) {
        std::cerr << "vexo-printer-sim: cannot open control socket " << control << "\n";
        return 1;
    }

    std::vector<std::thread> clients;
    int jobs = 0;
    while (!stopping) {
        pollfd p[4] = {{tcp, POLLIN, 0}, {ctl, POLLIN, 0}, {stopPipe[0], POLLIN, 0}, {raw, POLLIN, 0}};
        if (poll(p, raw >= 0 ? 4 : 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (p[2].revents)
            break;
        if (p[0].revents & POLLIN) {
            const int c = accept4(tcp, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0)
                clients.emplace_back(serveCommandClient, std::ref(sim), c);
        }
        if (raw >= 0 && (p[3].revents & POLLIN)) {
            const int c = accept4(raw, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0)
                clients.emplace_back(serveRawClient, std::ref(sim), c, jobsDir + "/job-" + std::to_string(++jobs));
        }
        if (p[1].revents & POLLIN)
            answerControl(ctl, sim);
    }
    for (auto& t : clients)
        t.join();
    close(tcp);
    if (raw >= 0)
        close(raw);
    close(ctl);
    unlink(control.c_str());
    return 0;
}

// snmpd pass_persist: "PING" -> "PONG"; "get\nOID" -> "OID\nTYPE\nVALUE" or
// "NONE"; no walking, no setting.
int runPassPersist(const std::string& control)
{
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "PING") {
            std::cout << "PONG" << std::endl;
        } else if (line == "get") {
            std::string oid;
            std::getline(std::cin, oid);
            const auto answer = askControl(control, "snmp-get " + oid);
            // A printer whose simulator is gone has no objects to serve.
            if (!answer || answer->rfind("ok\n", 0) != 0)
                std::cout << "NONE" << std::endl;
            else
                std::cout << answer->substr(3) << std::flush;
        } else if (line == "getnext") {
            std::string oid;
            std::getline(std::cin, oid);
            std::cout << "NONE" << std::endl;
        } else if (line == "set") {
            std::string oid, value;
            std::getline(std::cin, oid);
            std::getline(std::cin, value);
            std::cout << "not-writable" << std::endl;
        } else if (line.empty()) {
            continue;
        } else {
            break;
        }
    }
    return 0;
}

int usage()
{
    std::cerr << "usage: vexo-printer-sim serve --control SOCKET [--listen ADDR] [--port N] [--raw-port N --jobs DIR]\n"
                 "                        [--status CODE] [--detail TEXT] [--toner N]\n"
                 "       vexo-printer-sim serve --usb --control SOCKET [--product PID] [--jobs DIR] [--status CODE]\n"
                 "                        [--detail TEXT] [--toner N]\n"
                 "                        [--printer SERIAL[,status=CODE][,toner=N][,product=PID]]...\n"
                 "           each --printer one printer on the bus (default: one, serial VX77000001);\n"
                 "           with several, jobs go to DIR/SERIAL/\n"
                 "       vexo-printer-sim pass-persist --control SOCKET\n"
                 "       vexo-printer-sim ctl --control SOCKET [--printer SERIAL] COMMAND [ARGS...]\n"
                 "           --printer: the USB printer with that serial number (default: the first)\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string mode = argv[1];
    std::string control, listenAddr = "0.0.0.0";
    int port = 9101;
    int rawPort = 0;
    std::string jobsDir;
    bool usb = false;
    int productID = 77;
    std::optional<long long> status, toner;
    std::optional<std::string> detail;
    std::vector<std::string> printerSpecs;
    std::vector<std::string> free;
    try {
        for (int i = 2; i < argc; ++i) {
            const std::string a = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc)
                    throw std::invalid_argument(a + " needs a value");
                return argv[++i];
            };
            if (!free.empty())
                free.push_back(a);
            else if (a == "--control")
                control = value();
            else if (a == "--listen")
                listenAddr = value();
            else if (a == "--port")
                port = std::stoi(value());
            else if (a == "--raw-port")
                rawPort = std::stoi(value());
            else if (a == "--jobs")
                jobsDir = value();
            else if (a == "--usb")
                usb = true;
            else if (a == "--product")
                productID = std::stoi(value());
            else if (a == "--status")
                status = std::stoll(value());
            else if (a == "--detail")
                detail = value();
            else if (a == "--toner")
                toner = std::stoll(value());
            else if (a == "--printer")
                printerSpecs.push_back(value());
            else
                free.push_back(a);
        }
    } catch (const std::exception& e) {
        std::cerr << "vexo-printer-sim: " << e.what() << "\n";
        return 2;
    }
    if (control.empty() || productID < 0 || productID > 0xFFFF || (rawPort > 0 && jobsDir.empty()))
        return usage();
    const auto setUp = [&](SimulatedPrinter& printer) {
        if (status)
            printer.setStatusCode(*status);
        if (detail)
            printer.setStatusDetail(*detail);
        if (toner)
            printer.setToner(*toner);
    };

    if (mode == "pass-persist")
        return runPassPersist(control);
    if (mode == "ctl") {
        if (printerSpecs.size() > 1)
            return usage();
        std::string line = printerSpecs.empty() ? "" : "@" + printerSpecs.front();
        for (const auto& w : free)
            line += (line.empty() ? "" : " ") + w;
        const auto answer = askControl(control, line);
        if (!answer) {
            std::cerr << "vexo-printer-sim: no simulator at " << control << "\n";
            return 1;
        }
        std::cout << *answer;
        return answer->rfind("ok", 0) == 0 ? 0 : 1;
    }
    if (mode != "serve" || (!usb && !printerSpecs.empty()))
        return usage();
    std::vector<UsbPrinterSpec> specs;
    try {
        for (const std::string& text : printerSpecs)
            specs.push_back(parsePrinterSpec(text, std::uint16_t(productID)));
    } catch (const std::exception& e) {
        std::cerr << "vexo-printer-sim: " << e.what() << "\n";
        return 2;
    }
    if (specs.empty())
        specs.push_back({.productID = std::uint16_t(productID)});
    for (size_t i = 0; i < specs.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (specs[i].serial == specs[j].serial) {
                std::cerr << "vexo-printer-sim: two printers with serial " << specs[i].serial << "\n";
                return 2;
            }
    // The bus's own plug and unplug events are built from its emulated /sys,
    // which this process sees only through the preload.
    if (usb)
        usbemu::runWithUsbEmulation(argv);

    if (pipe(stopPipe) != 0)
        return 1;
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    if (usb)
        return runServeUsb(control, specs, jobsDir, setUp);
    SimulatedPrinter printer;
    setUp(printer);
    Simulator sim(printer);
    return runServe(control, listenAddr, port, rawPort, jobsDir, sim);
}
