#include "NetworkModel.h"

#include "Log.h"
#include "PrinterModel.h"
#include "SerialWorker.h"
#include "WifiCommands.h"

#include <QTimer>

#include <mutex>

using namespace vexo::config;

// What the I/O thread needs: the carriers, and the way back to the model
// for as long as it exists.
struct NetworkModel::Link {
    Carriers carriers;
    std::mutex mutex;
    NetworkModel* model = nullptr;

    std::optional<QString> carry(const Printer& printer, const QString& cmd, ExchangeNote& note) const
    {
        CommandCarrier& carrier = printer.type == u"Net" ? *carriers.tcp : *carriers.usb;
        std::optional<QString> reply = carrier.exchange(printer, cmd);
        note = carrier.lastNote();
        return reply;
    }
};

NetworkModel::NetworkModel(PrinterModel& printers, Carriers carriers, QObject* parent)
    : NetworkModel(printers, std::move(carriers), Options{}, parent)
{
}

NetworkModel::NetworkModel(PrinterModel& printers, Carriers carriers, Options options, QObject* parent)
    : QObject(parent), printers_(printers), io_(printers.ioWorker()), options_(options),
      link_(std::make_shared<Link>())
{
    if (!carriers.usb)
        carriers.usb = std::make_shared<UsbCommandCarrier>();
    if (!carriers.tcp)
        carriers.tcp = std::make_shared<TcpCommandCarrier>();
    link_->carriers = std::move(carriers);
    link_->model = this;
}

NetworkModel::~NetworkModel()
{
    // An exchange still running finds no model to report to; replies
    // already posted go with this object.
    std::lock_guard lock(link_->mutex);
    link_->model = nullptr;
}

void NetworkModel::setShowNetworkSetting(bool show)
{
    if (showNetworkSetting_ == show)
        return;
    showNetworkSetting_ = show;
    emit showNetworkSettingChanged();
}

void NetworkModel::sendCommand(const QString& cmd, ReplyHandler handler)
{
    const Printer printer = printers_.selectedPrinter();
    qCDebug(lcMonitor).noquote() << "send cmd = " + cmd + " and current printer type = " + printer.type;
    io_.post([link = link_, printer, cmd, handler = std::move(handler)]() mutable {
        ExchangeNote note;
        std::optional<QString> reply = link->carry(printer, cmd, note);
        std::lock_guard lock(link->mutex);
        if (!link->model)
            return;
        NetworkModel* model = link->model;
        QMetaObject::invokeMethod(
            model,
            [model, handler = std::move(handler), reply = std::move(reply), note = std::move(note)] {
                model->lastExchangeAnswered_ = reply.has_value();
                model->lastExchangeNote_ = note;
                handler(reply);
            },
            Qt::QueuedConnection);
    });
}

void NetworkModel::raise(const std::optional<AlertTriple>& alter)
{
    if (!alter)
        return;
    showAlter_ = true;
    alterTitle_ = alter->title;
    alterInfo_ = alter->text;
}

void NetworkModel::deliverLater(AlertCallback done, AlertTriple triple)
{
    // Refusals arrive the way answers do, never inside the call.
    QMetaObject::invokeMethod(
        this, [done = std::move(done), triple = std::move(triple)] {
            if (done)
                done(triple);
        },
        Qt::QueuedConnection);
}

void NetworkModel::getAPInfo(AlertCallback done)
{
    qCDebug(lcMonitor) << "run in function getAPInfo";
    sendCommand(QString::fromUtf16(kCheckAPCommand), [this, done = std::move(done)](const auto& reply) {
        const APInfoOutcome out = readAPInfoReply(reply);
        raise(out.alter);
        if (out.setting) {
            qCDebug(lcMonitor).noquote() << "apname = " + apSetting_.APName + " and value = " + out.setting->APName;
            apSetting_ = *out.setting;
            qCDebug(lcMonitor).noquote() << "apname = " + apSetting_.APName;
        }
        if (done)
            done(out.result);
    });
}

void NetworkModel::setAPInfo(AlertCallback done)
{
    if (auto refused = checkAPSettingToSend(apSetting_)) {
        deliverLater(std::move(done), *refused);
        return;
    }
    const QString cmd = setAPCommand(apSetting_);
    qCDebug(lcMonitor).noquote() << "run in set ap info and cmd = " + cmd;
    sendCommand(escapeSettingCommand(cmd), [this, done = std::move(done)](const auto& reply) {
        if (reply)
            qCDebug(lcMonitor).noquote() << "set ap response = " + *reply;
        const ReplyOutcome out = readSetAPReply(reply);
        raise(out.alter);
        if (done)
            done(out.result);
    });
}

void NetworkModel::getClientModeInfo(AlertCallback done)
{
    qCDebug(lcMonitor) << "run in getClientModeInfo";
    sendCommand(QString::fromUtf16(kCheckClientModeCommand), [this, done = std::move(done)](const auto& reply) {
        const ClientModeInfoOutcome out = readClientModeInfoReply(reply);
        raise(out.alter);
        if (out.setting) {
            // The scan owns the index into its list.
            const int order = clietModeSetting_.orderInList;
            clietModeSetting_ = *out.setting;
            clietModeSetting_.orderInList = order;
        }
        if (done)
            done(out.result);
    });
}

void NetworkModel::setClientModeInfo(AlertCallback done)
{
    if (auto refused = checkClientModeToSend(hotSpotList_, clietModeSetting_)) {
        deliverLater(std::move(done), *refused);
        return;
    }
    const QString cmd = setClientModeCommand(hotSpotList_[clietModeSetting_.orderInList].name, clietModeSetting_);
    sendCommand(escapeSettingCommand(cmd), [this, done = std::move(done)](const auto& reply) {
        const ReplyOutcome out = readSetClientModeReply(reply);
        raise(out.alter);
        if (done)
            done(out.result);
    });
}

void NetworkModel::getHotSpotList(AlertCallback done)
{
    hotSpotList_.clear();
    lastScan_ = ScanResult::unreadable;
    lastScanCut_ = false;
    askForHotSpots(++scanRun_, 1, std::move(done));
}

void NetworkModel::askForHotSpots(quint64 scan, int attempt, AlertCallback done)
{
    sendCommand(GETHOTSPOTLISTCMD, [this, scan, attempt, done = std::move(done)](const auto& reply) mutable {
        if (scan != scanRun_) {
            if (done)
                done({});
            return;
        }
        const ScanOutcome out = readScanReply(reply);
        lastScan_ = out.result;
        lastScanCut_ = lastExchangeNote_.cut;
        if (out.result == ScanResult::notReady) {
            if (attempt >= options_.scanTries) {
                qCDebug(lcMonitor) << "scan still not ready after" << attempt << "tries";
                if (done)
                    done(alert::scanNotAnswered());
                return;
            }
            QTimer::singleShot(options_.scanRetryInterval, this, [this, scan, attempt, done = std::move(done)] {
                if (scan == scanRun_)
                    askForHotSpots(scan, attempt + 1, done);
                else if (done)
                    done({});
            });
            return;
        }
        hotSpotList_ = out.hotSpots;
        applyScan(clietModeSetting_, out);
        if (done)
            done({});
    });
}
