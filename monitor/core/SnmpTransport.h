#pragma once

#include "PrinterTransport.h"

#include <memory>

namespace vexo::net {
class NetTransport;
}

// The printer model's adapter over the network device layer (monitor/net):
// discovery and status as the model's records, and the wake-up listener's
// datagrams decided on the model's thread.
class SnmpTransport : public PrinterTransport {
public:
    // Null: a network transport with its defaults.
    explicit SnmpTransport(std::shared_ptr<vexo::net::NetTransport> net = nullptr);
    ~SnmpTransport() override;

    QList<Printer> getPrinterBySNMP() override;
    StatusReading getSNMPStatus(const Printer& printer) override;
    void createWakeUpServer(PrinterModel& model) override;

    vexo::net::NetTransport& net() { return *net_; }

private:
    struct Relay;

    std::shared_ptr<vexo::net::NetTransport> net_;
    std::shared_ptr<Relay> relay_;
};
