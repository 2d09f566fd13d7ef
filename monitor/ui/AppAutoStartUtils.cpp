#include "AppAutoStartUtils.h"

#include "Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Quoted as the desktop entry format asks, so any path survives.
QString execQuoted(const QString& path)
{
    QString out = QStringLiteral("\"");
    for (QChar c : path) {
        // The entry's string escapes apply before the quoting rule.
        if (c == u'\\')
            out += QStringLiteral("\\\\\\\\");
        else if (c == u'"' || c == u'`' || c == u'$')
            out += QStringLiteral("\\\\") + c;
        else
            out += c;
    }
    return out + u'"';
}

QDBusConnection busFor(const AutoStartPlace& place)
{
    return place.busName.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(place.busName);
}

}  // namespace

AutoStartPlace AppAutoStartUtils::defaultPlace()
{
    AutoStartPlace place;
    place.helperPath = QCoreApplication::applicationDirPath() + QStringLiteral("/QXLaunchHelper");
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    place.autostartDir = config + QStringLiteral("/autostart");
    return place;
}

QString AppAutoStartUtils::entryPath(const AutoStartPlace& place)
{
    return place.autostartDir + u'/' + launch::helperIdentifier + QStringLiteral(".desktop");
}

bool AppAutoStartUtils::addLoginItem(const AutoStartPlace& place)
{
    if (!QDir().mkpath(place.autostartDir)) {
        qCInfo(lcMonitor).noquote() << "cannot create " + place.autostartDir;
        return false;
    }
    QSaveFile file(entryPath(place));
    if (!file.open(QIODevice::WriteOnly)) {
        qCInfo(lcMonitor).noquote() << file.errorString();
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=QXLaunchHelper\n"
                                         "Comment=Starts the printer status monitor at login\n"
                                         "Exec=%1\n"
                                         "NoDisplay=true\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execQuoted(QFileInfo(place.helperPath).absoluteFilePath()));
    file.write(entry.toUtf8());
    if (!file.commit()) {
        qCInfo(lcMonitor).noquote() << file.errorString();
        return false;
    }
    qCInfo(lcMonitor) << "auto start register ok";
    return true;
}

bool AppAutoStartUtils::removeLoginItem(const AutoStartPlace& place)
{
    QFile file(entryPath(place));
    if (file.exists() && !file.remove()) {
        qCInfo(lcMonitor).noquote() << file.errorString();
        return false;
    }
    qCInfo(lcMonitor) << "auto start unregister ok";
    return true;
}

void AppAutoStartUtils::setAppAutoStart(bool isAutoStart, const AutoStartPlace& place)
{
    if (!QFileInfo::exists(place.helperPath)) {
        qCInfo(lcMonitor) << "launcherApp no exist";
        qCInfo(lcMonitor).noquote() << "(" + place.helperPath + ")";
        return;
    }
    if (isAutoStart)
        addLoginItem(place);
    else
        removeLoginItem(place);

    qCInfo(lcMonitor).noquote() << "bundle.main.bundleidentifier is " + launch::monitorIdentifier;

    // A helper still running from login quits after every change.
    QDBusConnection bus = busFor(place);
    if (!bus.isConnected()) {
        qCInfo(lcMonitor) << "no session bus: a running login helper is not told to quit";
        return;
    }
    if (!bus.interface() || !bus.interface()->isServiceRegistered(launch::helperIdentifier))
        return;
    QDBusMessage signal = QDBusMessage::createSignal(launch::notificationPath, launch::notificationInterface,
                                                     launch::terminateNotification);
    signal << launch::monitorIdentifier;
    bus.send(signal);
}

bool Preference::startup(const QSettings& settings)
{
    const QVariant value = settings.value(startupKey);
    const QString text = value.toString();
    // Native settings files keep Booleans as text.
    return value.typeId() == QMetaType::Bool ? value.toBool() : text == u"true" || text == u"1";
}

void Preference::setStartup(QSettings& settings, bool on)
{
    settings.setValue(startupKey, on);
    settings.sync();
}

StartAtLogin::StartAtLogin(QSettings& settings, AutoStartPlace place) : settings_(settings), place_(std::move(place)) {}

void StartAtLogin::firstStart()
{
    const QVariant stored = settings_.value(Preference::startupKey);
    qCInfo(lcMonitor).noquote() << "UserDefaults.standard[startupforvexo] is " +
                                       (stored.isValid() ? stored.toString() : QStringLiteral("nil"));
    if (stored.isValid())
        return;
    Preference::setStartup(settings_, true);
    AppAutoStartUtils::setAppAutoStart(true, place_);
}

void StartAtLogin::change(bool on)
{
    if (on == startup())
        return;
    Preference::setStartup(settings_, on);
    AppAutoStartUtils::setAppAutoStart(on, place_);
}
