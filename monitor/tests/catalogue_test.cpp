#include "Catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::vector<std::string> names(const std::vector<const OrrinPrinter*>& rows)
{
    std::vector<std::string> out;
    for (const OrrinPrinter* row : rows)
        out.emplace_back(row->printerName);
    return out;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(Catalogue, SeriesSelectsItsCatalogue)
{
    EXPECT_EQ(catalogueFor(1).size(), 25u);
    EXPECT_EQ(catalogueFor(2).size(), 9u);
    EXPECT_EQ(catalogueFor(3).size(), 1u);
    EXPECT_EQ(catalogueFor(4).size(), 1u);
    EXPECT_EQ(catalogueFor(5).size(), 1u);
    EXPECT_EQ(catalogueFor(3)[0].printerName, "TN-MF420DNW");
    EXPECT_EQ(catalogueFor(4)[0].printerName, "MVEXO");
    for (int unknown : {0, 6, -1, 99})
        EXPECT_EQ(catalogueFor(unknown).data(), catalogueFor(1).data()) << unknown;
}

TEST(Catalogue, ShippedSeriesRecognisesOnlyItsOwnModel)
{
    ASSERT_EQ(deviceSeries, 5) << "tests assume the shipped product line";
    const auto catalogue = catalogueInForce();
    ASSERT_EQ(catalogue.size(), 1u);
    const OrrinPrinter& vexo = catalogue[0];
    EXPECT_EQ(vexo.printerName, "VEXO");
    EXPECT_EQ(vexo.oid, "59317.2.1.1.31");
    EXPECT_EQ(vexo.PID, 77);
    EXPECT_EQ(vexo.hasWifi, 1);
    EXPECT_EQ(vexo.hasTonerInfo, 1);
    EXPECT_FALSE(vexo.hasWakeUp);
    EXPECT_EQ(vexo.productImage, "alder");

    EXPECT_EQ(names(matchUSBDevice(catalogue, 14286, 77)), Names{"VEXO"});
    // An LX310W is a supported model, but not of this product line.
    EXPECT_TRUE(matchUSBDevice(catalogue, 14286, 301).empty());
}

// Duplicate PIDs or nested object identifiers would list one device twice.
TEST(Catalogue, RowsAreUnambiguous)
{
    for (int series = 1; series <= 5; ++series) {
        const auto catalogue = catalogueFor(series);
        std::set<std::uint16_t> pids;
        for (const OrrinPrinter& row : catalogue) {
            EXPECT_TRUE(pids.insert(row.PID).second) << row.printerName << " in series " << series;
            for (const OrrinPrinter& other : catalogue) {
                if (&row != &other && !row.oid.empty()) {
                    EXPECT_EQ(other.oid.find(row.oid), std::string_view::npos)
                        << row.printerName << " inside " << other.printerName;
                }
            }
        }
    }
}

TEST(Catalogue, USBMatchNeedsVendorAndProduct)
{
    const auto full = catalogueFor(1);
    EXPECT_EQ(names(matchUSBDevice(full, 14286, 301)), Names{"LX310W"});
    EXPECT_EQ(names(matchUSBDevice(full, 14286, 258)), Names{"LM770DN"});
    EXPECT_TRUE(matchUSBDevice(full, 14285, 301).empty());
    EXPECT_TRUE(matchUSBDevice(full, 0x05AC, 301).empty());
    EXPECT_TRUE(matchUSBDevice(full, 14286, 0).empty());
    EXPECT_TRUE(matchUSBDevice(catalogueFor(5), 0x1234, 77).empty());

    EXPECT_EQ(names(matchUSBDevice(catalogueFor(2), 14286, 261)), Names{"QX-520dnw"});
    EXPECT_EQ(names(matchUSBDevice(catalogueFor(3), 14286, 52)), Names{"TN-MF420DNW"});
    EXPECT_EQ(names(matchUSBDevice(catalogueFor(4), 14286, 78)), Names{"MVEXO"});
}

TEST(Catalogue, NetworkMatchBySubstringOfSysObjectID)
{
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(5), "1.3.6.1.4.1.59317.2.1.1.31")), Names{"VEXO"});
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(5), "1.3.6.1.4.1.59317.2.1.1.310")), Names{"VEXO"});
    EXPECT_TRUE(matchSysObjectID(catalogueFor(5), "1.3.6.1.4.1.59317.2.1.1.3").empty());
    EXPECT_TRUE(matchSysObjectID(catalogueFor(5), "1.3.6.1.4.1.59317.2.1.1.29").empty());

    EXPECT_EQ(names(matchSysObjectID(catalogueFor(2), "1.3.6.1.4.1.59317.4.7.1.6")), Names{"QX-520dnw"});
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(3), "1.3.6.1.4.1.59317.4.7.1.8")), Names{"TN-MF420DNW"});
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(4), "1.3.6.1.4.1.59317.4.7.1.29")), Names{"MVEXO"});
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(1), "1.3.6.1.4.1.59317.4.7.1.25")), Names{"MAlder"});
}

TEST(Catalogue, SysObjectIDNamingTwoModelsYieldsBothInCatalogueOrder)
{
    const std::string_view reported = "1.3.6.1.4.1.59317.4.7.1.5 1.3.6.1.4.1.59317.2.1.1.6";
    EXPECT_EQ(names(matchSysObjectID(catalogueFor(1), reported)), (Names{"LX550DNW", "LM550DNW"}));
}

TEST(Catalogue, RowsWithoutOidAreNeverFoundOnTheNetwork)
{
    const auto full = catalogueFor(1);
    for (std::string_view reported : {"", "1.3.6.1.4.1.59317", "1.3.6.1.2.1.1.2.0", "anything"})
        EXPECT_TRUE(matchSysObjectID(full, reported).empty()) << reported;

    // The same models are still recognised over USB.
    EXPECT_EQ(names(matchUSBDevice(full, 14286, 42)), Names{"LX330"});
    EXPECT_EQ(names(matchUSBDevice(full, 14286, 90)), Names{"LM310"});
    EXPECT_EQ(names(matchUSBDevice(full, 14286, 94)), Names{"LM330"});
}
