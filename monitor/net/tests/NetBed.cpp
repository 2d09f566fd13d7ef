#include "NetBed.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kRunDir = "/tmp/vexo-netbed";

std::string nextName()
{
    static std::atomic<int> n = 0;
    return "vxt" + std::to_string(getpid()) + char('a' + n++ % 26);
}

}  // namespace

int runCommand(const std::vector<std::string>& argv, std::string* output)
{
    std::string line;
    for (const auto& a : argv) {
        line += " '";
        for (char c : a)
            line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    FILE* pipe = popen((line + " </dev/null").c_str(), "re");
    if (!pipe)
        return -1;
    std::string out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    const int status = pclose(pipe);
    if (output)
        *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string NetBed::unavailableReason()
{
    if (geteuid() != 0)
        return "needs root to create network namespaces";
    if (access("/usr/sbin/snmpd", X_OK) != 0)
        return "snmpd is not installed";
    if (runCommand({"ip", "netns", "list"}) != 0)
        return "ip netns is not available";
    // Someone's earlier run that died before it could clean up.
    runCommand({VEXO_NETBED, "reap"});
    return {};
}

NetBed::NetBed(std::vector<std::string> hosts, std::vector<Printer> printers)
    : name_(nextName())
{
    std::vector<std::string> argv{VEXO_NETBED, "up", name_, "--sim", VEXO_PRINTER_SIM, "--run", kRunDir};
    for (const auto& h : hosts)
        argv.insert(argv.end(), {"--host", h});
    for (const auto& p : printers) {
        std::string spec = p.segment + "=" + p.address + ",status=" + std::to_string(p.status) +
                           ",toner=" + std::to_string(p.toner);
        if (!p.oid.empty())
            spec += ",oid=" + p.oid;
        if (!p.mode.empty())
            spec += ",mode=" + p.mode;
        argv.insert(argv.end(), {"--printer", spec});
    }
    std::string out;
    if (const int rc = runCommand(argv, &out); rc != 0)
        error_ = "netbed up failed (" + std::to_string(rc) + "): " + out;
}

NetBed::~NetBed()
{
    if (originalNs_ >= 0) {
        setns(originalNs_, CLONE_NEWNET);
        close(originalNs_);
    }
    runCommand({VEXO_NETBED, "down", name_, "--run", kRunDir});
}

bool NetBed::enterHost()
{
    if (originalNs_ < 0)
        originalNs_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int fd = open(("/run/netns/" + name_ + "-h").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool entered = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    return entered;
}

std::string NetBed::dir(int printer) const
{
    return std::string(kRunDir) + "/" + name_ + "/p" + std::to_string(printer);
}

std::string NetBed::control(int printer, const std::string& command) const
{
    std::vector<std::string> argv{VEXO_PRINTER_SIM, "ctl", "--control", dir(printer) + "/ctl"};
    std::istringstream words(command);
    for (std::string w; words >> w;)
        argv.push_back(w);
    std::string out;
    runCommand(argv, &out);
    return out;
}

pid_t NetBed::pid(int printer, const std::string& which) const
{
    std::ifstream in(dir(printer) + "/" + which + ".pid");
    pid_t pid = 0;
    in >> pid;
    return pid;
}
