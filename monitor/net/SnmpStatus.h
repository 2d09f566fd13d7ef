#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct variable_list;

namespace vexo::net {

inline constexpr std::string_view kStatusOid = "1.3.6.1.4.1.59317.2.7.1.1";
inline constexpr std::string_view kTonerOid = "1.3.6.1.4.1.59317.2.7.4.1";
inline constexpr std::string_view kSysObjectIDOid = ".1.3.6.1.2.1.1.2.0";
inline constexpr size_t kStatusTextSize = 300;
inline constexpr size_t kOidTextSize = 1024;
inline constexpr size_t kTonerTextSize = 30;

struct SnmpQueryOptions {
    // Negative: leave the library's defaults.
    long timeoutUs = -1;
    int retries = -1;
};

// One synchronous GET. The value as the library renders it ("STRING: \"...\"",
// "INTEGER: 75"), cut to fit a buffer of bufferSize bytes with its
// terminator; "error" when the exchange failed, "" when no session opened.
std::string getPrinterStatusBySNMP(const std::string& ip, std::string_view oid, size_t bufferSize,
                                   const SnmpQueryOptions& options = {});

// What getPrinterStatusBySNMP makes of a reply's variables: the last one
// as the library renders it, cut to fit bufferSize bytes with terminator.
std::string renderedValue(const variable_list* variables, size_t bufferSize);

// The code between the first double quote and the first comma after it;
// nothing unless that is a decimal number, a leading minus allowed.
std::optional<std::int64_t> parseStatusCode(std::string_view text);

// The decimal value after ": " in a rendered integer; 0 for anything else.
std::int64_t parseToner(std::string_view text);

}  // namespace vexo::net
