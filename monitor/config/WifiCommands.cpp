#include "WifiCommands.h"

#include <QHashFunctions>
#include <QRegularExpression>
#include <QStringList>

size_t qHash(const HotSpot& h, size_t seed) noexcept { return qHashMulti(seed, h.id, h.name, h.signalDB); }

namespace vexo::config {

namespace {

const QString kError = QStringLiteral("错误");
const QString kLineBreak = QStringLiteral("\r\n");

AlertTriple failure(const QString& text) { return {true, kError, text}; }

// USB printers may pad a short reply with zero bytes up to the transfer size.
QString withoutPadding(QString reply)
{
    qsizetype end = reply.size();
    while (end > 0 && reply.at(end - 1) == QChar(u'\0'))
        --end;
    reply.truncate(end);
    return reply;
}

struct Record {
    QString head;          // line 1 after its first ";"
    QStringList fields;    // lines 2 to 6
};

// The data of a "8013"/"8014" reply: six lines, the first holding its data
// after a ";". Anything shorter is unreadable.
std::optional<Record> readRecord(const QString& reply)
{
    const QStringList lines = reply.split(kLineBreak);
    if (lines.size() < 6)
        return std::nullopt;
    const qsizetype semicolon = lines[0].indexOf(u';');
    if (semicolon < 0)
        return std::nullopt;
    // Everything after the first ";": a name may hold one itself.
    return Record{lines[0].mid(semicolon + 1), lines.mid(1, 5)};
}

const QRegularExpression& addressPattern()
{
    static const QRegularExpression re(QRegularExpression::anchoredPattern(QStringLiteral(
        R"((?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?))")));
    return re;
}

// Blank to "z": "{", "|", "}" and "~" are refused along with everything else.
bool printableText(const QString& text, qsizetype min, qsizetype max)
{
    if (text.size() < min || text.size() > max)
        return false;
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7a)
            return false;
    return true;
}

QString lengthRule(const QString& what, const char16_t* range)
{
    return what + QString::fromUtf16(range) + QStringLiteral("且输入需为数字/字母/符号，请修改后重试");
}

std::optional<AlertTriple> asAlert(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    return failure(*text);
}

}  // namespace

QString setAPCommand(const APSetting& s)
{
    return QStringLiteral("SetwifiAP=") + s.APName + kLineBreak + QString::number(s.encryptMode) + kLineBreak +
           s.APPassword + kLineBreak + QStringLiteral("S") + kLineBreak + s.ip + kLineBreak + s.mask + kLineBreak +
           s.gateway + QStringLiteral(";");
}

QString setClientModeCommand(const QString& networkName, const ClietModeSetting& s)
{
    return QStringLiteral("SetwifiSTA=") + networkName + kLineBreak + s.WifiPassword + kLineBreak + s.ipSetType +
           kLineBreak + s.ip + kLineBreak + s.mask + kLineBreak + s.gateway + QStringLiteral(";");
}

QString escapeSettingCommand(const QString& command)
{
    QByteArray bytes = command.toUtf8();
    if (bytes.isEmpty())
        return command;
    const char last = bytes.back();
    for (char& c : bytes) {
        if (c == '?')
            c = '\x01';
        else if (c == ';')
            c = '\x02';
    }
    bytes.back() = last;
    return QString::fromUtf8(bytes);
}

QString resultCode(const QString& reply)
{
    const qsizetype comma = reply.indexOf(u',');
    return comma < 0 ? reply : reply.left(comma);
}

APInfoOutcome readAPInfoReply(const std::optional<QString>& raw)
{
    APInfoOutcome out;
    out.result = failure(QStringLiteral("数据解析错误"));
    if (!raw)
        return out;
    const QString reply = withoutPadding(*raw);
    const QString code = resultCode(reply);
    if (code == u"1001") {
        out.alter = AlertTriple{true, QStringLiteral("Error"), QStringLiteral("设备忙,打印中")};
        out.result = failure(QStringLiteral("设备忙,打印中"));
    } else if (code == u"8001") {
        out.alter = AlertTriple{true, QStringLiteral("Error"), QStringLiteral("当前wifi模式不支持")};
        out.result = failure(QStringLiteral("当前wifi模式不支持"));
    } else if (code == u"8014") {
        if (const auto r = readRecord(reply)) {
            out.setting = APSetting{r->head, r->fields[0] == u"6" ? 1 : 0, r->fields[1],
                                    r->fields[2], r->fields[3], r->fields[4]};
            out.result = {};
        }
    }
    return out;
}

ReplyOutcome readSetAPReply(const std::optional<QString>& raw)
{
    ReplyOutcome out;
    out.result = failure(QStringLiteral("AP设置返回数据解析错误"));
    if (!raw)
        return out;
    const QString code = resultCode(withoutPadding(*raw));
    if (code == u"8004")
        out.alter = AlertTriple{true, QStringLiteral("设置成功"), QStringLiteral("已成功设置热点信息")};
    else if (code == u"1001")
        out.alter = failure(QStringLiteral("打印中，无法设置"));
    else if (code == u"8005")
        out.alter = failure(QStringLiteral("设置的参数有误"));
    else if (code == u"8001")
        out.alter = failure(QStringLiteral("当前wifi模式不支持"));
    if (out.alter)
        out.result = *out.alter;
    return out;
}

ClientModeInfoOutcome readClientModeInfoReply(const std::optional<QString>& raw)
{
    ClientModeInfoOutcome out;
    out.result = failure(QStringLiteral("获取客户端模式数据出错"));
    if (!raw)
        return out;
    const QString reply = withoutPadding(*raw);
    // Busy and unsupported-mode answers carry no data, so they count even
    // without the comma a data reply has.
    const QString code = resultCode(reply);
    if (code == u"1001") {
        out.alter = failure(QStringLiteral("设备忙,打印中"));
        out.result = *out.alter;
    } else if (code == u"8001") {
        out.alter = failure(QStringLiteral("当前wifi模式不支持"));
        out.result = *out.alter;
    } else if (code == u"8013") {
        if (const auto r = readRecord(reply)) {
            ClietModeSetting s;
            s.WifiName = r->head;
            s.WifiPassword = r->fields[0];
            s.ipSetType = r->fields[1];
            s.ip = r->fields[2];
            s.mask = r->fields[3];
            s.gateway = r->fields[4];
            out.setting = s;
            out.result = {};
        }
    }
    return out;
}

ReplyOutcome readSetClientModeReply(const std::optional<QString>& raw)
{
    ReplyOutcome out;
    out.result = failure(QStringLiteral("数据解析出错，请重试"));
    if (!raw)
        return out;
    const QString code = resultCode(withoutPadding(*raw));
    if (code == u"8002")
        out.alter = AlertTriple{true, QStringLiteral("设置成功"), QStringLiteral("已成功设置热点信息")};
    else if (code == u"1001")
        out.alter = failure(QStringLiteral("打印中，无法设置"));
    else if (code == u"8003")
        out.alter = failure(QStringLiteral("设置的参数有误"));
    else if (code == u"8001")
        out.alter = failure(QStringLiteral("wifi模式不支持"));
    if (out.alter)
        out.result = *out.alter;
    return out;
}

ScanOutcome readScanReply(const std::optional<QString>& raw)
{
    ScanOutcome out;
    if (!raw)
        return out;
    const QString reply = withoutPadding(*raw);
    const qsizetype semicolon = reply.indexOf(u';');
    const QString code = resultCode(semicolon < 0 ? reply : reply.left(semicolon));
    // "Not ready" carries no body, so it counts with or without its ";".
    if (code == u"8011") {
        out.result = ScanResult::notReady;
        return out;
    }
    if (code != u"8012" || semicolon < 0)
        return out;

    // Everything after the first ";": names may hold one.
    const QString body = reply.mid(semicolon + 1);
    if (body.contains(u"8010,Wifi Scan noap")) {
        out.result = ScanResult::noAccessPoint;
        return out;
    }
    out.result = ScanResult::networks;
    int index = 0;
    for (const QString& line : body.split(kLineBreak)) {
        // Name, one separator, one digit; anything else is not a network.
        if (line.size() < 3)
            continue;
        const QChar level = line.back();
        if (level < u'0' || level > u'9')
            continue;
        out.hotSpots.append(HotSpot{index++, line.chopped(2), level.unicode() - u'0'});
    }
    return out;
}

void applyScan(ClietModeSetting& setting, const ScanOutcome& scan)
{
    if (scan.result == ScanResult::noAccessPoint) {
        setting.WifiPassword.clear();
        return;
    }
    if (scan.result != ScanResult::networks)
        return;
    bool found = false;
    for (const HotSpot& h : scan.hotSpots) {
        if (h.name == setting.WifiName) {
            setting.orderInList = h.id;  // the last of equal names wins
            found = true;
        }
    }
    if (!found)
        setting.WifiPassword.clear();
}

namespace alert {

AlertTriple scanNotAnswered() { return failure(QStringLiteral("打印机未返回扫描结果，请稍后重试")); }
AlertTriple noAnswer() { return failure(QStringLiteral("打印机未应答，请检查连接后重试")); }
AlertTriple noSuchHotSpot() { return failure(QStringLiteral("请先刷新热点列表并选择要加入的热点")); }
AlertTriple unsendableText() { return failure(QStringLiteral("设置中含有无法发送的控制字符，请修改后重试")); }

}  // namespace alert

bool isIPv4Address(const QString& text) { return addressPattern().match(text).hasMatch(); }

std::optional<QString> checkIP(const QString& ip)
{
    if (isIPv4Address(ip))
        return std::nullopt;
    return QStringLiteral("IP格式错误");
}

std::optional<QString> checkMask(const QString& mask)
{
    if (isIPv4Address(mask))
        return std::nullopt;
    return QStringLiteral("子网掩码格式错误");
}

std::optional<QString> checkGateway(const QString& gateway)
{
    if (isIPv4Address(gateway))
        return std::nullopt;
    return QStringLiteral("网关格式错误");
}

std::optional<QString> checkAPName(const QString& name)
{
    if (printableText(name, 1, 16))
        return std::nullopt;
    return lengthRule(QStringLiteral("热点名称长度范围:"), u"[1-16]，");
}

std::optional<QString> checkAPPassword(const QString& password, bool encrypted)
{
    if (encrypted) {
        if (printableText(password, 8, 16))
            return std::nullopt;
        return lengthRule(QStringLiteral("热点密码长度范围:"), u"[8-16]，");
    }
    if (printableText(password, 0, 16))
        return std::nullopt;
    return lengthRule(QStringLiteral("热点密码长度范围:"), u"[0-16]，");
}

std::optional<QString> checkWifiPassword(const QString& password)
{
    if (printableText(password, 0, 64))
        return std::nullopt;
    return lengthRule(QStringLiteral("热点密码长度范围:"), u"[0-64]，");
}

bool isSendable(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

std::optional<AlertTriple> checkAPForm(const APForm& f)
{
    for (const auto& text : {checkIP(f.ip), checkMask(f.mask), checkGateway(f.gateway), checkAPName(f.apName),
                             checkAPPassword(f.apPassword, f.encrypted)})
        if (text)
            return failure(*text);
    return std::nullopt;
}

std::optional<AlertTriple> checkClientModeForm(const ClientModeForm& f)
{
    if (f.fixedAddress)
        for (const auto& text : {checkIP(f.ip), checkMask(f.mask), checkGateway(f.gateway)})
            if (text)
                return failure(*text);
    return asAlert(checkWifiPassword(f.wifiPassword));
}

APSetting apSettingFromForm(const APForm& f)
{
    APSetting s;
    s.APName = f.apName;
    s.encryptMode = f.encrypted ? 6 : 0;
    s.ip = f.ip;
    s.mask = f.mask;
    s.gateway = f.gateway;
    // An open access point has no password to keep.
    s.APPassword = f.encrypted ? f.apPassword : QString();
    return s;
}

ClietModeSetting clientModeSettingFromForm(ClietModeSetting s, const ClientModeForm& f)
{
    const QString any = QStringLiteral("0.0.0.0");
    s.WifiPassword = f.wifiPassword;
    s.ip = f.fixedAddress ? f.ip : any;
    s.mask = f.fixedAddress ? f.mask : any;
    s.gateway = f.fixedAddress ? f.gateway : any;
    s.ipSetType = f.fixedAddress ? QStringLiteral("S") : QStringLiteral("D");
    s.orderInList = f.orderInList;
    return s;
}

std::optional<AlertTriple> checkAPSettingToSend(const APSetting& s)
{
    // The form's rules admit nothing that could break the fields apart.
    return checkAPForm(APForm{s.APName, s.encryptMode != 0, s.APPassword, s.ip, s.mask, s.gateway});
}

std::optional<AlertTriple> checkClientModeToSend(const QList<HotSpot>& hotSpotList, const ClietModeSetting& s)
{
    if (s.orderInList < 0 || s.orderInList >= hotSpotList.size())
        return alert::noSuchHotSpot();
    // The scanned name goes out as the printer reported it, any script
    // included; it only must not carry a line break of its own.
    for (const QString& field : {hotSpotList[s.orderInList].name, s.ipSetType, s.ip, s.mask, s.gateway})
        if (!isSendable(field))
            return alert::unsendableText();
    if (s.ipSetType == u"S")
        for (const auto& text : {checkIP(s.ip), checkMask(s.mask), checkGateway(s.gateway)})
            if (text)
                return failure(*text);
    return asAlert(checkWifiPassword(s.WifiPassword));
}

}  // namespace vexo::config
