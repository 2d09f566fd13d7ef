#pragma once

#include "WifiSettings.h"

#include <ostream>

// Readable failures.
inline void PrintTo(const AlertTriple& t, std::ostream* os)
{
    *os << "(" << (t.show ? "true" : "false") << ", \"" << t.title.toStdString() << "\", \"" << t.text.toStdString()
        << "\")";
}

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
