// One discovery run of the printer model over the network transport, in
// whatever network namespace it is started: wall time, printers found and
// the process's memory before and at its peak.
//   discovery_bench [repeats]

#include "NetTransport.h"
#include "PrinterModel.h"
#include "SystemTransport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

long statusKb(const char* key)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(std::string(key).size()));
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 1;
    const long rssBefore = statusKb("VmRSS:");

    auto transport = std::make_shared<SystemTransport>();
    for (int r = 0; r < repeats; ++r) {
        QElapsedTimer t;
        t.start();
        // Constructing the model starts its first discovery run.
        PrinterModel model(transport, PrinterModel::Options{600000, 5});
        if (model.isSearchingPrinter()) {
            QEventLoop loop;
            QObject::connect(&model, &PrinterModel::isSearchingPrinterChanged, &loop, [&] {
                if (!model.isSearchingPrinter())
                    loop.quit();
            });
            loop.exec();
        }
        const double wall = double(t.nsecsElapsed()) / 1e9;
        model.stopUpdateStatus();
        std::printf("found=%lld wall=%.3f networks=%d replies=%d rss_before_kb=%ld rss_peak_kb=%ld\n",
                    static_cast<long long>(model.printerList().size()), wall,
                    transport->net().lastDiscovery().stats.networks, transport->net().lastDiscovery().stats.replies,
                    rssBefore, statusKb("VmHWM:"));
    }
    return 0;
}
