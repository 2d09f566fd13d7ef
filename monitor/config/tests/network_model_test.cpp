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
        printers->setSelectedPrinter(Printer(QStringLiteral("V-100"), QStringLiteral("V-100(USB)"), QStringLiteral("USB"),
                                             QString(), 77, 0x37CE, 1, 1, false, QString()));
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

// What goes out for a form, if anything; the escapes are the commands' test.
// An open access point drops the password typed, DHCP sends no addresses
// whatever the form held; nothing goes out that could break the command.
TEST_F(NetworkModelTest, SettingsGoOutAsTheFormSaysOrNotAtAll)
{
    sim().setVisibleNetworks({{"HomeNet", 4}, {"Bad\nName", 3}});
    ASSERT_EQ(run(&NetworkModel::getHotSpotList), none);
    ASSERT_EQ(run(&NetworkModel::getAPInfo), none);
    EXPECT_EQ(model->apSetting().APName, u"VEXO-AP");
    struct Case {
        std::optional<APForm> ap;
        ClientModeForm station;
        AlertTriple result;
        std::string sent;
    };
    for (const Case& c : std::initializer_list<Case>{
             {APForm{"Lab", false, "typed", "1.1.1.1", "255.0.0.0", "1.1.1.1"}, {}, success,
              "Lab\r\n0\r\n\r\nS\r\n1.1.1.1\r\n255.0.0.0\r\n1.1.1.1;"},
             {APForm{"Lab\r\n0", false, "", "1.1.1.1", "255.0.0.0", "1.1.1.1"}, {},
              error("热点名称长度范围:[1-16]，且输入需为数字/字母/符号，请修改后重试"), ""},
             {{}, {false, "junk", "junk", "junk", "", 0}, success, "HomeNet\r\n\r\nD\r\n0.0.0.0\r\n0.0.0.0\r\n0.0.0.0;"},
             {{}, {true, "10.0.0.9", "255.0.0.0", "10.0.0.1", "pw", 0}, success,
              "HomeNet\r\npw\r\nS\r\n10.0.0.9\r\n255.0.0.0\r\n10.0.0.1;"},
             {{}, {true, "10.0.0", "255.0.0.0", "1.1.1.1", "", 0}, error("IP格式错误"), ""},
             {{}, {false, "", "", "", "pw", 1}, alert::unsendableText(), ""},
             {{}, {false, "", "", "", "pw", 2}, alert::noSuchHotSpot(), ""}}) {
        const size_t before = device.commands().size();
        if (c.ap)
            model->setAPSetting(apSettingFromForm(*c.ap));
        else
            model->setClietModeSetting(clientModeSettingFromForm({}, c.station));
        EXPECT_EQ(run(c.ap ? &NetworkModel::setAPInfo : &NetworkModel::setClientModeInfo), c.result);
        EXPECT_EQ(device.commands().size() - before, c.sent.empty() ? 0u : 1u);
        if (!c.sent.empty()) {  // the fields, escapes kept
            const std::string last = device.commands().back();
            EXPECT_EQ(last.substr(last.find('=') + 1), c.sent);
        }
    }
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

// What each reply means is the commands' test; here: nothing of an unknown
// reply is kept, the busy printer's own answers reach the caller and the alert.
TEST_F(NetworkModelTest, BadRepliesSilenceAndABusyPrinter)
{
    sim().setVisibleNetworks({{"HomeNet", 4}});
    ASSERT_EQ(run(&NetworkModel::getHotSpotList), none);
    model->setAPSetting({"Lab", 0, "", "1.1.1.1", "255.0.0.0", "1.1.1.1"});
    const APSetting before = model->apSetting();
    script([](std::string_view) { return std::optional<std::string>("9000,Unknown command"); });
    EXPECT_EQ(run(&NetworkModel::getAPInfo), error("数据解析错误"));
    EXPECT_EQ(run(&NetworkModel::setAPInfo), error("AP设置返回数据解析错误"));
    EXPECT_EQ(model->apSetting(), before);
    EXPECT_FALSE(model->showAlter());

    script([](std::string_view) { return std::nullopt; });
    EXPECT_EQ(run(&NetworkModel::getHotSpotList), none);
    EXPECT_TRUE(model->hotSpotList().isEmpty());

    device.setCommandHandler(nullptr);
    sim().setBusy(true);
    EXPECT_EQ(run(&NetworkModel::getAPInfo), error("设备忙,打印中"));
    EXPECT_EQ(model->alterTitle(), u"Error");
    EXPECT_EQ(run(&NetworkModel::setAPInfo), error("打印中，无法设置"));
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
