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
        Printer(std::string segment, std::string address, std::string oid = {}, std::string mode = {})
            : segment(std::move(segment)), address(std::move(address)), oid(std::move(oid)), mode(std::move(mode))
        {
        }
        std::string segment;
        std::string address;  // with prefix length, e.g. "10.77.0.11/24"
        std::string oid;      // empty: the simulator's default model
        std::string mode;     // "" or "unicast"
        int status = 10;
        int toner = 80;
    };

    // Empty when the bed can be built here, else why not.
    static std::string unavailableReason();

    // hosts: "SEG=ADDR/PLEN" entries for the host namespace.
    NetBed(std::vector<std::string> hosts, std::vector<Printer> printers);
    ~NetBed();

    NetBed(const NetBed&) = delete;
    NetBed& operator=(const NetBed&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& name() const { return name_; }
    std::string hostNamespace() const { return name_ + "-h"; }

    // The calling thread (and threads it starts later) into the host namespace.
    bool enterHost();

    // A control command to printer i (from 1); the simulator's answer.
    std::string control(int printer, const std::string& command) const;
    std::string address(int printer) const;
    pid_t agentPid(int printer) const;
    pid_t simulatorPid(int printer) const;

private:
    std::string dir(int printer) const;
    pid_t readPid(int printer, const char* file) const;

    std::string name_;
    bool ok_ = false;
    std::string error_;
    int originalNs_ = -1;
    std::vector<Printer> printers_;
};

// Runs a command, returns its exit status; output into *output when given.
int runCommand(const std::vector<std::string>& argv, std::string* output = nullptr);
