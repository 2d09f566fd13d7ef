#include "LaunchHelper.h"

#include "LaunchNames.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdio>

namespace {

using namespace launch;

void say(const QString& line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// The Exec key without its field codes (%f, %U, ...).
std::optional<QStringList> execOf(const QString& desktopFile)
{
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    bool inEntry = false;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(u'['))
            inEntry = line == u"[Desktop Entry]";
        else if (inEntry && line.startsWith(u"Exec=")) {
            QStringList args = QProcess::splitCommand(line.mid(5));
            args.removeIf([](const QString& a) { return a.size() == 2 && a.startsWith(u'%'); });
            if (!args.isEmpty())
                return args;
        }
    }
    return std::nullopt;
}

}  // namespace

LaunchHelper::LaunchHelper(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

std::optional<QStringList> LaunchHelper::findMonitor()
{
    const QString entry = QStandardPaths::locate(QStandardPaths::ApplicationsLocation,
                                                 monitorIdentifier + QStringLiteral(".desktop"));
    if (!entry.isEmpty())
        if (auto args = execOf(entry))
            return args;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/vexoStateMonitor");
    if (QFileInfo(beside).isExecutable())
        return QStringList{beside};
    return std::nullopt;
}

LaunchHelper::Outcome LaunchHelper::applicationDidFinishLaunching()
{
    if (bus_.isConnected() && bus_.interface() && bus_.interface()->isServiceRegistered(monitorIdentifier))
        return Outcome::monitorRunning;

    if (bus_.isConnected())
        bus_.connect(QString(), notificationPath, notificationInterface, terminateNotification, this,
                     SLOT(terminate(QString)));

    const auto monitor = findMonitor();
    if (!monitor) {
        say(QStringLiteral("bundleId not found(") + monitorIdentifier + u')');
        return Outcome::notFound;
    }
    QStringList args = *monitor;
    const QString program = args.takeFirst();
    args.append(quietStartFlag);
    if (!QProcess::startDetached(program, args))
        say(QStringLiteral("cannot start ") + program);
    return Outcome::launched;
}

void LaunchHelper::terminate(const QString& object)
{
    if (object == monitorIdentifier)
        emit quitRequested();
}
