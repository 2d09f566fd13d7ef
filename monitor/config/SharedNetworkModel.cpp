#include "NetworkModel.h"
#include "PrinterModel.h"
#include "SharedData.h"

#include <QCoreApplication>
#include <QThread>

namespace {

NetworkModel* makeNetworkModel()
{
    auto* model = new NetworkModel(SharedData::printerModel());
    if (QCoreApplication* app = QCoreApplication::instance(); app && app->thread() != QThread::currentThread())
        model->moveToThread(app->thread());
    return model;
}

}  // namespace

NetworkModel& SharedData::networkModel()
{
    // Never deleted, like the printer model whose I/O thread it shares.
    static NetworkModel* const model = makeNetworkModel();
    return *model;
}
