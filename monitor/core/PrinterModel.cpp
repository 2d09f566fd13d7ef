#include "PrinterModel.h"

#include "Log.h"
#include "StatusDecoding.h"

#include <QThread>

#include <algorithm>

Q_LOGGING_CATEGORY(lcMonitor, "vexo.monitor", QtInfoMsg)

PrinterModel::PrinterModel(std::shared_ptr<PrinterTransport> transport, QObject* parent)
    : PrinterModel(std::move(transport), Options{}, parent)
{
}

PrinterModel::PrinterModel(std::shared_ptr<PrinterTransport> transport, Options options, QObject* parent)
    : QObject(parent),
      transport_(transport ? std::move(transport) : std::make_shared<PrinterTransport>()),
      options_(options),
      timer_(this),
      usbSettle_(this)
{
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, &PrinterModel::tick);
    usbSettle_.setSingleShot(true);
    usbSettle_.setInterval(options_.usbSettleMs);
    connect(&usbSettle_, &QTimer::timeout, this, &PrinterModel::rescanUSB);

    getPrinterList();
    transport_->watchUSBDevices([this](const UsbDeviceChange& change) {
        QMetaObject::invokeMethod(this, [this, change] { usbDeviceChanged(change); }, Qt::QueuedConnection);
    });
    if (options_.deviceSeries == 1)
        createWakeUpServer();
}

PrinterModel::~PrinterModel()
{
    // No plug report may reach this object once it is gone.
    transport_->watchUSBDevices({});
    // Wait for the exchange under way; whatever it posts dies with this object.
    io_.shutdown();
}

void PrinterModel::setPrinterList(const QList<Printer>& list)
{
    if (printerList_ == list)
        return;
    printerList_ = list;
    emit printerListChanged();
}

void PrinterModel::setSelectedPrinter(const Printer& printer)
{
    // Even the same printer again starts a new selection: readings still on
    // their way belong to the old one.
    ++selectionEpoch_;
    queriesInFlight_ = 0;
    if (selectedPrinter_ == printer)
        return;
    selectedPrinter_ = printer;
    emit selectedPrinterChanged();
}

void PrinterModel::setStatusInfo(const StatusInfo& info)
{
    statusInfo_ = info;
    emit statusInfoChanged();
}

void PrinterModel::setTimerMode(TimerMode mode)
{
    if (timerMode_ == mode)
        return;
    timerMode_ = mode;
    emit timerModeChanged();
}

void PrinterModel::setShowNoPrinterAlter(bool show)
{
    if (showNoPrinterAlter_ == show)
        return;
    showNoPrinterAlter_ = show;
    emit showNoPrinterAlterChanged();
}

void PrinterModel::setShowRefreshAlter(bool show)
{
    if (showRefreshAlter_ == show)
        return;
    showRefreshAlter_ = show;
    emit showRefreshAlterChanged();
}

void PrinterModel::setIsSearchingPrinter(bool searching)
{
    if (isSearchingPrinter_ == searching)
        return;
    isSearchingPrinter_ = searching;
    emit isSearchingPrinterChanged();
}

void PrinterModel::setIsWakeUp(bool awake)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, awake] { isWakeUp_ = awake; }, Qt::QueuedConnection);
        return;
    }
    isWakeUp_ = awake;
}

void PrinterModel::getPrinterList()
{
    const quint64 run = ++discoveryRun_;
    // The list stays empty from the start of a run until its results arrive.
    setPrinterList({});

    auto transport = transport_;
    io_.post([this, transport, run] {
        if (run != discoveryRun_)
            return;  // a newer run is queued behind this one
        QList<Printer> found = transport->getPrinterByIOUSB();
        QList<Printer> foundNet = transport->getPrinterBySNMP();
        QMetaObject::invokeMethod(
            this, [this, run, usb = std::move(found), net = std::move(foundNet)] { finishDiscovery(run, usb, net); },
            Qt::QueuedConnection);
    });
}

void PrinterModel::finishDiscovery(quint64 run, const QList<Printer>& usb, const QList<Printer>& net)
{
    if (run != discoveryRun_) {
        qCDebug(lcMonitor).nospace() << "discarding superseded discovery run " << run;
        return;
    }

    isWakeUp_ = true;
    setPrinterList(printerList_ + usb + net);
    qCDebug(lcMonitor).nospace().noquote() << "printerlist size = " << printerList_.size();

    if (printerList_.isEmpty()) {
        setStatusInfo({3, QStringLiteral("没有连接的设备"), QStringLiteral("请刷新打印机列表或检查设备连接状态"), std::nullopt, 0});
        setSelectedPrinter(Printer(QString()));
        setShowNoPrinterAlter(true);
    } else {
        setSelectedPrinter(printerList_.first());
        updateStatus(selectedPrinter_);
    }

    // An alert about an empty list still up keeps the refresh alert down.
    if (!showNoPrinterAlter_)
        setShowRefreshAlter(true);
    setIsSearchingPrinter(false);
}

void PrinterModel::createWakeUpServer() { transport_->createWakeUpServer(*this); }

void PrinterModel::updateStatus(const Printer&)
{
    if (!isWakeUp_) {
        timer_.stop();
        return;
    }
    initStatus();
    qCDebug(lcMonitor).nospace().noquote() << "timer status = " << timerModeName(timerMode_);
    switch (timerMode_) {
    case TimerMode::running:
        timer_.stop();
        startTimer();
        break;
    case TimerMode::stopped:
        startTimer();
        break;
    case TimerMode::paused:
        break;
    }
}

void PrinterModel::stopUpdateStatus()
{
    if (timerMode_ != TimerMode::running)
        return;
    timer_.stop();
    setTimerMode(TimerMode::stopped);
}

void PrinterModel::startTimer()
{
    qCDebug(lcMonitor) << "timer started";
    setTimerMode(TimerMode::running);
    timer_.stop();
    if (selectedPrinter_.type == QLatin1String("USB"))
        tickLink_ = Link::usb;
    else if (selectedPrinter_.type == QLatin1String("Net"))
        tickLink_ = Link::network;
    else
        return;  // nothing to poll for the placeholder
    timer_.start(options_.pollIntervalMs);
}

void PrinterModel::initStatus()
{
    if (selectedPrinter_.type == QLatin1String("USB"))
        getUSBControlRequestInfo();
    else if (selectedPrinter_.type == QLatin1String("Net"))
        getSNMPStatus();
}

void PrinterModel::getSNMPStatus() { queryStatus(Link::network); }

void PrinterModel::getUSBControlRequestInfo() { queryStatus(Link::usb); }

void PrinterModel::tick()
{
    if (!isWakeUp_)
        return;
    // A printer that has gone away takes its whole time-out to answer; let
    // ticks lapse rather than pile up behind it.
    if (queriesInFlight_ > 0)
        return;
    queryStatus(tickLink_);
}

void PrinterModel::queryStatus(Link link)
{
    const quint64 selection = selectionEpoch_;
    ++queriesInFlight_;
    auto transport = transport_;
    io_.post([this, transport, link, selection, printer = selectedPrinter_] {
        const StatusReading reading = link == Link::usb ? transport->getUSBControlRequestInfo(printer)
                                                        : transport->getSNMPStatus(printer);
        QMetaObject::invokeMethod(
            this, [this, selection, link, reading] { applyReading(selection, link, reading); },
            Qt::QueuedConnection);
    });
}

void PrinterModel::applyReading(quint64 selection, Link link, const StatusReading& reading)
{
    if (selection != selectionEpoch_)
        return;  // asked about a selection the user has since replaced
    --queriesInFlight_;

    if (!reading.answered) {
        showDisconnected(link);
        return;
    }

    qCDebug(lcMonitor).nospace().noquote() << "status code = " << reading.code << " toner = " << reading.toner.value_or(-1)
                                           << " haswakeup = " << selectedPrinter_.hasWakeUp;
    if (reading.code == kStatusAsleep && selectedPrinter_.hasWakeUp) {
        qCDebug(lcMonitor) << "printer sleeps, status queries stop";
        isWakeUp_ = false;
    }

    qCDebug(lcMonitor).nospace().noquote() << "select printer is " << selectedPrinter_.name
                                           << " and status code = " << reading.code;
    const DecodedStatus decoded = decodeStatusInfo(reading.code, selectedPrinter_.name.toStdString());
    statusInfo_.level = decoded.level;
    statusInfo_.message = QString::fromStdString(decoded.message);
    statusInfo_.discription = QString::fromStdString(decoded.discription);
    statusInfo_.code = reading.code;
    // An unreadable level says nothing new: the last known one stands.
    if (reading.toner)
        statusInfo_.toner = reading.toner;
    emit statusInfoChanged();
}

// The toner keeps its last value.
void PrinterModel::showDisconnected(Link link)
{
    const DecodedStatus decoded = noAnswerStatus(link);
    statusInfo_.level = decoded.level;
    statusInfo_.message = QString::fromStdString(decoded.message);
    statusInfo_.discription = QString::fromStdString(decoded.discription);
    statusInfo_.code = kStatusNoAnswer;
    emit statusInfoChanged();
}

namespace {

bool isUSB(const Printer& p) { return p.type == QLatin1String("USB"); }

bool sameDevice(const Printer& a, const Printer& b)
{
    return a.name == b.name && a.VID == b.VID && a.PID == b.PID && a.serial == b.serial;
}

}  // namespace

void PrinterModel::usbDeviceChanged(const UsbDeviceChange& change)
{
    qCDebug(lcMonitor).nospace() << "usb device " << (change.arrived ? "arrived" : "left") << " pid = " << change.PID
                                 << " and vid = " << change.VID;
    // The event does not say which of two printers of one model left: then
    // the rescan, which knows them by serial, decides.
    const auto sameModel = [&](const Printer& p) {
        return isUSB(p) && p.VID == change.VID && p.PID == change.PID && !sameDevice(p, selectedPrinter_);
    };
    if (!change.arrived && isUSB(selectedPrinter_) && selectedPrinter_.VID == change.VID &&
        selectedPrinter_.PID == change.PID && std::none_of(printerList_.begin(), printerList_.end(), sameModel)) {
        // Readings still on their way were taken before the printer left.
        ++selectionEpoch_;
        queriesInFlight_ = 0;
        showDisconnected(Link::usb);
    }
    usbSettle_.start();  // restarted by each event of a burst
}

void PrinterModel::rescanUSB()
{
    const quint64 run = discoveryRun_;
    auto transport = transport_;
    io_.post([this, transport, run] {
        if (run != discoveryRun_)
            return;  // a newer discovery run lists the USB printers itself
        QList<Printer> found = transport->getPrinterByIOUSB();
        QMetaObject::invokeMethod(
            this, [this, run, usb = std::move(found)] { finishUSBRescan(run, usb); }, Qt::QueuedConnection);
    });
}

// The USB part of the list follows the bus; the network part stays as it is.
void PrinterModel::finishUSBRescan(quint64 run, const QList<Printer>& usb)
{
    if (run != discoveryRun_ || isSearchingPrinter_)
        return;
    // Printers still attached keep their records, the selection's included.
    QList<Printer> known;
    std::copy_if(printerList_.begin(), printerList_.end(), std::back_inserter(known), isUSB);
    const bool selectionListed = printerList_.contains(selectedPrinter_);
    if (isUSB(selectedPrinter_) && !selectionListed)
        known.append(selectedPrinter_);
    QList<Printer> list;
    for (const Printer& found : usb) {
        const auto same = std::find_if(known.begin(), known.end(), [&](const Printer& p) { return sameDevice(p, found); });
        if (same == known.end()) {
            list.append(found);
        } else {
            list.append(*same);
            known.erase(same);
        }
    }
    std::copy_if(printerList_.begin(), printerList_.end(), std::back_inserter(list),
                 [](const Printer& p) { return !isUSB(p); });
    setPrinterList(list);
    qCDebug(lcMonitor).nospace().noquote() << "printerlist size = " << printerList_.size();

    if (selectedPrinter_.name.isEmpty()) {
        if (!list.isEmpty()) {
            isWakeUp_ = true;
            setSelectedPrinter(list.first());
            updateStatus(selectedPrinter_);
        }
    } else if (isUSB(selectedPrinter_)) {
        const bool listed = list.contains(selectedPrinter_);
        if (!listed && selectionListed && statusInfo_.code != kStatusNoAnswer) {
            ++selectionEpoch_;
            queriesInFlight_ = 0;
            showDisconnected(Link::usb);
        } else if (listed && !selectionListed) {
            initStatus();  // back: no need to wait for the next tick
        }
    }
}

void PrinterModel::refresh()
{
    setIsSearchingPrinter(true);
    setSelectedPrinter(Printer(QString()));
    setStatusInfo({1, QStringLiteral("正在连接"), QString(), std::nullopt, kStatusConnecting});
    stopUpdateStatus();
    getPrinterList();
}

void PrinterModel::readOnce(const Printer& printer)
{
    setStatusInfo({1, QStringLiteral("connecting"), QString(), std::nullopt, kStatusConnecting});
    setSelectedPrinter(printer);
    isWakeUp_ = true;
    stopUpdateStatus();
    initStatus();
}

void PrinterModel::clickPrinter(const Printer& printer)
{
    setStatusInfo({1, QStringLiteral("connecting"), QString(), std::nullopt, kStatusConnecting});
    setSelectedPrinter(printer);
    isWakeUp_ = true;
    updateStatus(printer);
}
