#include "Catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using Names = std::vector<std::string>;

Names names(const std::vector<const OrrinPrinter*>& rows)
{
    Names out;
    for (const OrrinPrinter* row : rows)
        out.emplace_back(row->printerName);
    return out;
}

}  // namespace

TEST(Catalogue, SeriesChoosesTheCatalogue)
{
    const std::size_t sizes[] = {25, 9, 1, 1, 1};
    for (int series = 1; series <= 5; ++series)
        EXPECT_EQ(catalogueFor(series).size(), sizes[series - 1]) << series;
    for (int other : {0, 6, -1})
        EXPECT_EQ(catalogueFor(other).data(), catalogueFor(1).data()) << other;

    ASSERT_EQ(deviceSeries, 5) << "the shipped product line";
    EXPECT_EQ(names(matchUSBDevice(catalogueInForce(), 14286, 77)), Names{"VEXO"});
    // A supported model, but of another product line.
    EXPECT_TRUE(matchUSBDevice(catalogueInForce(), 14286, 301).empty());
}

// A shared PID or a nested identifier would list one device as two models.
TEST(Catalogue, RowsAreUnambiguous)
{
    for (int series = 1; series <= 5; ++series) {
        std::set<std::uint16_t> pids;
        for (const OrrinPrinter& row : catalogueFor(series)) {
            EXPECT_TRUE(pids.insert(row.PID).second) << row.printerName;
            for (const OrrinPrinter& other : catalogueFor(series)) {
                if (&row != &other && !row.oid.empty()) {
                    EXPECT_EQ(other.oid.find(row.oid), std::string_view::npos)
                        << row.printerName << " inside " << other.printerName;
                }
            }
        }
    }
}

TEST(Catalogue, USBMatchNeedsOurVendorAndAKnownProduct)
{
    EXPECT_EQ(names(matchUSBDevice(catalogueFor(1), 14286, 301)), Names{"LX310W"});
    EXPECT_EQ(names(matchUSBDevice(catalogueFor(2), 14286, 261)), Names{"QX-520dnw"});
    EXPECT_EQ(names(matchUSBDevice(catalogueFor(3), 14286, 52)), Names{"TN-MF420DNW"});
    EXPECT_EQ(names(matchUSBDevice(catalogueFor(4), 14286, 78)), Names{"MVEXO"});
    EXPECT_TRUE(matchUSBDevice(catalogueFor(5), 0x1234, 77).empty());
    EXPECT_TRUE(matchUSBDevice(catalogueFor(1), 14285, 301).empty());
    EXPECT_TRUE(matchUSBDevice(catalogueFor(1), 14286, 0).empty());
}

TEST(Catalogue, NetworkMatchIsBySubstringOfTheSysObjectID)
{
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(5), "1.3.6.1.4.1.59317.2.1.1.31")), Names{"VEXO"});
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(5), "1.3.6.1.4.1.59317.2.1.1.310")), Names{"VEXO"});
    EXPECT_TRUE(matchSysObjectID(catalogueFor(5), "1.3.6.1.4.1.59317.2.1.1.3").empty());
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(2), "1.3.6.1.4.1.59317.4.7.1.6")), Names{"QX-520dnw"});
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(3), "1.3.6.1.4.1.59317.4.7.1.8")), Names{"TN-MF420DNW"});
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(4), "1.3.6.1.4.1.59317.4.7.1.29")), Names{"MVEXO"});

    // Two identifiers in one text: both rows, in catalogue order.
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(1), "1.3.6.1.4.1.59317.4.7.1.5 1.3.6.1.4.1.59317.2.1.1.6")),
              (Names{"LX550DNW", "LM550DNW"}));
}

TEST(Catalogue, RowsWithoutOidAreFoundOverUSBOnly)
{
    for (std::string_view reported : {"", "1.3.6.1.4.1.59317", "anything"})
        EXPECT_TRUE(matchSysObjectID(catalogueFor(1), reported).empty()) << reported;
    EXPECT_EQ(names(matchUSBDevice(catalogueFor(1), 14286, 42)), Names{"LX330"});
    EXPECT_EQ(names(matchUSBDevice(catalogueFor(1), 14286, 90)), Names{"LM310"});
    EXPECT_EQ(names(matchUSBDevice(catalogueFor(1), 14286, 94)), Names{"LM330"});
}
