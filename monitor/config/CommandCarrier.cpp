#include "CommandCarrier.h"

#include "TCPCommucator.h"
#include "USBInteraction.h"

CommandCarrier::~CommandCarrier() = default;

std::optional<QString> UsbCommandCarrier::exchange(const Printer& printer, const QString& cmd)
{
    USBExchangeFailure failure{};
    const auto reply = usbInteraction(cmd.toStdString(), printer.PID, printer.VID, &failure,
                                      printer.serial.toStdString());
    // Another program holds the interface: the spooler printing a job. The
    // user hears what the printer itself answers while it prints.
    if (failure == USBExchangeFailure::interfaceBusy)
        return QStringLiteral("1001");
    if (!reply)
        return std::nullopt;
    return QString::fromStdString(*reply);
}

TcpCommandCarrier::TcpCommandCarrier(std::uint16_t port, int connectTimeoutMs, int replyTimeoutMs)
    : tcpClient_(std::make_unique<vexo::net::TCPCommucator>("192.168.1.1", port))
{
    tcpClient_->setTimeouts(connectTimeoutMs, replyTimeoutMs);
}

TcpCommandCarrier::~TcpCommandCarrier() = default;

void TcpCommandCarrier::initTCPClient(const QString& url)
{
    tcpClient_->setURL(url.toStdString());
    tcpClient_->connect();
}

void TcpCommandCarrier::disconnectTCPClient() { tcpClient_->disconnect(); }

std::optional<QString> TcpCommandCarrier::tcpCommucation(const QString& cmd)
{
    const QByteArray bytes = cmd.toUtf8();
    tcpClient_->send(std::string_view(bytes.constData(), size_t(bytes.size())));
    const auto reply = tcpClient_->receive();
    if (!reply)
        return std::nullopt;
    return QString::fromStdString(*reply);
}

std::optional<QString> TcpCommandCarrier::exchange(const Printer& printer, const QString& cmd)
{
    initTCPClient(printer.ip);
    auto reply = tcpCommucation(cmd);
    disconnectTCPClient();
    return reply;
}

ExchangeNote TcpCommandCarrier::lastNote() const
{
    switch (tcpClient_->lastEnd()) {
    case vexo::net::ReplyEnd::reset:
        return {QStringLiteral("the connection was reset before the printer ended its reply"), false};
    case vexo::net::ReplyEnd::cut:
        return {QString(), true};
    default:
        return {};
    }
}
