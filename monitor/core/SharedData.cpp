#include "SharedData.h"

#include "PrinterModel.h"

#include <QCoreApplication>
#include <QThread>

#include <mutex>

namespace {

std::mutex transportMutex;
std::shared_ptr<PrinterTransport> pendingTransport;
bool printerModelMade = false;

PrinterModel* makePrinterModel()
{
    std::shared_ptr<PrinterTransport> transport;
    {
        std::lock_guard lock(transportMutex);
        transport = std::move(pendingTransport);
        printerModelMade = true;
    }
    auto* model = new PrinterModel(std::move(transport));
    // Observers and timers belong to the main thread, whoever asked first.
    if (QCoreApplication* app = QCoreApplication::instance(); app && app->thread() != QThread::currentThread())
        model->moveToThread(app->thread());
    return model;
}

}  // namespace

PrinterModel& SharedData::printerModel()
{
    // Never deleted: the views hold on to it until the process ends.
    static PrinterModel* const model = makePrinterModel();
    return *model;
}

bool SharedData::setPrinterTransport(std::shared_ptr<PrinterTransport> transport)
{
    std::lock_guard lock(transportMutex);
    if (printerModelMade)
        return false;
    pendingTransport = std::move(transport);
    return true;
}
