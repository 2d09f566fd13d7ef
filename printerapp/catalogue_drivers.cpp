#include "catalogue_drivers.h"

#include "Catalogue.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vexo::app {
namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool sameText(std::string_view a, std::string_view b)
{
    return lower(a) == lower(b);
}

// The value of `key` in an IEEE 1284 device ID ("KEY:value;KEY:value;").
std::string_view idField(std::string_view deviceId, std::string_view key)
{
    while (!deviceId.empty()) {
        const std::size_t end = std::min(deviceId.find(';'), deviceId.size());
        const std::string_view pair = deviceId.substr(0, end);
        const std::size_t colon = pair.find(':');
        if (colon != std::string_view::npos && sameText(pair.substr(0, colon), key))
            return pair.substr(colon + 1);
        deviceId.remove_prefix(std::min(end + 1, deviceId.size()));
    }
    return {};
}

// A hexadecimal number after `key` ("pid=004d", "PID:4D"), or -1.
long hexAfter(std::string_view text, std::string_view key)
{
    const std::string haystack = lower(text);
    const std::size_t at = haystack.find(key);
    if (at == std::string::npos)
        return -1;
    const char* first = haystack.data() + at + key.size();
    const char* last = haystack.data() + haystack.size();
    long value = -1;
    auto [end, error] = std::from_chars(first, last, value, 16);
    return (error == std::errc() && end != first && value >= 0 && value <= 0xFFFF) ? value : -1;
}

const DriverInfo* byModel(std::string_view model)
{
    for (const DriverInfo& driver : catalogueDrivers())
        if (!model.empty() && sameText(driver.model, model))
            return &driver;
    return nullptr;
}

const DriverInfo* byUsbIds(long vendor, long product)
{
    if (vendor < 0 || product < 0)
        return nullptr;
    auto rows = matchUSBDevice(catalogueInForce(), static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product));
    return rows.empty() ? nullptr : byModel(rows.front()->printerName);
}

// The model named by a usb://MAKE/MODEL?... URI.
std::string_view uriModel(std::string_view uri)
{
    uri.remove_prefix(std::string_view("usb://").size());
    const std::size_t slash = uri.find('/');
    if (slash == std::string_view::npos)
        return {};
    std::string_view model = uri.substr(slash + 1);
    return model.substr(0, model.find('?'));
}

bool isRawSocket(std::string_view uri)
{
    if (!uri.starts_with("socket://"))
        return false;
    uri.remove_prefix(std::string_view("socket://").size());
    uri = uri.substr(0, uri.find_first_of("/?"));
    if (uri.empty())
        return false;
    const std::size_t colon = uri.rfind(':');
    const bool bracketed = uri.front() == '[';
    if (colon == std::string_view::npos || (bracketed && colon < uri.find(']')))
        return true;  // no port: 9100
    return uri.substr(colon + 1) == "9100";
}

}  // namespace

const std::vector<DriverInfo>& catalogueDrivers()
{
    static const std::vector<DriverInfo> drivers = [] {
        std::vector<DriverInfo> list;
        for (const OrrinPrinter& row : catalogueInForce()) {
            const std::string model(row.printerName);
            std::string name = lower(model);
            for (char& c : name)
                if (!std::isalnum(static_cast<unsigned char>(c)))
                    c = '_';
            list.push_back({name, std::string(kMake) + " " + model, "MFG:" + std::string(kMake) + ";MDL:" + model + ";", model});
        }
        return list;
    }();
    return drivers;
}

std::string autoAddDriver(std::string_view deviceUri, std::string_view deviceId)
{
    const DriverInfo* found = byUsbIds(hexAfter(deviceId, "vid:"), hexAfter(deviceId, "pid:"));
    if (!found && deviceUri.starts_with("usb://")) {
        found = byUsbIds(hexAfter(deviceUri, "vid="), hexAfter(deviceUri, "pid="));
        if (!found)
            found = byModel(uriModel(deviceUri));
    }
    if (!found) {
        std::string_view model = idField(deviceId, "MDL");
        if (model.empty())
            model = idField(deviceId, "MODEL");
        found = byModel(model);
    }
    if (!found && isRawSocket(deviceUri) && !catalogueDrivers().empty())
        found = &catalogueDrivers().front();  // the printer does not say which model it is
    return found ? found->name : std::string();
}

}  // namespace vexo::app
