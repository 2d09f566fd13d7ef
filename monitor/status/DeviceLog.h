#pragma once

// Diagnostics of the device layer go to whatever sink the program sets: a
// Qt logging category in the monitor, the printer application's own log.
// Without a sink nothing is formatted or written.

#include <sstream>
#include <string>

enum class LogLevel { debug, warning };

struct LogSink {
    bool (*enabled)(LogLevel) = nullptr;
    void (*write)(LogLevel, const std::string& line) = nullptr;
};

// Set once, before any device exchange starts.
void setLogSink(LogSink sink);
bool logEnabled(LogLevel level);
void logLine(LogLevel level, const std::string& line);

// printf-style lines.
void logDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Stream-style lines: DEVICE_LOG(debug) << "code = " << code;
class LogStream {
public:
    explicit LogStream(LogLevel level) : level_(level) {}
    ~LogStream() { logLine(level_, out_.str()); }
    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;

    template <typename T>
    LogStream& operator<<(const T& value)
    {
        out_ << value;
        return *this;
    }

private:
    LogLevel level_;
    std::ostringstream out_;
};

#define DEVICE_LOG(level) \
    for (bool deviceLogOnce = logEnabled(LogLevel::level); deviceLogOnce; deviceLogOnce = false) \
    LogStream(LogLevel::level)
