#include "network_devices.h"

#include "catalogue_drivers.h"
#include "NetTransport.h"

#include <pappl/pappl.h>

#include <sys/eventfd.h>

namespace vexo::app {
namespace {

constexpr const char* kScheme = "vexo-snmp";

// Readable once discovery is called off; it stays so for the process's life.
int cancelFd()
{
    static const int fd = ::eventfd(0, EFD_CLOEXEC);
    return fd;
}

bool listPrinters(pappl_device_cb_t cb, void* data, pappl_deverror_cb_t, void*)
{
    for (const FoundPrinter& p : discoverNetworkPrinters())
        if (cb(p.info.c_str(), p.uri.c_str(), p.id.c_str(), data))
            return true;
    return false;
}

// Nothing is ever opened under this scheme: what it lists are socket:// URIs.
bool openNothing(pappl_device_t* device, const char*, const char*)
{
    papplDeviceError(device, "Use the socket://ADDRESS:9100 URI that `devices` lists.");
    return false;
}
void closeNothing(pappl_device_t*) {}
ssize_t readNothing(pappl_device_t*, void*, size_t) { return -1; }
ssize_t writeNothing(pappl_device_t*, const void*, size_t) { return -1; }
pappl_preason_t noStatus(pappl_device_t*) { return PAPPL_PREASON_NONE; }

}  // namespace

std::vector<FoundPrinter> discoverNetworkPrinters()
{
    std::vector<FoundPrinter> found;
    vexo::net::NetTransportOptions options;
    options.discovery.cancelFd = cancelFd();
    vexo::net::NetTransport transport(std::move(options));
    for (const FoundDevice& printer : transport.getPrinterBySNMP()) {
        const std::string model(printer.row->printerName);
        const std::string& ip = printer.ip;
        found.push_back({std::string(kMake) + " " + model + " (" + ip + ")", "socket://" + ip + ":9100",
                         "MFG:" + std::string(kMake) + ";MDL:" + model + ";"});
    }
    return found;
}

void cancelNetworkDiscovery()
{
    if (cancelFd() >= 0)
        (void)::eventfd_write(cancelFd(), 1);
}

void addNetworkDiscovery()
{
    // Registering a scheme before PAPPL has set up its own turns socket://,
    // usb:// and snmp:// off for good; asking about one sets them up.
    papplDeviceIsSupported("socket://127.0.0.1");
    // PAPPL 1.3's `autoadd` lists USB-type devices only: the network
    // printers of the catalogue are listed with them so that it adds those too.
    papplDeviceAddScheme(kScheme, PAPPL_DEVTYPE_USB | PAPPL_DEVTYPE_CUSTOM_NETWORK, listPrinters, openNothing,
                         closeNothing, readNothing, writeNothing, noStatus, nullptr);
}

}  // namespace vexo::app
