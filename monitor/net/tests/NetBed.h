#pragma once

// A bed of simulated network printers for one test, in namespaces of its own
// (see tools/printersim/netbed). The test thread moves into the bed's host
// namespace; threads it starts afterwards (the model's I/O worker, the
// wake-up listener) are there too. Everything goes away with the object.

#include <sys/types.h>

#include <string>
#include <vector>

class NetBed {
public:
    struct Printer {
        std::string segment;
        std::string address;  // with prefix length, e.g. "10.77.0.11/24"
        std::string oid{};    // empty: the simulator's default model
        std::string mode{};   // "", "unicast" or "bare" (an empty namespace)
        int status = 10;
        int toner = 80;
    };

    static std::string unavailableReason();  // empty when a bed can be built here

    // hosts: "SEG=ADDR/PLEN" entries for the host namespace.
    NetBed(std::vector<std::string> hosts, std::vector<Printer> printers);
    ~NetBed();
    NetBed(const NetBed&) = delete;
    NetBed& operator=(const NetBed&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& name() const { return name_; }

    // The calling thread (and threads it starts later) into the host namespace.
    bool enterHost();
    // A control command to printer i (from 1); the simulator's answer.
    std::string control(int printer, const std::string& command) const;
    // The pid of printer i's "snmpd" or "sim".
    pid_t pid(int printer, const std::string& which) const;

private:
    std::string dir(int printer) const;

    std::string name_;
    std::string error_;
    int originalNs_ = -1;
};

// Runs a command, returns its exit status; output into *output when given.
int runCommand(const std::vector<std::string>& argv, std::string* output = nullptr);
