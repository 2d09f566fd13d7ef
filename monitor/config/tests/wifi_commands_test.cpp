#include "WifiCommands.h"

#include "Printing.h"

#include <gtest/gtest.h>

using namespace vexo::config;

namespace {

const QString kNameRule = QStringLiteral("热点名称长度范围:[1-16]，且输入需为数字/字母/符号，请修改后重试");
const QString kAPPassword8 = QStringLiteral("热点密码长度范围:[8-16]，且输入需为数字/字母/符号，请修改后重试");
const QString kAPPassword0 = QStringLiteral("热点密码长度范围:[0-16]，且输入需为数字/字母/符号，请修改后重试");
const QString kWifiPassword = QStringLiteral("热点密码长度范围:[0-64]，且输入需为数字/字母/符号，请修改后重试");

QString text(const char* s) { return QString::fromUtf8(s); }
QString times(int n, char c = 'a') { return QString(n, QChar::fromLatin1(c)); }
AlertTriple error(const QString& t) { return {true, QStringLiteral("错误"), t}; }

struct FieldCase {
    QString value;
    std::optional<QString> refusal;
};

TEST(InputChecks, FieldsAcceptOrRefuseWithTheirTexts)
{
    const QString ipText = QStringLiteral("IP格式错误");
    for (const FieldCase& c : std::initializer_list<FieldCase>{
             {text("255.255.255.255"), {}}, {text("010.01.1.199"), {}}, {text("256.1.1.1"), ipText},
             {text("1.2.3"), ipText}, {text("1.2.3.4.5"), ipText}, {text(" 1.2.3.4"), ipText},
             {text("1.2.3.4\n"), ipText}, {text("1.2.3.0255"), ipText}})
        EXPECT_EQ(checkIP(c.value), c.refusal) << c.value.toStdString();
    EXPECT_EQ(checkGateway(text("gateway")), QStringLiteral("网关格式错误"));

    for (const FieldCase& c : std::initializer_list<FieldCase>{
             {text(" "), {}}, {times(16, 'z'), {}}, {QString(), kNameRule}, {times(17), kNameRule},
             {text("a{b"), kNameRule}, {text("a\tb"), kNameRule}})
        EXPECT_EQ(checkAPName(c.value), c.refusal) << c.value.toStdString();

    EXPECT_EQ(checkAPPassword(times(16), true), std::nullopt);
    EXPECT_EQ(checkAPPassword(times(17), false), kAPPassword0);

    EXPECT_EQ(checkWifiPassword(times(64)), std::nullopt);
    EXPECT_EQ(checkWifiPassword(text("p~ss")), kWifiPassword);
}

TEST(InputChecks, FormsTestTheirRulesInOrder)
{
    APForm ap{text("x~"), true, text("short"), text("1.2.3.4"), text("bad"), text("bad")};
    EXPECT_EQ(checkAPForm(ap), error(QStringLiteral("子网掩码格式错误")));
    ap.mask = ap.gateway = text("255.255.255.0");
    EXPECT_EQ(checkAPForm(ap), error(kNameRule));
    ap.apName = text("Lab");
    EXPECT_EQ(checkAPForm(ap), error(kAPPassword8));
    ap.encrypted = false;
    EXPECT_EQ(checkAPForm(ap), std::nullopt);

    // DHCP: the address fields are not tested.
    ClientModeForm sta{false, text("junk"), text("junk"), text("junk"), times(65), 2};
    EXPECT_EQ(checkClientModeForm(sta), error(kWifiPassword));
    sta.wifiPassword = QString();
    EXPECT_EQ(checkClientModeForm(sta), std::nullopt);
    sta.fixedAddress = true;
    EXPECT_EQ(checkClientModeForm(sta), error(QStringLiteral("IP格式错误")));
    sta.ip = sta.mask = text("255.255.255.0");
    EXPECT_EQ(checkClientModeForm(sta), error(QStringLiteral("网关格式错误")));
}

TEST(SettingCommands, NonAsciiNamesAreEscapedByCharacter)
{
    ClietModeSetting sta;
    sta.ipSetType = text("D");
    sta.ip = sta.mask = sta.gateway = text("0.0.0.0");
    EXPECT_EQ(escapeSettingCommand(setClientModeCommand(text("Café;?"), sta)).toUtf8(),
              QByteArray("SetwifiSTA=Caf\xc3\xa9\x02\x01\r\n\r\nD\r\n0.0.0.0\r\n0.0.0.0\r\n0.0.0.0;"));
}

TEST(Replies, AccessPointAndStationRecords)
{
    // A ";" in the name stays part of it.
    EXPECT_EQ(readAPInfoReply(text("8014,AP Info;My;AP\r\n6\r\npw\r\na\r\nb\r\nc")).setting->APName, text("My;AP"));
    for (const char* code : {"0", "66", ""})
        EXPECT_EQ(readAPInfoReply(text("8014,x;n\r\n%1\r\n\r\na\r\nb\r\nc").arg(text(code))).setting->encryptMode, 0);

    // Short records, a first line without ";", absent, empty and unknown replies.
    const AlertTriple apUnreadable = error(QStringLiteral("数据解析错误"));
    const AlertTriple staUnreadable = error(QStringLiteral("获取客户端模式数据出错"));
    for (const std::optional<QString>& r : {std::optional(text("8014,AP Info;n\r\n6\r\npw\r\nip\r\nmask")),
                                            std::optional(text("8014,AP Info n\r\n6\r\npw\r\nip\r\nmask\r\ngw")),
                                            std::optional(text("8014")), std::optional<QString>()}) {
        const auto a = readAPInfoReply(r);
        EXPECT_EQ(a.result, apUnreadable);
        EXPECT_FALSE(a.setting || a.alter);
        QString asStation = r.value_or(QString());
        asStation.replace(text("8014"), text("8013"));
        const auto s = readClientModeInfoReply(r ? std::optional(asStation) : r);
        EXPECT_EQ(s.result, staUnreadable);
        EXPECT_FALSE(s.setting || s.alter);
    }

    EXPECT_EQ(readClientModeInfoReply(text("8001,x")).result, error(QStringLiteral("当前wifi模式不支持")));
    // Busy, as a USB printer pads it.
    EXPECT_EQ(readAPInfoReply(text("1001") + QString(12, QChar(0))).alter,
              (AlertTriple{true, text("Error"), QStringLiteral("设备忙,打印中")}));
}

TEST(Replies, SettingResults)
{
    struct Case {
        const char* reply;
        AlertTriple ap, sta;
    };
    const AlertTriple ok{true, QStringLiteral("设置成功"), QStringLiteral("已成功设置热点信息")};
    const AlertTriple busy = error(QStringLiteral("打印中，无法设置"));
    const AlertTriple invalid = error(QStringLiteral("设置的参数有误"));
    const AlertTriple apBad = error(QStringLiteral("AP设置返回数据解析错误"));
    const AlertTriple staBad = error(QStringLiteral("数据解析出错，请重试"));
    for (const Case& c : std::initializer_list<Case>{
             {"8004,Set AP OK", ok, staBad}, {"8002,Set STA OK", apBad, ok}, {"1001", busy, busy},
             {"8005,bad", invalid, staBad}, {"8003,bad", apBad, invalid},
             {"8001,x", error(QStringLiteral("当前wifi模式不支持")), error(QStringLiteral("wifi模式不支持"))},
             {"80041", apBad, staBad}, {"", apBad, staBad}}) {
        EXPECT_EQ(readSetAPReply(text(c.reply)).result, c.ap) << c.reply;
        EXPECT_EQ(readSetClientModeReply(text(c.reply)).result, c.sta) << c.reply;
    }
    EXPECT_EQ(readSetAPReply(std::nullopt).result, apBad);
    EXPECT_FALSE(readSetAPReply(std::nullopt).alter);
    EXPECT_EQ(readSetClientModeReply(text("8002")).alter, ok);
}

TEST(Replies, ScanListsOnlyWellFormedLines)
{
    const auto scan = readScanReply(text("8012,Wifi Scan;HomeNet,4\r\nab\r\nBad,x\r\n\r\nOffice,2\r\nA;B,9"));
    EXPECT_EQ(scan.result, ScanResult::networks);
    EXPECT_EQ(scan.hotSpots, (QList<HotSpot>{{0, text("HomeNet"), 4}, {1, text("Office"), 2}, {2, text("A;B"), 9}}));

    EXPECT_EQ(readScanReply(text("8012,Wifi Scan;8010,Wifi Scan noap")).result, ScanResult::noAccessPoint);
    EXPECT_EQ(readScanReply(text("8011")).result, ScanResult::notReady);
    for (const char* r : {"8012,Wifi Scan", "8010,Wifi Scan noap", ";HomeNet,4", ""})
        EXPECT_EQ(readScanReply(text(r)).result, ScanResult::unreadable) << r;

    ClietModeSetting s;
    s.WifiName = text("Office");
    s.WifiPassword = text("kept");
    s.orderInList = 7;
    applyScan(s, readScanReply(text("8012,x;Office,1\r\nHome,2\r\nOffice,3")));
    EXPECT_EQ(s.orderInList, 2);  // the last of equal names
    EXPECT_EQ(s.WifiPassword, u"kept");
    applyScan(s, readScanReply(text("1001")));
    EXPECT_EQ(s.WifiPassword, u"kept");
    applyScan(s, readScanReply(text("8012,x;Home,2")));
    EXPECT_EQ(s.WifiPassword, QString());
    s.WifiPassword = text("again");
    applyScan(s, readScanReply(text("8012,x;8010,Wifi Scan noap")));
    EXPECT_EQ(s.WifiPassword, QString());
}

}  // namespace
