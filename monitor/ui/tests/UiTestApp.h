#pragma once

#include "QtTestApp.h"
#include "Strings.h"

#include <QApplication>

// The English table keeps the texts the tests compare predictable.
inline QApplication& uiTestApp()
{
    QApplication& app = testApp<QApplication>();
    vexo::ui::useLanguageOf(QLocale(QLocale::English, QLocale::UnitedStates));
    return app;
}
