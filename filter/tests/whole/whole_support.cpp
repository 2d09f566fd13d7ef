#include "whole_support.h"

#include "image.h"
#include "jobstream/jbig_decode.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vexo::wholetest {

Backend connected()
{
    return [](const Request& r, const std::string&) {
        if (r.command == CUPS_SC_CMD_SNMP_GET)  // as a backend without SNMP (USB) answers
            return Answer::reply(CUPS_SC_STATUS_NOT_IMPLEMENTED);
        return Answer::reply(CUPS_SC_STATUS_OK, r.command == CUPS_SC_CMD_GET_CONNECTED ? std::string(1, '\x01') : "");
    };
}

int FilterResult::count(cups_sc_command_t command) const
{
    return static_cast<int>(std::count_if(requests.begin(), requests.end(),
                                          [&](const Request& r) { return r.command == command; }));
}

std::vector<std::string> FilterResult::pageLines() const
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < log.size()) {
        std::size_t end = log.find('\n', at);
        if (end == std::string::npos)
            end = log.size();
        if (log.compare(at, 6, "PAGE: ") == 0)
            lines.push_back(log.substr(at + 6, end - at - 6));
        at = end + 1;
    }
    return lines;
}

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Above 10 and close-on-exec, so that no descriptor lands on 0..4 by accident.
int lift(int fd)
{
    int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    if (fd < 0 || high < 0)
        fail("descriptor");
    ::close(fd);
    return high;
}

std::string contents(int fd)
{
    struct stat info {};
    ::fstat(fd, &info);
    std::string s(static_cast<std::size_t>(info.st_size), '\0');
    s.resize(static_cast<std::size_t>(std::max<ssize_t>(::pread(fd, s.data(), s.size(), 0), 0)));
    return s;
}

// The run's own variables first: the first of a name counts.
std::vector<std::string> childEnvironment(const FilterRun& run, const std::string& spoolDir)
{
    std::vector<std::string> env;
    for (const auto& [name, value] : run.env)
        env.push_back(name + "=" + value);
    // cupsCancelJob must not reach a real spooler on the test machine.
    env.insert(env.end(), {"PATH=/usr/bin:/bin", "HOME=" + spoolDir, "TMPDIR=" + spoolDir,
                           "CUPS_SERVER=" + spoolDir + "/no-spooler"});
    if (run.queuePpd)
        env.push_back("PPD=" VEXO_TEST_PPD);
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* value = std::getenv(name))
            env.push_back(std::string(name) + "=" + value);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

FilterResult runFilter(const FilterRun& run, const std::string& spoolDir)
{
    // Standard input, output and error are in-memory files; the side channel
    // is a socket pair spoken to in libcups' framing: command, status, two
    // bytes of length, data.
    int sc[2];
    if (::socketpair(AF_LOCAL, SOCK_STREAM, 0, sc) != 0)
        fail("socketpair");
    const int channel = lift(sc[0]), backendEnd = lift(sc[1]);
    const int in = lift(::memfd_create("raster", 0)), out = lift(::memfd_create("stream", 0)),
              err = lift(::memfd_create("log", 0));
    if (::write(in, run.raster.data(), run.raster.size()) != static_cast<ssize_t>(run.raster.size()))
        fail("write");
    ::lseek(in, 0, SEEK_SET);

    std::vector<std::string> argStrings = {"vexo-test", "42", "tester", "test job", run.copies};
    if (run.options)
        argStrings.push_back(*run.options);
    if (run.file)
        argStrings.push_back(*run.file);
    std::vector<std::string> envStrings = childEnvironment(run, spoolDir);
    std::vector<char*> argv = pointers(argStrings), envp = pointers(envStrings);

    FilterResult result;
    const auto started = Clock::now();
    pid_t pid = ::fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::close(4);
        if (run.fd4 == Fd4::Backend)
            ::dup2(backendEnd, 4);
        else if (run.fd4 == Fd4::NotASocket)
            ::dup2(::open("/dev/null", O_RDWR), 4);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(VEXO_FILTER_BINARY, argv.data(), envp.data());
        _exit(127);
    }
    ::close(backendEnd);

    bool channelOpen = true;
    int status = 0;
    Clock::time_point terminatedAt{};
    for (;;) {
        pollfd fd{channel, POLLIN, 0};
        ::poll(&fd, channelOpen ? 1 : 0, 20);
        unsigned char head[4];
        const ssize_t got = channelOpen && fd.revents ? ::recv(channel, head, 4, MSG_DONTWAIT) : -1;
        if (got == 4) {
            // An SNMP request carries its object's name; it follows the head
            // in the same write.
            std::string data(static_cast<std::size_t>(head[2] << 8 | head[3]), '\0');
            if (!data.empty() && ::recv(channel, data.data(), data.size(), MSG_WAITALL) != static_cast<ssize_t>(data.size()))
                fail("side channel request cut short");
            Request request{static_cast<int>(result.requests.size()) + 1, static_cast<cups_sc_command_t>(head[0])};
            Answer answer = run.backend(request, contents(out));
            if (!answer.swallow) {
                std::string reply = {static_cast<char>(head[0]), static_cast<char>(answer.status),
                                     static_cast<char>(answer.data.size() >> 8), static_cast<char>(answer.data.size())};
                reply += answer.data;
                ::send(channel, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
            if (answer.terminate && terminatedAt == Clock::time_point{}) {
                ::kill(pid, SIGTERM);
                terminatedAt = Clock::now();
            }
            result.requests.push_back(request);
        } else if (channelOpen && fd.revents && (got == 0 || (fd.revents & (POLLHUP | POLLERR)))) {
            channelOpen = false;  // the filter closed its end
        }
        if (::waitpid(pid, &status, WNOHANG) == pid)
            break;
        if (!result.watchdogFired && Clock::now() > started + std::chrono::seconds(20)) {
            ::kill(pid, SIGKILL);
            result.watchdogFired = true;
        }
    }
    if (terminatedAt != Clock::time_point{})
        result.secondsAfterTerminate = std::chrono::duration<double>(Clock::now() - terminatedAt).count();
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.stream = contents(out);
    result.log = contents(err);
    for (int fd : {channel, in, out, err})
        ::close(fd);
    for (const auto& entry : std::filesystem::directory_iterator(spoolDir))
        result.leftovers.push_back(entry.path().filename().string());
    try {
        if (!result.stream.empty())
            result.job = jobstream::parseJobStream(std::span(
                reinterpret_cast<const std::uint8_t*>(result.stream.data()), result.stream.size()));
    } catch (const jobstream::StreamError& e) {
        result.parseError = std::string("malformed job stream: ") + e.what();
    }
    return result;
}

}  // namespace

mkraster::PageFormat smallFormat(unsigned widthPt, unsigned heightPt)
{
    mkraster::PageFormat f;
    f.dpi = 72;
    f.widthPt = widthPt;
    f.heightPt = heightPt;
    f.sizeName = "Custom";
    return f;
}

std::vector<TestPage> samplePages(int count, const mkraster::PageFormat& format)
{
    std::vector<TestPage> pages;
    const cups_page_header2_t h = mkraster::pageHeader(format);
    for (int n = 1; n <= count; ++n)
        pages.push_back({format, mkraster::samplePage(static_cast<int>(h.cupsWidth), static_cast<int>(h.cupsHeight),
                                                      n, "")});
    return pages;
}

void addNoise(TestPage& page, unsigned seed)
{
    unsigned state = seed * 2654435761u + 1;
    for (int y = page.image.height / 2; y < page.image.height; ++y)
        for (int x = 0; x < page.image.width; ++x) {
            state = state * 1664525u + 1013904223u;
            page.image.at(x, y) = static_cast<std::uint8_t>(state >> 24);
        }
}

std::vector<std::uint8_t> rasterOf(const std::vector<TestPage>& pages, bool compressed)
{
    std::vector<std::uint8_t> bytes;
    mkraster::RasterWriter writer(bytes, compressed);
    for (const TestPage& page : pages)
        EXPECT_TRUE(writer.writePage(mkraster::pageHeader(page.format), page.image));
    EXPECT_TRUE(writer.close());
    return bytes;
}

Expected expectedPage(const TestPage& page, double ratio, int darkness)
{
    using namespace vexo::joblang;
    const mkraster::GrayImage& image = page.image;
    GrayPage gray{image.width, image.height, allocatePixels(image.pixels.size())};
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        gray.pixels[i] = mkraster::storedGray(image.pixels[i], page.format.bits);
    PackedPage packed = halftone(zoomGrayPage(std::move(gray), ratio), darkness);
    Expected e{image.width, image.height, {}};
    e.bits.assign(packed.bits.get(), packed.bits.get() + packed.stride() * static_cast<std::size_t>(packed.height));
    return e;
}

Expected blankPage(int width, int height)
{
    return {width, height, std::vector<std::uint8_t>(static_cast<std::size_t>((width + 7) / 8) * height, 0)};
}

::testing::AssertionResult shows(const jobstream::Page& page, const Expected& expected)
{
    const int width = (expected.width + 7) / 8 * 8;
    if (page.width != width || page.height != expected.height)
        return ::testing::AssertionFailure() << "page header says " << page.width << " x " << page.height
                                             << ", expected " << width << " x " << expected.height;
    try {
        const jobstream::DecodedImage image = jobstream::decodeJbig(page.data);
        if (image.header.xd != static_cast<unsigned long>(width) || image.header.yd != static_cast<unsigned long>(page.height))
            return ::testing::AssertionFailure() << "image is " << image.header.xd << " x " << image.header.yd;
        const auto& bits = image.bitmap.bits;
        if (bits == expected.bits)
            return ::testing::AssertionSuccess();
        auto differs = std::mismatch(bits.begin(), bits.end(), expected.bits.begin(), expected.bits.end());
        return ::testing::AssertionFailure() << "the image differs from the expected halftone from row "
                                             << (differs.first - bits.begin()) / (width / 8) << " on";
    } catch (const jobstream::JbigError& e) {
        return ::testing::AssertionFailure() << "page image: " << e.what();
    }
}

void WholeFilter::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vexo-whole-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    spoolDir = pattern;
}

void WholeFilter::TearDown()
{
    if (!spoolDir.empty())
        std::filesystem::remove_all(spoolDir);
}

FilterResult WholeFilter::run(const FilterRun& filterRun, int exitCode)
{
    FilterResult result = runFilter(filterRun, spoolDir);
    EXPECT_EQ(result.exitCode, exitCode) << result.log;
    EXPECT_EQ(result.parseError, "");
    EXPECT_FALSE(result.watchdogFired) << "filter still running after 20 s";
    EXPECT_EQ(result.signal, 0) << "filter died of signal " << result.signal;
    EXPECT_FALSE(contains(result.log, "Sanitizer")) << result.log;
    EXPECT_FALSE(contains(result.log, "runtime error:")) << result.log;
    EXPECT_TRUE(result.leftovers.empty()) << "left in the spool folder: " << ::testing::PrintToString(result.leftovers);
    for (const auto& name : result.leftovers)
        std::filesystem::remove(std::filesystem::path(spoolDir) / name);
    return result;
}

}  // namespace vexo::wholetest
