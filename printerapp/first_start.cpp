#include "first_start.h"

#include "device_identity.h"
#include "device_log.h"
#include "driver.h"
#include "network_devices.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <spawn.h>
#include <unistd.h>
#include <vector>

namespace vexo::app {
namespace {

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
    static_cast<std::vector<FoundDevice>*>(data)->push_back({info ? info : "", uri ? uri : "", id ? id : ""});
    return false;
}

void ignoreError(const char*, void*) {}

// The server's own domain socket, named as PAPPL's main loop names it.
std::string serverSocket(uid_t uid = ::getuid())
{
    const std::string name = program_invocation_short_name;
    if (uid == 0)
        return "/run/" + name + ".sock";
    const char* tmpdir = std::getenv("TMPDIR");
    return std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/" + name + std::to_string(uid) + ".sock";
}

http_t* connectTo(const std::string& socket)
{
    return httpConnect2(socket.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
}

// The user's server, else the system's; none running: the user's is
// started, as PAPPL's sub-commands do.
http_t* connectOrStartServer()
{
    if (http_t* http = connectTo(serverSocket()))
        return http;
    if (::getuid() != 0)
        if (http_t* http = connectTo(serverSocket(0)))
            return http;
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return nullptr;
    self[length] = '\0';
    char server[] = "server";
    char* const argv[] = {self, server, nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);  // not stopped with this command's terminal
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, self, nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    if (failed)
        return nullptr;
    for (int tries = 0; tries < 40; ++tries) {
        ::usleep(250000);
        if (http_t* http = connectTo(serverSocket()))
            return http;
    }
    return nullptr;
}

// The printers the server serves now: name and device URI.
std::vector<std::pair<std::string, std::string>> servedPrinters(http_t* http)
{
    static const char* const kWanted[] = {"printer-name", "smi55357-device-uri"};
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTERS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, "ipp://localhost/ipp/system");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
    ipp_t* response = cupsDoRequest(http, request, "/ipp/system");
    std::vector<std::pair<std::string, std::string>> served;
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response)) {
        if (ippGetGroupTag(attr) != IPP_TAG_PRINTER)
            continue;
        const char* name = ippGetName(attr);
        if (name && std::strcmp(name, "printer-name") == 0)
            served.emplace_back(ippGetString(attr, 0, nullptr), "");
        else if (name && std::strcmp(name, "smi55357-device-uri") == 0 && !served.empty())
            served.back().second = ippGetString(attr, 0, nullptr);
    }
    ippDelete(response);
    return served;
}

}  // namespace

// Each device is checked against the printers served just before it is
// added: a printer the user adds meanwhile (by its URI, under any name)
// is not added a second time.
int addFoundDevices(http_t* http, const std::vector<FoundDevice>& devices, const AddError& error)
{
    int added = 0;
    for (const FoundDevice& device : devices) {
        if (search().stopping)
            break;
        const char* driver = autoAddCallback(device.info.c_str(), device.uri.c_str(), device.id.c_str(), nullptr);
        if (!driver)
            continue;
        const auto served = servedPrinters(http);
        if (std::any_of(served.begin(), served.end(), [&](const auto& p) { return sameDevice(p.second, device.uri); }))
            continue;
        std::vector<std::string> names;
        for (const auto& p : served)
            names.push_back(p.first);
        const std::string name = uniquePrinterName(device.info, device.uri, names);
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
        if (cupsLastError() >= IPP_STATUS_ERROR_BAD_REQUEST) {
            if (error)
                error(name, cupsLastErrorString());
        } else {
            ++added;
        }
    }
    return added;
}

namespace {

// The printers are added the way `add` adds them, through the server's own
// socket: timers run holding the system's lock, which creating a printer
// takes too, and a request to a server that has gone simply fails.
void addFound(const std::string& socket, const std::vector<FoundDevice>& devices)
{
    if (devices.empty())
        return;  // no connection for nothing: one closing as the server stops outlives it
    http_t* http = connectTo(socket);
    if (!http)
        return;
    addFoundDevices(http, devices, {});
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
        quietDeviceLogOnThisThread();
        // USB-type lists our network printers too (see network_devices.h).
        std::vector<FoundDevice> devices;
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

int autoAdd(const char* baseName)
{
    std::vector<FoundDevice> devices;
    papplDeviceList(PAPPL_DEVTYPE_USB, collect, &devices, ignoreError, nullptr);
    http_t* http = connectOrStartServer();
    if (!http) {
        std::fprintf(stderr, "%s: Unable to connect to server: %s\n", baseName, cupsLastErrorString());
        return 1;
    }
    addFoundDevices(http, devices, [baseName](const std::string& name, const std::string& why) {
        std::fprintf(stderr, "%s: Unable to add '%s': %s\n", baseName, name.c_str(), why.c_str());
    });
    httpClose(http);
    return 0;
}

void stopFirstStart()
{
    search().stop();
}

}  // namespace vexo::app
