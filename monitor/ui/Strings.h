#pragma once

#include <QLocale>
#include <QString>

namespace vexo::ui {

// Installs the window's translation for `locale`: Chinese for any Chinese
// locale, English for every other one. Replaces the one installed before.
void useLanguageOf(const QLocale& locale);

// The window's words by localisation key in the installed language. A key
// with no entry is shown as the key itself.
QString text(const QString& key);

}  // namespace vexo::ui
