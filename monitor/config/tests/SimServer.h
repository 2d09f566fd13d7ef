#pragma once

#include "SimulatedPrinter.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The simulated printer's command port on 127.0.0.1 at a free port: every
// read of a connection is one command, answered by the simulator unless a
// script takes over.
class SimServer {
public:
    // Bytes to answer with, or nothing to stay silent.
    using Script = std::function<std::optional<std::string>(std::string_view command)>;

    SimServer();
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    std::uint16_t port() const { return port_; }
    vexo::sim::SimulatedPrinter& printer() { return printer_; }

    void setScript(Script script);
    // Every command as it arrived, script or not.
    std::vector<std::string> received() const;

private:
    void run();
    void serve(int fd);

    vexo::sim::SimulatedPrinter printer_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    Script script_;
    std::vector<std::string> received_;
    std::thread thread_;
};
