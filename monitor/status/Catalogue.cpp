#include "Catalogue.h"

#include <array>

namespace {

// Columns: printerName, oid, PID, hasWifi, hasTonerInfo, hasWakeUp, productImage.

constexpr std::array<OrrinPrinter, 25> OrrinPrinterList{{
    {"LX310W", "59317.2.1.1.5", 301, 1, 1, true, "alder"},
    {"LX310NW", "59317.2.1.1.8", 657, 1, 1, true, "alder"},
    {"LX310N", "59317.2.1.1.9", 650, 0, 1, true, "alder"},
    {"LX310", "59317.2.1.1.10", 302, 0, 1, true, "alder"},
    {"LX330", "", 42, 0, 1, true, "alder"},
    {"LX330W", "59317.2.1.1.22", 43, 1, 1, true, "alder"},
    {"LX330N", "59317.2.1.1.21", 44, 0, 1, true, "alder"},
    {"LX330NW", "59317.2.1.1.16", 45, 1, 1, true, "alder"},
    {"Alder", "59317.2.1.1.29", 76, 1, 1, true, "alder"},
    {"LX550DNW", "59317.2.1.1.6", 60, 1, 1, true, "LX550DNW"},
    {"LM550DNW", "59317.4.7.1.5", 260, 1, 1, false, "LM550DNW"},
    {"LM550DNW-M", "59317.4.7.1.7", 63, 1, 1, false, "LM550DNW"},
    {"LM310NW", "59317.4.7.1.10", 4, 1, 1, false, "mfAlderbtn"},
    {"LM310N", "59317.4.7.1.16", 28, 0, 1, false, "mfAlderbtn"},
    {"LM310W", "59317.4.7.1.17", 80, 1, 1, false, "mfAlderbtn"},
    {"LM310", "", 90, 0, 1, false, "mfAlderbtn"},
    {"LM330NW", "59317.4.7.1.20", 91, 1, 1, false, "mfAlderbtn"},
    {"LM330N", "59317.4.7.1.21", 93, 0, 1, false, "mfAlderbtn"},
    {"LM330W", "59317.4.7.1.22", 92, 1, 1, false, "mfAlderbtn"},
    {"LM330", "", 94, 0, 1, false, "mfAlderbtn"},
    {"MAlder", "59317.4.7.1.25", 75, 1, 1, false, "mfAlderbtn"},
    {"LX760DN", "59317.2.1.1.4", 656, 0, 0, true, "cedar"},
    {"LX760DNW", "59317.2.1.1.17", 15, 1, 0, true, "cedar"},
    {"LM770DNW", "59317.4.7.1.15", 14, 1, 1, false, "mfCedar"},
    {"LM770DN", "59317.4.7.1.4", 258, 0, 1, false, "mfCedar"},
}};

constexpr std::array<OrrinPrinter, 9> QXPrinterList{{
    {"QX-520dnw", "59317.4.7.1.6", 261, 1, 1, false, "mfBirch"},
    {"QX-210nw", "59317.2.1.1.13", 5, 1, 1, false, "alder"},
    {"QX-210n", "59317.2.1.1.14", 10, 0, 1, false, "alder"},
    {"QX-215nw", "59317.4.7.1.12", 6, 1, 1, false, "mfAlder"},
    {"QX-215n", "59317.4.7.1.14", 11, 0, 1, false, "mfAlder"},
    {"QX-530dnw", "59317.2.1.1.12", 7, 1, 0, false, "cedar"},
    {"QX-530dn", "59317.2.1.1.15", 12, 0, 0, false, "cedar"},
    {"QX-535dnw", "59317.4.7.1.11", 8, 1, 1, false, "mfCedar"},
    {"QX-535dn", "59317.4.7.1.13", 13, 0, 1, false, "mfCedar"},
}};

constexpr std::array<OrrinPrinter, 1> TarnPrinterList{{
    {"TN-MF420DNW", "59317.4.7.1.8", 52, 1, 1, false, "birch"},
}};

constexpr std::array<OrrinPrinter, 1> TarnNoMFGMPDevices{{
    {"MVEXO", "59317.4.7.1.29", 78, 1, 1, false, "mfAlder"},
}};

constexpr std::array<OrrinPrinter, 1> TarnNoMFGPDevices{{
    {"VEXO", "59317.2.1.1.31", 77, 1, 1, false, "alder"},
}};

}  // namespace

std::span<const OrrinPrinter> catalogueFor(int series)
{
    switch (series) {
    case 2: return QXPrinterList;
    case 3: return TarnPrinterList;
    case 4: return TarnNoMFGMPDevices;
    case 5: return TarnNoMFGPDevices;
    default: return OrrinPrinterList;
    }
}

std::vector<const OrrinPrinter*> matchUSBDevice(std::span<const OrrinPrinter> catalogue,
                                                std::uint16_t vendorID, std::uint16_t productID)
{
    std::vector<const OrrinPrinter*> rows;
    if (vendorID != printerVendorID)
        return rows;
    for (const OrrinPrinter& row : catalogue)
        if (row.PID == productID)
            rows.push_back(&row);
    return rows;
}

std::vector<const OrrinPrinter*> matchSysObjectID(std::span<const OrrinPrinter> catalogue,
                                                  std::string_view sysObjectID)
{
    std::vector<const OrrinPrinter*> rows;
    for (const OrrinPrinter& row : catalogue)
        if (!row.oid.empty() && sysObjectID.find(row.oid) != std::string_view::npos)
            rows.push_back(&row);
    return rows;
}
