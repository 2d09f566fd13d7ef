#include "Cli.h"

#include "PrinterModel.h"
#include "NetTransport.h"
#include "StatusCodes.h"
#include "SystemTransport.h"
#include "WifiCommands.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vexo::cli {

namespace {

QJsonObject printerObject(const Printer& p, int index)
{
    QJsonObject o{
        {"name", p.name},       {"label", p.label},         {"type", p.type},
        {"ip", p.ip},           {"PID", int(p.PID)},        {"VID", int(p.VID)},
        {"hasWifi", p.hasWifi != 0}, {"hasTonerInfo", p.hasTonerInfo != 0}, {"hasWakeUp", p.hasWakeUp},
        {"serial", p.serial},
    };
    if (index > 0)
        o.insert("index", index);
    return o;
}

QJsonObject statusObject(const StatusInfo& s)
{
    return {{"level", s.level},      {"levelName", levelName(s.level)}, {"message", s.message},
            {"discription", s.discription}, {"toner", s.toner ? QJsonValue(*s.toner) : QJsonValue()},
            {"code", s.code}};
}

// Waits for the reading that follows a selection (the first after "connecting").
StatusInfo awaitReading(PrinterModel& model)
{
    QEventLoop loop;
    QObject::connect(&model, &PrinterModel::statusInfoChanged, &loop, [&] {
        if (model.statusInfo().code != kStatusConnecting)
            loop.quit();
    });
    loop.exec();
    return model.statusInfo();
}

// A printer named by its address, asked there directly: its discovery
// answer may have been lost while it still answers for its status.
std::optional<Printer> atAddress(Context& ctx, const QString& address)
{
    ctx.noNetworkDiscovery = true;
    ctx.discover();  // the model's own first run; USB only now
    const auto found = ctx.transport().net().printersAt(address.toStdString());
    if (!found) {
        // Nothing answered; the status query says so in the window's words.
        return Printer(QString(), address, QStringLiteral("Net"), address, 0, printerVendorID, 0, 0, false, QString());
    }
    if (found->empty()) {
        ctx.err << address << " answers, but is not a supported printer\n";
        return std::nullopt;
    }
    return Printer::fromDevice(found->front());
}

std::optional<Printer> pick(Context& ctx, const QStringList& args, bool required)
{
    if (!args.isEmpty() && !ctx.usbOnly && vexo::config::isIPv4Address(args.first()))
        return atAddress(ctx, args.first());
    const QList<Printer> list = ctx.discover();
    if (list.isEmpty()) {
        ctx.err << "no printer found\n";
        return std::nullopt;
    }
    if (args.isEmpty()) {
        if (required) {
            ctx.err << "which printer? give its number, address, label, serial number or model name\n";
            return std::nullopt;
        }
        return list.first();
    }
    const auto found = ctx.find(list, args.first());
    if (!found)
        ctx.err << "no printer matches \"" << visible(args.first()) << "\"\n";
    return found;
}

}  // namespace

QString visible(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        else if ((u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F)
            out += QStringLiteral("\\u{%1}").arg(unsigned(u), 4, 16, QLatin1Char('0'));
        else if (u == u'\\')
            out += QStringLiteral("\\\\");
        else
            out += c;
    }
    return out;
}

bool tooMany(Context& ctx, const QStringList& args, qsizetype most)
{
    if (args.size() <= most)
        return false;
    ctx.err << "unexpected argument " << visible(args[most]) << '\n';
    return true;
}

QString levelName(qint64 level)
{
    switch (level) {
    case 1: return QStringLiteral("normal");
    case 2: return QStringLiteral("warning");
    case 3: return QStringLiteral("error");
    default: return QStringLiteral("unknown");
    }
}

QByteArray printerJson(const Printer& p, int index)
{
    return QJsonDocument(printerObject(p, index)).toJson(QJsonDocument::Compact);
}

QByteArray statusJson(const Printer& p, const StatusInfo& s)
{
    return QJsonDocument(QJsonObject{{"printer", printerObject(p, 0)}, {"status", statusObject(s)}})
        .toJson(QJsonDocument::Compact);
}

void printStatus(Context& ctx, const Printer& p, const StatusInfo& s)
{
    if (ctx.json) {
        ctx.out << statusJson(p, s) << '\n';
    } else {
        ctx.out << visible(p.label) << '\n'
                << "  status:  " << s.code << ' ' << visible(s.message) << " (" << levelName(s.level) << ")\n";
        if (!s.discription.isEmpty())
            ctx.out << "  advice:  " << visible(s.discription) << '\n';
        if (p.hasTonerInfo)
            ctx.out << "  toner:   " << (s.toner ? QString::number(*s.toner) + u'%' : QStringLiteral("unknown")) << '\n';
    }
    ctx.out.flush();
}

int runDiscover(Context& ctx, const QStringList& args)
{
    if (tooMany(ctx, args, 0))
        return 2;
    const QList<Printer> list = ctx.discover();
    if (ctx.json) {
        QJsonArray printers;
        for (int i = 0; i < list.size(); ++i)
            printers.append(printerObject(list[i], i + 1));
        ctx.out << QJsonDocument(QJsonObject{{"printers", printers}}).toJson(QJsonDocument::Compact) << '\n';
        return 0;
    }
    if (list.isEmpty()) {
        ctx.out << "no printer found\n";
        return 0;
    }
    ctx.out << qSetFieldWidth(4) << Qt::left << "#" << qSetFieldWidth(14) << "MODEL" << qSetFieldWidth(6) << "TYPE"
            << qSetFieldWidth(17) << "ADDRESS" << qSetFieldWidth(17) << "SERIAL" << qSetFieldWidth(0) << "LABEL\n";
    const auto orDash = [](const QString& text) { return text.isEmpty() ? QStringLiteral("-") : visible(text); };
    for (int i = 0; i < list.size(); ++i) {
        const Printer& p = list[i];
        ctx.out << qSetFieldWidth(4) << QString::number(i + 1) << qSetFieldWidth(14) << p.name << qSetFieldWidth(6)
                << p.type << qSetFieldWidth(17) << orDash(p.ip) << qSetFieldWidth(17) << orDash(p.serial)
                << qSetFieldWidth(0) << visible(p.label) << '\n';
    }
    return 0;
}

int runStatus(Context& ctx, const QStringList& args)
{
    if (tooMany(ctx, args, 1))
        return 2;
    const auto printer = pick(ctx, args, true);
    if (!printer)
        return 1;
    PrinterModel& model = ctx.model();
    model.readOnce(*printer);
    const StatusInfo s = awaitReading(model);
    printStatus(ctx, *printer, s);
    return s.code == kStatusNoAnswer ? 3 : 0;
}

int runWatch(Context& ctx, const QStringList& args)
{
    if (tooMany(ctx, args, 1))
        return 2;
    // Without a printer named, the first found; none found: the first plugged in.
    const QList<Printer> list = ctx.discover();
    std::optional<Printer> printer;
    if (!args.isEmpty()) {
        printer = ctx.find(list, args.first());
        if (!printer) {
            ctx.err << "no printer matches \"" << visible(args.first()) << "\"\n";
            return 1;
        }
    } else if (!list.isEmpty()) {
        printer = list.first();
    }
    PrinterModel& model = ctx.model();
    const auto stamp = [&ctx] {
        if (!ctx.json)
            ctx.out << QDateTime::currentDateTime().toString(Qt::ISODate) << "  ";
    };
    QObject::connect(&model, &PrinterModel::statusInfoChanged, &model, [&ctx, &model, stamp] {
        const StatusInfo s = model.statusInfo();
        if (s.code == kStatusConnecting || model.selectedPrinter().name.isEmpty())
            return;
        stamp();
        printStatus(ctx, model.selectedPrinter(), s);
    });
    // USB printers plugged in and out, as the list follows them.
    QObject::connect(&model, &PrinterModel::printerListChanged, &model, [&ctx, &model, stamp, seen = list]() mutable {
        const QList<Printer> now = model.printerList();
        const auto report = [&](const Printer& p, const char* event) {
            if (p.type != u"USB")
                return;
            stamp();
            if (ctx.json)
                ctx.out << "{\"event\":\"" << event << "\",\"printer\":" << printerJson(p, 0) << "}\n";
            else
                ctx.out << event << ": " << visible(p.label) << '\n';
        };
        for (const Printer& p : seen)
            if (!now.contains(p))
                report(p, "unplugged");
        for (const Printer& p : now)
            if (!seen.contains(p))
                report(p, "plugged in");
        ctx.out.flush();
        seen = now;
    });
    if (printer)
        model.clickPrinter(*printer);
    else
        ctx.err << "no printer found; waiting for one to be plugged in\n";
    ctx.err.flush();
    return QCoreApplication::exec();
}

std::span<const Command> commands()
{
    static const Command table[] = {
        {"discover", "", "list the printers found over USB and on the local networks", runDiscover},
        {"status", "<printer>", "query one printer once and print its decoded status", runStatus},
        {"watch", "[printer]", "poll a printer (the first found by default) and print every reading and USB plug", runWatch},
        {"wifi", "<action> ...", "show, scan, set-ap or join: a printer's Wi-Fi settings (wifi --help)", runWifi},
    };
    return table;
}

}  // namespace vexo::cli
