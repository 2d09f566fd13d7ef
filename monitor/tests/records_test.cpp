#include "Printer.h"

#include <gtest/gtest.h>

#include <QSet>

TEST(Printer, EachValueIsItsOwnRowEvenWithEqualFields)
{
    const Printer a = printersForUSBDevice(14286, 77).value(0);
    const Printer b = printersForUSBDevice(14286, 77).value(0);
    const Printer copy = a;
    EXPECT_NE(a, b);
    EXPECT_EQ(copy, a);
    EXPECT_EQ(qHash(copy), qHash(a));
    EXPECT_EQ((QSet<Printer>{a, b, copy}).size(), 2);
    EXPECT_NE(Printer(QString()), Printer(QString()));

    // The label tells the connection apart; only network printers have an address.
    const QList<Printer> usb = printersForUSBDevice(14286, 301, catalogueFor(1));
    ASSERT_EQ(usb.size(), 1);
    EXPECT_EQ(usb[0].label, u"LX310W(USB)");
    // Two of one model: the serial's last digits tell them apart.
    EXPECT_EQ(printersForUSBDevice(14286, 301, catalogueFor(1), QStringLiteral("VX77000002")).value(0).label,
              u"LX310W(USB 0002)");
    EXPECT_TRUE(usb[0].ip.isEmpty());
    const QList<Printer> net =
        printersForNetworkDevice(QStringLiteral("192.168.1.20"), QStringLiteral("1.3.6.1.4.1.59317.2.1.1.4"), catalogueFor(1));
    ASSERT_EQ(net.size(), 1);
    EXPECT_EQ(net[0].label, u"LX760DN(192.168.1.20)");
    EXPECT_EQ(net[0].VID, 14286);
}
