#pragma once

#include <QApplication>
#include <QLocale>

// Widgets need an application object; the English tables keep texts predictable.
inline QApplication& uiTestApp()
{
    static int argc = 1;
    static char name[] = "monitor_ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return app;
}
