#pragma once

#include "Printer.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace vexo::net {
class TCPCommucator;
}

// What a carrier knows of its last exchange beyond the reply itself.
struct ExchangeNote {
    QString failure;   // why there is no reply, when that is known
    bool cut = false;  // the reply is only the first part of what the printer sent
};

// Takes one command text to a printer and brings one reply back. Called on
// the monitor's I/O thread only, one call at a time; may block for its
// time-outs. Absent when the exchange failed.
class CommandCarrier {
public:
    virtual ~CommandCarrier();
    virtual std::optional<QString> exchange(const Printer& printer, const QString& cmd) = 0;
    // Of the last exchange; read on the same thread right after it.
    virtual ExchangeNote lastNote() const { return {}; }
};

// The printer's bulk pipes, found by its USB identifiers.
class UsbCommandCarrier : public CommandCarrier {
public:
    std::optional<QString> exchange(const Printer& printer, const QString& cmd) override;
};

// The printer's command port at its address. Each exchange opens the
// connection and closes it again, so a printer that dropped it meanwhile
// costs nothing.
class TcpCommandCarrier : public CommandCarrier {
public:
    explicit TcpCommandCarrier(std::uint16_t port = 9101, int connectTimeoutMs = 3000, int replyTimeoutMs = 3000);
    ~TcpCommandCarrier() override;

    std::optional<QString> exchange(const Printer& printer, const QString& cmd) override;
    ExchangeNote lastNote() const override;

    void initTCPClient(const QString& url);
    void disconnectTCPClient();
    std::optional<QString> tcpCommucation(const QString& cmd);

private:
    std::unique_ptr<vexo::net::TCPCommucator> tcpClient_;
};
