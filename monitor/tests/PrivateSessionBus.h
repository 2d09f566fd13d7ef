#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

// A session bus of the test's own: a dbus-daemon started for it and ended
// with it, so nothing of the desktop's bus is seen or touched.
class PrivateSessionBus {
public:
    PrivateSessionBus() = default;
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    ~PrivateSessionBus()
    {
        for (const QString& name : names_)
            QDBusConnection::disconnectFromBus(name);
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            daemon_.waitForFinished(5000);
        }
    }

    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty(); }

    // The bus address, or empty when the daemon did not come up.
    QString start()
    {
        daemon_.start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!daemon_.waitForReadyRead(10000))
            return {};
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        return address_;
    }

    const QString& address() const { return address_; }

    // A connection of this process to the bus under `name`; closed with the bus.
    QDBusConnection connect(const QString& name)
    {
        names_.append(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};
