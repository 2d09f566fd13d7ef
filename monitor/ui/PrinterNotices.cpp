#include "PrinterNotices.h"

#include "StatusCodes.h"
#include "Strings.h"

using vexo::ui::text;

namespace {

constexpr qint64 kNoPrinter = 0;

QString titleOf(const Printer& p) { return p.label.isEmpty() ? p.name : p.label; }

QString statusText(const StatusInfo& s)
{
    return s.discription.isEmpty() ? s.message : s.message + u'\n' + s.discription;
}

}  // namespace

std::optional<qint64> tonerOf(const Printer& printer, const StatusInfo& status)
{
    if (printer.hasTonerInfo != 1 || status.code == kNoPrinter || status.code == kStatusConnecting ||
        status.code == kStatusNoAnswer || !status.toner || *status.toner < 0 || *status.toner > 100)
        return std::nullopt;
    return status.toner;
}

QList<PrinterNotice> PrinterNotices::update(const Printer& printer, const StatusInfo& s)
{
    // Not a reading of the printer: nothing changed that the user must hear.
    if (printer.name.isEmpty() || s.code == kNoPrinter || s.code == kStatusConnecting)
        return {};
    if (!(printer == printer_)) {
        printer_ = printer;
        last_.reset();
        lastToner_.reset();
    }

    QList<PrinterNotice> out;
    const QString title = titleOf(printer);
    if (s.code == kStatusNoAnswer) {
        if (!last_ || last_->code != kStatusNoAnswer)
            out.append({QStringLiteral("disconnected"), title, statusText(s), PrinterNotice::Urgency::critical});
    } else if (s.level >= 2) {
        // A new problem, or a problem after another: each is worth a word.
        if (!last_ || last_->code != s.code)
            out.append({QStringLiteral("problem-%1").arg(s.code), title, statusText(s),
                        s.level >= 3 ? PrinterNotice::Urgency::critical : PrinterNotice::Urgency::normal});
    } else if (last_ && last_->level >= 3) {
        out.append({QStringLiteral("recovered"), title, text(QStringLiteral("printerRecovered")) + u'\n' + s.message,
                    PrinterNotice::Urgency::low});
    }
    last_ = Seen{s.level, s.code};

    if (const auto toner = tonerOf(printer, s)) {
        if (*toner <= kLowToner && (!lastToner_ || *lastToner_ > kLowToner))
            out.append({QStringLiteral("toner"), title, text(QStringLiteral("tonerLow")).arg(*toner),
                        PrinterNotice::Urgency::normal});
        lastToner_ = toner;
    }
    return out;
}
