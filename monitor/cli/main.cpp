// vexo-status: the printer model on the command line.

#include "Cli.h"

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
        if (p.ip == key || p.label.compare(key, Qt::CaseInsensitive) == 0)
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
    s << "\nA printer is named by its number in the discover list, its address, its label or its model.\n";
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    vexo::cli::Context ctx{false, 6, out, err, nullptr, nullptr};

    QStringList args = app.arguments().mid(1);
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--json")) {
            ctx.json = true;
        } else if (opt == QLatin1String("--usb")) {
            ctx.usbOnly = true;
        } else if (opt == QLatin1String("--interval") && !args.isEmpty()) {
            bool ok = false;
            ctx.intervalSeconds = args.takeFirst().toInt(&ok);
            if (!ok || ctx.intervalSeconds < 1) {
                err << "--interval needs a whole number of seconds\n";
                return 2;
            }
        } else if (opt == QLatin1String("--help")) {
            usage(out);
            return 0;
        } else {
            err << "unknown option " << opt << '\n';
            usage(err);
            return 2;
        }
    }
    // Options may also follow the command.
    if (args.removeAll(QStringLiteral("--json")) > 0)
        ctx.json = true;
    if (args.isEmpty()) {
        usage(err);
        return 2;
    }
    const QString name = args.takeFirst();
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
