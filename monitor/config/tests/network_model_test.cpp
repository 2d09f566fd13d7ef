// The model against the simulated printer on an emulated USB bus.

#include "EmulatedUsbPrinter.h"
#include "NetworkModel.h"
#include "PrinterModel.h"
#include "Printing.h"
#include "QtTestApp.h"
#include "WifiCommands.h"

#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

using namespace vexo::config;
using namespace std::chrono_literals;

namespace {

constexpr int kScanTries = 4;

Printer usbPrinter()
{
    return Printer(QStringLiteral("V-100"), QStringLiteral("V-100(USB)"), QStringLiteral("USB"), QString(), 77, 0x37CE,
                   1, 1, false, QString());
}

// Stands for the command port, to tell which way an exchange went.
class CountingCarrier : public CommandCarrier {
public:
    std::optional<QString> exchange(const Printer&, const QString&) override
    {
        ++calls;
        return std::nullopt;
    }
    std::atomic<int> calls = 0;
};

class NetworkModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApp();
        printers = std::make_unique<PrinterModel>(nullptr, PrinterModel::Options{60000, 5});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !printers->isSearchingPrinter(); }, 5000));
        printers->setSelectedPrinter(usbPrinter());
        model = std::make_unique<NetworkModel>(*printers, NetworkModel::Carriers{std::make_shared<UsbCommandCarrier>(), tcp},
                                               NetworkModel::Options{20ms, kScanTries});
    }

    void TearDown() override
    {
        model.reset();
        printers.reset();
        EXPECT_EQ(tcp->calls, 0);
    }

    vexo::sim::SimulatedPrinter& sim() { return device.simulator(); }
    // The printer answers these bytes, padded as over USB, or stays silent.
    void script(std::function<std::optional<std::string>(std::string_view)> replies)
    {
        device.setCommandHandler([replies](std::string_view cmd) -> std::optional<std::string> {
            auto reply = replies(cmd);
            return reply ? std::optional(usbemu::asUsbReply(*reply)) : std::nullopt;
        });
    }

    AlertTriple run(void (NetworkModel::*operation)(AlertCallback))
    {
        std::optional<AlertTriple> got;
        bool onMain = false;
        (model.get()->*operation)([&](const AlertTriple& t) {
            got = t;
            onMain = QThread::currentThread() == testApp().thread();
        });
        if (!QTest::qWaitFor([&] { return got.has_value(); }, 10000))
            return {true, QStringLiteral("test"), QStringLiteral("no answer")};
        EXPECT_TRUE(onMain);
        return *got;
    }

    // The fields of the setting command the printer received last, escapes kept.
    std::string lastSetting()
    {
        const auto all = device.commands();
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if (it->rfind("Set", 0) == 0)
                return it->substr(it->find('=') + 1);
        return {};
    }

    size_t scansReceived()
    {
        const auto all = device.commands();
        return std::count_if(all.begin(), all.end(), [](const std::string& c) { return c.starts_with("Checkwifiserver?"); });
    }

    usbemu::UsbBus bus;
    usbemu::EmulatedUsbPrinter& device = bus.plug();
    std::shared_ptr<CountingCarrier> tcp = std::make_shared<CountingCarrier>();
    std::unique_ptr<PrinterModel> printers;
    std::unique_ptr<NetworkModel> model;
    const AlertTriple none{};
    const AlertTriple success{true, QStringLiteral("设置成功"), QStringLiteral("已成功设置热点信息")};
};

AlertTriple error(const char* text) { return {true, QStringLiteral("错误"), QString::fromUtf8(text)}; }

TEST_F(NetworkModelTest, NetworkPrinterGoesOverTheCommandPort)
{
    printers->setSelectedPrinter(Printer(QStringLiteral("V-100"), QStringLiteral("V-100(10.0.0.5)"), QStringLiteral("Net"),
                                         QStringLiteral("10.0.0.5"), 77, 0x37CE, 1, 1, false, QString()));
    EXPECT_EQ(run(&NetworkModel::getAPInfo), error("数据解析错误"));
    EXPECT_EQ(tcp->calls, 1);
    EXPECT_TRUE(device.commands().empty());
    tcp->calls = 0;
}

TEST_F(NetworkModelTest, AccessPointReadChangedAndReadBack)
{
    ASSERT_EQ(run(&NetworkModel::getAPInfo), none);
    EXPECT_EQ(model->apSetting(), (APSetting{"VEXO-AP", 1, "12345678", "192.168.1.1", "255.255.255.0", "192.168.1.1"}));

    APForm form{"Lab?AP;2", true, "pa;ss?word", "192.168.1.1", "255.255.255.0", "192.168.1.1"};
    ASSERT_FALSE(checkAPForm(form));
    model->setAPSetting(apSettingFromForm(form));
    EXPECT_EQ(run(&NetworkModel::setAPInfo), success);
    EXPECT_EQ(lastSetting(),
              "Lab\x01" "AP\x02" "2\r\n6\r\npa\x02ss\x01word\r\nS\r\n192.168.1.1\r\n255.255.255.0\r\n192.168.1.1;");

    model->setAPSetting({});
    ASSERT_EQ(run(&NetworkModel::getAPInfo), none);
    EXPECT_EQ(model->apSetting().APName + model->apSetting().APPassword, u"Lab?AP;2pa;ss?word");

    // Open: the password typed is dropped and an empty field goes out.
    form.encrypted = false;
    model->setAPSetting(apSettingFromForm(form));
    EXPECT_EQ(run(&NetworkModel::setAPInfo), success);
    EXPECT_EQ(lastSetting().substr(lastSetting().find("\r\n")), "\r\n0\r\n\r\nS\r\n192.168.1.1\r\n255.255.255.0\r\n192.168.1.1;");
}

TEST_F(NetworkModelTest, StationScannedJoinedAndReadBack)
{
    sim().setVisibleNetworks({{"HomeNet", 4}, {"Off?ce;5", 2}});
    ASSERT_EQ(run(&NetworkModel::getHotSpotList), none);
    ASSERT_EQ(model->hotSpotList(), (QList<HotSpot>{{0, "HomeNet", 4}, {1, "Off?ce;5", 2}}));

    const ClientModeForm form{true, "10.0.0.7", "255.255.255.0", "10.0.0.1", "s;cr?t", 1};
    ASSERT_FALSE(checkClientModeForm(form));
    model->setClietModeSetting(clientModeSettingFromForm(model->clietModeSetting(), form));
    EXPECT_EQ(run(&NetworkModel::setClientModeInfo), success);
    EXPECT_EQ(lastSetting(), "Off\x01" "ce\x02" "5\r\ns\x02" "cr\x01t\r\nS\r\n10.0.0.7\r\n255.255.255.0\r\n10.0.0.1;");

    model->setClietModeSetting({});
    ASSERT_EQ(run(&NetworkModel::getClientModeInfo), none);
    const ClietModeSetting read = model->clietModeSetting();
    EXPECT_EQ(read.WifiName, u"Off?ce;5");
    EXPECT_EQ(read.WifiPassword + read.ipSetType + read.ip, u"s;cr?tS10.0.0.7");

    // DHCP sends "D" and no addresses, whatever the form held.
    model->setClietModeSetting(clientModeSettingFromForm(
        model->clietModeSetting(), ClientModeForm{false, "junk", "junk", "junk", "", 0}));
    EXPECT_EQ(run(&NetworkModel::setClientModeInfo), success);
    EXPECT_EQ(lastSetting(), "HomeNet\r\n\r\nD\r\n0.0.0.0\r\n0.0.0.0\r\n0.0.0.0;");
}

TEST_F(NetworkModelTest, ScanWaitsForThePrinterButNotForEver)
{
    sim().setVisibleNetworks({{"HomeNet", 4}});
    sim().setScanNotReadyCount(kScanTries - 1);
    ASSERT_EQ(run(&NetworkModel::getHotSpotList), none);
    EXPECT_EQ(model->hotSpotList().size(), 1);
    EXPECT_EQ(scansReceived(), size_t(kScanTries));

    script([](std::string_view) { return std::optional<std::string>("8011,Wifi Scanning;"); });
    EXPECT_EQ(run(&NetworkModel::getHotSpotList), alert::scanNotAnswered());
    EXPECT_TRUE(model->hotSpotList().isEmpty());
    EXPECT_EQ(scansReceived(), 2u * kScanTries);
}

// What each reply means is the commands' test (SettingResults); here: the
// printer's own busy answers reach the caller, the read's alert in English.
TEST_F(NetworkModelTest, BusyPrinter)
{
    sim().setBusy(true);
    EXPECT_EQ(run(&NetworkModel::getAPInfo), error("设备忙,打印中"));
    EXPECT_EQ(model->alterTitle(), u"Error");
    EXPECT_EQ(run(&NetworkModel::getClientModeInfo), error("设备忙,打印中"));
    EXPECT_EQ(model->alterTitle(), u"错误");
    model->setAPSetting({"Lab", 0, "", "1.1.1.1", "255.0.0.0", "1.1.1.1"});
    EXPECT_EQ(run(&NetworkModel::setAPInfo), error("打印中，无法设置"));
}

TEST_F(NetworkModelTest, UnknownCodesShortRepliesAndSilence)
{
    model->setAPSetting({"Lab", 0, "", "1.1.1.1", "255.0.0.0", "1.1.1.1"});
    const APSetting before = model->apSetting();
    // Each reply's reading is the commands' test; here: nothing of it is kept.
    script([](std::string_view) { return std::optional<std::string>("9000,Unknown command"); });
    EXPECT_EQ(run(&NetworkModel::getAPInfo), error("数据解析错误"));
    EXPECT_EQ(run(&NetworkModel::setAPInfo), error("AP设置返回数据解析错误"));
    EXPECT_EQ(model->apSetting(), before);
    EXPECT_FALSE(model->showAlter());

    script([](std::string_view) { return std::optional<std::string>("8012,Wifi Scan;Home,4\r\nBro"); });
    ASSERT_EQ(run(&NetworkModel::getHotSpotList), none);
    EXPECT_EQ(model->hotSpotList(), (QList<HotSpot>{{0, "Home", 4}}));
    EXPECT_EQ(run(&NetworkModel::setClientModeInfo), error("数据解析出错，请重试"));

    script([](std::string_view) { return std::nullopt; });
    EXPECT_EQ(run(&NetworkModel::getAPInfo), error("数据解析错误"));
    EXPECT_EQ(run(&NetworkModel::getHotSpotList), none);
    EXPECT_TRUE(model->hotSpotList().isEmpty());
}

TEST_F(NetworkModelTest, NothingGoesOutThatCouldBreakTheCommand)
{
    script([](std::string_view) { return std::optional<std::string>("8012,x;Home,4\r\nBad\nName,3"); });
    ASSERT_EQ(run(&NetworkModel::getHotSpotList), none);
    ASSERT_EQ(model->hotSpotList().size(), 2);
    const size_t sent = device.commands().size();

    ClietModeSetting s = clientModeSettingFromForm({}, {false, "", "", "", "pw", 2});
    model->setClietModeSetting(s);
    EXPECT_EQ(run(&NetworkModel::setClientModeInfo), alert::noSuchHotSpot());
    s.orderInList = 1;
    model->setClietModeSetting(s);
    EXPECT_EQ(run(&NetworkModel::setClientModeInfo), alert::unsendableText());
    s.orderInList = 0;
    s.ipSetType = "S";
    s.ip = "10.0.0";
    model->setClietModeSetting(s);
    EXPECT_EQ(run(&NetworkModel::setClientModeInfo), error("IP格式错误"));
    model->setAPSetting({"Lab\r\n0", 0, "", "1.1.1.1", "255.0.0.0", "1.1.1.1"});
    EXPECT_EQ(run(&NetworkModel::setAPInfo).show, true);
    EXPECT_EQ(device.commands().size(), sent);
}

TEST_F(NetworkModelTest, RepliesComeBackInOrderAndOutliveNoModel)
{
    std::vector<int> order;
    model->getAPInfo([&](const AlertTriple&) { order.push_back(1); });
    model->getClientModeInfo([&](const AlertTriple&) { order.push_back(2); });
    model->getHotSpotList([&](const AlertTriple&) { order.push_back(3); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 3; }, 10000));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    // A model gone while its exchange is under way hears nothing of it.
    bool called = false;
    script([](std::string_view) {
        std::this_thread::sleep_for(100ms);
        return std::optional<std::string>("8014");
    });
    model->getAPInfo([&](const AlertTriple&) { called = true; });
    QTest::qWait(30);
    model.reset();
    QTest::qWait(400);
    EXPECT_FALSE(called);
}

}  // namespace
