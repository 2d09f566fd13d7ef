#pragma once

// The printer's private SNMP objects, for every program that asks them: the
// monitor itself, or the CUPS filter through the spooler's backend.

#include <string_view>

inline constexpr std::string_view kStatusOid = "1.3.6.1.4.1.59317.2.7.1.1";  // status text "code,..."
inline constexpr std::string_view kTonerOid = "1.3.6.1.4.1.59317.2.7.4.1";   // toner percent, INTEGER
