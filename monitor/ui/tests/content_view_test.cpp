#include "APSettingView.h"
#include "ClientModeSettingView.h"
#include "CommandCarrier.h"
#include "ContentView.h"
#include "NetworkSettingView.h"
#include "StatusDecoding.h"
#include "TonerGauge.h"
#include "UiTestApp.h"
#include "WifiCommands.h"

#include <QCheckBox>
#include <QFile>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <map>
#include <mutex>

namespace {

Printer netPrinter()
{
    return Printer(QStringLiteral("LM550DNW"), QStringLiteral("LM550DNW(10.0.0.5)"), QStringLiteral("Net"),
                   QStringLiteral("10.0.0.5"), 260, 3837, 1, 1, false, QStringLiteral("LM550DNW"));
}

// Answers each command by the scripted prefix it starts with.
struct ScriptedCarrier : CommandCarrier {
    void answer(const char* prefix, const QString& reply)
    {
        std::lock_guard lock(mutex);
        replies[QString::fromLatin1(prefix)] = reply;
    }
    QStringList sent(const char* prefix = "")
    {
        std::lock_guard lock(mutex);
        return all.filter(QRegularExpression(u'^' + QRegularExpression::escape(QString::fromLatin1(prefix))));
    }
    std::optional<QString> exchange(const Printer&, const QString& cmd) override
    {
        std::lock_guard lock(mutex);
        all.append(cmd);
        for (const auto& [prefix, reply] : replies)
            if (cmd.startsWith(prefix))
                return reply;
        return std::nullopt;
    }
    std::mutex mutex;
    std::map<QString, QString> replies;
    QStringList all;
};

class ContentViewTest : public UiTest {
protected:
    void start(int pollMs = 6000)
    {
        startup = std::make_unique<StartAtLogin>(*settings, place);
        printers = std::make_unique<PrinterModel>(transport, PrinterModel::Options{pollMs, 5});
        network = std::make_unique<NetworkModel>(*printers, NetworkModel::Carriers{carrier, carrier},
                                                 NetworkModel::Options{std::chrono::milliseconds(10), 2});
        view = std::make_unique<ContentView>(*printers, *network, *startup);
        view->show();
    }

    template <class T>
    T* find(const char* name)
    {
        T* w = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString label(const char* name) { return find<QLabel>(name)->text(); }
    bool shown(const char* name) { return !find<QWidget>(name)->isHidden(); }
    bool settingsShown() { return find<QStackedWidget>("panel")->currentIndex() == 1; }

    void waitForList(int rows) { ASSERT_TRUE(QTest::qWaitFor([&] { return list()->count() == rows; }, 5000)); }
    QListWidget* list() { return find<QListWidget>("printerList"); }
    void clickRow(int row) { emit list()->itemClicked(list()->item(row)); }
    static QString decodedMessage(qint64 code, const char* name)
    {
        return QString::fromStdString(decodeStatusInfo(code, name).message);
    }

    AutoStartPlace place = noHelper();
    std::unique_ptr<StartAtLogin> startup;
    std::shared_ptr<ScriptedCarrier> carrier = std::make_shared<ScriptedCarrier>();
    std::unique_ptr<ContentView> view;
};

// Network settings only for USB printers with Wi-Fi, the toner only where known.
TEST_F(ContentViewTest, SearchesThenShowsTheRowClickedWithWhatThePrinterHas)
{
    transport->scriptDiscovery({{usbPrinter(1, 1), usbPrinter(0, 0)}}, {{netPrinter()}});
    transport->scriptReadings(true, {}, {true, 7, 60});
    transport->scriptReadings(false, {}, {true, 2000, 90});
    transport->discoveryGate.close();
    start();

    EXPECT_EQ(label("listTitle"), "Searching...");
    EXPECT_FALSE(shown("refresh"));
    // Nothing read yet: the ring shows no level at all, not 0 %.
    EXPECT_EQ(find<TonerGauge>("gauge")->toner(), std::nullopt);
    transport->discoveryGate.open();
    waitForList(3);
    EXPECT_EQ(list()->item(2)->text(), "LM550DNW(10.0.0.5)");
    EXPECT_EQ(label("listTitle"), "Printers");
    EXPECT_TRUE(shown("refresh"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return label("code") == "Status code: 0007"; }, 5000));
    EXPECT_EQ(transport->queryCount(), 1);
    EXPECT_EQ(label("message"), decodedMessage(7, "LM310NW"));
    EXPECT_EQ(label("connection"), "USB printer");
    EXPECT_EQ(find<TonerGauge>("gauge")->toner(), 60);
    EXPECT_TRUE(shown("networkSetting"));
    EXPECT_TRUE(shown("toner"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->refreshAlert() != nullptr; }, 2000));
    view->refreshAlert()->buttons().first()->click();
    EXPECT_FALSE(printers->showRefreshAlter());

    clickRow(1);
    EXPECT_FALSE(shown("networkSetting"));
    EXPECT_FALSE(shown("toner"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return transport->queryCount() == 2; }, 5000));

    transport->statusGate.close();
    clickRow(2);
    EXPECT_FALSE(shown("networkSetting"));
    EXPECT_TRUE(shown("toner"));
    EXPECT_EQ(label("message"), "Connecting");
    EXPECT_EQ(label("code"), "Status code: 5555");
    EXPECT_EQ(label("connection"), "Network printer: 10.0.0.5");
    // Only the selected row is highlighted.
    EXPECT_EQ(list()->item(2)->foreground().color(), QColor(Qt::white));
    EXPECT_NE(list()->item(0)->foreground().color(), QColor(Qt::white));

    transport->statusGate.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return label("code") == "Status code: 2000"; }, 5000));
    EXPECT_EQ(label("message"), decodedMessage(2000, "LM550DNW"));
    EXPECT_FALSE(transport->queries().last().usb);
}

TEST_F(ContentViewTest, EmptySearchRaisesTheNoPrinterAlertUntilDismissed)
{
    start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->noPrinterAlert() != nullptr; }, 5000));
    EXPECT_EQ(view->refreshAlert(), nullptr);
    EXPECT_TRUE(find<QLabel>("message")->styleSheet().contains("red"));
    EXPECT_EQ(label("code"), "Status code: 0000");

    view->noPrinterAlert()->buttons().first()->click();
    EXPECT_FALSE(printers->showNoPrinterAlter());
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->noPrinterAlert() == nullptr; }, 2000));
}

TEST_F(ContentViewTest, FollowsTonerSleepAndDisconnectionAsPolled)
{
    transport->scriptDiscovery({{usbPrinter()}}, {{}});
    transport->scriptReadings(true, {{true, 2000, 80}, {true, 2000, 30}, {false, 0, 0}}, {true, 2009, 30});
    start(150);

    ASSERT_TRUE(QTest::qWaitFor([&] { return find<TonerGauge>("gauge")->toner() == 80; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return label("code") == "Status code: 4444"; }, 5000));
    EXPECT_EQ(label("message"), "连接断开");
    EXPECT_TRUE(find<QLabel>("message")->styleSheet().contains("red"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return label("code") == "Status code: 2009"; }, 5000));
    EXPECT_EQ(label("message"), decodedMessage(2009, "LM310NW"));
}

TEST_F(ContentViewTest, StartupBoxRegistersAndStoresTheChoice)
{
    Preference::setStartup(*settings, false);
    place = withHelper();
    start();
    auto* box = find<QCheckBox>("startup");
    EXPECT_FALSE(box->isChecked());
    for (const bool on : {true, false}) {
        box->setChecked(on);
        EXPECT_EQ(QFile::exists(AppAutoStartUtils::entryPath(place)), on);
        EXPECT_EQ(QSettings(settings->fileName(), QSettings::IniFormat).value(Preference::startupKey).toBool(), on);
    }
}

class SettingsPanelTest : public ContentViewTest {
protected:
    void openSettings(const QString& station = QStringLiteral("Home\r\nhomepass1"))
    {
        carrier->answer("CheckwifiAP?",
                        QStringLiteral("8014,AP Info;LabAP\r\n6\r\nsecret123\r\n192.168.1.1\r\n255.255.255.0\r\n"
                                       "192.168.1.1"));
        carrier->answer("CheckwifiSTA?",
                        QStringLiteral("8013,STA Info;") + station + QStringLiteral("\r\nD\r\n0.0.0.0\r\n0.0.0.0\r\n0.0.0.0"));
        clickNetworkSetting();
        ASSERT_TRUE(QTest::qWaitFor([&] { return find<QLineEdit>("apName")->text() == "LabAP"; }, 5000));
    }
    void clickNetworkSetting()
    {
        transport->scriptDiscovery({{usbPrinter()}}, {{}});
        start();
        waitForList(1);
        find<QPushButton>("networkSetting")->click();
        EXPECT_TRUE(settingsShown());
    }
    void waitForExchanges()
    {
        // Settled once nothing more went out for a while.
        qsizetype before = 0;
        do {
            before = carrier->sent().size();
            QTest::qWait(100);
        } while (carrier->sent().size() != before);
    }
    QMessageBox* apAlert() { return view->settingsView()->apView()->alert(); }
    QMessageBox* clientAlert() { return view->settingsView()->clientView()->alert(); }
};

TEST_F(SettingsPanelTest, FormsRefuseBadInputWithoutSending)
{
    carrier->answer("Checkwifiserver?", QStringLiteral("8012,Wifi Scan;Home,4"));
    openSettings();
    ASSERT_TRUE(QTest::qWaitFor([&] { return find<QComboBox>("hotSpots")->count() == 1; }, 5000));
    waitForExchanges();

    find<QLineEdit>("apName")->setText(QString());
    find<QPushButton>("apOk")->click();
    ASSERT_NE(apAlert(), nullptr);
    EXPECT_EQ(apAlert()->text(), vexo::config::checkAPName(QString()).value());
    apAlert()->close();
    find<QLineEdit>("apName")->setText(QStringLiteral("Lab2"));
    find<QLineEdit>("apPassword")->setText(QStringLiteral("short"));
    find<QPushButton>("apOk")->click();
    ASSERT_NE(apAlert(), nullptr);
    EXPECT_EQ(apAlert()->text(), vexo::config::checkAPPassword(QStringLiteral("short"), true).value());

    // The client form checks addresses only when they are typed in.
    find<QComboBox>("ipSetType")->setCurrentIndex(1);
    find<QLineEdit>("ip")->setText(QStringLiteral("300.1.1.1"));
    find<QPushButton>("clientOk")->click();
    ASSERT_NE(clientAlert(), nullptr);
    EXPECT_EQ(clientAlert()->text(), "IP格式错误");
    waitForExchanges();
    EXPECT_TRUE(carrier->sent("Setwifi").isEmpty());

    find<QComboBox>("ipSetType")->setCurrentIndex(0);
    find<QPushButton>("clientOk")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !carrier->sent("SetwifiSTA=Home").isEmpty(); }, 5000));
    // Without encryption the password is not checked.
    find<QComboBox>("encryptMode")->setCurrentIndex(0);
    find<QPushButton>("apOk")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !carrier->sent("SetwifiAP=Lab2").isEmpty(); }, 5000));
    EXPECT_EQ(network->apSetting().encryptMode, 0);

    find<QPushButton>("apCancel")->click();
    EXPECT_FALSE(settingsShown());
}

// The configured network is selected with its password; any other starts
// empty, and what the user types stays with its network while it is seen.
TEST_F(SettingsPanelTest, ClientPasswordAlwaysBelongsToTheNetworkShown)
{
    carrier->answer("Checkwifiserver?", QStringLiteral("8012,Wifi Scan;Lab,2\r\nHome,4\r\nCafe,5"));
    openSettings();
    auto* hotSpots = find<QComboBox>("hotSpots");
    auto* password = find<QLineEdit>("wifiPassword");
    auto scanAndWait = [&](const char* body, const char* shown) {
        carrier->answer("Checkwifiserver?", QStringLiteral("8012,Wifi Scan;") + body);
        const qsizetype scans = carrier->sent("Checkwifiserver?").size();
        find<QPushButton>("hotSpotRefresh")->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return carrier->sent("Checkwifiserver?").size() > scans; }, 5000));
        waitForExchanges();
        EXPECT_EQ(hotSpots->currentText(), shown);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return hotSpots->count() == 3; }, 5000));
    waitForExchanges();
    EXPECT_EQ(find<QComboBox>("encryptMode")->currentText(), "WAP2PSK_AES");
    EXPECT_EQ(hotSpots->currentText(), "Home");
    EXPECT_EQ(password->text(), "homepass1");
    hotSpots->setCurrentIndex(0);
    EXPECT_EQ(password->text(), "");
    // DHCP read from the printer keeps the address fields off.
    EXPECT_FALSE(find<QLineEdit>("ip")->isEnabled());
    find<QComboBox>("ipSetType")->setCurrentIndex(1);
    EXPECT_TRUE(find<QLineEdit>("ip")->isEnabled());
    find<QComboBox>("ipSetType")->setCurrentIndex(0);

    password->setText(QStringLiteral("labpass1"));
    scanAndWait("Cafe,3\r\nLab,4", "Lab");
    EXPECT_EQ(password->text(), "labpass1");
    // ...and goes when that network is gone.
    scanAndWait("Cafe,3", "Cafe");
    EXPECT_EQ(password->text(), "");

    find<QPushButton>("clientOk")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !carrier->sent("SetwifiSTA=").isEmpty(); }, 5000));
    EXPECT_EQ(carrier->sent("SetwifiSTA=Cafe\r\n\r\n").size(), 1) << carrier->sent().join(u' ').toStdString();

    // No network seen: nothing to join.
    scanAndWait("8010,Wifi Scan noap", "");
    EXPECT_EQ(hotSpots->count(), 0);
    EXPECT_FALSE(find<QPushButton>("clientOk")->isEnabled());
    find<QPushButton>("clientClose")->click();
    EXPECT_FALSE(settingsShown());
}

// Every read of a busy or silent printer fails; one alert says why.
struct FailedOpening {
    const char* reply;  // nullptr: no answer at all
    const char* alert;
};

void PrintTo(const FailedOpening& f, std::ostream* os) { *os << (f.reply ? f.reply : "silent"); }

class SettingsOpeningTest : public SettingsPanelTest, public ::testing::WithParamInterface<FailedOpening> {};

TEST_P(SettingsOpeningTest, ShowsOneAlertThatSaysWhatHappened)
{
    if (const char* reply = GetParam().reply)
        for (const char* cmd : {"CheckwifiAP?", "CheckwifiSTA?", "Checkwifiserver?"})
            carrier->answer(cmd, QString::fromUtf8(reply));
    clickNetworkSetting();
    ASSERT_TRUE(QTest::qWaitFor([&] { return carrier->sent().size() >= 3; }, 5000));
    waitForExchanges();

    // The list's own "refreshed" alert is not about the settings.
    QList<QMessageBox*> alerts;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && box != view->refreshAlert())
            alerts.append(box);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0], view->settingsView()->alert());
    EXPECT_EQ(alerts[0]->text(), QString::fromUtf8(GetParam().alert));
    EXPECT_FALSE(network->showAlter());
}

INSTANTIATE_TEST_SUITE_P(BusyOrSilent, SettingsOpeningTest,
                         ::testing::Values(FailedOpening{"1001", "设备忙,打印中"},
                                           FailedOpening{"8001", "当前wifi模式不支持"},
                                           FailedOpening{nullptr, "打印机未应答，请检查连接后重试"}),
                         [](const auto& p) { return std::string(p.param.reply ? p.param.reply : "silent"); });

}  // namespace
