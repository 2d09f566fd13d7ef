// The simulator's USB printer used from other processes, as the monitor demo does:
// the bus lives in the simulator, vexo-status runs with the preload and the bus folder.

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
#include <vector>

namespace {

std::string outputOf(const std::string& command)
{
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    return output;
}

// Waits for `text` to show in the file.
bool appears(const std::string& file, const std::string& text)
{
    for (int i = 0; i < 200; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        std::ifstream in(file);
        if (std::string(std::istreambuf_iterator<char>(in), {}).find(text) != std::string::npos)
            return true;
    }
    return false;
}

class SimulatorUsbProcess : public ::testing::Test {
protected:
    // The --printer arguments: none, one printer.
    virtual std::vector<const char*> printers() const { return {}; }

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
            if (!freopen((dir + "/sim.out").c_str(), "w", stdout))
                _exit(126);
            std::vector<const char*> argv{VEXO_PRINTER_SIM, "serve", "--usb", "--control", ctl.c_str(),
                                          "--status", "10", "--toner", "55"};
            for (const char* printer : printers())
                argv.insert(argv.end(), {"--printer", printer});
            argv.push_back(nullptr);
            execv(VEXO_PRINTER_SIM, const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        ASSERT_TRUE(appears(dir + "/sim.out", "usb-bus /")) << "the simulator never reported its bus";
        std::ifstream(dir + "/sim.out") >> bus >> bus;
    }
    void TearDown() override
    {
        if (sim > 0) {
            kill(sim, SIGTERM);
            int status = 0;
            waitpid(sim, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the simulator did not end cleanly";
        }
        EXPECT_FALSE(!bus.empty() && std::filesystem::exists(bus)) << "the bus folder was left behind";
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
    std::string control(const std::string& command, bool ok = true)
    {
        const std::string reply = outputOf(VEXO_PRINTER_SIM " ctl --control " + ctl + " " + command);
        EXPECT_TRUE(!ok || reply == "ok\n") << command << ": " << reply;
        return reply;
    }

    std::string dir, ctl, bus;
    pid_t sim = -1;
};

// One-off readings follow the simulator's state; a watch with a minute
// between polls follows unplug and plug back at once, by the plug reports.
TEST_F(SimulatorUsbProcess, ReadingsAndPlugChangesReachAnotherProcess)
{
    EXPECT_NE(vexoStatus("discover 2>/dev/null").find("VX77000001       VEXO(USB 0001)"), std::string::npos);
    std::string reading = status();
    for (const char* field : {"\"label\":\"VEXO(USB 0001)\"", "\"serial\":\"VX77000001\"", "\"code\":10,", "\"toner\":55"})
        EXPECT_NE(reading.find(field), std::string::npos) << reading;
    control("status 3004");
    control("toner 7");
    reading = status();
    for (const char* field : {"\"code\":3004", "\"toner\":7"})
        EXPECT_NE(reading.find(field), std::string::npos) << reading;
    control("silent 1");
    EXPECT_NE(status().find("\"code\":4444"), std::string::npos) << "a silent printer reads as disconnected";
    control("silent 0");

    const std::string out = dir + "/watch.out";
    const pid_t watch = std::stoi(vexoStatus("--interval 60 watch >" + out + " 2>&1 & echo $!"));
    EXPECT_TRUE(appears(out, "status:  3004 "));
    control("plugged 0");
    EXPECT_TRUE(appears(out, "status:  4444 连接断开"));
    EXPECT_TRUE(appears(out, "unplugged: VEXO(USB 0001)"));
    control("status 2003");
    control("plugged 1");
    EXPECT_TRUE(appears(out, "plugged in: VEXO(USB 0001)"));
    EXPECT_TRUE(appears(out, "status:  2003 "));
    kill(watch, SIGTERM);
}

// The printer's short answers ("8004,Set AP OK", "1001") reach the other
// process as the printer sends them, padded to its minimum reply size. Busy
// comes from the printer itself or from the spooler holding the interface;
// the status still reads meanwhile.
TEST_F(SimulatorUsbProcess, WifiChangesGiveThePrintersSuccessAndBusyTexts)
{
    const std::string done = "设置成功: 已成功设置热点信息\nexit 0\n", busy = "错误: 设备忙,打印中\nexit 1\n";
    control("networks HomeNet:4 Lab:1");
    EXPECT_EQ(wifi("set-ap 1 --name NewAP --password abcdefgh"), done);
    EXPECT_EQ(wifi("join 1 Lab --password secret12"), done);
    const std::string state = control("get", false);
    EXPECT_NE(state.find("ap.name=NewAP\n"), std::string::npos) << state;
    EXPECT_NE(state.find("station.name=Lab\nstation.password=secret12\n"), std::string::npos) << state;

    for (const std::string holder : {"busy", "print-job"}) {
        control(holder + " 1");
        EXPECT_EQ(wifi("set-ap 1 --name Other --open"), busy) << holder;
        EXPECT_EQ(wifi("join 1 HomeNet"), busy) << holder;
        EXPECT_NE(status().find("\"code\":10,"), std::string::npos) << holder;
        control(holder + " 0");
    }
    EXPECT_EQ(wifi("set-ap 1 --name Other --open"), done);
}

// Two printers of one model, told apart by serial number: each reads as
// itself, and unplugging one leaves the watch on the other reading on.
class TwoPrintersOfOneModel : public SimulatorUsbProcess {
protected:
    std::vector<const char*> printers() const override
    {
        return {"VX77000001,status=3004,toner=20", "VX77000002,toner=80"};
    }
};

TEST_F(TwoPrintersOfOneModel, EachIsReadByItsSerialAndOneUnpluggedLeavesTheOther)
{
    const std::string list = vexoStatus("--json discover 2>/dev/null");
    for (const char* label : {"\"label\":\"VEXO(USB 0001)\"", "\"label\":\"VEXO(USB 0002)\""})
        EXPECT_NE(list.find(label), std::string::npos) << list;
    const std::string one = vexoStatus("--json status VX77000001 2>/dev/null");
    const std::string two = vexoStatus("--json status vx77000002 2>/dev/null");
    for (const char* field : {"\"serial\":\"VX77000001\"", "\"code\":3004,", "\"toner\":20"})
        EXPECT_NE(one.find(field), std::string::npos) << one;
    for (const char* field : {"\"serial\":\"VX77000002\"", "\"code\":10,", "\"toner\":80"})
        EXPECT_NE(two.find(field), std::string::npos) << two;
    EXPECT_NE(vexoStatus("status VX77000003 2>&1").find("no printer matches"), std::string::npos);

    const std::string out = dir + "/watch.out";
    const pid_t watch = std::stoi(vexoStatus("--interval 1 watch VX77000002 >" + out + " 2>&1 & echo $!"));
    EXPECT_TRUE(appears(out, "status:  10 "));
    control("--printer VX77000001 plugged 0");
    EXPECT_TRUE(appears(out, "unplugged: VEXO(USB 0001)"));
    control("--printer VX77000002 status 3079");
    EXPECT_TRUE(appears(out, "status:  3079 "));
    kill(watch, SIGTERM);
    std::ifstream in(out);
    const std::string watched(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(watched.find("4444"), std::string::npos) << watched;
    EXPECT_EQ(watched.find("unplugged: VEXO(USB 0002)"), std::string::npos) << watched;
}

}  // namespace
