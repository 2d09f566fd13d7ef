#pragma once

#include "Printer.h"
#include "StatusInfo.h"

#include <QStringList>
#include <QTextStream>

#include <functional>
#include <memory>
#include <optional>
#include <span>

class PrinterModel;
class SystemTransport;

namespace vexo::cli {

// What every command gets: the parsed global options, the output streams and
// the printer model, made on first use (making it starts discovery).
struct Context {
    bool json = false;
    int intervalSeconds = 6;
    QTextStream& out;
    QTextStream& err;

    PrinterModel& model();
    SystemTransport& transport();
    // Runs the event loop until the first discovery has finished.
    QList<Printer> discover();
    // A printer of the list by its 1-based number, address, label, USB serial
    // number or model name.
    std::optional<Printer> find(const QList<Printer>& list, const QString& key) const;

    std::shared_ptr<SystemTransport> transport_;
    std::unique_ptr<PrinterModel> model_;
    // --usb: USB printers only; nothing is sent onto the networks.
    bool usbOnly = false;
    // A printer named by its address is asked there; no broadcast goes out.
    bool noNetworkDiscovery = false;
};

struct Command {
    const char* name;
    const char* arguments;
    const char* summary;
    std::function<int(Context&, const QStringList& args)> run;
};

// Every subcommand, in the order the help lists them. Add a line here for a
// new one.
std::span<const Command> commands();

int runDiscover(Context& ctx, const QStringList& args);
int runStatus(Context& ctx, const QStringList& args);
int runWatch(Context& ctx, const QStringList& args);
int runWifi(Context& ctx, const QStringList& args);

// Output shared by the commands.
QString levelName(qint64 level);
// Text from a printer made safe for a terminal: control characters (C0, DEL,
// C1) and the bidirectional overrides appear as \xNN or \u{NNNN}, a
// backslash as two, so the printer can neither move the cursor nor retitle
// the window. JSON needs none of this: it escapes by itself.
QString visible(const QString& text);
// Refuses more than `most` arguments; true when it did.
bool tooMany(Context& ctx, const QStringList& args, qsizetype most);
QByteArray printerJson(const Printer& p, int index);
QByteArray statusJson(const Printer& p, const StatusInfo& s);
void printStatus(Context& ctx, const Printer& p, const StatusInfo& s);

}  // namespace vexo::cli
