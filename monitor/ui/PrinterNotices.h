#pragma once

#include "Printer.h"
#include "StatusInfo.h"

#include <QList>
#include <QString>

#include <optional>

// What the desktop is told about the selected printer, decided from the
// readings the model publishes: one notice per change of state, never one
// per poll.
struct PrinterNotice {
    enum class Urgency : uchar { low = 0, normal = 1, critical = 2 };

    // Notices with the same key stand for the same state: a new one takes
    // the place of the last one shown.
    QString key;
    QString title;  // the printer
    QString body;
    Urgency urgency = Urgency::normal;

    friend bool operator==(const PrinterNotice&, const PrinterNotice&) = default;
};

// Toner at or below this many percent is low.
inline constexpr qint64 kLowToner = 10;

// The toner level a reading really carries; none while connecting, without
// an answer, or for a printer that does not report it.
std::optional<qint64> tonerOf(const Printer& printer, const StatusInfo& status);

class PrinterNotices {
public:
    // The notices the newest reading of `printer` calls for. Selecting
    // another printer starts afresh; so the first reading of a printer that
    // already needs the user tells so, and a first "ready" tells nothing.
    QList<PrinterNotice> update(const Printer& printer, const StatusInfo& status);

private:
    struct Seen {
        qint64 level;
        qint64 code;
    };

    Printer printer_{QString()};
    std::optional<Seen> last_;
    std::optional<qint64> lastToner_;
};
