#include "first_start.h"

#include "driver.h"

#include <atomic>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexo::app {
namespace {

struct Device {
    std::string info, uri, id;
};

// Discovery takes seconds: it runs beside the server, and the printers are
// created on the server's own loop once it is done. The thread is joined
// when the process ends.
struct Search {
    std::thread thread;
    std::atomic<bool> skipped{false};  // not the first start
    std::atomic<bool> done{false};
    std::vector<Device> devices;

    ~Search()
    {
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
            thread.join();
        else if (thread.joinable())
            thread.detach();  // the process ends from inside the search
    }
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

void logError(const char* message, void* system)
{
    papplLog(static_cast<pappl_system_t*>(system), PAPPL_LOGLEVEL_WARN, "%s", message);
}

bool createWhenFound(pappl_system_t* system, void*)
{
    Search& s = search();
    if (s.skipped)
        return false;
    if (!s.done)
        return true;  // look again in a second
    for (const Device& device : s.devices) {
        const char* driver = autoAddCallback(device.info.c_str(), device.uri.c_str(), device.id.c_str(), nullptr);
        if (!driver)
            continue;
        if (papplPrinterCreate(system, 0, device.info.c_str(), driver, device.id.c_str(), device.uri.c_str()))
            papplLog(system, PAPPL_LOGLEVEL_INFO, "Added %s at %s.", device.info.c_str(), device.uri.c_str());
    }
    return false;
}

bool startSearch(pappl_system_t* system, void*)
{
    // The state is loaded by now; a printer ever added (even one deleted
    // since) means the user has chosen.
    Search& s = search();
    if (papplSystemGetNextPrinterID(system) != 1) {
        s.skipped = true;
        return false;
    }
    s.thread = std::thread([system, &s] {
        // USB-type lists our network printers too (see network_devices.h).
        papplDeviceList(PAPPL_DEVTYPE_USB, collect, &s.devices, logError, system);
        s.done = true;
    });
    return false;
}

}  // namespace

void addPrintersOnFirstStart(pappl_system_t* system)
{
    // Timers cannot be added from a timer: both are set up here.
    papplSystemAddTimerCallback(system, std::time(nullptr), 0, startSearch, nullptr);
    papplSystemAddTimerCallback(system, std::time(nullptr) + 1, 1, createWhenFound, nullptr);
}

}  // namespace vexo::app
