// vexo-status wifi against the printer simulator on loopback.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port nothing listens on right now.
QString freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return QString::number(ntohs(a.sin_port));
}

struct Outcome {
    int rc;
    QString out, err;
};

class WifiCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = freePort();
        control = dir.filePath("ctl");
        sim.start(VEXO_PRINTER_SIM, {"serve", "--control", control, "--listen", "127.0.0.1", "--port", port});
        ASSERT_TRUE(sim.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(control); }, 5000));
    }

    void TearDown() override
    {
        sim.terminate();
        sim.waitForFinished();
    }

    static Outcome run(const char* program, const QStringList& args)
    {
        QProcess p;
        p.start(QString::fromLatin1(program), args);
        EXPECT_TRUE(p.waitForFinished(20000)) << args.join(' ').toStdString();
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    Outcome cli(const QStringList& args) { return run(VEXO_STATUS_CLI, args + QStringList{"--port", port}); }
    void ctl(const QStringList& args) { run(VEXO_PRINTER_SIM, QStringList{"ctl", "--control", control} + args); }

    QTemporaryDir dir;
    QString control, port;
    QProcess sim;
};

TEST_F(WifiCliTest, ShowsChangesAndRefusesWithThePanelsTexts)
{
    Outcome r = cli({"wifi", "show", "127.0.0.1"});
    EXPECT_EQ(r.rc, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("VEXO-AP")) << r.out.toStdString();

    // Global options count wherever they stand; a wifi value is never one.
    EXPECT_EQ(cli({"wifi", "set-ap", "127.0.0.1", "--name", "--json", "--password", "pa;ss?word"}).rc, 0);
    EXPECT_EQ(cli({"wifi", "join", "127.0.0.1", "Office", "--password", "s;cret"}).rc, 0);
    r = cli({"wifi", "show", "127.0.0.1", "--json"});
    EXPECT_TRUE(r.out.contains(R"("APName":"--json","APPassword":"pa;ss?word")")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(R"("WifiName":"Office","WifiPassword":"s;cret")")) << r.out.toStdString();

    r = cli({"wifi", "set-ap", "127.0.0.1", "--name", "Lab~"});
    EXPECT_EQ(r.rc, 2);
    EXPECT_EQ(r.err, QString::fromUtf8("错误: 热点名称长度范围:[1-16]，且输入需为数字/字母/符号，请修改后重试\n"));
    EXPECT_EQ(cli({"wifi", "join", "127.0.0.1", "Nowhere"}).rc, 1);
}

TEST_F(WifiCliTest, OptionsOutOfPlaceAreRefused)
{
    for (const QStringList& refused : {QStringList{"discover", "--frobnicate"}, QStringList{"discover", "extra"},
                                       QStringList{"watch", "1", "--interval", "0"},
                                       QStringList{"status", "1", "2"}, QStringList{"status", "1", "--interval"}}) {
        const Outcome r = run(VEXO_STATUS_CLI, refused);
        EXPECT_EQ(r.rc, 2) << refused.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
    }
}

TEST_F(WifiCliTest, FailedReadsAreNamedNeverPrintedAsData)
{
    ctl({"busy", "1"});
    Outcome r = cli({"wifi", "show", "127.0.0.1"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("access point: 设备忙,打印中"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("station: 设备忙,打印中"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("network scan:")) << r.err.toStdString();
    r = cli({"--json", "wifi", "show", "127.0.0.1"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_TRUE(r.out.contains(R"("apSetting":null)")) << r.out.toStdString();

    // A printer that takes the connection and never answers is no empty scan.
    ctl({"busy", "0"});
    ctl({"silent", "1"});
    r = cli({"wifi", "scan", "127.0.0.1"});
    EXPECT_NE(r.rc, 0);
    EXPECT_FALSE(r.out.contains("(no networks)")) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("network scan:")) << r.err.toStdString();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
