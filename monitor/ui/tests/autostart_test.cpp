#include "UiTestApp.h"

#include <QDir>
#include <QFile>

namespace {

class AutoStartTest : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        place = withHelper();
    }

    bool registered() const { return QFile::exists(AppAutoStartUtils::entryPath(place)); }

    AutoStartPlace place;
};

TEST_F(AutoStartTest, FirstStartSwitchesOnOnlyOnce)
{
    StartAtLogin(*settings, place).firstStart();
    EXPECT_TRUE(Preference::startup(*settings));
    QFile entry(AppAutoStartUtils::entryPath(place));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().contains("Exec=\"" + place.helperPath.toUtf8() + '"'));

    // The user removed it by hand: a later start leaves it so.
    QFile::remove(AppAutoStartUtils::entryPath(place));
    StartAtLogin(*settings, place).firstStart();
    EXPECT_FALSE(registered());
}

TEST_F(AutoStartTest, StoredTextCountsOnlyWhenItSaysOn)
{
    for (const auto& [stored, on] : {std::pair{"true", true}, std::pair{"1", true}, std::pair{"yes", false},
                                     std::pair{"", false}}) {
        settings->setValue(Preference::startupKey, QString::fromLatin1(stored));
        EXPECT_EQ(Preference::startup(*settings), on) << stored;
        // A stored value, even a bad one, is the user's: not switched on again.
        StartAtLogin(*settings, place).firstStart();
        EXPECT_FALSE(registered()) << stored;
    }
}

TEST_F(AutoStartTest, MissingHelperKeepsTheChoiceButRegistersNothing)
{
    place.helperPath = dir.filePath(QStringLiteral("gone/QXLaunchHelper"));
    StartAtLogin startup(*settings, place);
    startup.firstStart();
    EXPECT_TRUE(startup.startup());
    EXPECT_FALSE(registered());
}

TEST_F(AutoStartTest, EntryGoesUnderXdgConfigHome)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("xdg")).toUtf8());
    EXPECT_EQ(AppAutoStartUtils::defaultPlace().autostartDir, dir.filePath(QStringLiteral("xdg/autostart")));
    // A relative value is not to be used.
    qputenv("XDG_CONFIG_HOME", "relative");
    EXPECT_EQ(AppAutoStartUtils::defaultPlace().autostartDir, QDir::homePath() + "/.config/autostart");
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
}

}  // namespace
