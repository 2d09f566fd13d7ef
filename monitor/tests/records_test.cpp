#include "Printer.h"

#include <gtest/gtest.h>

#include <QSet>

TEST(Printer, EachValueIsItsOwnRowEvenWithEqualFields)
{
    const OrrinPrinter& vexo = catalogueFor(5)[0];
    const Printer a = Printer::fromUSBDevice(vexo, 14286, 77);
    const Printer b = Printer::fromUSBDevice(vexo, 14286, 77);
    EXPECT_NE(a, b);
    EXPECT_NE(qHash(a), qHash(b));

    const Printer copy = a;
    EXPECT_EQ(copy, a);
    EXPECT_EQ(qHash(copy), qHash(a));

    Printer relabelled = a;
    relabelled.label = QStringLiteral("other");
    EXPECT_NE(relabelled, a);

    EXPECT_EQ((QSet<Printer>{a, b, copy}).size(), 2);
}

TEST(Printer, PlaceholderSelectsNoConnection)
{
    const Printer none(QString{});
    EXPECT_TRUE(none.name.isEmpty());
    EXPECT_TRUE(none.type.isEmpty());
    EXPECT_TRUE(none.ip.isEmpty());
    EXPECT_EQ(none.PID, 0);
    EXPECT_EQ(none.VID, 3837);
    EXPECT_EQ(none.hasWifi, 1);
    EXPECT_EQ(none.hasTonerInfo, 1);
    EXPECT_FALSE(none.hasWakeUp);
    EXPECT_NE(none, Printer(QString{}));
}

TEST(Printer, FoundDevicesCarryTheirRowAndConnection)
{
    const auto full = catalogueFor(1);

    const QList<Printer> usb = printersForUSBDevice(14286, 301, full);
    ASSERT_EQ(usb.size(), 1);
    EXPECT_EQ(usb[0].name, u"LX310W");
    EXPECT_EQ(usb[0].label, u"LX310W(USB)");
    EXPECT_EQ(usb[0].type, u"USB");
    EXPECT_TRUE(usb[0].ip.isEmpty());
    EXPECT_EQ(usb[0].PID, 301);
    EXPECT_EQ(usb[0].VID, 14286);
    EXPECT_EQ(usb[0].hasWifi, 1);
    EXPECT_TRUE(usb[0].hasWakeUp);
    EXPECT_EQ(usb[0].productImage, u"alder");

    const QList<Printer> net = printersForNetworkDevice(QStringLiteral("192.168.1.20"),
                                                        QStringLiteral("1.3.6.1.4.1.59317.2.1.1.4"), full);
    ASSERT_EQ(net.size(), 1);
    EXPECT_EQ(net[0].name, u"LX760DN");
    EXPECT_EQ(net[0].label, u"LX760DN(192.168.1.20)");
    EXPECT_EQ(net[0].type, u"Net");
    EXPECT_EQ(net[0].ip, u"192.168.1.20");
    EXPECT_EQ(net[0].PID, 656);
    EXPECT_EQ(net[0].VID, 14286);
    EXPECT_EQ(net[0].hasWifi, 0);
    EXPECT_EQ(net[0].hasTonerInfo, 0);
    EXPECT_EQ(net[0].productImage, u"cedar");

    EXPECT_TRUE(printersForUSBDevice(0x1234, 77).isEmpty());
    EXPECT_TRUE(printersForNetworkDevice(QStringLiteral("10.0.0.9"), QString()).isEmpty());
}
