#include "Strings.h"
#include "UiTestApp.h"

#include <gtest/gtest.h>

namespace {

// Every Chinese locale gets the Chinese table, every other language the
// English one; keys neither table holds (status texts) show themselves.
TEST(WindowLanguage, TableFollowsTheLocale)
{
    uiTestApp();
    const QString zh = QStringLiteral("状态监视器"), en = QStringLiteral("Status Monitor");
    for (const auto& [locale, title, startup] :
         {std::tuple{QLocale(QLocale::Chinese, QLocale::China), zh, QStringLiteral("开机启动:")},
          std::tuple{QLocale(QLocale::Chinese, QLocale::HongKong), zh, QStringLiteral("开机启动:")},
          std::tuple{QLocale(QLocale::English, QLocale::UnitedKingdom), en, QStringLiteral("Start at login:")},
          std::tuple{QLocale::c(), en, QStringLiteral("Start at login:")}}) {
        SCOPED_TRACE(locale.name().toStdString());
        vexo::ui::useLanguageOf(locale);
        EXPECT_EQ(vexo::ui::text(QStringLiteral("statusMonitor")), title);
        EXPECT_EQ(vexo::ui::text(QStringLiteral("开机启动:")), startup);
        EXPECT_EQ(vexo::ui::text(QStringLiteral("noSuchKey")), QStringLiteral("noSuchKey"));
    }
    // Switching back replaces the table.
    uiTestApp();
    EXPECT_EQ(vexo::ui::text(QStringLiteral("refresh")), QStringLiteral("Refresh"));
}

}  // namespace
