#include "filter_run.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef VEXO_FILTER_BINARY
#error "VEXO_FILTER_BINARY must name the filter to run"
#endif

namespace vexo::wholetest {

namespace backends {

namespace {
const std::string kOnline(1, '\x01');  // GET_CONNECTED data: connected
}

Backend connected()
{
    return [](const Request& r, const std::string&) {
        return Answer::reply(CUPS_SC_STATUS_OK, r.command == CUPS_SC_CMD_GET_CONNECTED ? kOnline : "");
    };
}

Backend notImplemented()
{
    return [](const Request&, const std::string&) { return Answer::reply(CUPS_SC_STATUS_NOT_IMPLEMENTED); };
}

Backend ioErrorOnce()
{
    return [](const Request& r, const std::string& s) {
        return r.number == 1 ? Answer::reply(CUPS_SC_STATUS_IO_ERROR) : connected()(r, s);
    };
}

Backend timeoutsFirst(int swallowed)
{
    return [swallowed](const Request& r, const std::string& s) {
        return r.number <= swallowed ? Answer::none() : connected()(r, s);
    };
}

Backend brokenAfterFirstPage()
{
    return [](const Request& r, const std::string& s) {
        if (r.command == CUPS_SC_CMD_DRAIN_OUTPUT && s.find("Event=EndOfPage;") != std::string::npos)
            return Answer::reply(CUPS_SC_STATUS_IO_ERROR);
        return connected()(r, s);
    };
}

Backend lateFirstAnswer()
{
    return [](const Request& r, const std::string& s) {
        Answer a = connected()(r, s);
        if (r.number == 1)
            a.delay = std::chrono::milliseconds(1500);
        return a;
    };
}

Backend silent(int terminateAt)
{
    return [terminateAt](const Request& r, const std::string&) { return Answer::none(r.number == terminateAt); };
}

}  // namespace backends

int FilterResult::requests(cups_sc_command_t command) const
{
    int n = 0;
    for (const auto& e : exchanges)
        n += e.request.command == command;
    return n;
}

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Above 10 and close-on-exec, so that no end lands on 0..4 by accident
// (socketpair and pipe hand out the lowest free numbers).
int lift(int fd)
{
    int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    if (high < 0)
        fail("fcntl");
    ::close(fd);
    return high;
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Reads what is there; false at end of file.
bool drainInto(int fd, std::string& out)
{
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
}

// libcups' side-channel calls work on descriptor 4 only, so the harness
// borrows that number for its own end while a run lasts and gives back
// whatever the test process had there.
class Fd4Loan {
public:
    explicit Fd4Loan(int ours)
    {
        if (::fcntl(4, F_GETFD) != -1)
            saved_ = ::fcntl(4, F_DUPFD_CLOEXEC, 10);
        if (::dup2(ours, 4) < 0)
            fail("dup2");
        ::close(ours);
    }
    ~Fd4Loan()
    {
        ::close(4);
        if (saved_ >= 0) {
            ::dup2(saved_, 4);
            ::close(saved_);
        }
    }
    Fd4Loan(const Fd4Loan&) = delete;
    Fd4Loan& operator=(const Fd4Loan&) = delete;

private:
    int saved_ = -1;
};

std::vector<std::string> childEnvironment(const FilterRun& run, const std::string& spoolDir)
{
    std::map<std::string, std::string> env = {
        {"PATH", "/usr/bin:/bin"},
        {"HOME", spoolDir},
        {"TMPDIR", spoolDir},
        // cupsCancelJob must not reach a real spooler on the test machine.
        {"CUPS_SERVER", spoolDir + "/no-spooler"},
    };
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* value = std::getenv(name))
            env[name] = value;
    if (run.ppd)
        env["PPD"] = *run.ppd;
    for (const auto& [name, value] : run.env)
        env[name] = value;
    std::vector<std::string> out;
    for (const auto& [name, value] : env)
        out.push_back(name + "=" + value);
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

FilterResult runFilter(const FilterRun& run, const std::string& spoolDir)
{
    std::signal(SIGPIPE, SIG_IGN);  // the filter may stop reading its raster early

    int sc[2], in[2], out[2], err[2];
    if (::socketpair(AF_LOCAL, SOCK_STREAM, 0, sc) != 0)
        fail("socketpair");
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0)
        fail("pipe");
    for (int* fd : {&sc[0], &sc[1], &in[0], &in[1], &out[0], &out[1], &err[0], &err[1]})
        *fd = lift(*fd);

    std::vector<std::string> argStrings = {"vexo-test", run.jobId, "tester", "test job", run.copies};
    if (run.options)
        argStrings.push_back(*run.options);
    std::vector<std::string> envStrings = childEnvironment(run, spoolDir);
    std::vector<char*> argv = pointers(argStrings), envp = pointers(envStrings);
    const char* binary = VEXO_FILTER_BINARY;

    FilterResult result;
    Fd4Loan loan(sc[0]);
    const auto started = Clock::now();
    pid_t pid = ::fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(4);  // the harness's end
        if (run.fd4 == Fd4::Backend) {
            ::dup2(sc[1], 4);
        } else if (run.fd4 == Fd4::NotASocket) {
            int null = ::open("/dev/null", O_RDWR);
            if (null != 4) {
                ::dup2(null, 4);
                ::close(null);
            }
        }
        ::signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(binary, argv.data(), envp.data());
        _exit(127);
    }
    ::close(sc[1]);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    setNonBlocking(in[1]);
    setNonBlocking(out[0]);
    setNonBlocking(err[0]);

    int stdinFd = in[1], stdoutFd = out[0], stderrFd = err[0];
    bool channelOpen = true, exited = false;
    std::size_t fed = 0;
    int status = 0;
    Clock::time_point terminatedAt{};
    struct Late {
        Clock::time_point due;
        cups_sc_command_t command;
        Answer answer;
    };
    std::vector<Late> late;
    const auto deadline = started + run.watchdog;

    if (run.raster.empty()) {
        ::close(stdinFd);
        stdinFd = -1;
    }
    while (stdoutFd >= 0 || stderrFd >= 0 || !exited) {
        if (!exited && ::waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
            if (terminatedAt != Clock::time_point{})
                result.secondsAfterTerminate = std::chrono::duration<double>(Clock::now() - terminatedAt).count();
        }
        if (!exited && Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            result.watchdogFired = true;
        }
        if (exited && stdinFd >= 0) {
            ::close(stdinFd);
            stdinFd = -1;
        }

        pollfd fds[4];
        nfds_t n = 0;
        if (stdoutFd >= 0)
            fds[n++] = {stdoutFd, POLLIN, 0};
        if (stderrFd >= 0)
            fds[n++] = {stderrFd, POLLIN, 0};
        const nfds_t channelSlot = n;
        if (channelOpen && !exited)
            fds[n++] = {4, POLLIN, 0};
        if (stdinFd >= 0)
            fds[n++] = {stdinFd, POLLOUT, 0};
        ::poll(fds, n, 20);

        // The stream first: a drain request follows the bytes it drains.
        if (stdoutFd >= 0 && !drainInto(stdoutFd, result.stream)) {
            ::close(stdoutFd);
            stdoutFd = -1;
        }
        if (stderrFd >= 0 && !drainInto(stderrFd, result.log)) {
            ::close(stderrFd);
            stderrFd = -1;
        }

        if (channelSlot < n && fds[channelSlot].fd == 4 && fds[channelSlot].revents) {
            cups_sc_command_t command;
            cups_sc_status_t ignored;
            char data[1024];
            int length = sizeof data;
            if (cupsSideChannelRead(&command, &ignored, data, &length, 1.0) == 0) {
                Request request{static_cast<int>(result.exchanges.size()) + 1, command};
                Answer answer = run.backend(request, result.stream);
                if (!answer.swallow && answer.delay.count() > 0)
                    late.push_back({Clock::now() + answer.delay, command, answer});
                else if (!answer.swallow)
                    cupsSideChannelWrite(command, answer.status, answer.data.data(),
                                         static_cast<int>(answer.data.size()), 1.0);
                if (answer.terminate && terminatedAt == Clock::time_point{}) {
                    ::kill(pid, SIGTERM);
                    terminatedAt = Clock::now();
                }
                result.exchanges.push_back({request, answer});
            } else if (fds[channelSlot].revents & (POLLHUP | POLLERR)) {
                channelOpen = false;  // the filter closed its end
            }
        }

        for (auto it = late.begin(); it != late.end();) {
            if (channelOpen && !exited && Clock::now() >= it->due) {
                cupsSideChannelWrite(it->command, it->answer.status, it->answer.data.data(),
                                     static_cast<int>(it->answer.data.size()), 1.0);
                it = late.erase(it);
            } else {
                ++it;
            }
        }

        if (stdinFd >= 0) {
            ssize_t w = ::write(stdinFd, run.raster.data() + fed, run.raster.size() - fed);
            if (w > 0)
                fed += static_cast<std::size_t>(w);
            if ((w < 0 && errno != EAGAIN && errno != EINTR) || fed == run.raster.size()) {
                ::close(stdinFd);  // all written, or the filter stopped reading
                stdinFd = -1;
            }
        }
    }
    if (stdinFd >= 0)
        ::close(stdinFd);

    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);

    for (const auto& entry : std::filesystem::directory_iterator(spoolDir))
        result.leftovers.push_back(entry.path().filename().string());
    return result;
}

}  // namespace vexo::wholetest
