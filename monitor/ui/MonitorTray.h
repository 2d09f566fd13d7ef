#pragma once

#include "Pictures.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

class PrinterModel;
class QAction;

// The monitor in the desktop's tray: the selected printer's state as its
// icon and tooltip, and a menu to open the window, search again, switch
// notifications and quit. The actions are for the owner to connect.
class MonitorTray : public QObject {
    Q_OBJECT

public:
    explicit MonitorTray(PrinterModel& printers, QObject* parent = nullptr);

    QSystemTrayIcon& icon() { return icon_; }
    QMenu& menu() { return menu_; }
    QAction* openAction() const { return open_; }
    QAction* refreshAction() const { return refresh_; }
    QAction* notificationsAction() const { return notifications_; }
    QAction* quitAction() const { return quit_; }

    vexo::ui::PrinterLook look() const;
    QString toolTip() const;

private:
    void render();

    PrinterModel& printers_;
    QMenu menu_;
    QSystemTrayIcon icon_;
    QAction* open_ = nullptr;
    QAction* refresh_ = nullptr;
    QAction* notifications_ = nullptr;
    QAction* quit_ = nullptr;
};
