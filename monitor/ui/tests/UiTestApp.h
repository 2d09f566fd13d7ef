#pragma once

#include "AppAutoStartUtils.h"
#include "NetworkModel.h"
#include "PrinterModel.h"
#include "QtTestApp.h"
#include "ScriptedTransport.h"
#include "Strings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The English table keeps the texts the tests compare predictable.
inline QApplication& uiTestApp()
{
    QApplication& app = testApp<QApplication>();
    vexo::ui::useLanguageOf(QLocale(QLocale::English, QLocale::UnitedStates));
    return app;
}

inline Printer usbPrinter(qint64 hasWifi = 1, qint64 hasToner = 1)
{
    return Printer(QStringLiteral("LM310NW"), QStringLiteral("LM310NW(USB)"), QStringLiteral("USB"), QString(), 4,
                   3837, hasWifi, hasToner, false, QStringLiteral("mfAlderbtn"));
}

// A settings file of the test's own and the models over a scripted printer.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        uiTestApp();
        ASSERT_TRUE(dir.isValid());
        settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    }
    // No helper there: start at login only stores the choice.
    AutoStartPlace noHelper() const
    {
        return {dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("autostart")),
                QStringLiteral("no-such-bus")};
    }
    // An empty file standing in for the helper, in a folder with a space.
    AutoStartPlace withHelper() const
    {
        QFile helper(dir.filePath(QStringLiteral("bin dir/QXLaunchHelper")));
        EXPECT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("bin dir"))) && helper.open(QIODevice::WriteOnly));
        return {helper.fileName(), dir.filePath(QStringLiteral("config/autostart")), QStringLiteral("no-such-bus")};
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    std::unique_ptr<PrinterModel> printers;
    std::unique_ptr<NetworkModel> network;
};
