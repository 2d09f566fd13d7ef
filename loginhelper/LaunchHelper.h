#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include <optional>

// Starts the status monitor at login unless it already runs, then waits for
// the monitor to tell it to quit.
class LaunchHelper : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        monitorRunning,  // nothing to do: quit at once
        launched,        // started the monitor; wait for the notification
        notFound,        // no monitor installed; wait for the notification
    };

    explicit LaunchHelper(QDBusConnection bus, QObject* parent = nullptr);

    Outcome applicationDidFinishLaunching();

    // The monitor's command line: from its desktop entry, else the program
    // installed beside this one.
    static std::optional<QStringList> findMonitor();

public slots:
    // The notification carries the sender's identifier; others are ignored.
    void terminate(const QString& object);

signals:
    void quitRequested();

private:
    QDBusConnection bus_;
};
