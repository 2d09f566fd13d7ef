#include "NetBed.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

extern char** environ;

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
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int pipeFd[2];
    if (pipe2(pipeFd, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFd[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(pipeFd[0], buf, sizeof buf)) > 0;)
        out.append(buf, size_t(n));
    close(pipeFd[0]);
    if (spawned != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
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
    for (const auto& h : hosts) {
        argv.push_back("--host");
        argv.push_back(h);
    }
    for (const auto& p : printers) {
        std::string spec = p.segment + "=" + p.address + ",status=" + std::to_string(p.status) +
                           ",toner=" + std::to_string(p.toner);
        if (!p.oid.empty())
            spec += ",oid=" + p.oid;
        if (!p.mode.empty())
            spec += ",mode=" + p.mode;
        argv.push_back("--printer");
        argv.push_back(spec);
    }
    std::string out;
    const int rc = runCommand(argv, &out);
    ok_ = rc == 0;
    if (!ok_)
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
    const std::string path = "/run/netns/" + name_ + "-h";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
