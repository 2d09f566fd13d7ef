#include "device_log.h"

#include "DeviceLog.h"

#include <mutex>

namespace vexo::app {
namespace {

std::mutex mutex;
pappl_system_t* logSystem = nullptr;
thread_local bool quietThread = false;

pappl_loglevel_t papplLevel(LogLevel level)
{
    return level == LogLevel::debug ? PAPPL_LOGLEVEL_DEBUG : PAPPL_LOGLEVEL_WARN;
}

bool enabled(LogLevel level)
{
    if (quietThread)
        return false;
    std::lock_guard lock(mutex);
    return logSystem && papplSystemGetLogLevel(logSystem) <= papplLevel(level);
}

void write(LogLevel level, const std::string& line)
{
    // Held while writing, so that stopDeviceLog returns only once no line
    // is on its way into the system.
    std::lock_guard lock(mutex);
    if (logSystem && !quietThread)
        papplLog(logSystem, papplLevel(level), "%s", line.c_str());
}

}  // namespace

void logDevicesToPappl(pappl_system_t* system)
{
    {
        std::lock_guard lock(mutex);
        logSystem = system;
    }
    setLogSink({enabled, write});
}

void quietDeviceLogOnThisThread()
{
    quietThread = true;
}

void stopDeviceLog()
{
    std::lock_guard lock(mutex);
    logSystem = nullptr;
}

}  // namespace vexo::app
