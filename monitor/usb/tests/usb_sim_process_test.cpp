// The simulator's USB printer reached from other processes, as the monitor
// demo uses it: the bus lives in the simulator, vexo-status runs with the
// preload and the bus folder.

#include "UsbTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

class SimulatorUsbProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The preloaded children come before a sanitizer runtime in the library list.
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":verify_asan_link_order=0").c_str(), 1);
        char tmpl[] = "/tmp/vexo-usbsim.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ctl = dir + "/ctl";
        sim = fork();
        if (sim == 0) {
            const std::string out = dir + "/sim.out";
            if (!freopen(out.c_str(), "w", stdout))
                _exit(126);
            execl(VEXO_PRINTER_SIM, VEXO_PRINTER_SIM, "serve", "--usb", "--control", ctl.c_str(), "--status", "10",
                  "--toner", "55", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && bus.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::ifstream in(dir + "/sim.out");
            std::string word;
            if (in >> word && word == "usb-bus")
                in >> bus;
        }
        ASSERT_FALSE(bus.empty()) << "the simulator never reported its bus";
    }
    void TearDown() override
    {
        if (sim > 0) {
            kill(sim, SIGTERM);
            int status = 0;
            waitpid(sim, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the simulator did not end cleanly";
        }
        if (!bus.empty()) {
            EXPECT_FALSE(std::filesystem::exists(bus)) << "the bus folder was left behind";
        }
        EXPECT_FALSE(std::filesystem::exists(ctl)) << "the control socket was left behind";
        std::filesystem::remove_all(dir);
    }

    // vexo-status on the simulator's bus, as the demo starts the monitor.
    std::string vexoStatus(const std::string& args)
    {
        return outputOf("UMOCKDEV_DIR=" + bus + " LD_PRELOAD=libumockdev-preload.so.0 timeout 20 " VEXO_STATUS_PATH
                        " --usb " + args);
    }
    std::string status() { return vexoStatus("--json status 1 2>/dev/null"); }
    // Both output streams and the exit status.
    std::string wifi(const std::string& args) { return vexoStatus("wifi " + args + " 2>&1; echo \"exit $?\""); }
    std::string control(const std::string& command, const char* answer = "ok\n")
    {
        const std::string reply = outputOf(VEXO_PRINTER_SIM " ctl --control " + ctl + " " + command);
        if (answer) {
            EXPECT_EQ(reply, answer) << command;
        }
        return reply;
    }

    // Waits until the file holds `text` at least `times` times.
    static bool appears(const std::string& file, const std::string& text, int times = 1)
    {
        for (int i = 0; i < 200; ++i) {
            std::ifstream in(file);
            const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            int found = 0;
            for (auto at = content.find(text); at != std::string::npos; at = content.find(text, at + 1))
                ++found;
            if (found >= times)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::string dir, ctl, bus;
    pid_t sim = -1;
};

TEST_F(SimulatorUsbProcess, ChangesOnTheSimulatorReachAnotherProcessUntilItFallsSilent)
{
    std::string reading = status();
    EXPECT_NE(reading.find("\"label\":\"VEXO(USB)\""), std::string::npos) << reading;
    EXPECT_NE(reading.find("\"code\":10,"), std::string::npos) << reading;
    EXPECT_NE(reading.find("\"toner\":55"), std::string::npos) << reading;

    control("status 3004");
    control("toner 7");
    reading = status();
    EXPECT_NE(reading.find("\"code\":3004"), std::string::npos) << reading;
    EXPECT_NE(reading.find("\"toner\":7"), std::string::npos) << reading;

    control("silent 1");
    reading = status();
    EXPECT_NE(reading.find("\"code\":4444"), std::string::npos) << "a silent printer reads as disconnected: " << reading;
    control("silent 0");
    EXPECT_NE(status().find("\"code\":3004"), std::string::npos);
}

// The printer's short answers ("8004,Set AP OK", "1001") reach the other
// process as the printer sends them, padded to its minimum reply size.
TEST_F(SimulatorUsbProcess, WifiChangesOverUsbGiveThePrintersSuccessAndBusyTexts)
{
    control("networks HomeNet:4 Lab:1");
    EXPECT_EQ(wifi("set-ap 1 --name NewAP --password abcdefgh"), "设置成功: 已成功设置热点信息\nexit 0\n");
    EXPECT_EQ(wifi("join 1 Lab --password secret12"), "设置成功: 已成功设置热点信息\nexit 0\n");
    const std::string state = control("get", nullptr);
    EXPECT_NE(state.find("ap.name=NewAP\n"), std::string::npos) << state;
    EXPECT_NE(state.find("station.name=Lab\nstation.password=secret12\n"), std::string::npos) << state;

    control("busy 1");
    for (const char* args : {"set-ap 1 --name Other --open", "join 1 HomeNet"})
        EXPECT_EQ(wifi(args), "错误: 设备忙,打印中\nexit 1\n") << args;
}

TEST_F(SimulatorUsbProcess, WhileTheSpoolerPrintsWifiIsBusyAndStatusStillReads)
{
    control("print-job 1");
    EXPECT_EQ(wifi("set-ap 1 --name Other --open"), "错误: 设备忙,打印中\nexit 1\n");
    EXPECT_NE(status().find("\"code\":10,"), std::string::npos);
    control("print-job 0");
    EXPECT_EQ(wifi("set-ap 1 --name Other --open"), "设置成功: 已成功设置热点信息\nexit 0\n");
}

// A minute between polls: only the plug reports can bring the news in time.
TEST_F(SimulatorUsbProcess, WatchFollowsUnplugAndPlugBack)
{
    const std::string out = dir + "/watch.out";
    const pid_t watch = fork();
    if (watch == 0) {
        const std::string command = "exec env UMOCKDEV_DIR=" + bus + " LD_PRELOAD=libumockdev-preload.so.0 " +
                                    VEXO_STATUS_PATH " --usb --interval 60 watch >" + out + " 2>&1";
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(watch, 0);
    EXPECT_TRUE(appears(out, "status:  10 "));
    control("plugged 0");
    EXPECT_TRUE(appears(out, "status:  4444 连接断开"));
    EXPECT_TRUE(appears(out, "unplugged: VEXO(USB)"));
    control("status 3004");
    control("plugged 1");
    EXPECT_TRUE(appears(out, "plugged in: VEXO(USB)"));
    EXPECT_TRUE(appears(out, "status:  3004 "));
    kill(watch, SIGTERM);
    waitpid(watch, nullptr, 0);
}

}  // namespace
