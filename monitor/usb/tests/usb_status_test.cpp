#include "PrinterModel.h"
#include "QtTestApp.h"
#include "USBInteraction.h"
#include "UsbTestSupport.h"
#include "UsbTransport.h"

#include <QCoreApplication>
#include <QTest>

namespace {

using namespace std::chrono_literals;

TEST_F(EmulatedUsbTest, StatusRequestReadsCodeLittleEndianAndToner)
{
    auto& printer = bus.plug();
    printer.simulator().setStatusCode(2009);
    printer.simulator().setToner(50);
    const OpenFiles files;

    const StatusReading reading = usbStatusRequest(0x37CE, 77);
    EXPECT_TRUE(reading.answered);
    EXPECT_EQ(reading.code, 2009);
    EXPECT_EQ(reading.toner, 50);

    printer.simulator().setStatusCode(0x0102);  // bytes 02 01: 258, not 513
    EXPECT_EQ(usbStatusRequest(0x37CE, 77).code, 258);

    const auto setups = printer.controlRequests();
    ASSERT_EQ(setups.size(), 2u);
    EXPECT_EQ(setups[0].bmRequestType, 0xC0);
    EXPECT_EQ(setups[0].bRequest, 0x04);
    EXPECT_EQ(setups[0].wValue, 0);
    EXPECT_EQ(setups[0].wIndex, 0);
    EXPECT_EQ(setups[0].wLength, 512);
    // Sent on the default pipe: the interface is never claimed for it.
    EXPECT_TRUE(printer.commands().empty());
    EXPECT_TRUE(released(files, printer));
}

TEST_F(EmulatedUsbTest, BytesThePrinterDoesNotSendCountAsZero)
{
    auto& printer = bus.plug();
    struct Case {
        std::vector<std::uint8_t> reply;
        qint64 code, toner;
    };
    const Case cases[] = {
        {{0xD9, 0x07}, 2009, 0},
        {{0xD9}, 0xD9, 0},
        {{}, 0, 0},
        {{0x00, 0x00, 0x32, 0xFF, 0xFF}, 0, 50},
    };
    for (const Case& c : cases) {
        printer.setStatusReply(c.reply);
        const StatusReading reading = usbStatusRequest(0x37CE, 77);
        EXPECT_TRUE(reading.answered);
        EXPECT_EQ(reading.code, c.code);
        EXPECT_EQ(reading.toner, c.toner);
    }
}

TEST_F(EmulatedUsbTest, FailedStatusRequestsAreNotAnswered)
{
    EXPECT_FALSE(usbStatusRequest(0x37CE, 77).answered);  // nothing attached

    auto& printer = bus.plug();
    auto& bare = bus.plug({.productID = 78, .endpoints = {}, .interfaces = 0});
    const OpenFiles files;

    printer.setStatusStalls(true);
    EXPECT_FALSE(usbStatusRequest(0x37CE, 77).answered);
    EXPECT_TRUE(released(files, printer));

    printer.setStatusStalls(false);
    printer.setGone(true);
    EXPECT_FALSE(usbStatusRequest(0x37CE, 77).answered);
    EXPECT_TRUE(released(files, printer));

    EXPECT_FALSE(usbStatusRequest(0x37CE, 78).answered);
    EXPECT_TRUE(released(files, bare));
}

TEST_F(EmulatedUsbTest, SilentPrinterTimesOutAfterThreeSeconds)
{
    auto& printer = bus.plug();
    printer.setStatusSilent(true);
    const OpenFiles files;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(usbStatusRequest(0x37CE, 77).answered);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 2900ms);
    EXPECT_LT(took, 5000ms);
    EXPECT_EQ(printer.discardedTransfers(), 1);
    EXPECT_TRUE(released(files, printer));
}

TEST_F(EmulatedUsbTest, HotUnplugBetweenPollsAndBack)
{
    auto& first = bus.plug();
    EXPECT_TRUE(usbStatusRequest(0x37CE, 77).answered);
    bus.unplug(first);
    EXPECT_FALSE(usbStatusRequest(0x37CE, 77).answered);
    bus.plug().simulator().setStatusCode(3001);
    const StatusReading back = usbStatusRequest(0x37CE, 77);
    EXPECT_TRUE(back.answered);
    EXPECT_EQ(back.code, 3001);
}

// The whole monitor path: discovery, selection and polling through the
// printer model, with the real transport against the emulated printer.
class EmulatedMonitorTest : public EmulatedUsbTest {
protected:
    void SetUp() override { testApp(); }

    std::unique_ptr<PrinterModel> start(int series)
    {
        return std::make_unique<PrinterModel>(std::make_shared<UsbTransport>(series),
                                              PrinterModel::Options{50, series});
    }
};

TEST_F(EmulatedMonitorTest, SleepStopsPollingOnlyForModelsThatWake)
{
    for (const auto& [series, pid, wakes] : {std::tuple{1, 301, true}, std::tuple{5, 77, false}}) {
        auto& printer = bus.plug({.productID = std::uint16_t(pid)});
        printer.simulator().setStatusCode(2009);
        printer.simulator().setToner(50);
        auto model = start(series);
        EXPECT_TRUE(QTest::qWaitFor([&] { return model->statusInfo().code == 2009; }, 5000)) << series;
        EXPECT_EQ(model->statusInfo().toner, 50);
        EXPECT_EQ(model->isWakeUp(), !wakes) << series;
        const auto polls = printer.controlRequests().size();
        QTest::qWait(300);
        EXPECT_EQ(printer.controlRequests().size() > polls, !wakes) << series;
        model.reset();
        bus.unplug(printer);
    }
}

TEST_F(EmulatedMonitorTest, UnpluggedPrinterShowsDisconnectedAndKeepsToner)
{
    auto& printer = bus.plug();
    printer.simulator().setStatusCode(2000);
    printer.simulator().setToner(42);
    auto model = start(5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->statusInfo().code == 2000; }, 5000));
    bus.unplug(printer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->statusInfo().code == 4444; }, 5000));
    EXPECT_EQ(model->statusInfo().level, 3);
    EXPECT_EQ(model->statusInfo().message, "连接断开");
    EXPECT_EQ(model->statusInfo().discription, "请检查设备的连接情况");
    EXPECT_EQ(model->statusInfo().toner, 42);
    EXPECT_TRUE(model->isWakeUp());
}

}  // namespace
