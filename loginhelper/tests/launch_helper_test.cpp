#include "AppAutoStartUtils.h"
#include "PrivateSessionBus.h"
#include "QtTestApp.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

const QString busName = QStringLiteral("launch-helper-test");

class LaunchHelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApp();
        if (!PrivateSessionBus::available())
            GTEST_SKIP() << "dbus-daemon is not installed; the helper needs a session bus to be tested";
        ASSERT_TRUE(dir.isValid());
        const QString address = daemon.start();
        bus = std::make_unique<QDBusConnection>(daemon.connect(busName));
        ASSERT_TRUE(bus->isConnected()) << address.toStdString();

        // A copy of the helper with nothing beside it but what a test puts there.
        ASSERT_TRUE(QDir().mkpath(path("bin")));
        ASSERT_TRUE(QFile::copy(QStringLiteral(HELPER_PROGRAM), path("bin/QXLaunchHelper")));
        ASSERT_TRUE(QDir().mkpath(path("data/applications")));
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        env.insert(QStringLiteral("XDG_DATA_HOME"), path("data"));
        env.insert(QStringLiteral("XDG_DATA_DIRS"), path("sysdata"));
        env.insert(QStringLiteral("VEXO_FAKE_MONITOR_LOG"), path("monitor.log"));
    }

    void TearDown() override
    {
        for (auto& helper : helpers) {
            helper->kill();
            helper->waitForFinished(5000);
        }
        for (const QStringList& start : monitorStarts())
            ::kill(start.first().toInt(), SIGTERM);
    }

    QString path(const char* rel) const { return dir.filePath(QString::fromUtf8(rel)); }

    QProcess& startHelper()
    {
        helpers.push_back(std::make_unique<QProcess>());
        QProcess& p = *helpers.back();
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(path("bin/QXLaunchHelper"), {});
        EXPECT_TRUE(p.waitForStarted(5000));
        return p;
    }

    // Each start of the monitor: its process id, then its arguments.
    QList<QStringList> monitorStarts() const
    {
        QFile log(path("monitor.log"));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QList<QStringList> starts;
        for (const QString& line : QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts))
            starts.append(line.split(u'\t'));
        return starts;
    }

    bool owned(const char* name) const { return bus->interface()->isServiceRegistered(QString::fromLatin1(name)); }

    void notify(const char* object)
    {
        ASSERT_TRUE(bus->send(QDBusMessage::createSignal(QStringLiteral("/com/vexo/statusmonitor"),
                                                         QStringLiteral("com.vexo.statusmonitor"),
                                                         QStringLiteral("TerminateAppHelperNotificationName"))
                              << QString::fromLatin1(object)));
    }

    static bool stillRunning(QProcess& p) { return !p.waitForFinished(400); }

    QTemporaryDir dir;
    PrivateSessionBus daemon;
    std::unique_ptr<QDBusConnection> bus;
    QProcessEnvironment env;
    std::vector<std::unique_ptr<QProcess>> helpers;
};

TEST_F(LaunchHelperTest, StartsTheMonitorOnceAndQuitsWhenTheMonitorSaysSo)
{
    QFile entry(path("data/applications/com.vexo.statusmonitor.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Monitor\nExec=\"" FAKE_MONITOR "\" %U\n");
    entry.close();
    QProcess& first = startHelper();
    ASSERT_TRUE(QTest::qWaitFor([&] { return owned("com.vexo.statusmonitor"); }, 10000));
    ASSERT_EQ(monitorStarts().size(), 1);
    // A start at login goes to the tray; the entry's field code is dropped.
    EXPECT_EQ(monitorStarts()[0].mid(1), QStringList{QStringLiteral("--tray")});

    // A second helper finds the monitor running and leaves at once.
    QProcess& second = startHelper();
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(monitorStarts().size(), 1);
    EXPECT_TRUE(stillRunning(first));

    // Switching start at login in the monitor tells the helper to go.
    AppAutoStartUtils::setAppAutoStart(false, {path("bin/QXLaunchHelper"), path("autostart"), busName});
    ASSERT_TRUE(first.waitForFinished(10000)) << first.readAll().toStdString();
    EXPECT_EQ(first.exitCode(), 0);
}

TEST_F(LaunchHelperTest, WithoutAMonitorWaitsForTheNotificationFromTheMonitorOnly)
{
    QProcess& helper = startHelper();
    ASSERT_TRUE(QTest::qWaitFor([&] { return owned("com.vexo.LaunchHelper"); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        helper.waitForReadyRead(50);
        return helper.peek(4096).contains("bundleId not found(com.vexo.statusmonitor");
    }, 10000));

    notify("com.example.other");
    notify("");
    EXPECT_TRUE(stillRunning(helper));

    notify("com.vexo.statusmonitor");
    ASSERT_TRUE(helper.waitForFinished(10000));
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_TRUE(monitorStarts().isEmpty());
}

TEST_F(LaunchHelperTest, WithoutASessionBusStartsTheMonitorBesideIt)
{
    ASSERT_TRUE(QFile::copy(QStringLiteral(FAKE_MONITOR), path("bin/vexoStateMonitor")));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + path("no-bus"));
    QProcess& helper = startHelper();
    ASSERT_TRUE(helper.waitForFinished(10000));
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_TRUE(helper.readAll().contains("no session bus"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return monitorStarts().size() == 1; }, 10000));
    EXPECT_EQ(monitorStarts()[0].mid(1), QStringList{QStringLiteral("--tray")});
}

}  // namespace
