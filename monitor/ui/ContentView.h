#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

class NetworkModel;
class NetworkSettingView;
class PrinterModel;
class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QToolButton;
class StartAtLogin;
class TonerGauge;

// The main window: the printer list on the left, the selected printer's
// status or its network settings on the right. Everything shown is read from
// the two models; every action is a call on them.
class ContentView : public QWidget {
    Q_OBJECT

public:
    ContentView(PrinterModel& printers, NetworkModel& network, StartAtLogin& startup, QWidget* parent = nullptr);

    // The refresh button: a new search, back from the settings panel.
    void refresh();

    NetworkSettingView* settingsView() const { return settings_; }
    QMessageBox* refreshAlert() const { return refreshAlert_; }
    QMessageBox* noPrinterAlert() const { return noPrinterAlert_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void render();
    void renderList();
    void syncAlerts();
    void openNetworkSetting();

    PrinterModel& printers_;
    NetworkModel& network_;
    StartAtLogin& startup_;

    QLabel* listTitle_;
    QToolButton* refresh_;
    QListWidget* list_;
    QStackedWidget* panel_;
    QLabel* name_;
    QPushButton* networkSetting_;
    QCheckBox* startupSwitch_;
    QLabel* picture_;
    QLabel* connection_;
    QLabel* model_;
    QLabel* message_;
    QLabel* advice_;
    QLabel* code_;
    QWidget* tonerBox_;
    TonerGauge* gauge_;
    NetworkSettingView* settings_;
    QPointer<QMessageBox> refreshAlert_;
    QPointer<QMessageBox> noPrinterAlert_;
};
