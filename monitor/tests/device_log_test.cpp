#include "DeviceLog.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<LogLevel, std::string>> lines;
int formatted = 0;

bool warningsOnly(LogLevel level) { return level == LogLevel::warning; }
void keep(LogLevel level, const std::string& line) { lines.emplace_back(level, line); }

int counted()
{
    ++formatted;
    return 7;
}

// The sink decides what is written; a level it refuses costs no formatting.
TEST(DeviceLog, LinesReachTheSinkOnlyAtTheLevelsItTakes)
{
    setLogSink({});
    DEVICE_LOG(debug) << "dropped " << counted();
    logWarning("dropped %d", 7);
    EXPECT_EQ(formatted, 0) << "no sink: nothing formatted";

    setLogSink({nullptr, keep});
    DEVICE_LOG(debug) << "code = " << 2009 << ", toner " << counted();
    logDebug("ip %s port %d", "10.77.0.11", 161);
    setLogSink({warningsOnly, keep});
    DEVICE_LOG(debug) << "dropped " << counted();
    logWarning("%zu hosts left out", std::size_t(3));
    setLogSink({});

    EXPECT_EQ(formatted, 1);
    const std::vector<std::pair<LogLevel, std::string>> want = {
        {LogLevel::debug, "code = 2009, toner 7"},
        {LogLevel::debug, "ip 10.77.0.11 port 161"},
        {LogLevel::warning, "3 hosts left out"},
    };
    EXPECT_EQ(lines, want);
}

}  // namespace
