#pragma once

#include "PrinterTransport.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Holds the calls that pass it until the test opens it.
class Gate {
public:
    void close() { set(false); }
    void open() { set(true); }
    void pass()
    {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.wait(lock, [this] { return open_; });
        --waiting_;
    }
    int waiting()
    {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    void set(bool open)
    {
        std::lock_guard lock(mutex_);
        open_ = open;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

// Printers and readings as a test scripts them; every status query is recorded.
class ScriptedTransport : public PrinterTransport {
    std::mutex mutex_;
    template <class F>
    auto locked(F f)
    {
        std::lock_guard lock(mutex_);
        return f();
    }

public:
    struct Query { bool usb; Printer printer; };

    // Discovery run n gets entry n of each list, later runs the last entry.
    void scriptDiscovery(QList<QList<Printer>> usbRuns, QList<QList<Printer>> netRuns)
    {
        locked([&] { usbRuns_ = std::move(usbRuns); netRuns_ = std::move(netRuns); });
    }
    // Queries of one link take the readings in order, then `steady` for ever.
    void scriptReadings(bool usb, std::deque<StatusReading> readings, StatusReading steady)
    {
        locked([&] { (usb ? usb_ : net_) = {std::move(readings), steady}; });
    }
    // A plug event, reported from another thread as the USB watch does.
    void reportUSB(const UsbDeviceChange& change)
    {
        std::thread([&] { locked([&] { if (watcher_) watcher_(change); }); }).join();
    }

    QList<Query> queries() { return locked([this] { return queries_; }); }
    qsizetype queryCount() { return queries().size(); }
    int discoveryRuns() { return locked([this] { return runs_; }); }

    Gate discoveryGate;  // between the USB and the network step of a run
    Gate statusGate;     // inside a status query, before it answers
    int wakeUpServers = 0;

    QList<Printer> getPrinterByIOUSB() override { return locked([this] { return pick(usbRuns_, runs_++); }); }
    QList<Printer> getPrinterBySNMP() override
    {
        discoveryGate.pass();
        return locked([this] { return pick(netRuns_, runs_ - 1); });
    }
    StatusReading getUSBControlRequestInfo(const Printer& printer) override { return answer(true, printer); }
    StatusReading getSNMPStatus(const Printer& printer) override { return answer(false, printer); }
    void createWakeUpServer(PrinterModel&) override { ++wakeUpServers; }
    void watchUSBDevices(std::function<void(const UsbDeviceChange&)> changed) override
    {
        locked([&] { watcher_ = std::move(changed); });
    }

private:
    struct Script { std::deque<StatusReading> readings; StatusReading steady{true, 1, 50}; };

    static QList<Printer> pick(const QList<QList<Printer>>& runs, int run)
    {
        return runs.isEmpty() ? QList<Printer>{} : runs.at(qMin<qsizetype>(run, runs.size() - 1));
    }

    StatusReading answer(bool usb, const Printer& printer)
    {
        locked([&] { queries_.append({usb, printer}); });
        statusGate.pass();
        return locked([&] {
            Script& script = usb ? usb_ : net_;
            if (script.readings.empty())
                return script.steady;
            const StatusReading next = script.readings.front();
            script.readings.pop_front();
            return next;
        });
    }

    QList<QList<Printer>> usbRuns_, netRuns_;
    Script usb_, net_;
    QList<Query> queries_;
    int runs_ = 0;  // USB enumerations: each discovery run and each re-enumeration
    std::function<void(const UsbDeviceChange&)> watcher_;
};
