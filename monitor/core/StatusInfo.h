#pragma once

#include <QMetaType>
#include <QString>

#include <optional>

// Decoded state of the selected printer as the status panel shows it.
struct StatusInfo {
    qint64 level = 1;     // 1 normal, 2 warning, 3 error
    QString message;
    QString discription;  // advice, may be empty
    std::optional<qint64> toner;  // percent 0..100; absent while unknown
    qint64 code = 0;      // raw code; kStatusConnecting, kStatusNoAnswer, 0 no printer

    StatusInfo() = default;
    StatusInfo(qint64 level, QString message, QString discription, std::optional<qint64> toner, qint64 code)
        : level(level), message(std::move(message)), discription(std::move(discription)),
          toner(toner), code(code)
    {
    }
};

Q_DECLARE_METATYPE(StatusInfo)
