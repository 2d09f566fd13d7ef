#include "Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace vexo::ui {

namespace {

// A plain desktop laser printer; multifunction models get a scanner lid.
void drawPrinter(QPainter& p, const QRectF& r, bool scanner)
{
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = r.width();
    const qreal h = r.height();
    const QRectF body(r.left() + w * 0.1, r.top() + h * 0.3, w * 0.8, h * 0.5);

    QLinearGradient shell(body.topLeft(), body.bottomLeft());
    shell.setColorAt(0, QColor(0xf4, 0xf5, 0xf7));
    shell.setColorAt(1, QColor(0xc9, 0xcd, 0xd3));
    p.setPen(QPen(QColor(0x8a, 0x90, 0x99), 1.5));
    p.setBrush(shell);
    p.drawRoundedRect(body, w * 0.04, w * 0.04);

    if (scanner) {
        const QRectF lid(body.left() + w * 0.02, r.top() + h * 0.18, body.width() - w * 0.04, h * 0.12);
        p.setBrush(QColor(0x5d, 0x63, 0x6c));
        p.drawRoundedRect(lid, w * 0.02, w * 0.02);
    } else {
        // paper coming out of the top
        const QRectF sheet(body.left() + w * 0.2, r.top() + h * 0.16, body.width() - w * 0.4, h * 0.16);
        p.setBrush(Qt::white);
        p.drawRect(sheet);
    }

    const QRectF slot(body.left() + w * 0.12, body.top() + h * 0.08, body.width() - w * 0.24, h * 0.05);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3b, 0x40, 0x47));
    p.drawRoundedRect(slot, 3, 3);

    const QRectF tray(body.left() + w * 0.08, body.bottom() - h * 0.14, body.width() - w * 0.16, h * 0.08);
    p.setBrush(QColor(0xa9, 0xae, 0xb6));
    p.drawRoundedRect(tray, 3, 3);

    const QRectF panel(body.right() - w * 0.2, body.top() + h * 0.18, w * 0.12, h * 0.08);
    p.setBrush(QColor(0x2c, 0x3e, 0x50));
    p.drawRoundedRect(panel, 2, 2);
    p.setBrush(QColor(0x2e, 0xcc, 0x71));
    p.drawEllipse(QPointF(panel.left() - w * 0.04, panel.center().y()), w * 0.015, w * 0.015);
}

}  // namespace

QPixmap productPicture(const QString& imageName, const QSize& size)
{
    if (imageName.isEmpty())
        return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    drawPrinter(p, QRectF(QPointF(0, 0), QSizeF(size)), imageName.startsWith(u"mf"));
    return pixmap;
}

QIcon appIcon()
{
    QPixmap pixmap(128, 128);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x6f, 0xd9));
    p.drawRoundedRect(QRectF(4, 4, 120, 120), 26, 26);
    drawPrinter(p, QRectF(14, 14, 100, 100), false);
    return QIcon(pixmap);
}

QIcon stateIcon(PrinterLook look)
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    if (look == PrinterLook::noPrinter)
        p.setOpacity(0.45);
    drawPrinter(p, QRectF(0, 0, 64, 64), false);
    if (look == PrinterLook::noPrinter)
        return QIcon(pixmap);

    // A badge in the corner, readable at tray size.
    const QRectF badge(34, 34, 28, 28);
    const QColor colour = look == PrinterLook::normal    ? QColor(0x2e, 0xa0, 0x43)
                          : look == PrinterLook::warning ? QColor(0xf0, 0x8c, 0x00)
                          : look == PrinterLook::error   ? QColor(0xd9, 0x2d, 0x20)
                                                         : QColor(0x6b, 0x70, 0x78);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(colour);
    p.drawEllipse(badge);
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF c = badge.center();
    if (look == PrinterLook::normal) {
        p.drawPolyline(QPolygonF({c + QPointF(-7, 0), c + QPointF(-2, 5), c + QPointF(7, -5)}));
    } else if (look == PrinterLook::disconnected) {
        p.drawLine(c + QPointF(-6, -6), c + QPointF(6, 6));
        p.drawLine(c + QPointF(-6, 6), c + QPointF(6, -6));
    } else {
        p.drawLine(c + QPointF(0, -8), c + QPointF(0, 2));
        p.drawPoint(c + QPointF(0, 8));
    }
    return QIcon(pixmap);
}

QString signalIconName(int signalDB)
{
    if (signalDB <= 2)
        return QStringLiteral("custom.wifi.weak");
    if (signalDB <= 4)
        return QStringLiteral("custom.wifi.medium");
    return QStringLiteral("custom.wifi.strong");
}

QIcon signalIcon(int signalDB)
{
    const int bars = signalDB <= 2 ? 1 : signalDB <= 4 ? 2 : 3;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(i < bars ? QColor(0x20, 0x20, 0x20) : QColor(0, 0, 0, 45));
        const int height = 5 + i * 4;
        p.drawRect(2 + i * 5, 15 - height, 3, height);
    }
    return QIcon(pixmap);
}

}  // namespace vexo::ui
