#include "Printer.h"

namespace {

QString fromView(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

}  // namespace

Printer::Printer(const QString& name) : id(QUuid::createUuid()), name(name) {}

Printer::Printer(QString name, QString label, QString type, QString ip, quint16 PID, quint16 VID,
                 qint64 hasWifi, qint64 hasTonerInfo, bool hasWakeUp, QString productImage)
    : id(QUuid::createUuid()), name(std::move(name)), label(std::move(label)), type(std::move(type)),
      ip(std::move(ip)), PID(PID), VID(VID), hasWifi(hasWifi), hasTonerInfo(hasTonerInfo),
      hasWakeUp(hasWakeUp), productImage(std::move(productImage))
{
}

Printer Printer::fromUSBDevice(const OrrinPrinter& row, quint16 vendorID, quint16 productID, const QString& serial)
{
    const QString model = fromView(row.printerName);
    const QString where = serial.isEmpty() ? QStringLiteral("USB") : QStringLiteral("USB ") + serial.right(4);
    Printer printer(model, model + u'(' + where + u')', QStringLiteral("USB"), QString(), productID, vendorID,
                    row.hasWifi, row.hasTonerInfo, row.hasWakeUp, fromView(row.productImage));
    printer.serial = serial;
    return printer;
}

Printer Printer::fromNetworkDevice(const OrrinPrinter& row, const QString& ip)
{
    const QString model = fromView(row.printerName);
    return Printer(model, model + u'(' + ip + u')', QStringLiteral("Net"), ip, row.PID,
                   printerVendorID, row.hasWifi, row.hasTonerInfo, row.hasWakeUp,
                   fromView(row.productImage));
}

Printer Printer::fromDevice(const FoundDevice& device)
{
    return device.link == Link::usb ? fromUSBDevice(*device.row, device.VID, device.PID,
                                                    QString::fromStdString(device.serial))
                                    : fromNetworkDevice(*device.row, QString::fromStdString(device.ip));
}

size_t qHash(const Printer& p, size_t seed) noexcept
{
    return qHashMulti(seed, p.id, p.name, p.label, p.type, p.ip, p.PID, p.VID, p.hasWifi,
                      p.hasTonerInfo, p.hasWakeUp, p.productImage, p.serial);
}

QList<Printer> printersForUSBDevice(quint16 vendorID, quint16 productID,
                                    std::span<const OrrinPrinter> catalogue, const QString& serial)
{
    QList<Printer> printers;
    for (const OrrinPrinter* row : matchUSBDevice(catalogue, vendorID, productID))
        printers.append(Printer::fromUSBDevice(*row, vendorID, productID, serial));
    return printers;
}

QList<Printer> printersForNetworkDevice(const QString& ip, const QString& sysObjectID,
                                        std::span<const OrrinPrinter> catalogue)
{
    const QByteArray reported = sysObjectID.toUtf8();
    QList<Printer> printers;
    for (const OrrinPrinter* row :
         matchSysObjectID(catalogue, std::string_view(reported.constData(), size_t(reported.size()))))
        printers.append(Printer::fromNetworkDevice(*row, ip));
    return printers;
}
