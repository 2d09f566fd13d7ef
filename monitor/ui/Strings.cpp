#include "Strings.h"

#include <QCoreApplication>
#include <QTranslator>

namespace vexo::ui {

namespace {

constexpr char kContext[] = "vexo::ui";

QTranslator& translator()
{
    static QTranslator instance;
    return instance;
}

}  // namespace

void useLanguageOf(const QLocale& locale)
{
    QTranslator& current = translator();
    QCoreApplication::removeTranslator(&current);
    // Tried by the locale's UI languages ("zh_Hans_CN", ..., "zh"); a language
    // without a table gets English rather than bare keys.
    if (!current.load(locale, QStringLiteral("vexoStateMonitor"), QStringLiteral("_"), QStringLiteral(":/i18n")))
        (void)current.load(QStringLiteral("vexoStateMonitor_en"), QStringLiteral(":/i18n"));
    QCoreApplication::installTranslator(&current);
}

QString text(const QString& key)
{
    return QCoreApplication::translate(kContext, key.toUtf8().constData());
}

}  // namespace vexo::ui
