// vexo-status: the printer model on the command line.

#include "Cli.h"

#include "DeviceLogSink.h"
#include "NetTransport.h"
#include "PrinterModel.h"
#include "SystemTransport.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdio>

namespace vexo::cli {

SystemTransport& Context::transport()
{
    if (!transport_) {
        vexo::net::NetTransportOptions options;
        if (usbOnly || noNetworkDiscovery)
            options.interfaces = [] { return std::vector<vexo::net::InterfaceAddress>{}; };
        if (usbOnly)
            options.wakeUpPort = 0;
        auto net = std::make_shared<vexo::net::NetTransport>(options);
        transport_ = std::make_shared<SystemTransport>(net);
    }
    return *transport_;
}

PrinterModel& Context::model()
{
    if (!model_) {
        transport();
        PrinterModel::Options options;
        options.pollIntervalMs = intervalSeconds * 1000;
        model_ = std::make_unique<PrinterModel>(transport_, options);
    }
    return *model_;
}

QList<Printer> Context::discover()
{
    PrinterModel& m = model();
    if (m.isSearchingPrinter()) {
        QEventLoop loop;
        QObject::connect(&m, &PrinterModel::isSearchingPrinterChanged, &loop, [&] {
            if (!m.isSearchingPrinter())
                loop.quit();
        });
        loop.exec();
    }
    return m.printerList();
}

std::optional<Printer> Context::find(const QList<Printer>& list, const QString& key) const
{
    bool isNumber = false;
    const int index = key.toInt(&isNumber);
    if (isNumber && index >= 1 && index <= list.size())
        return list[index - 1];
    for (const Printer& p : list)
        if (p.ip == key || p.label.compare(key, Qt::CaseInsensitive) == 0 ||
            (!p.serial.isEmpty() && p.serial.compare(key, Qt::CaseInsensitive) == 0))
            return p;
    for (const Printer& p : list)
        if (p.name.compare(key, Qt::CaseInsensitive) == 0)
            return p;
    return std::nullopt;
}

}  // namespace vexo::cli

namespace {

void usage(QTextStream& s)
{
    s << "usage: vexo-status [--json] [--usb] [--interval SECONDS] <command> [arguments]\n\n"
         "  --usb  USB printers only: no network discovery\n\ncommands:\n";
    for (const auto& c : vexo::cli::commands()) {
        const QString head = QString::fromLatin1(c.name) + ' ' + QString::fromLatin1(c.arguments);
        s << "  " << qSetFieldWidth(20) << Qt::left << head << qSetFieldWidth(0) << c.summary << '\n';
    }
    s << "\nA printer is named by its number in the discover list, its address, its label, its USB serial\n"
         "number or its model.\n";
}

enum class Option { none, taken, help, bad };

// The global option at args[i], if it is one: applied and removed.
Option takeGlobal(QStringList& args, qsizetype i, vexo::cli::Context& ctx, QTextStream& err)
{
    const QString opt = args[i];
    if (opt == QLatin1String("--json")) {
        ctx.json = true;
    } else if (opt == QLatin1String("--usb")) {
        ctx.usbOnly = true;
    } else if (opt == QLatin1String("--interval")) {
        bool ok = false;
        ctx.intervalSeconds = i + 1 < args.size() ? args[i + 1].toInt(&ok) : 0;
        if (!ok || ctx.intervalSeconds < 1) {
            err << "--interval needs a whole number of seconds\n";
            return Option::bad;
        }
        args.removeAt(i + 1);
    } else if (opt == QLatin1String("--help")) {
        return Option::help;
    } else {
        return Option::none;
    }
    args.removeAt(i);
    return Option::taken;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    logDevicesToQt();
    QTextStream out(stdout);
    QTextStream err(stderr);
    vexo::cli::Context ctx{false, 6, out, err, nullptr, nullptr};

    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const Option o = takeGlobal(args, 0, ctx, err);
        if (o == Option::help) {
            usage(out);
            return 0;
        }
        if (o == Option::none)
            err << "unknown option " << args.first() << '\n';
        if (o == Option::none || o == Option::bad) {
            usage(err);
            return 2;
        }
    }
    if (args.isEmpty()) {
        usage(err);
        return 2;
    }
    const QString name = args.takeFirst();
    const bool wifi = name == QLatin1String("wifi");
    // Global options may also follow the command; anything else that looks
    // like an option is the command's to take or refuse, never ignored.
    static const QStringList wifiValueOptions{"--port", "--name", "--password", "--ip", "--mask", "--gateway"};
    for (qsizetype i = 0; i < args.size();) {
        if (wifi && wifiValueOptions.contains(args[i])) {
            i += 2;  // its value may be anything, "--json" included
            continue;
        }
        const Option o = takeGlobal(args, i, ctx, err);
        if (o == Option::bad)
            return 2;
        if (o == Option::help && !wifi) {
            usage(out);
            return 0;
        }
        if (o == Option::none && !wifi && args[i].startsWith(QLatin1String("--"))) {
            err << "unknown option " << args[i] << " for " << name << '\n';
            return 2;
        }
        if (o != Option::taken)
            ++i;
    }
    for (const auto& c : vexo::cli::commands()) {
        if (name == QLatin1String(c.name)) {
            const int rc = c.run(ctx, args);
            out.flush();
            err.flush();
            return rc;
        }
    }
    err << "unknown command " << name << '\n';
    usage(err);
    return 2;
}
