#pragma once

#include <memory>

class NetworkModel;
class PrinterModel;
class PrinterTransport;

// The process-wide model instances the window and the application use.
// Each is made on first access, once, and lives until the process ends.
class SharedData {
public:
    SharedData() = delete;

    static PrinterModel& printerModel();
    // Defined alongside the network settings model.
    static NetworkModel& networkModel();

    // Transport the shared printer model is built with. Takes effect only
    // before the first access to printerModel(); returns whether it did.
    static bool setPrinterTransport(std::shared_ptr<PrinterTransport> transport);
};
