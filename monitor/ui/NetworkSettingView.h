#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QTabWidget>

class APSettingView;
class ClientModeSettingView;
class NetworkModel;

// The two settings forms of a USB printer with Wi-Fi, in tabs.
class NetworkSettingView : public QTabWidget {
    Q_OBJECT

public:
    explicit NetworkSettingView(NetworkModel& network, QWidget* parent = nullptr);

    // Asks the printer for its settings and its scan; the forms fill in as
    // the answers arrive.
    void readFromPrinter();

    APSettingView* apView() const { return ap_; }
    ClientModeSettingView* clientView() const { return client_; }
    // What went wrong while reading, if anything did.
    QMessageBox* alert() const { return alert_; }

private:
    NetworkModel& network_;
    APSettingView* ap_;
    ClientModeSettingView* client_;
    QPointer<QMessageBox> alert_;
};
