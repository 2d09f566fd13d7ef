#include "Strings.h"
#include "UiTestApp.h"

#include <gtest/gtest.h>

namespace {

class WindowLanguage : public ::testing::Test {
protected:
    void SetUp() override { uiTestApp(); }
    void TearDown() override { uiTestApp(); }
};

TEST_F(WindowLanguage, EveryChineseLocaleGetsTheChineseTable)
{
    for (const QLocale& locale : {QLocale(QLocale::Chinese, QLocale::China), QLocale(QLocale::Chinese, QLocale::Taiwan),
                                  QLocale(QLocale::Chinese, QLocale::HongKong)}) {
        vexo::ui::useLanguageOf(locale);
        EXPECT_EQ(vexo::ui::text(QStringLiteral("statusMonitor")), QStringLiteral("状态监视器")) << locale.name().toStdString();
        EXPECT_EQ(vexo::ui::text(QStringLiteral("开机启动:")), QStringLiteral("开机启动:"));
    }
}

TEST_F(WindowLanguage, OtherLanguagesFallBackToEnglishNotToBareKeys)
{
    for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedKingdom), QLocale(QLocale::German, QLocale::Germany),
                                  QLocale::c()}) {
        vexo::ui::useLanguageOf(locale);
        EXPECT_EQ(vexo::ui::text(QStringLiteral("statusMonitor")), QStringLiteral("Status Monitor")) << locale.name().toStdString();
        EXPECT_EQ(vexo::ui::text(QStringLiteral("开机启动:")), QStringLiteral("Start at login:"));
    }
}

TEST_F(WindowLanguage, SwitchingBackReplacesTheTableAndUnknownKeysShowThemselves)
{
    vexo::ui::useLanguageOf(QLocale(QLocale::Chinese, QLocale::China));
    vexo::ui::useLanguageOf(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(vexo::ui::text(QStringLiteral("refresh")), QStringLiteral("Refresh"));
    // Status texts pass through the lookup too and must come out untouched.
    EXPECT_EQ(vexo::ui::text(QStringLiteral("打印机缺纸")), QStringLiteral("打印机缺纸"));
    EXPECT_EQ(vexo::ui::text(QStringLiteral("noSuchKey")), QStringLiteral("noSuchKey"));
}

}  // namespace
