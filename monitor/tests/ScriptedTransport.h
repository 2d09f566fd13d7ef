#pragma once

#include "PrinterTransport.h"

#include <condition_variable>
#include <deque>
#include <mutex>

// Holds a transport call until the test lets it go.
class Gate {
public:
    void close()
    {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    void open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
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
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

// Printers and readings as the test scripts them; records every status query.
class ScriptedTransport : public PrinterTransport {
public:
    struct Query {
        bool usb;
        Printer printer;
    };

    // Discovery run n gets entry n of each list; later runs get the last entry.
    void scriptDiscovery(QList<QList<Printer>> usbRuns, QList<QList<Printer>> netRuns)
    {
        std::lock_guard lock(mutex_);
        usbRuns_ = std::move(usbRuns);
        netRuns_ = std::move(netRuns);
    }

    // Readings of one link are used in order; once they run out every query gets `steady`.
    void scriptUSBReadings(std::deque<StatusReading> readings, StatusReading steady = {true, 1, 50})
    {
        std::lock_guard lock(mutex_);
        usb_ = {std::move(readings), steady};
    }
    void scriptNetReadings(std::deque<StatusReading> readings, StatusReading steady = {true, 1, 50})
    {
        std::lock_guard lock(mutex_);
        net_ = {std::move(readings), steady};
    }

    QList<Query> queries()
    {
        std::lock_guard lock(mutex_);
        return queries_;
    }
    qsizetype queryCount() { return queries().size(); }
    int discoveryRuns()
    {
        std::lock_guard lock(mutex_);
        return discoveryRuns_;
    }

    Gate discoveryGate;  // held inside a run, between the USB and the network step
    Gate statusGate;     // held inside a status query, before it answers
    int wakeUpServers = 0;

    QList<Printer> getPrinterByIOUSB() override
    {
        std::lock_guard lock(mutex_);
        return pick(usbRuns_, discoveryRuns_++);
    }

    QList<Printer> getPrinterBySNMP() override
    {
        discoveryGate.pass();
        std::lock_guard lock(mutex_);
        return pick(netRuns_, discoveryRuns_ - 1);
    }

    StatusReading getUSBControlRequestInfo(const Printer& printer) override { return answer(true, printer); }
    StatusReading getSNMPStatus(const Printer& printer) override { return answer(false, printer); }

    void createWakeUpServer(PrinterModel&) override { ++wakeUpServers; }

private:
    static QList<Printer> pick(const QList<QList<Printer>>& runs, int run)
    {
        if (runs.isEmpty())
            return {};
        return runs.at(qMin<qsizetype>(run, runs.size() - 1));
    }

    StatusReading answer(bool usb, const Printer& printer)
    {
        {
            std::lock_guard lock(mutex_);
            queries_.append({usb, printer});
        }
        statusGate.pass();
        std::lock_guard lock(mutex_);
        Script& script = usb ? usb_ : net_;
        if (script.readings.empty())
            return script.steady;
        StatusReading next = script.readings.front();
        script.readings.pop_front();
        return next;
    }

    struct Script {
        std::deque<StatusReading> readings;
        StatusReading steady{true, 1, 50};
    };

    std::mutex mutex_;
    QList<QList<Printer>> usbRuns_;
    QList<QList<Printer>> netRuns_;
    Script usb_;
    Script net_;
    QList<Query> queries_;
    int discoveryRuns_ = 0;
};
