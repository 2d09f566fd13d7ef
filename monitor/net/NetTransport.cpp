#include "NetTransport.h"

#include "Catalogue.h"
#include "Log.h"
#include "PrinterModel.h"
#include "StatusValues.h"
#include "TCPCommucator.h"

#include <QMetaObject>

namespace vexo::net {

// Carries datagrams from the listener's thread to the model's. Cleared when
// the model goes away, so a late datagram reaches nothing.
struct NetTransport::Relay {
    std::mutex mutex;
    PrinterModel* model = nullptr;

    void deliver(const std::string& sender, const std::string& msg)
    {
        std::lock_guard lock(mutex);
        if (!model)
            return;
        PrinterModel* m = model;
        // The selection and the flag belong to the main thread: decide there.
        QMetaObject::invokeMethod(
            m,
            [m, sender, msg] {
                const Printer selected = m->selectedPrinter();
                const auto awake = wakeUpDecision(msg, sender, selected.ip.toStdString(), selected.hasWakeUp,
                                                  m->isWakeUp());
                if (!awake)
                    return;
                if (*awake)
                    qCDebug(lcMonitor) << "printer is wake up. start stauts monitor";
                m->setIsWakeUp(*awake);
            },
            Qt::QueuedConnection);
    }
};

QList<Printer> printersFromDiscoveryText(std::string_view text, std::span<const OrrinPrinter> catalogue)
{
    QList<Printer> printers;
    for (const DiscoveryEntry& e : parseDiscoveryText(text))
        printers += printersForNetworkDevice(QString::fromStdString(e.ip), QString::fromStdString(e.oid), catalogue);
    return printers;
}

namespace {

std::optional<std::int64_t> statusCode(const std::optional<SnmpValue>& status)
{
    if (!status || status->kind != SnmpValue::Kind::octets)
        return std::nullopt;
    return statusCodeFromText(status->octets);
}

}  // namespace

StatusReading readingFromValues(const std::optional<SnmpValue>& status, const std::optional<SnmpValue>& toner)
{
    StatusReading r;
    const auto code = statusCode(status);
    if (!code)
        return r;
    r.answered = true;
    r.code = *code;
    if (toner && toner->integer)
        r.toner = tonerPercent(*toner->integer);
    return r;
}

NetTransport::NetTransport(NetTransportOptions options) : options_(std::move(options)) {}

NetTransport::~NetTransport()
{
    if (listener_)
        listener_->stop();
}

QList<Printer> NetTransport::getPrinterBySNMP()
{
    DiscoveryText text(options_.discoveryLimit);
    const auto addresses = options_.interfaces ? options_.interfaces() : std::vector<InterfaceAddress>{};
    const DiscoveryStats stats = autoDetectSNMPPrinters(text, probeTargets(addresses), options_.discovery);
    qCDebug(lcMonitor).noquote() << QString::fromStdString(text.text());
    {
        std::lock_guard lock(mutex_);
        last_ = {text.text(), stats, text.dropped()};
    }
    return printersFromDiscoveryText(text.text(),
                                     options_.catalogue.empty() ? catalogueInForce() : options_.catalogue);
}

StatusReading NetTransport::getSNMPStatus(const Printer& printer)
{
    const std::string ip = printer.ip.toStdString();
    qCDebug(lcMonitor).noquote() << "snmp query ip =" << printer.ip;
    const auto status = getPrinterStatusBySNMP(ip, kStatusOid, options_.query);
    if (status)
        qCDebug(lcMonitor).noquote() << "rInfo =" << QByteArray::fromStdString(status->octets).toPercentEncoding(" ,\"");
    if (!statusCode(status))
        return {};  // no answer, or a value we cannot read: no answer
    const auto toner = getPrinterStatusBySNMP(ip, kTonerOid, options_.query);
    qCDebug(lcMonitor) << "toner oid ret =" << (toner && toner->integer ? *toner->integer : -1);
    return readingFromValues(status, toner);
}

std::optional<QList<Printer>> NetTransport::printersAt(const std::string& ip)
{
    // Only a quick look: the status query that follows has the full time-out.
    SnmpQueryOptions quick = options_.query;
    if (quick.timeoutUs < 0)
        quick.timeoutUs = 1'000'000;
    if (quick.retries < 0)
        quick.retries = 1;
    const auto id = getPrinterStatusBySNMP(ip, kSysObjectIDOid, quick);
    if (!id)
        return std::nullopt;
    return printersForNetworkDevice(QString::fromStdString(ip), QString::fromStdString(id->objid),
                                    options_.catalogue.empty() ? catalogueInForce() : options_.catalogue);
}

void NetTransport::createWakeUpServer(PrinterModel& model)
{
    if (listener_)
        return;
    relay_ = std::make_shared<Relay>();
    relay_->model = &model;
    // destroyed() comes before the model's pending events are dropped, so
    // nothing is posted to it afterwards.
    QObject::connect(&model, &QObject::destroyed, &model,
                     [relay = relay_] {
                         std::lock_guard lock(relay->mutex);
                         relay->model = nullptr;
                     },
                     Qt::DirectConnection);
    listener_ = std::make_unique<WakeUpListener>(
        options_.wakeUpPort, [relay = relay_](const std::string& sender, const std::string& msg) {
            relay->deliver(sender, msg);
        });
    listener_->start();
}

std::optional<std::string> NetTransport::sendCommand(const Printer& printer, std::string_view command)
{
    return exchangeCommand(printer.ip.toStdString(), command);
}

DiscoveryReport NetTransport::lastDiscovery() const
{
    std::lock_guard lock(mutex_);
    return last_;
}

int NetTransport::wakeUpPort() const { return listener_ ? listener_->boundPort() : 0; }

}  // namespace vexo::net
