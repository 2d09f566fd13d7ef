#include "MonitorTray.h"

#include "PrinterModel.h"
#include "PrinterNotices.h"
#include "StatusCodes.h"
#include "Strings.h"

using vexo::ui::text;

MonitorTray::MonitorTray(PrinterModel& printers, QObject* parent)
    : QObject(parent), printers_(printers)
{
    open_ = menu_.addAction(text(QStringLiteral("openWindow")));
    refresh_ = menu_.addAction(text(QStringLiteral("refresh")));
    notifications_ = menu_.addAction(text(QStringLiteral("notifications")));
    menu_.addSeparator();
    quit_ = menu_.addAction(text(QStringLiteral("quit")));
    menu_.setObjectName(QStringLiteral("trayMenu"));
    open_->setObjectName(QStringLiteral("openWindow"));
    refresh_->setObjectName(QStringLiteral("refresh"));
    notifications_->setObjectName(QStringLiteral("notifications"));
    notifications_->setCheckable(true);
    quit_->setObjectName(QStringLiteral("quit"));
    icon_.setContextMenu(&menu_);
    // A click on the icon opens the window, as the menu's first entry does.
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            open_->trigger();
    });

    for (auto changed : {&PrinterModel::selectedPrinterChanged, &PrinterModel::statusInfoChanged})
        connect(&printers_, changed, this, &MonitorTray::render);
    render();
}

vexo::ui::PrinterLook MonitorTray::look() const
{
    const StatusInfo s = printers_.statusInfo();
    // Connecting: nothing known yet, so no state is claimed.
    if (printers_.selectedPrinter().name.isEmpty() || s.code == 0 || s.code == kStatusConnecting)
        return vexo::ui::PrinterLook::noPrinter;
    if (s.code == kStatusNoAnswer)
        return vexo::ui::PrinterLook::disconnected;
    if (s.level == 1)
        return vexo::ui::PrinterLook::normal;
    return s.level == 2 ? vexo::ui::PrinterLook::warning : vexo::ui::PrinterLook::error;
}

QString MonitorTray::toolTip() const
{
    const Printer p = printers_.selectedPrinter();
    if (p.name.isEmpty())
        return text(QStringLiteral("noPrinterSelected"));
    const StatusInfo s = printers_.statusInfo();
    // The connecting message may be a key, as in the window.
    QString tip = (p.label.isEmpty() ? p.name : p.label) + u'\n' + text(s.message);
    if (const auto toner = tonerOf(p, s))
        tip += u'\n' + text(QStringLiteral("tonerInfo")) + QStringLiteral(": %1%").arg(*toner);
    return tip;
}

void MonitorTray::render()
{
    icon_.setIcon(vexo::ui::stateIcon(look()));
    icon_.setToolTip(toolTip());
}
