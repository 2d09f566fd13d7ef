#include "DeviceLogSink.h"

#include "DeviceLog.h"
#include "Log.h"

namespace {

bool enabled(LogLevel level)
{
    return level == LogLevel::debug ? lcMonitor().isDebugEnabled() : lcMonitor().isWarningEnabled();
}

void write(LogLevel level, const std::string& line)
{
    if (level == LogLevel::debug)
        qCDebug(lcMonitor).noquote() << QString::fromStdString(line);
    else
        qCWarning(lcMonitor).noquote() << QString::fromStdString(line);
}

}  // namespace

void logDevicesToQt() { setLogSink({enabled, write}); }
