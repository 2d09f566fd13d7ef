#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vexo::ui {

// Pictures drawn here rather than shipped: the product picture named by a
// printer's productImage, the application icon and the signal icons.
QPixmap productPicture(const QString& imageName, const QSize& size = {200, 180});
QIcon appIcon();

// The tray's picture of the selected printer's state.
enum class PrinterLook { noPrinter, normal, warning, error, disconnected };
QIcon stateIcon(PrinterLook look);

// "custom.wifi.weak" up to 2, "custom.wifi.medium" for 3 and 4, "custom.wifi.strong" from 5.
QString signalIconName(int signalDB);
QIcon signalIcon(int signalDB);

}  // namespace vexo::ui
