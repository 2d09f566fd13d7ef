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

// A shared PID or a nested identifier would list one device as two models.
TEST(Catalogue, RowsAreUnambiguous)
{
    for (int series = 1; series <= 5; ++series) {
        std::set<std::uint16_t> pids;
        for (const OrrinPrinter& row : catalogueFor(series)) {
            EXPECT_TRUE(pids.insert(row.PID).second) << row.printerName;
            for (const OrrinPrinter& other : catalogueFor(series))
                EXPECT_TRUE(&row == &other || row.oid.empty() || other.oid.find(row.oid) == std::string_view::npos)
                    << row.printerName << " in " << other.printerName;
        }
    }
    for (int other : {0, 6, -1})
        EXPECT_EQ(catalogueFor(other).data(), catalogueFor(1).data()) << other;
}

TEST(Catalogue, DevicesMatchByVendorAndProductOrBySysObjectIDSubstring)
{
    struct Usb { int series; std::uint16_t vid, pid; Names want; };
    for (const Usb& c : {Usb{5, 14286, 77, {"VEXO"}}, Usb{5, 14286, 301, {}},  // a model of another product line
                         Usb{1, 14286, 301, {"LX310W"}}, Usb{2, 14286, 261, {"QX-520dnw"}},
                         Usb{4, 14286, 78, {"MVEXO"}}, Usb{5, 0x1234, 77, {}}, Usb{1, 14285, 301, {}},
                         Usb{1, 14286, 0, {}}, Usb{1, 14286, 42, {"LX330"}}, Usb{1, 14286, 94, {"LM330"}}})
        EXPECT_EQ(names(matchUSBDevice(catalogueFor(c.series), c.vid, c.pid)), c.want) << c.series << " " << c.pid;

    struct Net { int series; std::string_view oid; Names want; };
    for (const Net& c : {Net{5, "1.3.6.1.4.1.59317.2.1.1.31", {"VEXO"}}, Net{5, "1.3.6.1.4.1.59317.2.1.1.310", {"VEXO"}},
                         Net{5, "1.3.6.1.4.1.59317.2.1.1.3", {}}, Net{3, "1.3.6.1.4.1.59317.4.7.1.8", {"TN-MF420DNW"}},
                         // Two identifiers in one text: both rows, in catalogue order.
                         Net{1, "1.3.6.1.4.1.59317.4.7.1.5 1.3.6.1.4.1.59317.2.1.1.6", {"LX550DNW", "LM550DNW"}},
                         // Rows without an identifier are found over USB only.
                         Net{1, "", {}}, Net{1, "1.3.6.1.4.1.59317", {}}, Net{1, "anything", {}}})
        EXPECT_EQ(names(matchSysObjectID(catalogueFor(c.series), c.oid)), c.want) << c.series << " " << c.oid;
}
