// QXLaunchHelper: run at login, starts the status monitor once.

#include "LaunchHelper.h"
#include "LaunchNames.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("QXLaunchHelper"));

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // Nobody could tell us to quit, nor tell whether the monitor runs.
        std::fprintf(stdout, "no session bus: starting the monitor without waiting\n");
        std::fflush(stdout);
        LaunchHelper(bus).applicationDidFinishLaunching();
        return 0;
    }
    if (!bus.registerService(launch::helperIdentifier)) {
        std::fprintf(stdout, "another helper runs already\n");
        return 0;
    }

    LaunchHelper helper(bus);
    QObject::connect(&helper, &LaunchHelper::quitRequested, &app, &QCoreApplication::quit);
    if (helper.applicationDidFinishLaunching() == LaunchHelper::Outcome::monitorRunning)
        return 0;
    return app.exec();
}
