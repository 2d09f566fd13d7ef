#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <functional>

// The printer's own access point.
struct APSetting {
    QString APName;
    // Read from the printer: 1 when it reports code "6", else 0.
    // Written to it: 6 encrypted (WPA2-PSK AES), 0 open.
    int encryptMode = 1;
    QString APPassword;
    QString ip;
    QString mask;
    QString gateway;

    friend bool operator==(const APSetting&, const APSetting&) = default;
};

// The network the printer joins as a station.
struct ClietModeSetting {
    QString WifiName;
    QString WifiPassword;
    // Index into NetworkModel::hotSpotList of the network to join.
    int orderInList = 0;
    // As the printer reports it; written as "D" (DHCP) or "S" (fixed).
    QString ipSetType = QStringLiteral("Manual");
    QString ip;
    QString mask;
    QString gateway;

    friend bool operator==(const ClietModeSetting&, const ClietModeSetting&) = default;
};

// One network the printer sees; id is its place among the accepted scan lines.
struct HotSpot {
    int id = 0;
    QString name;
    int signalDB = 0;  // 0-9

    friend bool operator==(const HotSpot&, const HotSpot&) = default;
};

size_t qHash(const HotSpot& h, size_t seed = 0) noexcept;

// What an operation asks the caller to show: (show, title, text).
struct AlertTriple {
    bool show = false;
    QString title;
    QString text;

    friend bool operator==(const AlertTriple&, const AlertTriple&) = default;
};

using AlertCallback = std::function<void(const AlertTriple&)>;

Q_DECLARE_METATYPE(APSetting)
Q_DECLARE_METATYPE(ClietModeSetting)
Q_DECLARE_METATYPE(HotSpot)
Q_DECLARE_METATYPE(AlertTriple)
