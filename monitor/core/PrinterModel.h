#pragma once

#include "Printer.h"
#include "PrinterTransport.h"
#include "SerialWorker.h"
#include "StatusCodes.h"
#include "StatusInfo.h"
#include "TimerMode.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>

// The state behind the main window: the printers found by the last discovery,
// the selection, its decoded status and the timer polling it. Lives on the
// main thread; every property changes and notifies there. Printer exchanges
// run on one I/O thread and their results are applied here in issue order.
class PrinterModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<Printer> printerList READ printerList NOTIFY printerListChanged)
    Q_PROPERTY(Printer selectedPrinter READ selectedPrinter WRITE setSelectedPrinter NOTIFY selectedPrinterChanged)
    Q_PROPERTY(StatusInfo statusInfo READ statusInfo WRITE setStatusInfo NOTIFY statusInfoChanged)
    Q_PROPERTY(TimerMode timerMode READ timerMode NOTIFY timerModeChanged)
    Q_PROPERTY(bool showNoPrinterAlter READ showNoPrinterAlter WRITE setShowNoPrinterAlter NOTIFY showNoPrinterAlterChanged)
    Q_PROPERTY(bool showRefreshAlter READ showRefreshAlter WRITE setShowRefreshAlter NOTIFY showRefreshAlterChanged)
    Q_PROPERTY(bool isSearchingPrinter READ isSearchingPrinter WRITE setIsSearchingPrinter NOTIFY isSearchingPrinterChanged)

public:
    struct Options {
        int pollIntervalMs = 6000;
        int deviceSeries = ::deviceSeries;
        // USB plug events this close together cause one re-enumeration.
        int usbSettleMs = 300;
    };

    // Starts the first discovery run at once.
    explicit PrinterModel(std::shared_ptr<PrinterTransport> transport = nullptr, QObject* parent = nullptr);
    PrinterModel(std::shared_ptr<PrinterTransport> transport, Options options, QObject* parent = nullptr);
    ~PrinterModel() override;

    QList<Printer> printerList() const { return printerList_; }
    Printer selectedPrinter() const { return selectedPrinter_; }
    StatusInfo statusInfo() const { return statusInfo_; }
    TimerMode timerMode() const { return timerMode_; }
    bool showNoPrinterAlter() const { return showNoPrinterAlter_; }
    bool showRefreshAlter() const { return showRefreshAlter_; }
    bool isSearchingPrinter() const { return isSearchingPrinter_; }

    void setSelectedPrinter(const Printer& printer);
    void setStatusInfo(const StatusInfo& info);
    void setShowNoPrinterAlter(bool show);
    void setShowRefreshAlter(bool show);
    void setIsSearchingPrinter(bool searching);

    const QTimer& timer() const { return timer_; }
    // The one thread every printer exchange runs on, in the order posted.
    SerialWorker& ioWorker() { return io_; }
    bool isWakeUp() const { return isWakeUp_; }
    // Safe from any thread: applied on the model's thread.
    void setIsWakeUp(bool awake);

    // Empties the list and starts a discovery run; a run still going is superseded.
    void getPrinterList();
    void createWakeUpServer();
    // The argument is not used: the query always concerns selectedPrinter.
    void updateStatus(const Printer& sPrinter);
    void stopUpdateStatus();
    void startTimer();
    void initStatus();
    void getSNMPStatus();
    void getUSBControlRequestInfo();

    // View actions.
    void refresh();
    void clickPrinter(const Printer& printer);
    // Selects the printer and reads its status once, without polling: a
    // reading that takes the whole poll interval is still the only one.
    void readOnce(const Printer& printer);

signals:
    void printerListChanged();
    void selectedPrinterChanged();
    void statusInfoChanged();
    void timerModeChanged();
    void showNoPrinterAlterChanged();
    void showRefreshAlterChanged();
    void isSearchingPrinterChanged();

private:
    void setPrinterList(const QList<Printer>& list);
    void setTimerMode(TimerMode mode);
    void finishDiscovery(quint64 run, const QList<Printer>& usb, const QList<Printer>& net);
    void queryStatus(Link link);
    void applyReading(quint64 selection, Link link, const StatusReading& reading);
    void showDisconnected(Link link);
    void tick();
    void usbDeviceChanged(const UsbDeviceChange& change);
    void rescanUSB();
    void finishUSBRescan(quint64 run, const QList<Printer>& usb);

    std::shared_ptr<PrinterTransport> transport_;
    Options options_;

    QList<Printer> printerList_;
    Printer selectedPrinter_{QString()};
    StatusInfo statusInfo_{1, QStringLiteral("正在连接"), QString(), std::nullopt, kStatusConnecting};
    TimerMode timerMode_ = TimerMode::stopped;
    bool showNoPrinterAlter_ = false;
    bool showRefreshAlter_ = false;
    bool isSearchingPrinter_ = true;

    QTimer timer_;
    QTimer usbSettle_;
    Link tickLink_ = Link::usb;
    bool isWakeUp_ = true;

    // Only the latest discovery run may publish its results; the I/O thread
    // reads it to skip a run superseded before it started.
    std::atomic<quint64> discoveryRun_ = 0;
    // Bumped on every selection; a reading for an earlier selection is stale.
    quint64 selectionEpoch_ = 0;
    // Queries for the current selection still on the I/O thread; ticks wait for them.
    int queriesInFlight_ = 0;

    // Last member: its thread stops before anything it might post to goes away.
    SerialWorker io_;
};
