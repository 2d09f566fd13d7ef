#include "first_start.h"

#include "driver.h"
#include "network_devices.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vexo::app {
namespace {

struct Device {
    std::string info, uri, id;
};

// Discovery takes seconds: it runs beside the server. It must be over
// before the process ends: PAPPL has freed the system by then, and client
// threads still closing their connections write into it while the process
// lingers; and the exit handlers (OpenSSL's, Qt's, our tables) would run
// under the search. So it is called off and joined as soon as the server
// has stopped.
struct Search {
    std::thread thread;
    std::atomic<bool> stopping{false};

    void stop()
    {
        stopping = true;
        cancelNetworkDiscovery();
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
            thread.join();
        else if (thread.joinable())
            thread.detach();  // the process ends from inside the search
    }

    ~Search() { stop(); }
};

Search& search()
{
    static Search instance;
    return instance;
}

bool collect(const char* info, const char* uri, const char* id, void* data)
{
    static_cast<std::vector<Device>*>(data)->push_back({info ? info : "", uri ? uri : "", id ? id : ""});
    return false;
}

void ignoreError(const char*, void*) {}

// The server's own domain socket, named as PAPPL's main loop names it.
std::string serverSocket()
{
    const std::string name = program_invocation_short_name;
    if (::getuid() == 0)
        return "/run/" + name + ".sock";
    const char* tmpdir = std::getenv("TMPDIR");
    return std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/" + name + std::to_string(::getuid()) + ".sock";
}

// The printers are added the way `add` adds them, through the server's own
// socket: timers run holding the system's lock, which creating a printer
// takes too, and a request to a server that has gone simply fails.
void addFound(const std::string& socket, const std::vector<Device>& devices)
{
    if (devices.empty())
        return;  // no connection for nothing: one closing as the server stops outlives it
    http_t* http = httpConnect2(socket.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
    if (!http)
        return;
    for (const Device& device : devices) {
        if (search().stopping)
            break;
        const char* driver = autoAddCallback(device.info.c_str(), device.uri.c_str(), device.id.c_str(), nullptr);
        if (!driver)
            continue;
        // "Vexo VEXO USB": PAPPL 1.3.1's sub-commands find no printer whose
        // name has parentheses ("Vexo VEXO (USB)", as devices are listed).
        std::string name;
        for (char c : device.info)
            if (c != '(' && c != ')')
                name += c;
        ipp_t* request = ippNewRequest(IPP_OP_CREATE_PRINTER);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, "ipp://localhost/ipp/system");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        // What `add -d NAME -m DRIVER -v URI` sends; operation attributes first.
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "printer-service-type", nullptr, "print");
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "smi55357-driver", nullptr, driver);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "smi55357-device-uri", nullptr, device.uri.c_str());
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, name.c_str());
        ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-device-id", nullptr, device.id.c_str());
        ippDelete(cupsDoRequest(http, request, "/ipp/system"));
    }
    httpClose(http);
}

bool startSearch(pappl_system_t* system, void*)
{
    // The state is loaded by now; a printer ever added (even one deleted
    // since) means the user has chosen.
    if (papplSystemGetNextPrinterID(system) != 1)
        return false;
    Search& current = search();
    current.thread = std::thread([socket = serverSocket(), &current] {
        // USB-type lists our network printers too (see network_devices.h).
        std::vector<Device> devices;
        papplDeviceList(PAPPL_DEVTYPE_USB, collect, &devices, ignoreError, nullptr);
        if (!current.stopping)
            addFound(socket, devices);
    });
    return false;
}

}  // namespace

void addPrintersOnFirstStart(pappl_system_t* system)
{
    papplSystemAddTimerCallback(system, std::time(nullptr), 0, startSearch, nullptr);
}

void stopFirstStart()
{
    search().stop();
}

}  // namespace vexo::app
