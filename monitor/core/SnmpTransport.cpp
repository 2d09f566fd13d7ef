#include "SnmpTransport.h"

#include "Log.h"
#include "NetTransport.h"
#include "PrinterModel.h"

#include <QMetaObject>

// Carries datagrams from the listener's thread to the model's. Cleared when
// the model goes away, so a late datagram reaches nothing.
struct SnmpTransport::Relay {
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
                const auto awake = vexo::net::wakeUpDecision(msg, sender, selected.ip.toStdString(),
                                                             selected.hasWakeUp, m->isWakeUp());
                if (!awake)
                    return;
                if (*awake)
                    qCDebug(lcMonitor) << "printer is wake up. start stauts monitor";
                m->setIsWakeUp(*awake);
            },
            Qt::QueuedConnection);
    }
};

SnmpTransport::SnmpTransport(std::shared_ptr<vexo::net::NetTransport> net)
    : net_(net ? std::move(net) : std::make_shared<vexo::net::NetTransport>())
{
}

SnmpTransport::~SnmpTransport() = default;

QList<Printer> SnmpTransport::getPrinterBySNMP()
{
    QList<Printer> printers;
    for (const FoundDevice& device : net_->getPrinterBySNMP())
        printers.append(Printer::fromDevice(device));
    return printers;
}

StatusReading SnmpTransport::getSNMPStatus(const Printer& printer)
{
    return net_->getSNMPStatus(printer.ip.toStdString());
}

void SnmpTransport::createWakeUpServer(PrinterModel& model)
{
    if (relay_)
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
    net_->createWakeUpServer(
        [relay = relay_](const std::string& sender, const std::string& msg) { relay->deliver(sender, msg); });
}
