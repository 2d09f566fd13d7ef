#pragma once

#include <QCoreApplication>

#include <chrono>
#include <thread>

// Models, sockets and timers need an application object for their event
// loop; widgets need a QApplication. One per test program.
template <typename App = QCoreApplication>
App& testApp()
{
    static int argc = 1;
    static char name[] = "vexo_tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: a widget application torn down among the exit
    // handlers outlives parts of Qt it still needs.
    static App* app = new App(argc, argv);
    return *app;
}

// Runs the event loop until `done` holds or `limit` has passed; whether it held.
template <typename Pred>
bool waitFor(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
