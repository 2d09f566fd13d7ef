// Stands in for the monitor: owns its bus name and notes each start with
// its arguments.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QFile log(qEnvironmentVariable("VEXO_FAKE_MONITOR_LOG"));
    if (log.open(QIODevice::Append)) {
        QStringList line = QCoreApplication::arguments();
        line[0] = QString::number(QCoreApplication::applicationPid());
        log.write(line.join(u'\t').toUtf8() + '\n');
        log.close();
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerService(QStringLiteral("com.vexo.statusmonitor")))
        return 0;
    return app.exec();
}
