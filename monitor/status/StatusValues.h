#pragma once

// How the values a printer reports are read, whatever carried them (SNMP,
// USB, or a printer application passing them on over IPP). Plain functions:
// nothing here believes more than the bytes say.

#include <cstdint>
#include <optional>
#include <string_view>

// The status code of a status text: the digits before the first comma, a
// leading minus allowed, the whole text optionally in double quotes (printers
// send it either way). The text after the comma may hold anything at all;
// only a text without a number there has no code.
std::optional<std::int64_t> statusCodeFromText(std::string_view text);

// A toner level is a percent: anything outside 0..100 is unknown.
std::optional<std::int64_t> tonerPercent(std::int64_t value);
