// Stands in for the monitor: owns its bus name and notes each start.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QFile log(qEnvironmentVariable("VEXO_FAKE_MONITOR_LOG"));
    if (log.open(QIODevice::Append)) {
        log.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        log.close();
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerService(QStringLiteral("com.vexo.statusmonitor")))
        return 0;
    return app.exec();
}
