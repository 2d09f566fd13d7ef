#pragma once

#include <QCoreApplication>

// The model needs an application object for its event loop and timers.
inline QCoreApplication& testApp()
{
    static int argc = 1;
    static char name[] = "monitor_core_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}
