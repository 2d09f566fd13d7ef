// vexo-printer-app: an IPP Everywhere printer for the printers of the
// catalogue, so that any IPP client prints to them without a driver.
#include "catalogue_drivers.h"
#include "device_log.h"
#include "driver.h"
#include "first_start.h"
#include "network_devices.h"

#include <pappl/pappl.h>

#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr const char* kVersion = "0.1.0";
constexpr const char* kFooter =
    "Vexo printer application " "0.1.0" ". Prints to the printers of the catalogue over IPP Everywhere.";

const char* optionOr(const char* name, int numOptions, cups_option_t* options, const char* fallback)
{
    const char* value = cupsGetOption(name, numOptions, options);
    return value ? value : fallback;
}

pappl_loglevel_t logLevel(const char* value)
{
    if (!value)
        return PAPPL_LOGLEVEL_WARN;
    static constexpr struct {
        const char* name;
        pappl_loglevel_t level;
    } kLevels[] = {{"fatal", PAPPL_LOGLEVEL_FATAL}, {"error", PAPPL_LOGLEVEL_ERROR}, {"warn", PAPPL_LOGLEVEL_WARN},
                   {"info", PAPPL_LOGLEVEL_INFO},   {"debug", PAPPL_LOGLEVEL_DEBUG}};
    for (const auto& entry : kLevels)
        if (std::strcmp(value, entry.name) == 0)
            return entry.level;
    return PAPPL_LOGLEVEL_WARN;
}

// Called for `server` and, cheaply, for `drivers`: no devices, no threads.
pappl_system_t* systemCallback(int numOptions, cups_option_t* options, void* data)
{
    const char* portText = cupsGetOption("server-port", numOptions, options);
    int port = 0;
    if (portText) {
        char* end = nullptr;
        const long value = std::strtol(portText, &end, 10);
        if (*portText == '\0' || *end != '\0' || value < 0 || value > 65535) {
            std::fprintf(stderr, "vexo-printer-app: bad server-port '%s'.\n", portText);
            return nullptr;
        }
        port = static_cast<int>(value);
    }

    // The server's own folder, as PAPPL would pick it, so that no run (not
    // even `drivers`) leaves a folder of its own behind.
    std::string spool = optionOr("spool-directory", numOptions, options, "");
    if (spool.empty()) {
        const char* tmpdir = std::getenv("TMPDIR");
        spool = ::getuid() == 0 ? "/var/spool/vexo-printer-app"
                                : std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/vexo-printer-app" +
                                      std::to_string(::getuid()) + ".d";
    }

    // Printing is for this computer alone unless the user shares the printer;
    // administration through the web pages stays local either way. TLS only
    // matters once the printer is shared.
    const char* listen = optionOr("listen-hostname", numOptions, options, "localhost");
    const bool shared = std::strcmp(listen, "localhost") != 0;
    pappl_soptions_t soptions =
        PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY;
    if (!shared)
        soptions |= PAPPL_SOPTIONS_NO_TLS;
    pappl_system_t* system = papplSystemCreate(
        soptions, optionOr("system-name", numOptions, options, "Vexo Printer App"), port, "_print,_universal",
        spool.c_str(), optionOr("log-file", numOptions, options, "-"),
        logLevel(cupsGetOption("log-level", numOptions, options)), cupsGetOption("auth-service", numOptions, options),
        false);
    if (!system)
        return nullptr;

    vexo::app::logDevicesToPappl(system);
    papplSystemAddListeners(system, std::strcmp(listen, "*") == 0 ? nullptr : listen);
    // Loopback only: the URIs and the DNS-SD services name "localhost", where
    // the server listens, not the machine's name, whose addresses it does not
    // listen on. Our PAPPL keeps the machine's name for "localhost" (any
    // other name would rename the machine) and announces on loopback only.
    if (!shared)
        papplSystemSetHostName(system, "localhost");

    auto& drivers = vexo::app::driverTable();
    papplSystemSetPrinterDrivers(system, static_cast<int>(drivers.size()), drivers.data(), vexo::app::autoAddCallback,
                                 vexo::app::createCallback, vexo::app::driverCallback, data);
    papplSystemSetFooterHTML(system, kFooter);  // without one the web pages crash
    papplSystemSetMIMECallback(system, vexo::app::mimeCallback, nullptr);
    vexo::app::addPrintersOnFirstStart(system);
    return system;
}

bool avahiRunning()
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, "/run/avahi-daemon/socket", sizeof address.sun_path - 1);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return up;
}

bool printDevice(const char* info, const char* uri, const char* id, void* verbose)
{
    std::puts(uri);
    if (*static_cast<bool*>(verbose))
        std::printf("    %s\n    %s\n", info ? info : "", id ? id : "");
    return false;
}

void printDeviceError(const char* message, void*)
{
    std::fprintf(stderr, "vexo-printer-app: %s\n", message);
}

// PAPPL 1.3.1's own `devices` browses DNS-SD even when it could not reach
// Avahi (no system bus, as in containers) and then aborts inside Avahi:
// DNS-SD printers are listed only when the Avahi daemon answers.
int showDevices(int argc, char* argv[])
{
    bool verbose = false;
    for (int i = 2; i < argc; ++i)
        verbose = verbose || std::strcmp(argv[i], "--verbose") == 0;
    pappl_devtype_t types = PAPPL_DEVTYPE_ALL;
    if (!avahiRunning())
        types = static_cast<pappl_devtype_t>(types & ~PAPPL_DEVTYPE_DNS_SD);
    papplDeviceList(types, printDevice, &verbose, printDeviceError, nullptr);
    return 0;
}

void usage(void*)
{
    std::puts("Usage: vexo-printer-app SUB-COMMAND [OPTIONS] [FILENAME]\n"
              "\n"
              "Sub-commands: add, autoadd, cancel, default, delete, devices, drivers, jobs,\n"
              "modify, options, printers, server, shutdown, status, submit.\n"
              "\n"
              "Server options (-o NAME=VALUE):\n"
              "  listen-hostname=HOST  address to listen on: localhost (default), a host name\n"
              "                        or address, or * for every network (shares the printers)\n"
              "  server-port=PORT      IPP port (default: chosen by the application)\n"
              "  spool-directory=DIR   where jobs are kept while they print\n"
              "  log-file=FILE         log file, or - for standard error\n"
              "  log-level=LEVEL       fatal, error, warn (default), info or debug\n"
              "\n"
              "List printers:  vexo-printer-app devices [--verbose]\n"
              "Add a printer:  vexo-printer-app add -d NAME -m DRIVER|auto -v DEVICE-URI\n"
              "                (DEVICE-URI: usb://..., socket://ADDRESS:9100)");
}

// The sub-command and, for `add`, where its -m and -v values are, as PAPPL's
// main loop reads the command line (one-letter options, each but -a with a value).
struct CommandLine {
    const char* subcommand = nullptr;
    int driverAt = 0;
    int deviceAt = 0;
};

CommandLine commandLine(int argc, char* argv[])
{
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-' && arg[1] != '-' && arg[1] != '\0') {
            for (const char* opt = arg + 1; *opt; ++opt) {
                if (*opt == 'a')
                    continue;
                if (i + 1 >= argc)
                    break;
                ++i;
                if (*opt == 'm')
                    line.driverAt = i;
                else if (*opt == 'v')
                    line.deviceAt = i;
            }
        } else if (arg[0] != '-' && !line.subcommand) {
            line.subcommand = arg;
        }
    }
    return line;
}

}  // namespace

int main(int argc, char* argv[])
{
    // A printer that closes its connection mid-job fails the write, not the process.
    signal(SIGPIPE, SIG_IGN);
    // Each job thread allocates its pages (megabytes each) in an arena of its
    // own; with glibc's sliding threshold they soon come from the arenas,
    // which keep them after the job. A fixed threshold maps every page and
    // gives it back when the job ends, so an idle server returns to its size.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    vexo::app::addNetworkDiscovery();
    if (argc >= 2 && std::strcmp(argv[1], "devices") == 0)
        return showDevices(argc, argv);
    const CommandLine line = commandLine(argc, argv);
    if (line.subcommand && std::strcmp(line.subcommand, "autoadd") == 0)
        return vexo::app::autoAdd("vexo-printer-app");
    // `add -m auto`: the model's driver is chosen here, so that the printer
    // is saved with it (PAPPL 1.3.1 would keep the name "auto").
    std::string chosen;
    if (line.subcommand && std::strcmp(line.subcommand, "add") == 0 && line.driverAt && line.deviceAt &&
        std::strcmp(argv[line.driverAt], "auto") == 0) {
        chosen = vexo::app::autoAddDriver(argv[line.deviceAt], "");
        if (!chosen.empty())
            argv[line.driverAt] = chosen.data();
    }
    auto& drivers = vexo::app::driverTable();
    const int status = papplMainloop(argc, argv, kVersion, kFooter, static_cast<int>(drivers.size()), drivers.data(),
                                     vexo::app::autoAddCallback, vexo::app::driverCallback, nullptr, nullptr,
                                     systemCallback, usage, nullptr);
    // Nothing of ours may run on once PAPPL has freed the system.
    vexo::app::stopDeviceLog();
    vexo::app::stopFirstStart();
    return status;
}
