#include "TonerGauge.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

TonerGauge::TonerGauge(QWidget* parent) : QWidget(parent)
{
    setFixedSize(80, 80);
}

void TonerGauge::setToner(std::optional<qint64> percent)
{
    if (percent == toner_)
        return;
    toner_ = percent;
    update();
}

void TonerGauge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF ring = QRectF(rect()).adjusted(5, 5, -5, -5);

    p.setPen(QPen(QColor(0, 0, 0, 26), 5));
    p.drawEllipse(ring);

    // A reading outside 0-100 still draws a sensible ring.
    const qint64 shown = std::clamp<qint64>(toner_.value_or(0), 0, 100);
    if (shown > 0) {
        QLinearGradient gradient(ring.topLeft(), ring.bottomRight());
        gradient.setColorAt(0, QColor(0x36, 0xd1, 0xdc));
        gradient.setColorAt(1, QColor(0x5b, 0x86, 0xe5));
        const int span = -int(shown * 360 * 16 / 100);  // clockwise from the top
        p.setPen(QPen(QColor(0, 0, 0, 40), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(ring.translated(0, 1.5), 90 * 16, span);
        p.setPen(QPen(QBrush(gradient), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(ring, 90 * 16, span);
    }

    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignCenter, toner_ ? QString::number(*toner_) + u'%' : QStringLiteral("--"));
}
