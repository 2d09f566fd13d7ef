#pragma once

#include "CommandCarrier.h"
#include "WifiCommands.h"
#include "WifiSettings.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class PrinterModel;
class SerialWorker;

// The wireless setup of the selected printer: its own access point, the
// network it joins as a station, and the networks it sees.
//
// Lives on the main thread and is only touched there. Every exchange runs on
// the printer model's I/O thread, behind and before its status queries, so
// the window never waits for a printer; the state below is updated and the
// caller's callback runs back on the main thread, in the order of the calls.
class NetworkModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showNetworkSetting READ showNetworkSetting WRITE setShowNetworkSetting NOTIFY
                   showNetworkSettingChanged)

public:
    static inline const QString GETHOTSPOTLISTCMD = QStringLiteral("Checkwifiserver?");

    struct Carriers {
        std::shared_ptr<CommandCarrier> usb;  // null: the bulk pipes
        std::shared_ptr<CommandCarrier> tcp;  // null: the command port 9101
    };

    struct Options {
        // A printer still scanning is asked again after this pause, at
        // most scanTries times in all, so it cannot hold the scan for ever.
        std::chrono::milliseconds scanRetryInterval{2000};
        int scanTries = 5;
    };

    using ReplyHandler = std::function<void(const std::optional<QString>& reply)>;

    // The printer model gives the selection and the I/O thread; it must
    // outlive this model.
    explicit NetworkModel(PrinterModel& printers, Carriers carriers = {}, QObject* parent = nullptr);
    NetworkModel(PrinterModel& printers, Carriers carriers, Options options, QObject* parent = nullptr);
    ~NetworkModel() override;

    const APSetting& apSetting() const { return apSetting_; }
    void setAPSetting(const APSetting& setting) { apSetting_ = setting; }
    const ClietModeSetting& clietModeSetting() const { return clietModeSetting_; }
    void setClietModeSetting(const ClietModeSetting& setting) { clietModeSetting_ = setting; }
    const QList<HotSpot>& hotSpotList() const { return hotSpotList_; }
    // How the last scan ended: an empty list is no data unless it says networks.
    vexo::config::ScanResult lastScanResult() const { return lastScan_; }
    // The printer sent more than could be read: the list is its first part.
    bool lastScanCut() const { return lastScanCut_; }

    bool showAlter() const { return showAlter_; }
    void setShowAlter(bool show) { showAlter_ = show; }
    const QString& alterTitle() const { return alterTitle_; }
    const QString& alterInfo() const { return alterInfo_; }

    bool showNetworkSetting() const { return showNetworkSetting_; }
    void setShowNetworkSetting(bool show);

    // One command to the selected printer, over the command port for a
    // network printer and over USB otherwise. The reply, absent when the
    // exchange failed, reaches the handler on the main thread.
    void sendCommand(const QString& cmd, ReplyHandler handler);
    // Whether the printer answered the exchange whose callback is running:
    // an unreadable answer and none at all end in the same triple.
    bool lastExchangeAnswered() const { return lastExchangeAnswered_; }
    // What the carrier said of that exchange: why it failed, or that the
    // reply was cut at the read limit.
    const ExchangeNote& lastExchangeNote() const { return lastExchangeNote_; }

    // Each operation returns at once; `done` gets its alert triple on the
    // main thread when it is over.
    void getAPInfo(AlertCallback done = {});
    void setAPInfo(AlertCallback done = {});
    void getClientModeInfo(AlertCallback done = {});
    void setClientModeInfo(AlertCallback done = {});
    // Silent but for a printer that never finishes its scan. A new scan
    // supersedes one still waiting.
    void getHotSpotList(AlertCallback done = {});

signals:
    void showNetworkSettingChanged();

private:
    struct Link;

    void raise(const std::optional<AlertTriple>& alter);
    void deliverLater(AlertCallback done, AlertTriple triple);
    void askForHotSpots(quint64 scan, int attempt, AlertCallback done);

    PrinterModel& printers_;
    SerialWorker& io_;
    Options options_;
    std::shared_ptr<Link> link_;

    APSetting apSetting_{QString(), 1, QString(), QString(), QString(), QString()};
    ClietModeSetting clietModeSetting_;
    QList<HotSpot> hotSpotList_;
    vexo::config::ScanResult lastScan_ = vexo::config::ScanResult::unreadable;
    bool lastScanCut_ = false;
    bool showAlter_ = false;
    QString alterTitle_;
    QString alterInfo_;
    bool showNetworkSetting_ = false;
    quint64 scanRun_ = 0;
    bool lastExchangeAnswered_ = false;
    ExchangeNote lastExchangeNote_;
};
