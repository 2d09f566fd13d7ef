// A hostile host on the printers' segment (hostile-responder, SNMP written by
// hand) beside a well-behaved simulated printer: what it forges must not be
// believed, and what a broken printer sends must not be misread.

#include "NetBed.h"

#include "Catalogue.h"
#include "NetTransport.h"
#include "TCPCommucator.h"

#include <QProcess>

#include "QtTestApp.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>

using namespace vexo::net;

namespace {

constexpr const char* kHostile = "10.77.0.66";

class HostileBedTest : public testing::Test {
protected:
    void SetUp() override
    {
        testApp();
        const std::string why = NetBed::unavailableReason();
        if (!why.empty())
            GTEST_SKIP() << why;
        bed_ = std::make_unique<NetBed>(std::vector<std::string>{"a=10.77.0.1/24"},
                                        std::vector<NetBed::Printer>{{"a", "10.77.0.11/24"},
                                                                     {"a", std::string(kHostile) + "/24", "", "bare"}});
        ASSERT_TRUE(bed_->ok()) << bed_->error();
        ASSERT_TRUE(bed_->enterHost());
    }

    void TearDown() override
    {
        stopHostile();
        bed_.reset();
    }

    // (Re)starts the hostile host with the given plan.
    void hostile(QStringList plan)
    {
        stopHostile();
        hostile_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        hostile_.start("ip", QStringList{"netns", "exec", QString::fromStdString(bed_->name() + "-p2"), "python3",
                                         VEXO_HOSTILE, "--self", kHostile} +
                                 plan);
        ASSERT_TRUE(hostile_.waitForReadyRead(10000)) << "hostile responder did not start";
        ASSERT_EQ(hostile_.readLine().trimmed(), "ready");
    }

    void stopHostile()
    {
        if (hostile_.state() == QProcess::NotRunning)
            return;
        hostile_.kill();
        hostile_.waitForFinished();
    }

    static NetTransportOptions quick()
    {
        NetTransportOptions o;
        o.query.timeoutUs = 1'000'000;
        o.query.retries = 1;
        return o;
    }

    std::unique_ptr<NetBed> bed_;
    QProcess hostile_;
};

Printer at(const char* ip) { return Printer::fromNetworkDevice(catalogueInForce().front(), ip); }

}  // namespace

TEST_F(HostileBedTest, ForgedAnswersAreNotBelieved)
{
    hostile({"spoof-status", "bogus-discovery"});
    NetTransport net(quick());

    // A GetRequest, a Trap, a Report and an answer to another request are
    // no printers; the one proper answer shows the forgeries do arrive.
    std::vector<std::string> found;
    for (const Printer& p : net.getPrinterBySNMP())
        found.push_back(p.ip.toStdString());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"10.77.0.11", "10.77.0.65"})) << net.lastDiscovery().text;
    EXPECT_GE(net.lastDiscovery().stats.rejected, 4);

    // "3093" from another host and from another port of the printer, with
    // the right request id: the printer's own reading stands...
    for (int i = 0; i < 3; ++i) {
        const StatusReading r = net.getSNMPStatus(at("10.77.0.11"));
        EXPECT_TRUE(r.answered);
        EXPECT_EQ(r.code, 10);
    }
    // The forgeries race the printer's answer; on a loaded machine one query
    // may end before they arrive, so count over a few.
    int rejected = 0;
    for (int i = 0; i < 10 && rejected < 2; ++i) {
        SnmpQueryStats stats;
        EXPECT_TRUE(getPrinterStatusBySNMP("10.77.0.11", kStatusOid, quick().query, &stats));
        rejected += stats.rejected;
    }
    // ...and a silent printer stays silent.
    const pid_t agent = bed_->agentPid(1);
    ASSERT_GT(agent, 0);
    ASSERT_EQ(kill(agent, SIGSTOP), 0);
    const StatusReading silent = net.getSNMPStatus(at("10.77.0.11"));
    kill(agent, SIGCONT);
    EXPECT_FALSE(silent.answered) << silent.code;
    // Without forgeries on the wire the checks above prove nothing.
    if (rejected < 2)
        GTEST_SKIP() << "the forgeries did not reach the monitor in this run";
}

TEST_F(HostileBedTest, BrokenValuesAreReadFromTheirBytes)
{
    NetTransport net(quick());
    struct Case {
        const char* status;  // hex of the status object's bytes
        const char* toner;
        std::int64_t code;
        std::optional<std::int64_t> percent;
    };
    const QByteArray chinese = QByteArray("3004,前盖打开").toHex();
    const Case cases[] = {
        {chinese.constData(), "toner=int:42", 3004, 42},
        {"333030342c001b5b324a", "toner=int9", 3004, std::nullopt},                   // "3004,\0\e[2J"
        {"223330303422", "toner=string:75", 0, std::nullopt},                          // "\"3004\"": no comma, no code
        {"22333030342c71756f74656422", "toner=int:9223372036854775807", 3004, std::nullopt},  // "\"3004,quoted\""
    };
    for (const Case& c : cases) {
        hostile({QStringLiteral("status-hex=") + c.status, c.toner});
        const StatusReading r = net.getSNMPStatus(at(kHostile));
        EXPECT_EQ(r.answered, c.code != 0) << c.status;
        if (!r.answered)
            continue;
        // sysDescr "1,Ready" comes first and a second status after: neither counts.
        EXPECT_EQ(r.code, c.code) << c.status;
        EXPECT_EQ(r.toner, c.percent) << c.toner;
    }
    hostile({"status-wrong-var"});
    EXPECT_FALSE(net.getSNMPStatus(at(kHostile)).answered);
}

TEST_F(HostileBedTest, CommandPortRepliesAreWholeAndTheTerminalSafe)
{
    hostile({"tcp"});
    // A 1 MB scan: read up to the limit, its cut last line dropped.
    const auto scan = exchangeCommand(kHostile, "Checkwifiserver?", 1000, 3000);
    ASSERT_TRUE(scan);
    EXPECT_LE(scan->size(), kReplyLimit);
    EXPECT_GT(scan->size(), kReplyLimit - 64);
    EXPECT_TRUE(scan->ends_with(",3")) << scan->substr(scan->size() - 40);

    std::string out;
    ASSERT_EQ(runCommand({VEXO_STATUS_CLI, "wifi", "scan", kHostile}, &out), 0) << out;
    size_t networks = 0;
    for (size_t at = out.find("PadNet"); at != std::string::npos; at = out.find("PadNet", at + 1)) {
        ++networks;
        const std::string name = out.substr(at, 12);
        EXPECT_TRUE(std::all_of(name.begin() + 6, name.end(), ::isdigit)) << name;
        EXPECT_EQ(out.substr(at + 12, 9), "  signal ") << out.substr(at, 30);
    }
    EXPECT_GT(networks, 4000u);

    // ESC sequences and NUL in names and passwords: shown, not executed.
    ASSERT_EQ(runCommand({VEXO_STATUS_CLI, "wifi", "show", kHostile}, &out), 0) << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_EQ(out.find('\0'), std::string::npos);
    EXPECT_NE(out.find(R"(name:     Lab\x1b]0;owned\x07\x1b[2J\x00AP)"), std::string::npos) << out.substr(0, 400);
    EXPECT_NE(out.find(R"(password: pass\x1b[31m)"), std::string::npos);
    ASSERT_EQ(runCommand({VEXO_STATUS_CLI, "--json", "wifi", "show", kHostile}, &out), 0);
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_NE(out.find(R"("APName":"Lab\u001b]0;owned\u0007\u001b[2J\u0000AP")"), std::string::npos)
        << out.substr(0, 400);
}
