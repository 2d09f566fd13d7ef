#include "device_identity.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vexo::app {
namespace {

bool sameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        int value = 0;
        if (text[i] == '%' && i + 2 < text.size() &&
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr == text.data() + i + 3) {
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// "host:port" of a socket:// URI, host lowered, port 9100 when none; empty
// for any other URI.
std::string socketAddress(std::string_view uri)
{
    constexpr std::string_view kScheme = "socket://";
    if (uri.size() < kScheme.size() || !sameText(uri.substr(0, kScheme.size()), kScheme))
        return {};
    uri.remove_prefix(kScheme.size());
    uri = uri.substr(0, uri.find_first_of("/?"));
    std::string_view host = uri, port = "9100";
    const std::size_t colon = uri.rfind(':');
    const std::size_t bracket = uri.rfind(']');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        host = uri.substr(0, colon);
        if (colon + 1 < uri.size())
            port = uri.substr(colon + 1);
    }
    if (host.empty())
        return {};
    std::string key(host);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key + ":" + std::string(port);
}

bool isTaken(const std::vector<std::string>& taken, std::string_view name)
{
    return std::any_of(taken.begin(), taken.end(), [&](const std::string& t) { return sameText(t, name); });
}

}  // namespace

std::string uriQueryValue(std::string_view uri, std::string_view key)
{
    const std::size_t question = uri.find('?');
    if (question == std::string_view::npos)
        return {};
    std::string_view query = uri.substr(question + 1);
    query = query.substr(0, query.find('#'));
    while (!query.empty()) {
        const std::size_t end = std::min(query.find('&'), query.size());
        const std::string_view pair = query.substr(0, end);
        const std::size_t eq = pair.find('=');
        if (eq != std::string_view::npos && pair.substr(0, eq) == key)
            return percentDecoded(pair.substr(eq + 1));
        query.remove_prefix(std::min(end + 1, query.size()));
    }
    return {};
}

std::string usbSerial(std::string_view uri)
{
    if (uri.size() < 6 || !sameText(uri.substr(0, 6), "usb://"))
        return {};
    return uriQueryValue(uri, "serial");
}

bool sameDevice(std::string_view a, std::string_view b)
{
    if (a == b)
        return true;
    const std::string serialA = usbSerial(a);
    if (!serialA.empty())
        return serialA == usbSerial(b);
    const std::string addressA = socketAddress(a);
    return !addressA.empty() && addressA == socketAddress(b);
}

std::string uniquePrinterName(std::string_view info, std::string_view uri, const std::vector<std::string>& taken)
{
    std::string base;
    for (char c : info)
        if (c != '(' && c != ')')
            base += c;
    if (base.empty())
        base = "Printer";
    if (!isTaken(taken, base))
        return base;
    const std::string serial = usbSerial(uri);
    if (!serial.empty()) {
        const std::string named = base + " " + serial.substr(serial.size() - std::min<std::size_t>(4, serial.size()));
        if (!isTaken(taken, named))
            return named;
    }
    for (int n = 2;; ++n) {
        const std::string numbered = base + " " + std::to_string(n);
        if (!isTaken(taken, numbered))
            return numbered;
    }
}

}  // namespace vexo::app
