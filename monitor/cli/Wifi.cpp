// vexo-status wifi: the printer's wireless settings, with the checks and the
// texts of the settings panel.

#include "Cli.h"

#include "NetworkModel.h"
#include "TCPCommucator.h"
#include "PrinterModel.h"
#include "WifiCommands.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>

#include <algorithm>

using namespace vexo::config;

namespace vexo::cli {

namespace {

const char* const kUsage =
    "usage: vexo-status wifi show|scan <printer> [--port N]\n"
    "       vexo-status wifi set-ap <printer> [--name NAME] [--password PW | --open] [--port N]\n"
    "       vexo-status wifi join <printer> <network> [--password PW] [--ip A --mask M --gateway G] [--port N]\n"
    "A printer given by its address is reached there directly, without discovery.\n";

// Options of the form --key value; flags take no value.
struct Options {
    QStringList positional;
    QMap<QString, QString> values;
    QSet<QString> flags;

    bool has(const char* key) const { return values.contains(QLatin1String(key)); }
    QString value(const char* key) const { return values.value(QLatin1String(key)); }
};

std::optional<Options> parse(const QStringList& args, QTextStream& err)
{
    static const QStringList withValue{"--port", "--name", "--password", "--ip", "--mask", "--gateway"};
    Options o;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (withValue.contains(a)) {
            if (i + 1 >= args.size()) {
                err << a << " needs a value\n";
                return std::nullopt;
            }
            o.values.insert(a.mid(2), args[++i]);
        } else if (a == u"--open") {
            o.flags.insert(QStringLiteral("open"));
        } else if (a.startsWith(u"--")) {
            err << "unknown option " << a << '\n';
            return std::nullopt;
        } else {
            o.positional.append(a);
        }
    }
    return o;
}

// The network model, with the printer model whose selection and I/O thread it uses.
struct Session {
    std::unique_ptr<PrinterModel> ownPrinters;  // only for a printer given by address
    PrinterModel* printers = nullptr;
    std::unique_ptr<NetworkModel> model;
};

std::optional<Printer> open(Context& ctx, const QString& key, quint16 port, Session& s)
{
    if (isIPv4Address(key)) {
        // No discovery: nothing but this address is contacted.
        s.ownPrinters = std::make_unique<PrinterModel>(nullptr);
        s.printers = s.ownPrinters.get();
        QEventLoop loop;
        QObject::connect(s.printers, &PrinterModel::isSearchingPrinterChanged, &loop, &QEventLoop::quit);
        if (s.printers->isSearchingPrinter())
            loop.exec();
    } else {
        s.printers = &ctx.model();
    }
    std::optional<Printer> printer;
    if (s.ownPrinters) {
        printer = Printer(QString(), key, QStringLiteral("Net"), key, 0, printerVendorID, 1, 1, false, QString());
    } else {
        const QList<Printer> list = ctx.discover();
        printer = ctx.find(list, key);
        if (!printer) {
            ctx.err << (list.isEmpty() ? "no printer found\n" : "no printer matches \"" + key + "\"\n");
            return std::nullopt;
        }
        if (!printer->hasWifi) {
            ctx.err << printer->label << " has no Wi-Fi\n";
            return std::nullopt;
        }
    }
    s.printers->setSelectedPrinter(*printer);
    s.model = std::make_unique<NetworkModel>(
        *s.printers, NetworkModel::Carriers{nullptr, std::make_shared<TcpCommandCarrier>(port)});
    return printer;
}

AlertTriple await(NetworkModel& model, void (NetworkModel::*operation)(AlertCallback))
{
    AlertTriple result;
    QEventLoop loop;
    (model.*operation)([&](const AlertTriple& t) {
        result = t;
        loop.quit();
    });
    loop.exec();
    return result;
}

bool failed(const AlertTriple& t) { return t.show && t.title != u"设置成功"; }

// Prints an alert the way the panel would show it; true when it is a failure.
bool report(Context& ctx, const AlertTriple& t)
{
    if (t.show)
        (failed(t) ? ctx.err : ctx.out) << visible(t.title) << ": " << visible(t.text) << '\n';
    return failed(t);
}

QJsonObject apObject(const APSetting& s)
{
    return {{"APName", s.APName}, {"encrypted", s.encryptMode != 0}, {"APPassword", s.APPassword},
            {"ip", s.ip},         {"mask", s.mask},                  {"gateway", s.gateway}};
}

QJsonObject stationObject(const ClietModeSetting& s)
{
    return {{"WifiName", s.WifiName}, {"WifiPassword", s.WifiPassword}, {"ipSetType", s.ipSetType},
            {"ip", s.ip},             {"mask", s.mask},                 {"gateway", s.gateway}};
}

QJsonArray hotSpotArray(const QList<HotSpot>& list)
{
    QJsonArray a;
    for (const HotSpot& h : list)
        a.append(QJsonObject{{"id", h.id}, {"name", h.name}, {"signalDB", h.signalDB}});
    return a;
}

void printHotSpots(QTextStream& out, const QList<HotSpot>& list)
{
    if (list.isEmpty())
        out << "  (no networks)\n";
    for (const HotSpot& h : list)
        out << "  " << qSetFieldWidth(4) << Qt::left << QString::number(h.id) << qSetFieldWidth(0) << visible(h.name)
            << "  signal " << h.signalDB << '\n';
}

// Only what was read is printed; each part that failed is named on standard
// error instead, and the exit status says so.
int show(Context& ctx, NetworkModel& m, bool scanOnly)
{
    QStringList failures;
    // The carrier's reason, when it knows one, names the failure better.
    const auto reason = [&](const QString& otherwise) {
        const QString& known = m.lastExchangeNote().failure;
        return known.isEmpty() ? otherwise : known;
    };
    const auto read = [&](void (NetworkModel::*operation)(AlertCallback), const char* what) {
        const AlertTriple t = await(m, operation);
        if (!failed(t))
            return true;
        failures << QLatin1String(what) + QStringLiteral(": ") + reason(t.text);
        return false;
    };
    bool apRead = false;
    bool stationRead = false;
    if (!scanOnly) {
        apRead = read(&NetworkModel::getAPInfo, "access point");
        stationRead = read(&NetworkModel::getClientModeInfo, "station");
    }
    bool scanned = read(&NetworkModel::getHotSpotList, "network scan");
    const ScanResult scan = m.lastScanResult();
    if (scanned && scan != ScanResult::networks && scan != ScanResult::noAccessPoint) {
        failures << QStringLiteral("network scan: ") + reason(QStringLiteral("no readable answer from the printer"));
        scanned = false;
    }
    // Not a failure, but the list must not pass for the whole of it.
    const bool cut = scanned && m.lastScanCut();
    const QString cutNote = QStringLiteral("network scan: the printer's reply was longer than %1 bytes; only the "
                                           "networks in its first %1 bytes are listed")
                                .arg(vexo::net::kReplyLimit);
    for (const QString& f : failures)
        ctx.err << visible(f) << '\n';
    if (cut)
        ctx.err << cutNote << '\n';

    if (ctx.json) {
        QJsonObject o{{"hotSpotList", scanned ? QJsonValue(hotSpotArray(m.hotSpotList())) : QJsonValue()}};
        if (scanned)
            o.insert("hotSpotListCut", cut);
        if (!scanOnly) {
            o.insert("apSetting", apRead ? QJsonValue(apObject(m.apSetting())) : QJsonValue());
            o.insert("clietModeSetting", stationRead ? QJsonValue(stationObject(m.clietModeSetting())) : QJsonValue());
        }
        if (!failures.isEmpty())
            o.insert("errors", QJsonArray::fromStringList(failures));
        ctx.out << QJsonDocument(o).toJson(QJsonDocument::Compact) << '\n';
        return failures.isEmpty() ? 0 : 1;
    }
    if (apRead) {
        const APSetting& ap = m.apSetting();
        ctx.out << "access point\n  name:     " << visible(ap.APName) << "\n  security: "
                << (ap.encryptMode ? "WAP2PSK_AES" : "open") << "\n  password: " << visible(ap.APPassword)
                << "\n  address:  " << visible(ap.ip) << " mask " << visible(ap.mask) << " gateway "
                << visible(ap.gateway) << '\n';
    }
    if (stationRead) {
        const ClietModeSetting& sta = m.clietModeSetting();
        ctx.out << "station\n  network:  " << visible(sta.WifiName) << "\n  password: " << visible(sta.WifiPassword)
                << "\n  address:  " << (sta.ipSetType == u"D" ? QStringLiteral("DHCP") : visible(sta.ipSetType))
                << ' ' << visible(sta.ip) << " mask " << visible(sta.mask) << " gateway " << visible(sta.gateway)
                << '\n';
    }
    if (scanned) {
        ctx.out << "networks\n";
        printHotSpots(ctx.out, m.hotSpotList());
    }
    return failures.isEmpty() ? 0 : 1;
}

int setAP(Context& ctx, NetworkModel& m, const Options& o)
{
    if (report(ctx, await(m, &NetworkModel::getAPInfo)))
        return 1;
    const APSetting& now = m.apSetting();
    APForm form{now.APName, now.encryptMode != 0, now.APPassword, now.ip, now.mask, now.gateway};
    if (o.has("name"))
        form.apName = o.value("name");
    if (o.flags.contains(QStringLiteral("open")))
        form.encrypted = false;
    else if (o.has("password"))
        form.encrypted = true;
    if (o.has("password"))
        form.apPassword = o.value("password");
    if (const auto refused = checkAPForm(form)) {
        report(ctx, *refused);
        return 2;
    }
    m.setAPSetting(apSettingFromForm(form));
    return report(ctx, await(m, &NetworkModel::setAPInfo)) ? 1 : 0;
}

int join(Context& ctx, NetworkModel& m, const QString& network, const Options& o)
{
    const bool fixed = o.has("ip") || o.has("mask") || o.has("gateway");
    const ClientModeForm form{fixed, o.value("ip"), o.value("mask"), o.value("gateway"), o.value("password"), 0};
    // Refuse bad input before making the printer scan.
    if (const auto refused = checkClientModeForm(form)) {
        report(ctx, *refused);
        return 2;
    }
    if (report(ctx, await(m, &NetworkModel::getClientModeInfo)) || report(ctx, await(m, &NetworkModel::getHotSpotList)))
        return 1;
    if (m.lastScanResult() != ScanResult::networks && m.lastScanResult() != ScanResult::noAccessPoint) {
        const QString& known = m.lastExchangeNote().failure;
        ctx.err << "network scan: " << (known.isEmpty() ? QStringLiteral("no readable answer from the printer") : known)
                << '\n';
        return 1;
    }
    const QList<HotSpot>& list = m.hotSpotList();
    const auto found = std::find_if(list.rbegin(), list.rend(), [&](const HotSpot& h) { return h.name == network; });
    if (found == list.rend()) {
        ctx.err << "the printer does not see a network named \"" << visible(network) << "\""
                << (m.lastScanCut() ? " in the part of its scan that could be read" : "") << "; it sees:\n";
        printHotSpots(ctx.err, list);
        return 1;
    }
    ClientModeForm chosen = form;
    chosen.orderInList = found->id;
    m.setClietModeSetting(clientModeSettingFromForm(m.clietModeSetting(), chosen));
    return report(ctx, await(m, &NetworkModel::setClientModeInfo)) ? 1 : 0;
}

}  // namespace

int runWifi(Context& ctx, const QStringList& args)
{
    if (args.contains(QStringLiteral("--help"))) {
        ctx.out << kUsage;
        return 0;
    }
    const auto o = parse(args, ctx.err);
    static const QStringList actions{"show", "scan", "set-ap", "join"};
    if (!o || o->positional.size() < 2 || !actions.contains(o->positional[0]) ||
        (o->positional[0] == u"join") != (o->positional.size() == 3) || o->positional.size() > 3) {
        ctx.err << kUsage;
        return 2;
    }
    bool portOk = true;
    const uint port = o->has("port") ? o->value("port").toUInt(&portOk) : 9101;
    if (!portOk || port == 0 || port > 65535) {
        ctx.err << "--port needs a port number\n";
        return 2;
    }
    Session session;
    if (!open(ctx, o->positional[1], quint16(port), session))
        return 1;
    NetworkModel& m = *session.model;
    const QString& action = o->positional[0];
    if (action == u"show" || action == u"scan")
        return show(ctx, m, action == u"scan");
    if (action == u"set-ap")
        return setAP(ctx, m, *o);
    return join(ctx, m, o->positional[2], *o);
}

}  // namespace vexo::cli
