#include "DeviceLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {

std::atomic<bool (*)(LogLevel)> enabledFn{nullptr};
std::atomic<void (*)(LogLevel, const std::string&)> writeFn{nullptr};

void vlog(LogLevel level, const char* format, va_list args)
{
    if (!logEnabled(level))
        return;
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0)
        return;
    std::string line(std::size_t(n) + 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, args);
    line.resize(std::size_t(n));
    logLine(level, line);
}

}  // namespace

void setLogSink(LogSink sink)
{
    writeFn = sink.write;
    enabledFn = sink.enabled;
}

bool logEnabled(LogLevel level)
{
    if (!writeFn.load())
        return false;
    const auto enabled = enabledFn.load();
    return !enabled || enabled(level);
}

void logLine(LogLevel level, const std::string& line)
{
    if (const auto write = writeFn.load())
        write(level, line);
}

void logDebug(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vlog(LogLevel::debug, format, args);
    va_end(args);
}

void logWarning(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vlog(LogLevel::warning, format, args);
    va_end(args);
}
