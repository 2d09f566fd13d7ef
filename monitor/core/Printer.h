#pragma once

#include "Catalogue.h"
#include "FoundDevice.h"

#include <QHashFunctions>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

// One found printer, as listed and as held for the selection. Every value gets
// a fresh id, so a printer found again by a later discovery is a new value.
struct Printer {
    QUuid id;
    QString name;   // catalogue model name, the key of the status tables
    QString label;  // list text: name + "(USB)" or name + "(" + ip + ")"; see fromUSBDevice
    QString type;   // "USB" or "Net"; anything else selects no connection branch
    QString ip;
    quint16 PID = 0;
    quint16 VID = 3837;
    qint64 hasWifi = 1;
    qint64 hasTonerInfo = 1;
    bool hasWakeUp = false;
    QString productImage;
    // A USB printer's serial number: what tells two printers of one model
    // apart. Empty for network printers and devices that give none.
    QString serial;

    // Placeholder: Printer("") means no printer selected.
    Printer() : Printer(QString()) {}
    explicit Printer(const QString& name);
    Printer(QString name, QString label, QString type, QString ip, quint16 PID, quint16 VID,
            qint64 hasWifi, qint64 hasTonerInfo, bool hasWakeUp, QString productImage);

    // A printer attached by USB, recognised by the given catalogue row. Its
    // label carries the serial's last four characters: "VEXO(USB 0002)".
    static Printer fromUSBDevice(const OrrinPrinter& row, quint16 vendorID, quint16 productID,
                                 const QString& serial = {});
    // A printer that answered network discovery from the given address.
    static Printer fromNetworkDevice(const OrrinPrinter& row, const QString& ip);
    // A printer the device layer found, on either link.
    static Printer fromDevice(const FoundDevice& device);

    friend bool operator==(const Printer&, const Printer&) = default;
};

size_t qHash(const Printer& p, size_t seed = 0) noexcept;

// One printer per catalogue row recognising the device, in catalogue order.
QList<Printer> printersForUSBDevice(quint16 vendorID, quint16 productID,
                                    std::span<const OrrinPrinter> catalogue = catalogueInForce(),
                                    const QString& serial = {});
QList<Printer> printersForNetworkDevice(const QString& ip, const QString& sysObjectID,
                                        std::span<const OrrinPrinter> catalogue = catalogueInForce());

Q_DECLARE_METATYPE(Printer)
